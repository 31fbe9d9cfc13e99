// tundra-stick list on the simulated machine: the sticks that may be
// written, one line each, and nothing without an administrator.
#include <gtest/gtest.h>

#include <string>

#include "cli/tool_commands.h"
#include "sim/sim_machine.h"

namespace {

struct Captured : cli::ToolOutput {
    std::string out_text;
    std::string err_text;
    void out(text::ByteText t) override { out_text.append(t.data, t.length); }
    void err(text::ByteText t) override { err_text.append(t.data, t.length); }
};

TEST(ListCommand, OneLinePerStickThatMayBeWritten) {
    sim::Machine machine;
    machine.add_system_disk(0);
    machine.add_stick({2, "Tundra", "Flash", "SN0002", 16000000000ull});
    machine.add_stick({3, "Big", "Sectors", "SN0003", 8000000000ull, 4096});  // not a stick
    machine.add_stick({5, "", "Blank Vendor", "SN 0005", 31500000000ull});
    machine.add_stick({6, "Sata", "Disk", "SN0006", 16000000000ull, 512, 11});  // not USB
    Captured output;
    EXPECT_EQ(cli::run_list(output), cli::EXIT_DONE);
    EXPECT_EQ(output.out_text,
              "disk 2, Tundra Flash, serial SN0002, 16.0 GB\n"
              "disk 5,  Blank Vendor, serial SN 0005, 31.5 GB\n");
    EXPECT_EQ(output.err_text, "");
    for (uint32_t disk = 0; disk < 8; ++disk)
        EXPECT_FALSE(machine.drive_opened_for_writing(disk));
}

TEST(ListCommand, NoSticksAndNoAdministrator) {
    sim::Machine machine;
    machine.add_system_disk(0);
    Captured none;
    EXPECT_EQ(cli::run_list(none), cli::EXIT_DONE);
    EXPECT_EQ(none.out_text,
              "no stick found (a stick is a USB disk of at most 256 GB with 512-byte sectors and a "
              "serial number, and not the disk Windows runs from)\n");

    machine.add_stick({2});
    machine.set_elevated(false);
    machine.reset_uses();
    Captured refused;
    EXPECT_EQ(cli::run_list(refused), cli::EXIT_FAILED);
    EXPECT_EQ(refused.out_text, "");
    EXPECT_EQ(refused.err_text,
              "tundra-stick list needs an administrator: run it from a command prompt opened with "
              "\"Run as administrator\"\n");
    EXPECT_EQ(machine.uses("CreateFileW"), 0u) << "no disk is probed without one";
}

}  // namespace
