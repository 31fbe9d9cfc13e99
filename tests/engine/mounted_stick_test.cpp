// Runs against a simulated machine that refuses raw writes into mounted
// volumes, as Windows does: the stick's volumes must be locked and
// dismounted before the first write, a volume of the stick that cannot be
// locked must stop the run before it, and every transfer must have ended
// before the locks are let go.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/runs/write_stick.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace {

using fixtures::failure_text;

const std::u16string STICK_VOLUME = u"\\\\?\\Volume{0d15c0de-0000-0000-0000-000000000004}";
const std::u16string OTHER_VOLUME = u"\\\\?\\Volume{0d15c0de-0000-0000-0000-000000000001}";
constexpr uint64_t MIB = 1048576;

class MountedStick : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.add_system_disk(0);
        run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        run::run_inputs.perf_frequency = 1000000000;
        image_bytes = fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
        // A blank stick on disk 4 with a mounted volume from 1 MiB on, and
        // another disk with a volume of its own.
        sim::Drive& stick = machine.add_stick({4, "Tundra", "Flash", "RS0004", 16 * MIB});
        stick.contents.assign(16 * MIB, 0);
        machine.add_volume(STICK_VOLUME, {{4, MIB, 15 * MIB}});
        machine.add_stick({1, "Other", "Disk", "OT0001", 16 * MIB});
        machine.add_volume(OTHER_VOLUME, {{1, MIB, 15 * MIB}});
    }
    void TearDown() override {
        EXPECT_TRUE(sys::CloseHandle(run::run_inputs.disk_io_event));
        run::run_inputs.disk_io_event = nullptr;
        EXPECT_EQ(machine.open_handle_count(), 0u);
        EXPECT_EQ(machine.held_lock_count(), 0u);
    }

    engine::Result run(engine::WriteOptions options) {
        fixtures::TempFile image("mounted.img", image_bytes);
        options.image_path = image.wide();
        options.serial = {"RS0004", 6};
        // No earlier run's reason can pass for this one's.
        run::buffers.failure_reason_length = 0;
        return engine::write_stick(options);
    }

    bool stick_is_blank() {
        const std::vector<uint8_t>& bytes = machine.drive(4)->contents;
        return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
    }

    bool stick_holds_image() {
        const std::vector<uint8_t>& bytes = machine.drive(4)->contents;
        return std::equal(image_bytes.begin(), image_bytes.end(), bytes.begin());
    }

    // Either the image is on the stick, or the run stopped at the stick's
    // volume lock with nothing written.
    void expect_written_or_stopped_at_lock(engine::Result result, bool written,
                                           size_t writes_before) {
        if (written) {
            EXPECT_EQ(result, engine::Result::Success) << failure_text();
            EXPECT_TRUE(stick_holds_image());
            return;
        }
        EXPECT_EQ(result, engine::Result::Failed);
        EXPECT_EQ(failure_text(),
                  "cannot lock \\\\?\\Volume{0d15c0de-0000-0000-0000-000000000004}: close "
                  "what has the stick open (Explorer windows on it) and try again");
        EXPECT_EQ(machine.writes().size(), writes_before);
        EXPECT_TRUE(stick_is_blank());
    }

    sim::Machine machine;
    fixtures::Bytes image_bytes;
};

TEST_F(MountedStick, LockedAndDismountedVolumesAreWritten) {
    ASSERT_EQ(run({}), engine::Result::Success) << failure_text();
    EXPECT_TRUE(stick_holds_image());
    EXPECT_EQ(machine.volumes_dismounted(), std::vector<std::u16string>{STICK_VOLUME});
}

struct HeldVolumeCase {
    const char* name;
    const std::u16string* held;  // opened elsewhere without sharing writes
    DWORD extents_error;         // on the stick's volume; 0 for none
    bool written;
};

TEST_F(MountedStick, AStickVolumeThatCannotBeLockedStopsTheRunBeforeAnyWrite) {
    const HeldVolumeCase cases[] = {
        {"the stick's volume held", &STICK_VOLUME, 0, false},
        {"another disk's volume held", &OTHER_VOLUME, 0, true},
    };
    for (const HeldVolumeCase& c : cases) {
        SCOPED_TRACE(c.name);
        machine.drive(4)->contents.assign(16 * MIB, 0);
        machine.volume(STICK_VOLUME)->open_error = 0;
        machine.volume(OTHER_VOLUME)->open_error = 0;
        machine.volume(*c.held)->open_error = ERROR_SHARING_VIOLATION;
        const size_t writes_before = machine.writes().size();
        expect_written_or_stopped_at_lock(run({}), c.written, writes_before);
    }
}

// Another program holding the stick's volume: each refused lock is followed
// by a pause of 100 ms, the 20th included, and a 21st attempt is never made.
TEST_F(MountedStick, TheLockIsTriedTwentyTimes) {
    const struct {
        unsigned refusals;
        bool locked;
        uint64_t paused_ms;
    } cases[] = {{19, true, 1900}, {20, false, 2000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.refusals) + " refusals");
        machine.drive(4)->contents.assign(16 * MIB, 0);
        machine.volume(STICK_VOLUME)->refuse_lock_attempts = c.refusals;
        const uint64_t slept_before = machine.slept_ms();
        const size_t writes_before = machine.writes().size();
        const engine::Result result = run({});
        EXPECT_EQ(machine.slept_ms() - slept_before, c.paused_ms);
        expect_written_or_stopped_at_lock(result, c.locked, writes_before);
    }
}

struct DrainCase {
    const char* name;
    std::vector<uint64_t> failing;  // offsets of the transfers that end with an error
    std::string reason;
};

TEST_F(MountedStick, EveryTransferEndsBeforeTheLocksAreLetGo) {
    // Writing all eight 1 MiB chunks four at a time, the one holding the
    // partition table (at 0) last: the write at 1 MiB fails while those at
    // 2, 3 and 4 MiB are in flight.
    const DrainCase cases[] = {
        {"one fails", {MIB}, "the stick failed a transfer at 1048576 (Windows error 31)"},
        {"more fail while draining",
         {MIB, 2 * MIB, 3 * MIB},
         "the stick failed a transfer at 2097152 (Windows error 31)"},
    };
    for (const DrainCase& c : cases) {
        SCOPED_TRACE(c.name);
        machine.drive(4)->transfers_failing_at = c.failing;
        const size_t timeline_before = machine.timeline().size();
        engine::WriteOptions options;
        options.full = true;
        EXPECT_EQ(run(options), engine::Result::Failed);
        EXPECT_EQ(failure_text(), c.reason);
        EXPECT_GE(machine.max_in_flight(), 4u);

        const std::vector<sim::Happening> all = machine.timeline();
        const std::vector<sim::Happening> timeline(all.begin() + timeline_before, all.end());
        const auto first_release = std::find_if(
            timeline.begin(), timeline.end(),
            [](const sim::Happening& h) { return h.kind == sim::Happening::Kind::LockReleased; });
        ASSERT_NE(first_release, timeline.end());
        EXPECT_EQ(first_release->volume, STICK_VOLUME);
        for (auto h = first_release; h != timeline.end(); ++h) {
            EXPECT_NE(h->kind, sim::Happening::Kind::TransferEnded)
                << "a transfer at " << h->offset << " ended after the lock was let go";
        }
        for (uint64_t offset : {1 * MIB, 2 * MIB, 3 * MIB, 4 * MIB}) {
            EXPECT_TRUE(std::any_of(timeline.begin(), first_release,
                                    [&](const sim::Happening& h) {
                                        return h.kind == sim::Happening::Kind::TransferEnded &&
                                               h.drive_number == 4 && h.offset == offset;
                                    }))
                << "the write at " << offset;
        }
    }
}

}  // namespace
