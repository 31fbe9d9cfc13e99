// A run asked to stop from another thread (a console's Ctrl+C, the end of
// the session) stops at its next piece, waits for every transfer in flight
// before their buffers or the stick's locks are let go, and says whether the
// stick was left as it was or partly written.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/engine_run.h"
#include "engine/runs/write_stick.h"
#include "engine/volume_lock.h"
#include "fixtures/run_points.h"

namespace {

using fixtures::failure_text;
using fixtures::RunPoint;

const std::u16string STICK_VOLUME = u"\\\\?\\Volume{0d15c0de-0000-0000-0000-000000000004}";
constexpr uint64_t MIB = 1048576;
const std::string AS_IT_WAS =
    "stopped on request before anything was written: the stick is as it was";
const std::string PARTLY_WRITTEN =
    "stopped on request: the stick was left partly written and must be written again";
const std::string ALL_WRITTEN =
    "stopped on request after every byte was written, before the read-back ended: the stick "
    "holds what was written, but it was not verified; write it again to verify it (only what "
    "differs is written)";

class StopRequest : public fixtures::EngineRunTest {
  protected:
    void SetUp() override {
        EngineRunTest::SetUp();
        image_bytes = fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
        machine.add_stick({4, "Tundra", "Flash", "RS0004", 16 * MIB});
        machine.add_volume(STICK_VOLUME, {{4, MIB, 15 * MIB}});
    }
    void TearDown() override {
        run::run_inputs.stop_requested = false;
        run::run_inputs.machine_slept = false;
        EngineRunTest::TearDown();
    }

    // A whole run onto a blank stick; with `full`, every 1 MiB chunk of the
    // 8 MiB image is a place to write.
    engine::Result run(bool full) {
        machine.drive(4)->contents.assign(16 * MIB, 0);
        fixtures::TempFile image("stop.img", image_bytes);
        engine::WriteOptions options;
        options.image_path = image.wide();
        options.serial = {"RS0004", 6};
        options.full = full;
        run::buffers.failure_reason_length = 0;
        return engine::write_stick(options);
    }

    bool stick_is_blank() {
        const std::vector<uint8_t>& bytes = machine.drive(4)->contents;
        return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
    }

    // Every transfer ended, before the stick's lock was let go, and none was
    // issued into a buffer that another still in flight was using.
    // Only what happened from the given places in the machine's records on.
    void expect_every_transfer_ended_in_time(size_t transfers_from, size_t timeline_from) {
        const std::vector<sim::TransferRecord> transfers = machine.transfers();
        for (size_t i = transfers_from; i < transfers.size(); ++i) {
            EXPECT_NE(transfers[i].ended_step, 0u) << "the transfer at " << transfers[i].offset;
            for (size_t j = i + 1; j < transfers.size(); ++j) {
                if (transfers[j].buffer == transfers[i].buffer) {
                    EXPECT_GT(transfers[j].issued_step, transfers[i].ended_step)
                        << "a buffer reused at " << transfers[j].offset;
                }
            }
        }
        const std::vector<sim::Happening> timeline = machine.timeline();
        const auto released = std::find_if(
            timeline.begin() + timeline_from, timeline.end(),
            [](const auto& h) { return h.kind == sim::Happening::Kind::LockReleased; });
        for (auto h = released; h != timeline.end(); ++h) {
            EXPECT_NE(h->kind, sim::Happening::Kind::TransferEnded)
                << "a transfer at " << h->offset << " ended after the lock was let go";
        }
    }

    fixtures::Bytes image_bytes;
};

struct StopCase {
    const char* name;
    RunPoint point;
    unsigned nth;
    bool full;
    const std::string* reason;
    size_t writes;  // that reach the stick before the run stops
};

TEST_F(StopRequest, ARunStoppedAnywhereLetsEveryTransferEndAndReleasesTheStick) {
    const StopCase cases[] = {
        {"before the lock", RunPoint::DriveOpenedForWriting, 1, false, &AS_IT_WAS, 0},
        {"mid-compare", RunPoint::SlotRead, 3, false, &AS_IT_WAS, 0},
        // The third write goes out, with the first two still in flight.
        {"mid-write", RunPoint::SlotWrite, 3, true, &PARTLY_WRITTEN, 3},
        {"mid-read-back", RunPoint::SlotReadAfterWrites, 2, true, &ALL_WRITTEN, 8},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        run::run_inputs.stop_requested = false;
        const size_t dismounted_before = machine.volumes_dismounted().size();
        const size_t writes_before = machine.writes().size();
        const size_t transfers_before = machine.transfers().size();
        const size_t timeline_before = machine.timeline().size();
        engine::Result result;
        {
            fixtures::ActAt stop(c.point, c.nth, [] { run::run_inputs.stop_requested = true; });
            result = run(c.full);
        }
        EXPECT_EQ(result, engine::Result::Failed);
        EXPECT_EQ(failure_text(), *c.reason);
        EXPECT_EQ(machine.writes().size() - writes_before, c.writes);
        EXPECT_EQ(machine.held_lock_count(), 0u);
        EXPECT_EQ(machine.open_handle_count(), caller_handles);
        EXPECT_EQ(machine.live_event_count(), 1u) << "only the caller's event";
        expect_every_transfer_ended_in_time(transfers_before, timeline_before);
        if (c.point == RunPoint::DriveOpenedForWriting) {
            EXPECT_EQ(machine.volumes_dismounted().size(), dismounted_before)
                << "no volume was locked";
        }
        if (c.writes == 0) {
            EXPECT_TRUE(stick_is_blank());
        }
        if (c.point == RunPoint::SlotWrite) {
            EXPECT_TRUE(std::all_of(machine.drive(4)->contents.begin(),
                                    machine.drive(4)->contents.begin() + MIB,
                                    [](uint8_t b) { return b == 0; }))
                << "a run stopped mid-write leaves the old partition table";
        }
    }
}

// A stop asked for while another program holds the stick's volume ends the
// pauses between lock attempts at once: the first pause is the last.
decltype(sys::calls.Sleep) inner_sleep = nullptr;
void WINAPI sleep_then_stop(DWORD ms) {
    inner_sleep(ms);
    run::run_inputs.stop_requested = true;
}

TEST_F(StopRequest, AStopEndsTheWaitForAHeldVolume) {
    machine.volume(STICK_VOLUME)->refuse_lock_attempts = 20;
    const uint64_t slept_before = machine.slept_ms();
    inner_sleep = sys::calls.Sleep;
    sys::calls.Sleep = sleep_then_stop;
    const engine::Result result = run(false);
    sys::calls.Sleep = inner_sleep;
    EXPECT_EQ(result, engine::Result::Failed);
    EXPECT_EQ(failure_text(), AS_IT_WAS);
    EXPECT_EQ(machine.slept_ms() - slept_before, engine::LOCK_PAUSE_MS);
    EXPECT_TRUE(stick_is_blank());
}

// The user closes the lid mid-run: the front end asks the run to stop and
// says why. On waking, the transfer that was going out fails with a device
// error before the run reaches its next piece; the run still releases the
// stick and says in words that the computer slept, not which error came.
TEST_F(StopRequest, ARunThatTheMachineSleptThroughSaysSo) {
    const struct {
        const char* name;
        RunPoint point;
        unsigned nth;
        bool full;
        const char* fails;  // the transfer that fails on waking
        std::string reason;
    } cases[] = {
        {"mid-compare", RunPoint::SlotRead, 3, false, "ReadFile",
         "the computer went to sleep before anything was written: the stick is as it was"},
        {"mid-write", RunPoint::SlotWrite, 3, true, "WriteFile",
         "the computer went to sleep during the write: the stick was left partly written and "
         "must be written again"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        run::run_inputs.stop_requested = false;
        run::run_inputs.machine_slept = false;
        const size_t transfers_before = machine.transfers().size();
        const size_t timeline_before = machine.timeline().size();
        engine::Result result;
        {
            fixtures::ActAt sleep(c.point, c.nth, [this, &c] {
                run::run_inputs.machine_slept = true;
                run::run_inputs.stop_requested = true;
                machine.fail_call(c.fails, ERROR_DEV_NOT_EXIST);
            });
            result = run(c.full);
        }
        machine.clear_faults();
        EXPECT_EQ(result, engine::Result::Failed);
        EXPECT_EQ(failure_text(), c.reason);
        EXPECT_EQ(machine.held_lock_count(), 0u);
        EXPECT_EQ(machine.open_handle_count(), caller_handles);
        expect_every_transfer_ended_in_time(transfers_before, timeline_before);
    }
}

}  // namespace
