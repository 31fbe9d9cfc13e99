#include <gtest/gtest.h>

#include <string>

#include "discovery/disk_probe.h"
#include "discovery/stick_list.h"
#include "sim/sim_machine.h"

namespace {

class StickListTest : public ::testing::Test {
protected:
    void SetUp() override { machine.add_system_disk(0); }
    void TearDown() override { EXPECT_EQ(machine.open_handle_count(), 0u); }

    std::string listed_serials() {
        discovery::build_stick_list(list, true);
        std::string serials;
        for (uint64_t i = 0; i < list.stick_count; ++i) {
            if (!serials.empty()) serials += ",";
            serials += std::string(list.sticks[i].serial, list.sticks[i].serial_len);
        }
        return serials;
    }

    sim::Machine machine;
    discovery::StickList list;
};

struct StickRuleCase {
    const char* name;
    sim::StickSpec spec;
    bool listed;
};

sim::StickSpec spec_with(void (*change)(sim::StickSpec&)) {
    sim::StickSpec spec{2};
    spec.serial = "RULE";
    change(spec);
    return spec;
}

TEST_F(StickListTest, AdmissionRules) {
    const StickRuleCase cases[] = {
        {"an ordinary stick", spec_with([](sim::StickSpec&) {}), true},
        {"exactly 256,000,000,000 bytes",
         spec_with([](sim::StickSpec& s) { s.size_bytes = 256000000000ull; }), true},
        {"one byte more", spec_with([](sim::StickSpec& s) { s.size_bytes = 256000000001ull; }),
         false},
        {"size 0", spec_with([](sim::StickSpec& s) { s.size_bytes = 0; }), false},
        {"one byte", spec_with([](sim::StickSpec& s) { s.size_bytes = 1; }), true},
        {"4096-byte sectors", spec_with([](sim::StickSpec& s) { s.bytes_per_sector = 4096; }),
         false},
        {"empty serial", spec_with([](sim::StickSpec& s) { s.serial = ""; }), false},
        {"serial of spaces", spec_with([](sim::StickSpec& s) { s.serial = "    "; }), false},
        {"SATA, not USB", spec_with([](sim::StickSpec& s) { s.bus_type = 11; }), false},
        {"not removable still counts",
         spec_with([](sim::StickSpec& s) { s.removable = false; }), true},
        {"no vendor or product",
         spec_with([](sim::StickSpec& s) { s.vendor = s.product = ""; }), true},
    };
    for (const StickRuleCase& c : cases) {
        machine.add_stick(c.spec);
        EXPECT_EQ(listed_serials(), c.listed ? "RULE" : "") << c.name;
        EXPECT_FALSE(list.selected_stick.has_value());
    }
}

TEST_F(StickListTest, AUsbDiskHoldingWindowsIsNotListed) {
    machine.add_stick({2, "Tundra", "Flash", "WINDOWS-TO-GO"});
    machine.add_stick({3, "Tundra", "Flash", "FREE"});
    machine.volume(u"\\\\.\\C:")->extents = sim::make_extents({{0, 0, 1}, {2, 0, 1}});
    EXPECT_EQ(listed_serials(), "FREE");
}

TEST_F(StickListTest, AFailingExtentsQueryListsNothing) {
    machine.add_stick({2});
    machine.volume(u"\\\\.\\C:")->extents_error = ERROR_GEN_FAILURE;
    EXPECT_EQ(listed_serials(), "");
    EXPECT_TRUE(machine.drives_opened().empty()) << "no disk is probed";
}

TEST_F(StickListTest, NotElevatedListsNothingAndProbesNothing) {
    machine.add_stick({2});
    list.stick_count = 5;
    list.selected_stick = 1;
    discovery::build_stick_list(list, false);
    EXPECT_EQ(list.stick_count, 0u);
    EXPECT_FALSE(list.selected_stick.has_value());
    EXPECT_TRUE(machine.drives_opened().empty());
}

TEST_F(StickListTest, AscendingOrderAndEveryDiskNumberProbed) {
    // Every disk number but the system disk's holds a stick: 63 at most can
    // qualify, since the system disk always takes one of the 64 numbers.
    for (uint32_t n = 63; n >= 1; --n) {
        std::string serial = "S";
        serial += std::to_string(n);
        machine.add_stick({n, "V", "P", serial});
    }
    machine.add_stick({64, "V", "P", "BEYOND"});  // numbers from 64 are never probed
    discovery::build_stick_list(list, true);
    ASSERT_EQ(list.stick_count, 63u);
    for (uint64_t i = 0; i < list.stick_count; ++i) {
        EXPECT_EQ(list.sticks[i].disk_number, i + 1);
    }
    EXPECT_EQ(machine.drives_opened().size(), 64u);
}

TEST(StickListRule, AbsentProbeAndMaskBits) {
    EXPECT_FALSE(discovery::is_candidate_stick(std::nullopt, 1));
    discovery::StickRecord stick;
    stick.bus_type = 7;
    stick.serial_len = 1;
    stick.serial[0] = 'S';
    stick.size_bytes = 1000;
    stick.disk_number = 63;
    EXPECT_TRUE(discovery::is_candidate_stick(stick, 1));
    EXPECT_FALSE(discovery::is_candidate_stick(stick, 1ull << 63));
    stick.disk_number = 64;  // no bit stands for it
    EXPECT_TRUE(discovery::is_candidate_stick(stick, ~0ull));
}

TEST(Elevation, AnswersFromTheToken) {
    sim::Machine machine;
    EXPECT_TRUE(discovery::query_is_elevated());
    machine.set_elevated(false);
    EXPECT_FALSE(discovery::query_is_elevated());
    EXPECT_EQ(machine.open_handle_count(), 0u);
}

}  // namespace
