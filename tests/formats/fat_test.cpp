#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fixtures/sim_disk.h"
#include "formats/fat.h"

namespace {

using fixtures::FatImage;
using fixtures::FatSpec;

// A bare FAT volume (no partition table) served as a drive, its boot
// sector parsed with an empty FAT window cache.
struct OpenVolume {
    OpenVolume(sim::Machine& machine, const fixtures::Bytes& bytes, uint32_t drive)
        : disk(machine, bytes, drive) {
        formats::forget_fat_window();
        parsed = formats::parse_boot_sector(disk.region(), volume);
    }
    fixtures::SimDisk disk;
    formats::FatVolume volume;
    engine::Result parsed;
};

class FatTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(machine.open_handle_count(), 0u); }

    // Parses the boot sector of a bare volume (no partition table).
    engine::Result parse(const fixtures::Bytes& bytes, formats::FatVolume& volume) {
        OpenVolume opened(machine, bytes, next_drive_++);
        volume = opened.volume;
        return opened.parsed;
    }

    sim::Machine machine;
    uint32_t next_drive_ = 10;
};

TEST_F(FatTest, TypeFollowsTheClusterCount) {
    const struct {
        uint32_t clusters;
        int built_as;
        formats::FatType expected;
    } cases[] = {{4084, 12, formats::FatType::Fat12},
                 {4085, 16, formats::FatType::Fat16},
                 {65524, 16, formats::FatType::Fat16},
                 {65525, 32, formats::FatType::Fat32}};
    for (const auto& c : cases) {
        FatSpec spec;
        spec.type = c.built_as;
        spec.cluster_count = c.clusters;
        const FatImage image(spec);
        formats::FatVolume volume;
        ASSERT_EQ(parse(image.bytes, volume), engine::Result::Success) << c.clusters;
        EXPECT_EQ(volume.cluster_count, c.clusters);
        EXPECT_EQ(volume.type, c.expected) << c.clusters;
        EXPECT_EQ(volume.root_cluster, c.built_as == 32 ? 2u : 0u);
    }
}

void put16(fixtures::Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

TEST_F(FatTest, BootSectorRefusals) {
    FatSpec spec;
    spec.type = 16;
    spec.cluster_count = 5000;
    const FatImage image(spec);
    const std::string not_fat = "the TUNDRA partition's FAT boot sector is not one FAT has";
    const struct {
        const char* name;
        void (*change)(fixtures::Bytes&);
        std::string reason;
    } cases[] = {
        {"no signature", [](fixtures::Bytes& b) { b[511] = 0; },
         "the TUNDRA partition has no FAT boot sector"},
        {"511-byte sectors", [](fixtures::Bytes& b) { put16(b, 11, 0x01FF); }, not_fat},
        {"768-byte sectors", [](fixtures::Bytes& b) { put16(b, 11, 0x0300); }, not_fat},
        {"8192-byte sectors", [](fixtures::Bytes& b) { put16(b, 11, 8192); }, not_fat},
        {"no sectors per cluster", [](fixtures::Bytes& b) { b[13] = 0; }, not_fat},
        {"3 sectors per cluster", [](fixtures::Bytes& b) { b[13] = 3; }, not_fat},
        {"no FATs", [](fixtures::Bytes& b) { b[16] = 0; }, not_fat},
        {"no FAT sectors", [](fixtures::Bytes& b) { put16(b, 22, 0); }, not_fat},
        {"no data area", [](fixtures::Bytes& b) { put16(b, 19, 73); },  // the first data sector
         "the TUNDRA partition's FAT has no data area"},
        {"512 KiB clusters",
         [](fixtures::Bytes& b) {
             put16(b, 11, 4096);
             b[13] = 128;
         },
         "the TUNDRA partition's clusters (524288 bytes) are too large"},
        {"sums past 32 bits",
         [](fixtures::Bytes& b) {
             put16(b, 22, 0);
             b[36] = b[37] = b[38] = b[39] = 0xFF;
         },
         "the TUNDRA partition's FAT boot sector has areas larger than FAT allows"},
    };
    for (const auto& c : cases) {
        fixtures::Bytes bytes = image.bytes;
        c.change(bytes);
        formats::FatVolume volume;
        EXPECT_EQ(parse(bytes, volume), engine::Result::Failed) << c.name;
        EXPECT_EQ(fixtures::failure_text(), c.reason) << c.name;
    }
    // The largest accepted cluster: 2048-byte sectors, 128 per cluster.
    fixtures::Bytes largest = image.bytes;
    put16(largest, 11, 2048);
    largest[13] = 128;
    put16(largest, 19, 0);
    largest[32] = 0x00;
    largest[33] = 0x00;
    largest[34] = 0x01;  // 65536 sectors of 2048 bytes: a data area remains
    formats::FatVolume volume;
    ASSERT_EQ(parse(largest, volume), engine::Result::Success) << fixtures::failure_text();
    EXPECT_EQ(volume.cluster_size, 262144u);
}

TEST_F(FatTest, BrokenChainsNameBothClusters) {
    FatSpec spec;
    spec.type = 16;
    spec.cluster_count = 5000;
    FatImage image(spec);
    const uint32_t first = image.add_directory(0, "TUNDRA");
    const struct {
        uint32_t fat_value;
        std::string shown;
    } cases[] = {{0xFFF7, "65527"}, {0, "0"}, {1, "1"}, {5002, "5002"}};
    for (const auto& c : cases) {
        image.set_fat(first, c.fat_value);
        OpenVolume opened(machine, image.bytes, next_drive_++);
        ASSERT_EQ(opened.parsed, engine::Result::Success);
        formats::FatVolume& volume = opened.volume;
        std::optional<uint32_t> next;
        EXPECT_EQ(formats::next_cluster(volume, first, next), engine::Result::Failed);
        EXPECT_EQ(fixtures::failure_text(),
                  "the TUNDRA partition's FAT has a broken chain (cluster " +
                      std::to_string(first) + " -> " + c.shown + ")");
    }
}

TEST_F(FatTest, ChainsEndAtEachTypesMark) {
    for (int type : {12, 16, 32}) {
        FatSpec spec;
        spec.type = type;
        spec.cluster_count = type == 12 ? 1000 : type == 16 ? 5000 : 65525;
        FatImage image(spec);
        const uint32_t first = image.add_file(0, "A.BIN", 1536);  // three 512-byte clusters
        OpenVolume opened(machine, image.bytes, next_drive_++);
        ASSERT_EQ(opened.parsed, engine::Result::Success);
        formats::FatVolume& volume = opened.volume;
        std::optional<uint32_t> next = first;
        uint32_t length = 0;
        while (next.has_value()) {
            ++length;
            ASSERT_EQ(formats::next_cluster(volume, *next, next), engine::Result::Success);
        }
        EXPECT_EQ(length, 3u) << "FAT" << type;
    }
}

TEST_F(FatTest, Fat12EntryAcrossAWindowIsReadDirectly) {
    FatSpec spec;
    spec.type = 12;
    spec.cluster_count = 1000;
    spec.reserved = 127;  // the FAT starts 512 bytes before the 64 KiB boundary
    FatImage image(spec);
    // Cluster 341's entry covers partition bytes 65535 and 65536.
    ASSERT_EQ(image.fat_entry_offset(341), 65535u);
    for (uint32_t c = 339; c < 343; ++c) image.set_fat(c, c + 1);
    image.set_fat(343, 0xFFF);
    OpenVolume opened(machine, image.bytes, next_drive_++);
    ASSERT_EQ(opened.parsed, engine::Result::Success);
    formats::FatVolume& volume = opened.volume;
    machine.reset_uses();
    std::optional<uint32_t> next = 339;
    for (uint32_t expected = 340; expected <= 343; ++expected) {
        ASSERT_EQ(formats::next_cluster(volume, *next, next), engine::Result::Success);
        EXPECT_EQ(next.value_or(0), expected);
    }
    // Window 0 once, the straddling entry directly, window 1 once.
    EXPECT_EQ(machine.uses("ReadFile"), 3u);
    ASSERT_EQ(formats::next_cluster(volume, 343, next), engine::Result::Success);
    EXPECT_FALSE(next.has_value());
    EXPECT_EQ(machine.uses("ReadFile"), 3u);  // still cached
}

// Two disks whose FATs lie at the same place in their TUNDRA partitions:
// on the first, TUNDRA fills exactly one cluster and its chain ends there;
// on the second, it goes on into a further cluster. A FAT window kept from
// the first would end the second's directory after its first cluster.
TEST_F(FatTest, OpeningAVolumeForgetsTheFatWindowOfTheLast) {
    FatSpec spec;
    spec.type = 16;
    spec.cluster_count = 5000;
    const uint32_t entries_per_cluster = spec.bytes_per_sector / 32;  // one sector per cluster
    FatImage first(spec);
    const uint32_t first_tundra = first.add_directory(0, "TUNDRA");
    for (uint32_t i = 3; i <= entries_per_cluster; ++i) {  // after "." and ".."
        first.add_file(first_tundra, "OLD" + std::to_string(i) + ".BIN", 100);
    }
    FatImage second(spec);
    const uint32_t second_tundra = second.add_directory(0, "TUNDRA");
    for (uint32_t i = 3; i <= entries_per_cluster + 4; ++i) {
        second.add_file(second_tundra, "NEW" + std::to_string(i) + ".BIN", 100 + i);
    }
    ASSERT_EQ(first_tundra, second_tundra);
    const fixtures::SimDisk first_disk(machine, fixtures::disk_with_volume(first), next_drive_++);
    const fixtures::SimDisk second_disk(machine, fixtures::disk_with_volume(second), next_drive_++);
    const struct {
        const fixtures::SimDisk& disk;
        std::string name;
        uint32_t size;
    } lookups[] = {
        {first_disk, "OLD16   BIN", 100},   // the last entry of the one full cluster
        {second_disk, "NEW20   BIN", 120},  // in the cluster after the first
    };
    for (const auto& l : lookups) {
        formats::FatVolume volume;
        bool found = false;
        ASSERT_EQ(formats::open_tundra_volume(l.disk.region(), volume, found),
                  engine::Result::Success);
        ASSERT_TRUE(found);
        formats::DirItem item;
        ASSERT_EQ(formats::find_tundra_file(volume, l.name.c_str(), item, found),
                  engine::Result::Success)
            << fixtures::failure_text();
        ASSERT_TRUE(found) << l.name;
        EXPECT_EQ(item.size, l.size) << l.name;
    }
}

TEST_F(FatTest, FatEntryPastThePartitionEndFails) {
    FatSpec spec;
    spec.type = 16;
    spec.cluster_count = 5000;
    FatImage image(spec);
    OpenVolume opened(machine, image.bytes, next_drive_++);
    ASSERT_EQ(opened.parsed, engine::Result::Success);
    formats::FatVolume& volume = opened.volume;
    volume.partition.end = volume.fat_offset + 100;  // the FAT claims more than there is
    std::optional<uint32_t> next;
    EXPECT_EQ(formats::next_cluster(volume, 60, next), engine::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(),
              "the TUNDRA partition's FAT entry at byte 632 lies past the partition's end");
}

// A directory whose chain leads back to itself is read no further than the
// most a directory can hold (65,536 entries of 32 bytes), or the volume's
// clusters when there are fewer: never 65,537 clusters of 256 KiB.
TEST_F(FatTest, LoopingDirectoryCostsAtMostItsLargestSize) {
    const struct {
        int type;
        uint32_t clusters;
        uint8_t sectors_per_cluster;
        uint64_t cluster_reads;
    } cases[] = {
        {32, 65525, 1, 4096},  // 2 MiB of 512-byte clusters
        {16, 5000, 64, 64},    // 2 MiB of 32 KiB clusters
        {16, 5000, 128, 32},   // 64 KiB clusters
        {12, 400, 1, 400},     // a volume smaller than a full directory
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sectors_per_cluster);
        FatSpec spec;
        spec.type = c.type;
        spec.cluster_count = c.clusters;
        spec.sectors_per_cluster = c.sectors_per_cluster;
        FatImage image(spec);
        const uint32_t looping = image.add_directory(0, "TUNDRA");
        image.set_fat(looping, looping);
        // Fill the cluster with deleted entries so that the scan never stops.
        const uint64_t at = image.cluster_offset(looping);
        for (uint32_t e = 0; e < spec.sectors_per_cluster * 16u; ++e)
            image.bytes[at + e * 32] = 0xE5;
        OpenVolume opened(machine, image.bytes, next_drive_++);
        ASSERT_EQ(opened.parsed, engine::Result::Success);
        machine.reset_uses();
        formats::DirItem items[4];
        uint32_t count = 0;
        EXPECT_EQ(formats::list_directory(opened.volume, {false, looping}, items, 4, count),
                  engine::Result::Failed);
        EXPECT_EQ(fixtures::failure_text(), "a directory on the TUNDRA partition loops");
        // The clusters and one FAT window.
        EXPECT_EQ(machine.uses("ReadFile"), c.cluster_reads + 1);
    }
}

// A boot sector that claims more clusters than its partition holds keeps
// its FAT type, but counts only the clusters that are there.
TEST_F(FatTest, ClusterCountIsClampedToThePartition) {
    FatSpec spec;
    spec.type = 16;
    spec.cluster_count = 5000;
    FatImage image(spec);
    const uint64_t data_offset = image.cluster_offset(2);
    // 4 GiB of data clusters claimed; the bytes hold 5000 clusters.
    spec.cluster_count = 5000;
    uint8_t* boot = image.bytes.data();
    const uint32_t claimed = 0xFFFFFFF0u;
    boot[19] = boot[20] = 0;
    memcpy(boot + 32, &claimed, 4);
    formats::FatVolume volume;
    ASSERT_EQ(parse(image.bytes, volume), engine::Result::Success) << fixtures::failure_text();
    EXPECT_EQ(volume.type, formats::FatType::Fat32);  // as the claimed count says
    EXPECT_EQ(volume.cluster_count, (image.bytes.size() - data_offset) / 512);
    EXPECT_EQ(formats::data_area_bytes(volume), image.bytes.size() - data_offset);

    // A data area that starts past the partition's end holds nothing.
    fixtures::Bytes cut(image.bytes.begin(), image.bytes.begin() + data_offset);
    EXPECT_EQ(parse(cut, volume), engine::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(), "the TUNDRA partition's FAT has no data area");
}

TEST_F(FatTest, ListingSkipsWhatIsNotAFileOrDirectory) {
    FatSpec spec;
    spec.type = 16;
    spec.cluster_count = 5000;
    FatImage image(spec);
    const auto raw = [&image](const char* name, uint8_t first_byte, uint8_t attributes) {
        uint8_t entry[32] = {};
        memcpy(entry, name, 11);
        entry[0] = first_byte;
        entry[11] = attributes;
        image.add_raw_entry(0, entry);
    };
    raw("XOLD    TXT", 0xE5, 0x20);  // deleted
    raw("TUNDRA     ", 'T', 0x08);   // volume label
    raw("ALONG NAME ", 'A', 0x0F);   // long-name piece
    raw(".          ", '.', 0x10);   // dot entry
    image.add_file(0, "KEEP.TXT", 10);
    image.add_directory(0, "EFI");
    raw("\0FTER    TXT", 0x00, 0x20);  // the end of the directory
    image.add_file(0, "AFTER.TXT", 10);
    OpenVolume opened(machine, image.bytes, next_drive_++);
    ASSERT_EQ(opened.parsed, engine::Result::Success);
    formats::FatVolume& volume = opened.volume;
    formats::DirItem items[16];
    uint32_t count = 0;
    ASSERT_EQ(formats::list_directory(volume, formats::root_directory(volume), items, 16, count),
              engine::Result::Success);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(std::string(items[0].name, 11), "KEEP    TXT");
    EXPECT_EQ(items[0].size, 10u);
    EXPECT_EQ(std::string(items[1].name, 11), "EFI        ");
    EXPECT_EQ(items[1].attributes, 0x10);
}

TEST_F(FatTest, FindingTundraFiles) {
    FatSpec spec;
    spec.type = 32;
    spec.cluster_count = 65525;
    FatImage image(spec);
    const uint32_t tundra = image.add_directory(0, "TUNDRA");
    image.add_file(tundra, "KERNEL.ELF", 3000);
    image.add_entry(tundra, "WIFI    KEY", 0x20, 0, 0);   // empty: not found
    image.add_file(tundra, "WIFI.KEY", 100);              // a later one is not looked at
    image.add_directory(tundra, "ROOT.TAR");              // a directory is not a file
    OpenVolume opened(machine, image.bytes, next_drive_++);
    ASSERT_EQ(opened.parsed, engine::Result::Success);
    formats::FatVolume& volume = opened.volume;
    const struct {
        const char* name;
        bool found;
    } cases[] = {{"KERNEL  ELF", true}, {"WIFI    KEY", false}, {"ROOT    TAR", false},
                 {"FIRMWARETAR", false}, {"kernel  elf", false}};
    for (const auto& c : cases) {
        formats::DirItem item;
        bool found = true;
        ASSERT_EQ(formats::find_tundra_file(volume, c.name, item, found), engine::Result::Success);
        EXPECT_EQ(found, c.found) << c.name;
        if (c.found) {
            EXPECT_EQ(item.size, 3000u);
        }
    }
}

TEST_F(FatTest, TundraAfter256RootEntriesIsNotFound) {
    FatSpec spec;
    spec.type = 16;
    spec.cluster_count = 5000;
    FatImage image(spec);
    for (int i = 0; i < 300; ++i) {
        std::string name = std::to_string(1000 + i);  // eight characters, padded
        name.resize(8, ' ');
        image.add_entry(0, name + "BIN", 0x20, 0, 0);
    }
    const uint32_t tundra = image.add_directory(0, "TUNDRA");
    image.add_file(tundra, "KERNEL.ELF", 10);
    OpenVolume opened(machine, image.bytes, next_drive_++);
    ASSERT_EQ(opened.parsed, engine::Result::Success);
    formats::FatVolume& volume = opened.volume;
    formats::DirItem items[256];
    uint32_t count = 0;
    ASSERT_EQ(formats::list_directory(volume, formats::root_directory(volume), items, 256, count),
              engine::Result::Success);
    EXPECT_EQ(count, 256u);
    formats::DirItem item;
    bool found = true;
    ASSERT_EQ(formats::find_tundra_file(volume, "KERNEL  ELF", item, found),
              engine::Result::Success);
    EXPECT_FALSE(found);
}

TEST_F(FatTest, DirectoriesThatStartNowhereFail) {
    const struct {
        int type;
        uint32_t first_cluster;
    } cases[] = {{16, 0}, {16, 1}, {32, 1}, {16, 6000}};
    for (const auto& c : cases) {
        FatSpec spec;
        spec.type = c.type;
        spec.cluster_count = c.type == 16 ? 5000 : 65525;
        FatImage image(spec);
        image.add_entry(0, "TUNDRA     ", 0x10, c.first_cluster, 0);
        OpenVolume opened(machine, image.bytes, next_drive_++);
        ASSERT_EQ(opened.parsed, engine::Result::Success);
        formats::FatVolume& volume = opened.volume;
        formats::DirItem item;
        bool found = false;
        EXPECT_EQ(formats::find_tundra_file(volume, "KERNEL  ELF", item, found),
                  engine::Result::Failed);
        EXPECT_EQ(fixtures::failure_text(), "a directory on the TUNDRA partition starts at cluster " +
                                                std::to_string(c.first_cluster) +
                                                ", which the volume does not have");
    }
}

}  // namespace
