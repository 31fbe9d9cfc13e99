// Finding, vetting and opening the target: every refusal, in its order.
#include "engine/target_disk.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "discovery/disk_probe.h"
#include "engine/runs/write_stick.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace {

using fixtures::failure_text;

class TargetTest : public ::testing::Test {
protected:
    void SetUp() override { machine.add_system_disk(0); }
    void TearDown() override { EXPECT_EQ(machine.open_handle_count(), 0u); }

    engine::WriteOptions options_for(const char* serial) {
        engine::WriteOptions options;
        options.serial = {serial, strlen(serial)};
        return options;
    }

    sim::Machine machine;
};

struct VetCase {
    const char* name;
    std::function<void(sim::Machine&, sim::StickSpec&, engine::WriteOptions&)> setup;
    std::string reason;  // empty: passes
};

TEST_F(TargetTest, VettingChecksInOrder) {
    const std::string unverified =
        "Windows could not verify the selected USB drive. Refresh and choose it again.";
    const VetCase cases[] = {
        {"an ordinary stick", [](sim::Machine&, sim::StickSpec&, engine::WriteOptions&) {}, ""},
        {"SATA", [](sim::Machine&, sim::StickSpec& s, engine::WriteOptions&) { s.bus_type = 11; },
         "disk 3 (serial sn0001) is on SATA, not USB: not a stick"},
        {"bus 16 is other",
         [](sim::Machine&, sim::StickSpec& s, engine::WriteOptions&) { s.bus_type = 16; },
         "disk 3 (serial sn0001) is on other, not USB: not a stick"},
        {"SATA on the system disk: the bus is named first",
         [](sim::Machine& m, sim::StickSpec& s, engine::WriteOptions&) {
             s.bus_type = 11;
             m.volume(u"\\\\.\\C:")->extents = sim::make_extents({{3, 0, 1}});
         },
         "disk 3 (serial sn0001) is on SATA, not USB: not a stick"},
        {"holds Windows",
         [](sim::Machine& m, sim::StickSpec&, engine::WriteOptions&) {
             m.volume(u"\\\\.\\C:")->extents = sim::make_extents({{0, 0, 1}, {3, 0, 1}});
         },
         "disk 3 is the disk Windows runs from"},
        {"exactly the cap",
         [](sim::Machine&, sim::StickSpec& s, engine::WriteOptions&) { s.size_bytes = 256000000000ull; },
         ""},
        {"one byte over the cap",
         [](sim::Machine&, sim::StickSpec& s, engine::WriteOptions&) { s.size_bytes = 256000000001ull; },
         "disk 3 says it holds 256.0 GB, more than --max-gb 256 (a fake-capacity stick says it "
         "holds more than it does)"},
        {"0 bytes", [](sim::Machine&, sim::StickSpec& s, engine::WriteOptions&) { s.size_bytes = 0; },
         "disk 3 says it holds 0.0 GB, more than --max-gb 256 (a fake-capacity stick says it "
         "holds more than it does)"},
        {"a huge --max-gb does not overflow",
         [](sim::Machine&, sim::StickSpec& s, engine::WriteOptions& o) {
             s.size_bytes = 1ull << 62;
             o.max_gb = UINT64_MAX;
         },
         ""},
        {"model matches in any case",
         [](sim::Machine&, sim::StickSpec&, engine::WriteOptions& o) { o.required_model = {"lAs", 3}; },
         ""},
        {"another model",
         [](sim::Machine&, sim::StickSpec&, engine::WriteOptions& o) { o.required_model = {"Cruzer", 6}; },
         "disk 3 is a Tundra Flash, not a Cruzer"},
        {"the expected stick",
         [](sim::Machine&, sim::StickSpec&, engine::WriteOptions& o) {
             o.has_expected_stick = true;
             o.expected_stick = *discovery::probe_disk(3);
         },
         ""},
        {"expected stick, unknown system disk",
         [](sim::Machine& m, sim::StickSpec&, engine::WriteOptions& o) {
             o.has_expected_stick = true;
             o.expected_stick = *discovery::probe_disk(3);
             m.volume(u"\\\\.\\C:")->extents_error = ERROR_GEN_FAILURE;
         },
         unverified},
        {"no expected stick, unknown system disk",
         [](sim::Machine& m, sim::StickSpec&, engine::WriteOptions&) {
             m.volume(u"\\\\.\\C:")->extents_error = ERROR_GEN_FAILURE;
         },
         ""},
        {"expected vendor differs in case",
         [](sim::Machine&, sim::StickSpec&, engine::WriteOptions& o) {
             o.has_expected_stick = true;
             o.expected_stick = *discovery::probe_disk(3);
             o.expected_stick.vendor[0] = 't';
         },
         unverified},
        {"4096-byte sectors pass",
         [](sim::Machine&, sim::StickSpec& s, engine::WriteOptions&) { s.bytes_per_sector = 4096; }, ""},
        {"8192-byte sectors",
         [](sim::Machine&, sim::StickSpec& s, engine::WriteOptions&) { s.bytes_per_sector = 8192; },
         "disk 3 has 8192-byte sectors"},
        {"0-byte sectors",
         [](sim::Machine&, sim::StickSpec& s, engine::WriteOptions&) { s.bytes_per_sector = 0; },
         "disk 3 has 0-byte sectors"},
    };
    for (const VetCase& c : cases) {
        sim::Machine::current()->remove_drive(3);
        machine.volume(u"\\\\.\\C:")->extents = sim::make_extents({{0, 0, 1}});
        machine.volume(u"\\\\.\\C:")->extents_error = 0;
        sim::StickSpec spec{3, "Tundra", "Flash", "SN0001"};
        engine::WriteOptions options = options_for("sn0001");
        machine.add_stick(spec);
        c.setup(machine, spec, options);
        machine.add_stick(spec);
        discovery::StickRecord found;
        const engine::Result result = engine::find_stick_by_serial(options, found);
        EXPECT_EQ(result, c.reason.empty() ? engine::Result::Success : engine::Result::Failed)
            << c.name;
        if (!c.reason.empty()) {
            EXPECT_EQ(failure_text(), c.reason) << c.name;
        }
    }
}

TEST_F(TargetTest, SerialMatching) {
    engine::WriteOptions options;
    discovery::StickRecord found;
    EXPECT_EQ(engine::find_stick_by_serial(options, found), engine::Result::Failed);
    EXPECT_EQ(failure_text(), "which stick? --serial S (tundra-stick list shows the serial numbers)");
    options = options_for("abc1");
    EXPECT_EQ(engine::find_stick_by_serial(options, found), engine::Result::Failed);
    EXPECT_EQ(failure_text(),
              "no disk has serial abc1: is the stick plugged in? (tundra-stick list shows the disks)");
    machine.add_stick({2, "A", "B", "ABC1"});
    machine.add_stick({5, "A", "B", "abc1"});
    EXPECT_EQ(engine::find_stick_by_serial(options, found), engine::Result::Failed);
    EXPECT_EQ(failure_text(), "2 disks have serial abc1: unplug all but the stick");
    machine.remove_drive(5);
    machine.add_stick({5, "A", "B", "ABC12"});  // a longer serial is another serial
    std::vector<std::string> lines;
    engine::set_report_observer(
        [](const char* l, size_t n, void* c) { static_cast<std::vector<std::string>*>(c)->emplace_back(l, n); },
        &lines);
    EXPECT_EQ(engine::find_stick_by_serial(options, found), engine::Result::Success);
    engine::set_report_observer(nullptr, nullptr);
    EXPECT_EQ(found.disk_number, 2u);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "stick: disk 2, A B, serial ABC1, 16.0 GB, USB\n");
}

TEST_F(TargetTest, OpeningProvesTheHandleBelongsToTheStick) {
    const struct {
        const char* name;
        std::function<void(sim::Drive&)> arrange;
        std::string reason;
    } cases[] = {
        {"opens", [](sim::Drive&) {}, ""},
        {"access denied", [](sim::Drive& d) { d.deny_access = true; },
         "Windows refused to open disk 3: it needs an administrator"},
        {"goes away",
         [](sim::Drive& d) { d.after_open_with_access = [](sim::Machine& m) { m.remove_drive(3); }; },
         "disk 3 went away"},
        {"another serial appears",
         [](sim::Drive& d) {
             d.after_open_with_access = [](sim::Machine& m) { m.add_stick({3, "Tundra", "Flash", "OTHER"}); };
         },
         "disk 3 changed while it was being opened: try again"},
        {"another size appears",
         [](sim::Drive& d) {
             d.after_open_with_access = [](sim::Machine& m) {
                 sim::StickSpec spec{3, "Tundra", "Flash", "SN0001"};
                 spec.size_bytes = 8000000000ull;
                 m.add_stick(spec);
             };
         },
         "disk 3 changed while it was being opened: try again"},
    };
    for (const auto& c : cases) {
        sim::Drive& drive = machine.add_stick({3, "Tundra", "Flash", "SN0001"});
        c.arrange(drive);
        engine::WriteOptions options = options_for("SN0001");
        options.has_expected_stick = true;
        options.expected_stick = *discovery::probe_disk(3);
        engine::TargetDisk target;
        const engine::Result result = engine::open_stick(options.expected_stick, options, target);
        if (c.reason.empty()) {
            ASSERT_EQ(result, engine::Result::Success) << failure_text();
            EXPECT_TRUE(target.is_disk);
            EXPECT_TRUE(target.overlapped);
            EXPECT_EQ(target.size, 16000000000ull);
            EXPECT_TRUE(machine.drive_opened_for_writing(3));
            EXPECT_TRUE(sys::CloseHandle(target.handle));
        } else {
            EXPECT_EQ(result, engine::Result::Failed) << c.name;
            EXPECT_EQ(failure_text(), c.reason) << c.name;
        }
        EXPECT_EQ(machine.open_handle_count(), 0u) << c.name;
    }
    machine.add_stick({3, "Tundra", "Flash", "SN0001"});
    const discovery::StickRecord stick = *discovery::probe_disk(3);
    machine.fail_call("CreateFileW", ERROR_SHARING_VIOLATION);
    engine::TargetDisk target;
    const engine::WriteOptions options = options_for("SN0001");
    EXPECT_EQ(engine::open_stick(stick, options, target), engine::Result::Failed);
    EXPECT_EQ(failure_text(), "cannot open disk 3 (Windows error 32)");
}

TEST_F(TargetTest, DryRunOpensTheStickReadOnly) {
    machine.add_stick({3, "Tundra", "Flash", "SN0001"});
    engine::WriteOptions options = options_for("SN0001");
    options.dry_run = true;
    engine::TargetDisk target;
    ASSERT_EQ(engine::open_target(options, target), engine::Result::Success);
    EXPECT_FALSE(machine.drive_opened_for_writing(3));
    EXPECT_TRUE(sys::CloseHandle(target.handle));
}

}  // namespace

namespace {

TEST(BusName, EveryStorageBusType) {
    const char* const expected[] = {"other", "SCSI", "other", "ATA",  "other",   "other",
                                    "other", "USB",  "RAID",  "other", "SAS",    "SATA",
                                    "SD",    "MMC",  "virtual", "VHD", "other",  "NVMe",
                                    "other", "other"};
    for (uint32_t bus = 0; bus < 20; ++bus) EXPECT_STREQ(engine::bus_name(bus), expected[bus]) << bus;
    EXPECT_STREQ(engine::bus_name(0xFFFFFFFFu), "other");
}

}  // namespace
