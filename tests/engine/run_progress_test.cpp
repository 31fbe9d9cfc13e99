// The progress observer of a write run: what a front end learns of how far
// the compare, the write and the read-back are.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/runs/write_stick.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace {

using engine::RunStage;
using fixtures::failure_text;

struct Notice {
    RunStage stage;
    uint64_t done;
    uint64_t total;
};

void record_notice(void* context, RunStage stage, uint64_t done, uint64_t total) {
    static_cast<std::vector<Notice>*>(context)->push_back({stage, done, total});
}

// Not a whole number of notice steps, so that the last notice can only be
// the run's own end.
constexpr uint64_t IMAGE_BYTES = (24ull << 20) + 512;
constexpr uint64_t PIECE = 65536;

struct RunRecord {
    engine::Result result;
    std::vector<std::string> lines;
    std::vector<Notice> notices;
    unsigned reads;
    unsigned writes;
    fixtures::Bytes target_after;
};

class RunProgress : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.add_system_disk(0);
        run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        run::run_inputs.perf_frequency = 1000000000;
    }
    void TearDown() override {
        run::run_inputs.progress_observer = nullptr;
        run::run_inputs.progress_context = nullptr;
        EXPECT_TRUE(sys::CloseHandle(run::run_inputs.disk_io_event));
        run::run_inputs.disk_io_event = nullptr;
    }

    RunRecord run(const fixtures::Bytes& image_bytes, const fixtures::Bytes& target_bytes,
                  engine::WriteOptions options, bool observed) {
        RunRecord record{};
        fixtures::TempFile image("progress.img", image_bytes);
        fixtures::TempFile target("progress-target.img", target_bytes);
        options.image_path = image.wide();
        options.target_file = target.wide();
        engine::set_report_observer(
            [](const char* line, size_t length, void* context) {
                static_cast<std::vector<std::string>*>(context)->emplace_back(line, length);
            },
            &record.lines);
        run::run_inputs.progress_observer = observed ? record_notice : nullptr;
        run::run_inputs.progress_context = observed ? &record.notices : nullptr;
        machine.reset_uses();
        record.result = engine::write_stick(options);
        record.reads = machine.uses("ReadFile");
        record.writes = machine.uses("WriteFile");
        engine::set_report_observer(nullptr, nullptr);
        record.target_after = fixtures::read_file(target.narrow());
        return record;
    }

    sim::Machine machine;
};

fixtures::Bytes changed_at(fixtures::Bytes bytes, std::vector<uint64_t> offsets) {
    for (const uint64_t offset : offsets)
        bytes[offset] ^= 0xFF;
    return bytes;
}

TEST_F(RunProgress, NoticesRiseByTheStepAndEndAtTheTotal) {
    const fixtures::Bytes image(IMAGE_BYTES, 0x5A);
    const fixtures::Bytes blank(IMAGE_BYTES, 0);
    // Three 64 KiB pieces differ, two of them in one place.
    const fixtures::Bytes three_pieces = changed_at(image, {PIECE, 2 * PIECE, 9 << 20});
    engine::WriteOptions plain;
    engine::WriteOptions dry = plain;
    dry.dry_run = true;
    engine::WriteOptions full = plain;
    full.full = true;
    engine::WriteOptions no_read_back = plain;
    no_read_back.read_back_all = false;
    const uint64_t all = IMAGE_BYTES;
    // What each stage moves: the compare reads, the write writes, and the
    // read-back reads what was written and then, unless told not to, all.
    const struct {
        const char* name;
        const fixtures::Bytes& target;
        engine::WriteOptions options;
        uint64_t compared, written, read_back_all;
    } cases[] = {
        {"fresh stick", blank, plain, all, all, all},
        {"three pieces changed", three_pieces, plain, all, 3 * PIECE, all},
        {"stick holds the image", image, plain, all, 0, all},
        {"dry run", blank, dry, all, 0, 0},
        {"--full", image, full, 0, all, all},
        {"no whole read-back", blank, no_read_back, all, all, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RunRecord record = run(image, c.target, c.options, true);
        ASSERT_EQ(record.result, engine::Result::Success) << failure_text();
        ASSERT_FALSE(record.notices.empty());
        const uint64_t total = c.compared + 2 * c.written + c.read_back_all;
        EXPECT_EQ(record.notices.back().done, total);
        EXPECT_EQ(record.notices.back().total, total);
        for (size_t i = 0; i < record.notices.size(); ++i) {
            const Notice& now = record.notices[i];
            const RunStage stage = now.done <= c.compared                ? RunStage::Compare
                                   : now.done <= c.compared + c.written ? RunStage::Write
                                                                        : RunStage::ReadBack;
            EXPECT_EQ(now.stage, stage) << i;
            EXPECT_LE(now.done, now.total) << i;
            if (i == 0)
                continue;
            const Notice& before = record.notices[i - 1];
            EXPECT_LE(now.total, before.total) << i;
            // done / total never falls.
            EXPECT_GE(static_cast<unsigned __int128>(now.done) * before.total,
                      static_cast<unsigned __int128>(before.done) * now.total)
                << i;
            if (i + 1 < record.notices.size()) {
                EXPECT_GE(now.done - before.done, run::PROGRESS_NOTICE_BYTES) << i;
            }
        }
    }
}

// An observer changes nothing of the run: the same transfers, the same
// report, the same stick.
TEST_F(RunProgress, AnObserverChangesNothingOfTheRun) {
    const fixtures::Bytes image(IMAGE_BYTES, 0x5A);
    const fixtures::Bytes stick = changed_at(image, {0, 5 << 20, IMAGE_BYTES - 1});
    const RunRecord unobserved = run(image, stick, {}, false);
    const RunRecord observed = run(image, stick, {}, true);
    ASSERT_EQ(unobserved.result, engine::Result::Success) << failure_text();
    EXPECT_EQ(observed.result, unobserved.result);
    // Past the first line, which names each run's own image file.
    ASSERT_EQ(observed.lines.size(), unobserved.lines.size());
    EXPECT_EQ(std::vector<std::string>(observed.lines.begin() + 1, observed.lines.end()),
              std::vector<std::string>(unobserved.lines.begin() + 1, unobserved.lines.end()));
    EXPECT_EQ(observed.reads, unobserved.reads);
    EXPECT_EQ(observed.writes, unobserved.writes);
    EXPECT_EQ(observed.target_after, image);
    EXPECT_EQ(unobserved.target_after, image);
    EXPECT_TRUE(unobserved.notices.empty());
    EXPECT_FALSE(observed.notices.empty());
}

}  // namespace
