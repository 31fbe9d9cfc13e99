#include "formats/fat32_layout.h"

#include <cstring>

#include "formats/byte_fields.h"

namespace formats {
namespace {

constexpr uint32_t RESERVED_SECTORS = 32;
constexpr uint32_t FSINFO_SECTOR = 1;
constexpr uint32_t BACKUP_BOOT_SECTOR = 6;
constexpr uint32_t ROOT_CLUSTER = 2;
constexpr uint8_t MEDIA_FIXED = 0xF8;
constexpr uint32_t END_OF_CHAIN = 0x0FFFFFFF;
// The data area starts at least on this boundary, besides the cluster's.
constexpr uint32_t DATA_ALIGNMENT_BYTES = 4096;

// Microsoft's table: up to this many 512-byte sectors, clusters of this
// many 512-byte sectors; 0 means too small for FAT32.
struct ClusterStep {
    uint64_t up_to_sectors;
    uint32_t sectors_per_cluster;
};
constexpr ClusterStep CLUSTER_TABLE[] = {
    {66600, 0}, {532480, 1}, {16777216, 8}, {33554432, 16}, {67108864, 32}, {UINT64_MAX, 64},
};

uint64_t divide_up(uint64_t a, uint64_t b) {
    return a / b + (a % b != 0 ? 1 : 0);
}

// Jumps over the BPB into code that asks the firmware to try the next
// device (int 18h) and otherwise halts: the stick holds no system.
void put_boot_code(uint8_t* at) {
    const uint8_t code[] = {0xCD, 0x18, 0xF4, 0xEB, 0xFD};
    memcpy(at, code, sizeof code);
}

void put_boot_sector(const StickLayout& layout, uint8_t* s) {
    const Fat32Geometry& g = layout.fat32;
    const uint8_t jump[] = {0xEB, 0x58, 0x90};
    memcpy(s, jump, sizeof jump);
    memcpy(s + 3, "MSWIN4.1", 8);
    put_le16(s + 11, layout.bytes_per_sector);
    s[13] = static_cast<uint8_t>(g.sectors_per_cluster);
    put_le16(s + 14, g.reserved_sectors);
    s[16] = 2;  // FATs
    s[21] = MEDIA_FIXED;
    put_le16(s + 24, 63);   // sectors per track, as a BIOS sees a large disk
    put_le16(s + 26, 255);  // heads
    put_le32(s + 28, static_cast<uint32_t>(layout.partition_first));
    put_le32(s + 32, static_cast<uint32_t>(layout.partition_sectors));
    put_le32(s + 36, g.fat_sectors);
    put_le32(s + 44, ROOT_CLUSTER);
    put_le16(s + 48, FSINFO_SECTOR);
    put_le16(s + 50, BACKUP_BOOT_SECTOR);
    s[64] = 0x80;  // drive number
    s[66] = 0x29;  // the next three fields are present
    put_le32(s + 67, layout.volume_serial);
    memset(s + 71, ' ', LABEL_CAPACITY);
    for (uint32_t i = 0; i < layout.label.length; ++i)
        s[71 + i] = static_cast<uint8_t>(layout.label.units[i]);
    memcpy(s + 82, "FAT32   ", 8);
    put_boot_code(s + 90);
    s[510] = 0x55;
    s[511] = 0xAA;
}

void put_fsinfo(const StickLayout& layout, uint8_t* s) {
    put_le32(s, 0x41615252);
    put_le32(s + 484, 0x61417272);
    put_le32(s + 488, layout.fat32.cluster_count - 1);  // all free but the root's
    put_le32(s + 492, ROOT_CLUSTER + 1);
    put_le32(s + 508, 0xAA550000);
}

void put_first_fat_sector(uint8_t* s) {
    put_le32(s, 0x0FFFFF00u | MEDIA_FIXED);
    put_le32(s + 4, END_OF_CHAIN);  // clean, no disk errors
    put_le32(s + 8, END_OF_CHAIN);  // the root directory's one cluster
}

void put_label_entry(const StickLayout& layout, uint8_t* s) {
    memset(s, ' ', LABEL_CAPACITY);
    for (uint32_t i = 0; i < layout.label.length; ++i)
        s[i] = static_cast<uint8_t>(layout.label.units[i]);
    s[11] = 0x08;  // volume label
}

}  // namespace

uint32_t fat32_default_cluster_bytes(uint64_t volume_bytes, uint32_t bytes_per_sector) {
    const uint64_t sectors_512 = volume_bytes / 512;
    for (const ClusterStep& step : CLUSTER_TABLE) {
        if (sectors_512 > step.up_to_sectors)
            continue;
        if (step.sectors_per_cluster == 0)
            return 0;
        const uint32_t bytes = step.sectors_per_cluster * 512;
        return bytes < bytes_per_sector ? bytes_per_sector : bytes;
    }
    return 0;
}

LayoutFault plan_fat32(uint64_t volume_sectors, uint32_t bytes_per_sector,
                       Fat32Geometry& geometry) {
    const uint32_t cluster =
        fat32_default_cluster_bytes(volume_sectors * bytes_per_sector, bytes_per_sector);
    if (cluster == 0)
        return LayoutFault::TooSmall;
    const uint64_t per_cluster = cluster / bytes_per_sector;
    if (volume_sectors > UINT32_MAX)
        return LayoutFault::TooLarge;
    // The smallest FAT whose entries cover every cluster that remains once
    // both FATs are taken: fat x entries_per_sector >= clusters + 2.
    const uint64_t entries_per_sector = bytes_per_sector / 4;
    if (volume_sectors <= RESERVED_SECTORS)
        return LayoutFault::TooSmall;
    const uint64_t fat = divide_up(volume_sectors - RESERVED_SECTORS + 2 * per_cluster,
                                   per_cluster * entries_per_sector + 2);
    // Reserved sectors are added until the data area starts on the
    // boundary; the clusters only become fewer, so the FAT still covers them.
    uint64_t alignment = DATA_ALIGNMENT_BYTES / bytes_per_sector;
    if (alignment < per_cluster)
        alignment = per_cluster;
    if (alignment == 0)
        alignment = 1;
    const uint64_t data_start = divide_up(RESERVED_SECTORS + 2 * fat, alignment) * alignment;
    if (data_start + per_cluster > volume_sectors)
        return LayoutFault::TooSmall;
    const uint64_t clusters = (volume_sectors - data_start) / per_cluster;
    if (clusters < FAT32_MIN_CLUSTERS)
        return LayoutFault::TooSmall;
    if (clusters > FAT32_MAX_CLUSTERS)
        return LayoutFault::TooLarge;
    geometry.sectors_per_cluster = static_cast<uint32_t>(per_cluster);
    geometry.reserved_sectors = static_cast<uint32_t>(data_start - 2 * fat);
    geometry.fat_sectors = static_cast<uint32_t>(fat);
    geometry.cluster_count = static_cast<uint32_t>(clusters);
    return LayoutFault::None;
}

uint64_t fat32_written_sectors(const StickLayout& layout) {
    const Fat32Geometry& g = layout.fat32;
    return uint64_t{g.reserved_sectors} + 2 * uint64_t{g.fat_sectors} + g.sectors_per_cluster;
}

void fat32_sector(const StickLayout& layout, uint64_t sector, uint8_t* out) {
    const Fat32Geometry& g = layout.fat32;
    memset(out, 0, layout.bytes_per_sector);
    const uint64_t first_fat = g.reserved_sectors;
    const uint64_t second_fat = first_fat + g.fat_sectors;
    const uint64_t data_start = second_fat + g.fat_sectors;
    if (sector == 0 || sector == BACKUP_BOOT_SECTOR) {
        put_boot_sector(layout, out);
    } else if (sector == FSINFO_SECTOR || sector == BACKUP_BOOT_SECTOR + FSINFO_SECTOR) {
        put_fsinfo(layout, out);
    } else if (sector == 2 || sector == BACKUP_BOOT_SECTOR + 2) {
        // The boot record's third sector: empty, with its signature.
        out[510] = 0x55;
        out[511] = 0xAA;
    } else if (sector == first_fat || sector == second_fat) {
        put_first_fat_sector(out);
    } else if (sector == data_start) {
        put_label_entry(layout, out);
    }
}

}  // namespace formats
