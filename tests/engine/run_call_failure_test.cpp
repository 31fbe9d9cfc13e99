// Every Windows call of a run, made to fail at each of its uses: the run
// either ends with a reason or succeeds with the stick holding the image,
// never crashes, and leaves no handle open and no volume locked.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include <vector>

#include "engine/runs/write_stick.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace {

constexpr uint64_t MIB = 1048576;

struct EngineRun {
    fixtures::Bytes image_bytes = fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
    fixtures::TempFile image{"calls.img", image_bytes};

    sim::Drive* stick = nullptr;

    // The old stick: the same layout (so a data area), and a changed byte at
    // each of `changed` in the TUNDRA partition, so that the run writes and
    // reads back. The failure reason is emptied first: it is static, and a
    // run that failed without one must not pass on an earlier run's reason.
    engine::Result once(sim::Machine& machine, const std::vector<uint64_t>& changed = {MIB + 5},
                        const std::vector<uint64_t>& failing_transfers = {}) {
        machine.add_system_disk(0);
        stick = &machine.add_stick({2, "Tundra", "Flash", "CF0002", 8ull << 20});
        machine.add_volume(u"\\\\?\\Volume{on-the-stick}", {{2, 1048576, 4194304}});
        stick->contents = image_bytes;
        for (uint64_t at : changed)
            stick->contents[at] ^= 1;
        stick->transfers_failing_at = failing_transfers;
        engine::WriteOptions options;
        options.image_path = image.wide();
        options.serial = {"CF0002", 6};
        options.fresh = false;
        run::buffers.failure_reason_length = 0;
        return engine::write_stick(options);
    }
};

TEST(RunCallFailure, EveryCallFailingOnceEndsCleanly) {
    EngineRun run;
    ASSERT_EQ(run.image_bytes.size(), 8u << 20);
    std::vector<std::pair<std::string, unsigned>> uses;
    {
        sim::Machine machine;
        ASSERT_EQ(run.once(machine), engine::Result::Success) << fixtures::failure_text();
        ASSERT_EQ(run.stick->contents, run.image_bytes);
        for (const std::string& name : sim::Machine::failable_calls()) {
            const unsigned count = machine.uses(name.c_str());
            if (count > 0) uses.emplace_back(name, count);
        }
    }
    for (const auto& [name, count] : uses) {
        // Calls made hundreds of times (the reads) fail at a spread of uses:
        // the first few, points through the run, and the last few.
        std::vector<unsigned> picks;
        for (unsigned nth = 1; nth <= count; ++nth) {
            if (nth <= 4 || count - nth < 4 || nth % (count / 8 + 1) == 0) picks.push_back(nth);
        }
        for (unsigned nth : picks) {
            sim::Machine machine;
            machine.fail_call(name.c_str(), ERROR_GEN_FAILURE, nth);
            SCOPED_TRACE(name + " failing at use " + std::to_string(nth));
            if (run.once(machine) == engine::Result::Success) {
                EXPECT_EQ(run.stick->contents, run.image_bytes);
            } else {
                EXPECT_FALSE(fixtures::failure_text().empty());
            }
            EXPECT_EQ(machine.open_handle_count(), 0u);
            EXPECT_EQ(machine.held_lock_count(), 0u);
        }
    }
}

// The stick's own transfers, failing in each way a transfer can: the reason
// names the transfer with its numbers. When a transfer that was still in
// flight as another failed then fails too, its reason replaces the first.
TEST(RunCallFailure, TransferReasonsNameTheTransfer) {
    EngineRun run;
    const uint64_t first_place = MIB + 65536;       // a piece that starts no compare chunk
    const uint64_t second_place = 2 * MIB + 65536;  // a place of its own, far from the first
    const struct {
        const char* name;
        std::vector<uint64_t> changed;
        std::vector<uint64_t> failing_transfers;  // accepted, then end with error 31
        unsigned write_refused_at;  // WriteFile refuses with error 55 at this use; 0: never
        std::string reason;
    } cases[] = {
        {"a write that cannot start",
         {MIB + 5},
         {},
         1,
         "the stick's write of 65536 bytes at 1048576 failed (Windows error 55)"},
        {"a compare read that ends with an error",
         {MIB + 5},
         {3 * MIB},
         0,
         "the stick failed a transfer at 3145728 (Windows error 31)"},
        {"the second write cannot start, the first ends well",
         {first_place + 5, second_place + 5},
         {},
         2,
         "the stick's write of 65536 bytes at 2162688 failed (Windows error 55)"},
        {"the second write cannot start, then the first fails while draining",
         {first_place + 5, second_place + 5},
         {first_place},
         2,
         "the stick failed a transfer at 1114112 (Windows error 31)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine;
        if (c.write_refused_at != 0) {
            machine.fail_call("WriteFile", ERROR_DEV_NOT_EXIST, c.write_refused_at);
        }
        EXPECT_EQ(run.once(machine, c.changed, c.failing_transfers), engine::Result::Failed);
        EXPECT_EQ(fixtures::failure_text(), c.reason);
        EXPECT_EQ(machine.open_handle_count(), 0u);
        EXPECT_EQ(machine.held_lock_count(), 0u);
    }
}

}  // namespace
