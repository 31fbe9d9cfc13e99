// The layout of a stick given back as an ordinary USB stick: where the
// partition lies, which file system and cluster size each size of stick
// gets, the label rules, and (on the host) the volumes themselves checked by
// the tools that Linux trusts: fdisk, fsck.fat -n and fsck.exfat -n.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "fixtures/temp_file.h"
#include "formats/exfat_layout.h"
#include "formats/fat32_layout.h"
#include "formats/stick_layout.h"
#include "formats/volume_label.h"

namespace {

using formats::FileSystem;
using formats::LayoutFault;
using formats::StickLayout;

constexpr uint64_t MIB = 1048576;
constexpr uint64_t GIB = 1073741824;

formats::VolumeLabel usb_label() {
    formats::VolumeLabel label;
    const uint16_t units[] = {'U', 'S', 'B'};
    EXPECT_EQ(formats::check_label(FileSystem::Fat32, units, 3, label), formats::LabelFault::None);
    return label;
}

LayoutFault plan(uint64_t disk_bytes, uint32_t sector, FileSystem fs, StickLayout& layout) {
    return formats::plan_stick_layout(disk_bytes, sector, fs, usb_label(), 0x1234ABCD, 0x5678EF01,
                                      layout);
}

// The smallest stick that takes FAT32 with this sector size.
uint64_t smallest_fat32_stick(uint32_t sector) {
    StickLayout layout;
    for (uint64_t sectors = MIB / sector;; ++sectors) {
        if (plan(sectors * sector, sector, FileSystem::Fat32, layout) == LayoutFault::None)
            return sectors * sector;
    }
}

struct SizeCase {
    const char* name;
    uint64_t disk_bytes;
    FileSystem fs;
    uint32_t cluster_512;   // cluster bytes with 512-byte sectors
    uint32_t cluster_4096;  // and with 4096-byte ones
};

// The sizes that matter, with the file system the size chooses and the
// default cluster sizes: FAT32's from Microsoft's FAT specification, exFAT's
// as Windows formats it.
const std::vector<SizeCase>& size_cases() {
    static const std::vector<SizeCase> cases = {
        {"smallest FAT32", smallest_fat32_stick(512), FileSystem::Fat32, 512, 0},
        {"smallest FAT32 on 4096-byte sectors", smallest_fat32_stick(4096), FileSystem::Fat32, 512,
         4096},
        {"1 GiB", GIB, FileSystem::Fat32, 4096, 4096},
        {"8 GB", 8000000000ull, FileSystem::Fat32, 4096, 4096},
        {"8 GiB", 8 * GIB, FileSystem::Fat32, 4096, 4096},
        {"16 GiB", 16 * GIB, FileSystem::Fat32, 8192, 8192},
        {"32 GiB", 32 * GIB, FileSystem::Fat32, 16384, 16384},
        {"just over 32 GiB", 32 * GIB + MIB, FileSystem::Exfat, 32768, 32768},
        {"64 GiB", 64 * GIB, FileSystem::Exfat, 131072, 131072},
        {"256 GiB", 256 * GIB, FileSystem::Exfat, 131072, 131072},
    };
    return cases;
}

FileSystem chosen_for(uint64_t disk_bytes) {
    return disk_bytes <= formats::FAT32_DEFAULT_LIMIT_BYTES ? FileSystem::Fat32 : FileSystem::Exfat;
}

TEST(StickLayout, EverySizeGetsOnePartitionFromOneMibToTheEnd) {
    for (const SizeCase& c : size_cases()) {
        for (uint32_t sector : {512u, 4096u}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(sector) + "-byte sectors");
            const uint32_t cluster = sector == 512 ? c.cluster_512 : c.cluster_4096;
            StickLayout layout;
            const LayoutFault fault = plan(c.disk_bytes, sector, chosen_for(c.disk_bytes), layout);
            if (cluster == 0) {
                EXPECT_EQ(fault, LayoutFault::TooSmall);
                continue;
            }
            ASSERT_EQ(fault, LayoutFault::None);
            EXPECT_EQ(layout.file_system, c.fs);
            EXPECT_EQ(layout.partition_first * sector, MIB);
            EXPECT_EQ((layout.partition_first + layout.partition_sectors) * sector,
                      c.disk_bytes / sector * sector);
            EXPECT_EQ(formats::cluster_bytes(layout), cluster);
            if (layout.file_system == FileSystem::Fat32) {
                const formats::Fat32Geometry& g = layout.fat32;
                EXPECT_GE(g.cluster_count, formats::FAT32_MIN_CLUSTERS);
                // The FAT covers every cluster; the data area starts on a
                // cluster and 4 KiB boundary of the stick.
                EXPECT_GE(uint64_t{g.fat_sectors} * sector / 4, uint64_t{g.cluster_count} + 2);
                const uint64_t data =
                    MIB + (uint64_t{g.reserved_sectors} + 2 * g.fat_sectors) * sector;
                EXPECT_EQ(data % cluster, 0u);
                EXPECT_EQ(data % 4096, 0u);
                EXPECT_LE(data + uint64_t{g.cluster_count} * cluster, c.disk_bytes);
            } else {
                const formats::ExfatGeometry& g = layout.exfat;
                EXPECT_GE(uint64_t{g.fat_length} * sector / 4, uint64_t{g.cluster_count} + 2);
                EXPECT_GE(g.fat_offset, 24u);
                const uint64_t heap = MIB + uint64_t{g.heap_offset} * sector;
                EXPECT_EQ(heap % cluster, 0u);
                EXPECT_LE(heap + uint64_t{g.cluster_count} * cluster, c.disk_bytes);
            }
        }
    }
}

TEST(StickLayout, SmallestFat32StickIsWhereFat32Begins) {
    // One sector less than the smallest is refused, and the smallest is
    // the size Microsoft's table first gives clusters to.
    for (uint32_t sector : {512u, 4096u}) {
        const uint64_t smallest = smallest_fat32_stick(sector);
        StickLayout layout;
        EXPECT_EQ(plan(smallest - sector, sector, FileSystem::Fat32, layout),
                  LayoutFault::TooSmall);
        ASSERT_EQ(plan(smallest, sector, FileSystem::Fat32, layout), LayoutFault::None);
        if (sector == 512)
            EXPECT_EQ(layout.partition_sectors, 66601u);  // where the table starts FAT32
        else
            EXPECT_EQ(layout.fat32.cluster_count, formats::FAT32_MIN_CLUSTERS);
    }
    EXPECT_EQ(formats::fat32_default_cluster_bytes(66600 * 512, 512), 0u);
    EXPECT_EQ(formats::fat32_default_cluster_bytes(66601 * 512, 512), 512u);
}

TEST(StickLayout, RefusesWhatAnMbrOrASectorCannotHold) {
    StickLayout layout;
    EXPECT_EQ(plan(8 * GIB, 1024 * 8, FileSystem::Fat32, layout), LayoutFault::SectorSize);
    EXPECT_EQ(plan(8 * GIB, 520, FileSystem::Exfat, layout), LayoutFault::SectorSize);
    EXPECT_EQ(plan(2048 * GIB + 512 * 2, 512, FileSystem::Exfat, layout), LayoutFault::TooLarge);
    EXPECT_EQ(plan(MIB + 4096, 512, FileSystem::Exfat, layout), LayoutFault::TooSmall);
    EXPECT_EQ(plan(20 * MIB, 512, FileSystem::Fat32, layout), LayoutFault::TooSmall);
    EXPECT_EQ(plan(20 * MIB, 512, FileSystem::Exfat, layout), LayoutFault::None);
}

TEST(StickLayout, WrittenPlacesEndWithTheMbrAndCoverBothTables) {
    StickLayout layout;
    ASSERT_EQ(plan(8 * GIB, 512, FileSystem::Fat32, layout), LayoutFault::None);
    formats::ByteRange ranges[formats::RESTORE_RANGE_COUNT];
    formats::restore_ranges(layout, ranges);
    // The backup GPT's 33 sectors at the end, the primary's 34 at the start.
    EXPECT_EQ(ranges[0].offset + ranges[0].length, 8 * GIB);
    EXPECT_GE(ranges[0].length, 33 * 512u);
    EXPECT_EQ(ranges[1].offset, MIB);
    EXPECT_EQ(ranges[2].offset, 0u);
    EXPECT_EQ(ranges[2].length, MIB);
    std::vector<uint8_t> head(MIB);
    formats::restored_bytes(layout, 0, head.data(), MIB);
    EXPECT_EQ(head[510], 0x55);
    EXPECT_EQ(head[511], 0xAA);
    EXPECT_EQ(head[446 + 4], 0x0C);  // FAT32 with LBA
    for (size_t at = 512; at < MIB; ++at)
        ASSERT_EQ(head[at], 0) << at;
}

TEST(VolumeLabelRules, EachFileSystemItsOwn) {
    const struct {
        FileSystem fs;
        std::u16string given;
        formats::LabelFault fault;
        std::u16string stored;
    } cases[] = {
        {FileSystem::Fat32, u"usb", formats::LabelFault::None, u"USB"},
        {FileSystem::Fat32, u"MY STICK_01", formats::LabelFault::None, u"MY STICK_01"},
        {FileSystem::Fat32, u"TWELVE CHARS", formats::LabelFault::TooLong, u""},
        {FileSystem::Fat32, u"A.B", formats::LabelFault::Character, u""},
        {FileSystem::Fat32, u"A+B", formats::LabelFault::Character, u""},
        {FileSystem::Fat32, u"Schön", formats::LabelFault::Character, u""},
        {FileSystem::Fat32, u" USB", formats::LabelFault::EdgeSpace, u""},
        {FileSystem::Fat32, u"USB ", formats::LabelFault::EdgeSpace, u""},
        {FileSystem::Fat32, u"", formats::LabelFault::Empty, u""},
        {FileSystem::Exfat, u"Schön Stick", formats::LabelFault::None, u"Schön Stick"},
        {FileSystem::Exfat, u"a.b+c", formats::LabelFault::None, u"a.b+c"},
        {FileSystem::Exfat, u"A:B", formats::LabelFault::Character, u""},
        {FileSystem::Exfat, u"A\tB", formats::LabelFault::Character, u""},
        {FileSystem::Exfat, u"twelve chars", formats::LabelFault::TooLong, u""},
    };
    for (const auto& c : cases) {
        formats::VolumeLabel label;
        const auto* units = reinterpret_cast<const uint16_t*>(c.given.data());
        EXPECT_EQ(formats::check_label(c.fs, units, c.given.size(), label), c.fault);
        if (c.fault == formats::LabelFault::None) {
            EXPECT_EQ(std::u16string(label.units, label.units + label.length), c.stored);
        }
    }
}

TEST(ExfatBootRegion, ChecksumLeavesOutTheFieldsThatChangeInUse) {
    StickLayout layout;
    ASSERT_EQ(plan(64 * GIB, 512, FileSystem::Exfat, layout), LayoutFault::None);
    const uint32_t checksum = formats::exfat_boot_checksum(layout);
    // The checksum sector of both regions repeats it.
    std::vector<uint8_t> region(24 * 512);
    formats::restored_bytes(layout, MIB, region.data(), static_cast<uint32_t>(region.size()));
    for (size_t base : {11 * 512, 23 * 512}) {
        for (size_t i = 0; i < 512; i += 4) {
            const uint32_t stored = region[base + i] | region[base + i + 1] << 8 |
                                    region[base + i + 2] << 16 |
                                    static_cast<uint32_t>(region[base + i + 3]) << 24;
            ASSERT_EQ(stored, checksum) << base + i;
        }
    }
    // Any field of the boot sector counts.
    StickLayout other = layout;
    other.exfat.cluster_count = layout.exfat.cluster_count - 1;
    EXPECT_NE(formats::exfat_boot_checksum(other), checksum);
    other = layout;
    other.volume_serial ^= 1;
    EXPECT_NE(formats::exfat_boot_checksum(other), checksum);
}

#ifndef _WIN32
// The tools of a Linux machine, run on files made from the layout: the
// whole stick for fdisk, the partition alone for fsck. Only the bytes a
// restore writes go into them, and zeros stay holes, so even 256 GiB is
// quick. A tool that is not installed skips the test.
bool have_tool(const char* name) {
    const std::string probe = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(probe.c_str()) == 0;
}

std::string run_tool(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return output;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    status = pclose(pipe);
    return output;
}

std::string hex_of(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

// Runs of spaces as one, so that columns compare whatever their widths.
std::string squeezed(const std::string& text) {
    std::string kept;
    for (char c : text) {
        if (c != ' ' || kept.empty() || kept.back() != ' ')
            kept += c;
    }
    return kept;
}

// Writes the restore's bytes into `path`, shifted back by `skip` bytes.
void write_layout(const StickLayout& layout, const std::string& path, uint64_t skip,
                  uint64_t file_bytes) {
    { std::ofstream(path, std::ios::binary | std::ios::trunc); }
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(file_bytes)), 0) << path;
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    formats::ByteRange ranges[formats::RESTORE_RANGE_COUNT];
    formats::restore_ranges(layout, ranges);
    std::vector<uint8_t> piece(4 * MIB);
    for (const formats::ByteRange& range : ranges) {
        for (uint64_t at = range.offset; at < range.offset + range.length; at += piece.size()) {
            const uint64_t rest = range.offset + range.length - at;
            const uint32_t count = static_cast<uint32_t>(rest < piece.size() ? rest : piece.size());
            formats::restored_bytes(layout, at, piece.data(), count);
            bool zero = true;
            for (uint32_t i = 0; i < count && zero; ++i)
                zero = piece[i] == 0;
            if (zero || at < skip)
                continue;
            out.seekp(static_cast<std::streamoff>(at - skip));
            out.write(reinterpret_cast<const char*>(piece.data()), count);
        }
    }
    ASSERT_TRUE(out.good()) << path;
}

TEST(StickLayoutTools, FsckAndSfdiskAcceptEverySize) {
    for (const char* tool : {"fdisk", "fsck.fat", "fsck.exfat", "tune.exfat"}) {
        if (!have_tool(tool))
            GTEST_SKIP() << tool << " is not installed (scripts/setup installs it)";
    }
    const std::string stick = fixtures::unique_temp_path("layout-stick.img");
    const std::string volume = fixtures::unique_temp_path("layout-volume.img");
    for (const SizeCase& c : size_cases()) {
        for (uint32_t sector : {512u, 4096u}) {
            for (FileSystem fs : {FileSystem::Fat32, FileSystem::Exfat}) {
                StickLayout layout;
                if (plan(c.disk_bytes, sector, fs, layout) != LayoutFault::None)
                    continue;
                const bool fat32 = fs == FileSystem::Fat32;
                SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(sector) +
                             "-byte sectors, " + (fat32 ? "FAT32" : "exFAT"));
                write_layout(layout, stick, 0, c.disk_bytes);
                // fdisk, since only it can be told the sector size of a file.
                int status = 0;
                const std::string table =
                    squeezed(run_tool("fdisk -l -o Device,Start,Sectors,Id -b " +
                                          std::to_string(sector) + " " + stick,
                                      status));
                EXPECT_EQ(status, 0) << table;
                const uint64_t first = MIB / sector;
                EXPECT_NE(table.find("Disklabel type: dos"), std::string::npos) << table;
                const std::string partition = stick + "1 " + std::to_string(first) + " " +
                                              std::to_string(c.disk_bytes / sector - first) + " " +
                                              (fat32 ? "c" : "7") + "\n";
                EXPECT_NE(table.find(partition), std::string::npos) << table;
                EXPECT_EQ(table.find(stick + "2 "), std::string::npos) << table;
                write_layout(layout, volume, MIB, c.disk_bytes - MIB);
                const std::string check = run_tool(
                    std::string(fat32 ? "fsck.fat -n " : "fsck.exfat -n ") + volume, status);
                EXPECT_EQ(status, 0) << check;
                // Warnings count too: fsck.fat -n exits 0 on "mostly harmless" ones.
                EXPECT_EQ(std::count(check.begin(), check.end(), '\n'), 2) << check;
                EXPECT_TRUE(check.find(fat32 ? " files, " : ": clean.") != std::string::npos)
                    << check;
                if (!fat32) {
                    // tune.exfat writes the boot checksum itself when it sets the
                    // serial: setting the same one must change nothing.
                    const std::string boot = "dd if=" + volume + " bs=" + std::to_string(sector) +
                                             " count=24 status=none";
                    const std::string before = run_tool(boot, status);
                    const std::string tuned = run_tool(
                        "tune.exfat -I " + hex_of(layout.volume_serial) + " " + volume, status);
                    EXPECT_EQ(status, 0) << tuned;
                    EXPECT_TRUE(run_tool(boot, status) == before)
                        << "the boot checksum is not the one tune.exfat writes";
                }
            }
        }
    }
    std::remove(stick.c_str());
    std::remove(volume.c_str());
}
#endif

}  // namespace
