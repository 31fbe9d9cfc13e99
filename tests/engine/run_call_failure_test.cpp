// Every Windows call of a run, made to fail at each of its uses: the run
// either ends with a reason or succeeds with the stick holding the image,
// never crashes, and leaves no handle open and no volume locked.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include <vector>

#include "engine/write_stick.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace {

struct EngineRun {
    fixtures::Bytes image_bytes = fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
    fixtures::TempFile image{"calls.img", image_bytes};

    sim::Drive* stick = nullptr;

    engine::Result once(sim::Machine& machine) {
        machine.add_system_disk(0);
        stick = &machine.add_stick({2, "Tundra", "Flash", "CF0002", 8ull << 20});
        machine.add_volume(u"\\\\?\\Volume{on-the-stick}", {{2, 1048576, 4194304}});
        // The old stick: the same layout (so a data area), and a changed piece
        // in the TUNDRA partition, so that the run writes and reads back.
        stick->contents = image_bytes;
        stick->contents[(1 << 20) + 5] ^= 1;
        engine::WriteOptions options;
        options.image_path = image.wide();
        options.serial = {"CF0002", 6};
        options.fresh = false;
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

}  // namespace
