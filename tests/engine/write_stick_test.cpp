#include "engine/write_stick.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/sim_machine.h"

namespace {

std::string reason() {
    const text::ByteText r = engine::failure_reason();
    return std::string(r.data, r.length);
}

TEST(WriteStick, WithoutAnImageFailsBeforeOpeningAnything) {
    sim::Machine machine;
    machine.add_stick({1});
    engine::WriteOptions options;
    options.serial = {"SN0001", 6};
    EXPECT_EQ(engine::write_stick(options), engine::Result::Failed);
    EXPECT_EQ(reason(), "which image? --image FILE");
    EXPECT_EQ(machine.uses("CreateFileW"), 0u);
    EXPECT_EQ(machine.open_handle_count(), 0u);
}

TEST(WriteStick, StepsNotYetBuiltStopHonestlyAndWriteNothing) {
    sim::Machine machine;
    machine.add_stick({1});
    engine::WriteOptions options;
    const WCHAR image[] = U16("tundra.img");
    options.image_path = {image, 10};
    options.serial = {"SN0001", 6};
    EXPECT_EQ(engine::write_stick(options), engine::Result::Failed);
    EXPECT_NE(reason().find("nothing was written"), std::string::npos) << reason();
    EXPECT_TRUE(machine.writes().empty());
    EXPECT_FALSE(machine.drive_opened_for_writing(1));
    EXPECT_EQ(machine.open_handle_count(), 0u);
}

}  // namespace
