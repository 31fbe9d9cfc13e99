// The names beside the running executable that an update writes and renames
// to: their form, and the limit of the whole path.
#include "app/self_update/update_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using app::WidePath;

WidePath wide_path(const std::u16string& text) {
    WidePath path;
    for (char16_t c : text)
        path.units[path.length++] = static_cast<WCHAR>(c);
    path.units[path.length] = 0;
    return path;
}

std::u16string text_of(const WidePath& path) {
    std::u16string text;
    for (uint64_t i = 0; i < path.length; ++i)
        text.push_back(static_cast<char16_t>(path.units[i]));
    return text;
}

TEST(UpdatePaths, ExecutablePathThenMarkIdAndTickInLowerCaseHex) {
    const WidePath exe = wide_path(u"C:\\Users\\Ann Åsa\\Downloads\\tundra-usb-installer-x64.exe");
    const struct {
        const char* mark;
        uint32_t id;
        uint64_t tick;
        std::u16string appended;
    } cases[] = {
        {app::NEW_FILE_MARK, 0x1A2C, 0x5F3E01, u".tundra-new-1a2c-5f3e01"},
        {app::NEW_FILE_MARK, 0, 0, u".tundra-new-0-0"},
        {app::PREVIOUS_FILE_MARK, 0xFFFFFFFF, UINT64_MAX,
         u".tundra-previous-ffffffff-ffffffffffffffff"},
    };
    for (const auto& c : cases) {
        WidePath out;
        ASSERT_TRUE(app::path_beside(exe, c.mark, c.id, c.tick, out));
        EXPECT_EQ(text_of(out), text_of(exe) + c.appended);
        EXPECT_EQ(out.units[out.length], 0);
    }
}

TEST(UpdatePaths, WholePathOfAtMost4095Units) {
    // The appended part is ".tundra-new-1-1", 15 units.
    for (uint64_t exe_length : {4080u, 4081u, 4095u}) {
        const WidePath exe = wide_path(std::u16string(exe_length, u'a'));
        WidePath out = wide_path(u"left over");
        const bool made = app::path_beside(exe, app::NEW_FILE_MARK, 1, 1, out);
        EXPECT_EQ(made, exe_length + 15 <= 4095) << exe_length;
        if (!made) {
            EXPECT_EQ(out.length, 0u);
            EXPECT_EQ(out.units[0], 0);
        } else {
            EXPECT_EQ(out.length, 4095u);
        }
    }
}

}  // namespace
