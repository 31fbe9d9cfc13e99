// Every Windows call of a run, made to fail at each of its uses: the run
// ends with a reason, never a crash, and leaves no handle open and nothing
// written.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/write_stick.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace {

const std::string STOPPED =
    "this build of the engine cannot lock the stick's volumes or compare and write yet; nothing "
    "was written";

struct EngineRun {
    fixtures::Bytes image_bytes = fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
    fixtures::TempFile image{"calls.img", image_bytes};

    engine::Result once(sim::Machine& machine) {
        machine.add_system_disk(0);
        sim::Drive& stick = machine.add_stick({2, "Tundra", "Flash", "CF0002", 8ull << 20});
        stick.contents = image_bytes;  // same layout: a stick with a data area
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
        ASSERT_EQ(run.once(machine), engine::Result::Failed);
        ASSERT_EQ(fixtures::failure_text(), STOPPED);
        for (const std::string& name : sim::Machine::failable_calls()) {
            const unsigned count = machine.uses(name.c_str());
            if (count > 0) uses.emplace_back(name, count);
        }
    }
    for (const auto& [name, count] : uses) {
        for (unsigned nth = 1; nth <= count; ++nth) {
            sim::Machine machine;
            machine.fail_call(name.c_str(), ERROR_GEN_FAILURE, nth);
            EXPECT_EQ(run.once(machine), engine::Result::Failed) << name << " at use " << nth;
            EXPECT_FALSE(fixtures::failure_text().empty()) << name << " at use " << nth;
            EXPECT_EQ(machine.open_handle_count(), 0u) << name << " at use " << nth;
            EXPECT_TRUE(machine.writes().empty());
        }
    }
}

}  // namespace
