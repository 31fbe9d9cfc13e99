// The failure reason and the report sink: their cut points and the way each
// line starts from the first byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/result.h"

namespace {

std::string reason() {
    const text::ByteText r = run::failure_reason();
    return std::string(r.data, r.length);
}

TEST(FailureReason, CutAt1024Bytes) {
    const std::string long_text(1500, 'x');
    EXPECT_EQ(run::fail("disk ", 3u, " ", long_text.c_str()), run::Result::Failed);
    EXPECT_EQ(run::buffers.failure_reason_length, 1024u);
    EXPECT_EQ(reason(), "disk 3 " + std::string(1017, 'x'));

    const std::string exact(1024, 'y');
    (void)run::fail(exact.c_str());
    EXPECT_EQ(reason(), exact);

    (void)run::fail("short");
    EXPECT_EQ(reason(), "short");  // starts again from the first byte
}

struct Collected {
    std::vector<std::string> lines;
};

void collect(const char* line, size_t length, void* context) {
    static_cast<Collected*>(context)->lines.emplace_back(line, length);
}

TEST(ReportSink, EachLineStartsAtTheFirstByteAndLongOnesAreCut) {
    Collected collected;
    run::set_report_observer(collect, &collected);
    const std::string huge(9000, 'r');
    run::report("image: ", text::Mib{1048576}, " MiB\n");
    run::report(huge.c_str(), "\n");
    run::report("next\n");
    run::set_report_observer(nullptr, nullptr);

    ASSERT_EQ(collected.lines.size(), 3u);
    EXPECT_EQ(collected.lines[0], "image: 1.0 MiB\n");
    EXPECT_EQ(collected.lines[1], std::string(8192, 'r'));
    EXPECT_EQ(collected.lines[2], "next\n");
    EXPECT_EQ(std::string(run::buffers.report, run::buffers.report_length), "next\n");
}

}  // namespace
