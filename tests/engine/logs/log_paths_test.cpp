// Joining the logs folder and a file name.
#include "engine/logs/log_paths.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fixtures/sim_disk.h"

namespace {

using Wide = std::basic_string<WCHAR>;

Wide wide(const std::string& text) {
    return Wide(text.begin(), text.end());
}
engine::WideText text_of(const Wide& text) {
    return {text.c_str(), text.size()};
}

TEST(LogPaths, JoinAddsOneSeparatorAndFitsTheBuffer) {
    const struct {
        std::string folder;
        std::string name;
        std::string joined;  // empty: too long
    } cases[] = {
        {"C:\\logs", "LOG.TXT", "C:\\logs\\LOG.TXT"},
        {"C:\\logs\\", "LOG.TXT", "C:\\logs\\LOG.TXT"},
        {"C:/logs/", "LOG.TXT", "C:/logs/LOG.TXT"},
        {"", "LOG.TXT", "LOG.TXT"},
        {std::string(1010, 'a'), "CRASHLOG.BIN", std::string(1010, 'a') + "\\CRASHLOG.BIN"},
        {std::string(1011, 'a'), "CRASHLOG.BIN", ""},
    };
    for (const auto& c : cases) {
        const Wide folder = wide(c.folder);
        engine::WideText joined;
        const engine::Result result = engine::path_join(
            text_of(folder), c.name.data(), static_cast<uint32_t>(c.name.size()), joined);
        if (c.joined.empty()) {
            EXPECT_EQ(result, engine::Result::Failed) << c.folder.size();
            EXPECT_EQ(fixtures::failure_text(), "a path is too long");
            continue;
        }
        ASSERT_EQ(result, engine::Result::Success) << c.folder.size();
        EXPECT_EQ(Wide(joined.data, joined.length), wide(c.joined));
        EXPECT_EQ(joined.data[joined.length], 0) << "NUL-terminated";
    }
}

}  // namespace
