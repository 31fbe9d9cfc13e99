#include <gtest/gtest.h>

#include <cstring>

#include "discovery/disk_probe.h"
#include "sim/sim_machine.h"

namespace {

class SystemDiskMask : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(machine.open_handle_count(), 0u); }
    sim::Volume& c_volume() { return *machine.volume(u"\\\\.\\C:"); }
    sim::Machine machine;
};

TEST_F(SystemDiskMask, SetsTheBitOfEveryDiskOfTheWindowsVolume) {
    EXPECT_EQ(discovery::system_disk_mask(), 1u);
    c_volume().extents = sim::make_extents({{1, 0, 100}, {3, 0, 100}, {63, 0, 100}});
    EXPECT_EQ(discovery::system_disk_mask(), (1ull << 1) | (1ull << 3) | (1ull << 63));
}

TEST_F(SystemDiskMask, DiskNumbersFrom64SetNoBit) {
    c_volume().extents = sim::make_extents({{64, 0, 100}, {2, 0, 100}, {4000000000u, 0, 1}});
    EXPECT_EQ(discovery::system_disk_mask(), 1ull << 2);
}

TEST_F(SystemDiskMask, OnlyWholeEntriesInsideTheAnswerCount) {
    c_volume().extents = sim::make_extents({{1, 0, 100}, {2, 0, 100}});
    const uint32_t claimed = 5;  // more entries claimed than returned
    memcpy(c_volume().extents.data(), &claimed, 4);
    EXPECT_EQ(discovery::system_disk_mask(), 0b110u);
    c_volume().extents.resize(8 + 24 + 23);  // the second entry is one byte short
    EXPECT_EQ(discovery::system_disk_mask(), 0b10u);
}

TEST_F(SystemDiskMask, UnknownCasesGiveZero) {
    c_volume().extents_error = ERROR_MORE_DATA;
    EXPECT_EQ(discovery::system_disk_mask(), 0u) << "extents query fails";
    c_volume().extents_error = 0;
    c_volume().extents = sim::make_extents({});
    EXPECT_EQ(discovery::system_disk_mask(), 0u) << "no extents";
    c_volume().extents = sim::make_extents({{0, 0, 1}});

    machine.set_windows_directory(u"");
    EXPECT_EQ(discovery::system_disk_mask(), 0u) << "no Windows directory";
    machine.set_windows_directory(u"\\\\server\\share\\Windows");
    EXPECT_EQ(discovery::system_disk_mask(), 0u) << "not on a drive letter";
    machine.set_windows_directory(u"C");
    EXPECT_EQ(discovery::system_disk_mask(), 0u) << "one character";
    machine.set_windows_directory(u"D:\\Windows");
    EXPECT_EQ(discovery::system_disk_mask(), 0u) << "its volume cannot be opened";
    machine.set_windows_directory(u"C:\\" + std::u16string(300, u'W'));
    EXPECT_EQ(discovery::system_disk_mask(), 0u) << "longer than the buffer";
    machine.set_windows_directory(u"C:");
    EXPECT_EQ(discovery::system_disk_mask(), 1u) << "two characters are enough";
}

}  // namespace
