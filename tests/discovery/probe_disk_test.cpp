#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery/disk_probe.h"
#include "sim/sim_machine.h"

namespace {

std::string text_of(const char* data, uint64_t length) { return std::string(data, length); }

std::string narrow(const WCHAR* text) {
    std::string out;
    for (; *text != 0; ++text) out += static_cast<char>(*text);
    return out;
}

TEST(PhysicalDrivePath, DecimalWithoutLeadingZeros) {
    EXPECT_EQ(narrow(discovery::physical_drive_path(0).text), "\\\\.\\PhysicalDrive0");
    EXPECT_EQ(narrow(discovery::physical_drive_path(63).text), "\\\\.\\PhysicalDrive63");
    EXPECT_EQ(narrow(discovery::physical_drive_path(4294967295u).text),
              "\\\\.\\PhysicalDrive4294967295");
}

class ProbeDisk : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(machine.open_handle_count(), 0u); }
    sim::Machine machine;
};

TEST_F(ProbeDisk, FillsTheRecordFromDescriptorAndGeometry) {
    sim::StickSpec spec{3};
    spec.vendor = "  SanDisk ";
    spec.product = "Ultra Fit";
    spec.serial = "4C530001";
    spec.size_bytes = 15500000000ull;
    machine.add_stick(spec);

    const discovery::ProbeResult probe = discovery::probe_disk(3);
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(probe->disk_number, 3u);
    EXPECT_EQ(probe->bus_type, 7u);
    EXPECT_TRUE(probe->removable);
    EXPECT_EQ(probe->size_bytes, 15500000000ull);
    EXPECT_EQ(probe->bytes_per_sector, 512u);
    EXPECT_EQ(text_of(probe->vendor, probe->vendor_len), "SanDisk");
    EXPECT_EQ(text_of(probe->product, probe->product_len), "Ultra Fit");
    EXPECT_EQ(text_of(probe->serial, probe->serial_len), "4C530001");
    // Probing is a query: the disk is opened without access rights.
    EXPECT_FALSE(machine.drive_opened_for_writing(3));
}

TEST_F(ProbeDisk, NoDiskIsAbsent) { EXPECT_FALSE(discovery::probe_disk(5).has_value()); }

TEST_F(ProbeDisk, DescriptorSizeFieldLimitsAllTexts) {
    sim::Drive& d = machine.add_stick({1});
    // Vendor "Tundra" at 40, product "Flash" at 47, revision at 53, serial at 58.
    const uint32_t size_inside_product = 50;
    memcpy(d.descriptor.data() + 4, &size_inside_product, 4);
    const discovery::ProbeResult probe = discovery::probe_disk(1);
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(text_of(probe->vendor, probe->vendor_len), "Tundra");
    EXPECT_EQ(text_of(probe->product, probe->product_len), "Fla");
    EXPECT_EQ(probe->serial_len, 0u);
    EXPECT_EQ(probe->bus_type, 7u);  // fields of the header are read whatever Size says
}

TEST_F(ProbeDisk, ShortAnswersLeaveTheDefaults) {
    sim::Drive& d = machine.add_stick({1});
    d.descriptor.resize(35);
    d.geometry.resize(31);
    const discovery::ProbeResult probe = discovery::probe_disk(1);
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(probe->bus_type, 0u);
    EXPECT_FALSE(probe->removable);
    EXPECT_EQ(probe->vendor_len + probe->product_len + probe->serial_len, 0u);
    EXPECT_EQ(probe->size_bytes, 0u);
    EXPECT_EQ(probe->bytes_per_sector, 512u);
}

TEST_F(ProbeDisk, MinimalAnswersAreEnough) {
    sim::Drive& d = machine.add_stick({1});
    d.descriptor.resize(36);  // header only: every text offset is past the limit
    d.geometry.resize(32);
    const discovery::ProbeResult probe = discovery::probe_disk(1);
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(probe->bus_type, 7u);
    EXPECT_EQ(probe->serial_len, 0u);
    EXPECT_EQ(probe->size_bytes, 16000000000ull);
}

}  // namespace
