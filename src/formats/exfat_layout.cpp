#include "formats/exfat_layout.h"

#include <cstring>

#include "formats/byte_fields.h"

namespace formats {
namespace {

constexpr uint32_t BOOT_REGION_SECTORS = 12;
constexpr uint32_t CHECKSUM_SECTOR = 11;
constexpr uint32_t FIRST_CLUSTER = 2;
constexpr uint32_t END_OF_CHAIN = 0xFFFFFFFF;
constexpr uint32_t MAX_CLUSTERS = 0xFFFFFFF5;
// The FAT starts 1 MiB into the volume (and so 2 MiB into the stick), a
// boundary that flash erase blocks share.
constexpr uint64_t FAT_OFFSET_BYTES = 1048576;
constexpr uint32_t ENTRY_BYTES = 32;
constexpr uint8_t ENTRY_BITMAP = 0x81;
constexpr uint8_t ENTRY_UPCASE = 0x82;
constexpr uint8_t ENTRY_LABEL = 0x83;

uint64_t divide_up(uint64_t a, uint64_t b) {
    return a / b + (a % b != 0 ? 1 : 0);
}

uint32_t log2_of(uint64_t power_of_two) {
    uint32_t shift = 0;
    while ((uint64_t{1} << shift) < power_of_two)
        ++shift;
    return shift;
}

uint32_t rotate_add(uint32_t checksum, uint8_t byte) {
    return ((checksum & 1) != 0 ? 0x80000000u : 0) + (checksum >> 1) + byte;
}

uint32_t sectors_per_cluster(const StickLayout& layout) {
    return uint32_t{1} << layout.exfat.sectors_per_cluster_shift;
}

uint64_t bitmap_bytes(const ExfatGeometry& g) {
    return divide_up(g.cluster_count, 8);
}

uint32_t used_clusters(const ExfatGeometry& g) {
    return g.bitmap_clusters + g.upcase_clusters + 1;
}

void put_boot_code(uint8_t* at) {
    const uint8_t code[] = {0xCD, 0x18, 0xF4, 0xEB, 0xFD};
    memcpy(at, code, sizeof code);
}

void put_boot_sector(const StickLayout& layout, uint8_t* s) {
    const ExfatGeometry& g = layout.exfat;
    const uint8_t jump[] = {0xEB, 0x76, 0x90};
    memcpy(s, jump, sizeof jump);
    memcpy(s + 3, "EXFAT   ", 8);
    put_le64(s + 64, layout.partition_first);
    put_le64(s + 72, layout.partition_sectors);
    put_le32(s + 80, g.fat_offset);
    put_le32(s + 84, g.fat_length);
    put_le32(s + 88, g.heap_offset);
    put_le32(s + 92, g.cluster_count);
    put_le32(s + 96, g.root_cluster);
    put_le32(s + 100, layout.volume_serial);
    put_le16(s + 104, 0x0100);  // revision 1.00
    s[108] = static_cast<uint8_t>(log2_of(layout.bytes_per_sector));
    s[109] = static_cast<uint8_t>(g.sectors_per_cluster_shift);
    s[110] = 1;     // FATs
    s[111] = 0x80;  // drive select
    s[112] = static_cast<uint8_t>(uint64_t{used_clusters(g)} * 100 / g.cluster_count);
    put_boot_code(s + 120);
    s[510] = 0x55;
    s[511] = 0xAA;
}

// Sectors 0 to 10 of a boot region; the checksum sector is made apart.
void put_boot_region_sector(const StickLayout& layout, uint32_t index, uint8_t* s) {
    const uint32_t bytes = layout.bytes_per_sector;
    memset(s, 0, bytes);
    if (index == 0) {
        put_boot_sector(layout, s);
    } else if (index <= 8) {
        // The extended boot sectors: empty, each with its signature.
        put_le32(s + bytes - 4, 0xAA550000);
    }
}

// FAT entry `cluster`: the media and end marks, then the chains of the
// bitmap, the up-case table and the root directory, one after another.
uint32_t fat_entry(const ExfatGeometry& g, uint64_t cluster) {
    if (cluster == 0)
        return 0xFFFFFFF8;
    if (cluster == 1)
        return END_OF_CHAIN;
    const uint64_t upcase_first = FIRST_CLUSTER + g.bitmap_clusters;
    const uint64_t root = upcase_first + g.upcase_clusters;
    if (cluster > root)
        return 0;
    if (cluster + 1 == upcase_first || cluster + 1 == root || cluster == root)
        return END_OF_CHAIN;
    return static_cast<uint32_t>(cluster + 1);
}

void put_fat_sector(const StickLayout& layout, uint64_t index, uint8_t* s) {
    const uint64_t per_sector = layout.bytes_per_sector / 4;
    for (uint64_t i = 0; i < per_sector; ++i)
        put_le32(s + 4 * i, fat_entry(layout.exfat, index * per_sector + i));
}

// Byte `at` of the allocation bitmap: the used clusters are the first ones.
uint8_t bitmap_byte(const ExfatGeometry& g, uint64_t at) {
    const uint64_t used = used_clusters(g);
    if (at >= bitmap_bytes(g) || at * 8 >= used)
        return 0;
    const uint64_t bits = used - at * 8;
    return bits >= 8 ? 0xFF : static_cast<uint8_t>((1u << bits) - 1);
}

void put_root_entries(const StickLayout& layout, uint8_t* s) {
    const ExfatGeometry& g = layout.exfat;
    uint8_t* label = s;
    label[0] = ENTRY_LABEL;
    label[1] = static_cast<uint8_t>(layout.label.length);
    for (uint32_t i = 0; i < layout.label.length; ++i)
        put_le16(label + 2 + 2 * i, layout.label.units[i]);
    uint8_t* bitmap = s + ENTRY_BYTES;
    bitmap[0] = ENTRY_BITMAP;
    put_le32(bitmap + 20, FIRST_CLUSTER);
    put_le64(bitmap + 24, bitmap_bytes(g));
    uint8_t* upcase = s + 2 * ENTRY_BYTES;
    upcase[0] = ENTRY_UPCASE;
    put_le32(upcase + 4, exfat_upcase_checksum());
    put_le32(upcase + 20, FIRST_CLUSTER + g.bitmap_clusters);
    put_le64(upcase + 24, uint64_t{EXFAT_UPCASE_ENTRIES} * 2);
}

// One sector of the cluster heap among the used clusters.
void put_heap_sector(const StickLayout& layout, uint64_t index, uint8_t* s) {
    const ExfatGeometry& g = layout.exfat;
    const uint32_t bytes = layout.bytes_per_sector;
    const uint64_t per_cluster = sectors_per_cluster(layout);
    const uint64_t cluster = FIRST_CLUSTER + index / per_cluster;
    const uint64_t upcase_first = FIRST_CLUSTER + g.bitmap_clusters;
    if (cluster < upcase_first) {
        for (uint32_t i = 0; i < bytes; ++i)
            s[i] = bitmap_byte(g, index * bytes + i);
    } else if (cluster < g.root_cluster) {
        const uint64_t first_entry =
            (index - (upcase_first - FIRST_CLUSTER) * per_cluster) * bytes / 2;
        for (uint32_t i = 0; i < bytes / 2 && first_entry + i < EXFAT_UPCASE_ENTRIES; ++i)
            put_le16(s + 2 * i, EXFAT_UPCASE_TABLE[first_entry + i]);
    } else if (index % per_cluster == 0) {
        put_root_entries(layout, s);
    }
}

}  // namespace

// The mandatory mappings (a to z onto A to Z) with every other character
// its own upper case, compressed: 0xFFFF and a count stand for that many
// characters that map to themselves.
const uint16_t EXFAT_UPCASE_TABLE[] = {
    0xFFFF, 0x0061,  // 0x0000 to 0x0060
    0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047, 0x0048, 0x0049, 0x004A,
    0x004B, 0x004C, 0x004D, 0x004E, 0x004F, 0x0050, 0x0051, 0x0052, 0x0053, 0x0054,
    0x0055, 0x0056, 0x0057, 0x0058, 0x0059, 0x005A, 0xFFFF, 0xFF85,  // 0x007B to 0xFFFF
};
const uint32_t EXFAT_UPCASE_ENTRIES = sizeof EXFAT_UPCASE_TABLE / sizeof EXFAT_UPCASE_TABLE[0];

uint32_t exfat_upcase_checksum() {
    uint32_t checksum = 0;
    for (uint32_t i = 0; i < EXFAT_UPCASE_ENTRIES; ++i) {
        checksum = rotate_add(checksum, static_cast<uint8_t>(EXFAT_UPCASE_TABLE[i]));
        checksum = rotate_add(checksum, static_cast<uint8_t>(EXFAT_UPCASE_TABLE[i] >> 8));
    }
    return checksum;
}

uint32_t exfat_default_cluster_bytes(uint64_t volume_bytes, uint32_t bytes_per_sector) {
    uint32_t bytes = 131072;
    if (volume_bytes <= 268435456ull)
        bytes = 4096;
    else if (volume_bytes <= 34359738368ull)
        bytes = 32768;
    return bytes < bytes_per_sector ? bytes_per_sector : bytes;
}

LayoutFault plan_exfat(uint64_t volume_sectors, uint32_t bytes_per_sector,
                       ExfatGeometry& geometry) {
    const uint64_t volume_bytes = volume_sectors * bytes_per_sector;
    const uint32_t cluster = exfat_default_cluster_bytes(volume_bytes, bytes_per_sector);
    const uint64_t per_cluster = cluster / bytes_per_sector;
    const uint64_t fat_offset = FAT_OFFSET_BYTES / bytes_per_sector;
    if (volume_sectors <= fat_offset + per_cluster)
        return LayoutFault::TooSmall;
    const uint64_t at_most = (volume_sectors - fat_offset) / per_cluster;
    const uint64_t fat_length = divide_up((at_most + 2) * 4, bytes_per_sector);
    // The heap starts on a cluster boundary, counted from the volume's start.
    const uint64_t heap = divide_up(fat_offset + fat_length, per_cluster) * per_cluster;
    if (heap >= volume_sectors || heap > UINT32_MAX)
        return LayoutFault::TooSmall;
    const uint64_t clusters = (volume_sectors - heap) / per_cluster;
    if (clusters > MAX_CLUSTERS)
        return LayoutFault::TooLarge;
    ExfatGeometry g;
    g.sectors_per_cluster_shift = log2_of(per_cluster);
    g.fat_offset = static_cast<uint32_t>(fat_offset);
    g.fat_length = static_cast<uint32_t>(fat_length);
    g.heap_offset = static_cast<uint32_t>(heap);
    g.cluster_count = static_cast<uint32_t>(clusters);
    g.bitmap_clusters = static_cast<uint32_t>(divide_up(bitmap_bytes(g), cluster));
    g.upcase_clusters =
        static_cast<uint32_t>(divide_up(uint64_t{EXFAT_UPCASE_ENTRIES} * 2, cluster));
    g.root_cluster = FIRST_CLUSTER + g.bitmap_clusters + g.upcase_clusters;
    // Room for the structures and some files besides.
    if (clusters < 2 * uint64_t{used_clusters(g)})
        return LayoutFault::TooSmall;
    geometry = g;
    return LayoutFault::None;
}

uint32_t exfat_boot_checksum(const StickLayout& layout) {
    uint8_t sector[4096];
    uint32_t checksum = 0;
    for (uint32_t index = 0; index < CHECKSUM_SECTOR; ++index) {
        put_boot_region_sector(layout, index, sector);
        for (uint32_t i = 0; i < layout.bytes_per_sector; ++i) {
            // The volume flags and the percentage in use change while the
            // volume is used, so the checksum leaves them out.
            if (index == 0 && (i == 106 || i == 107 || i == 112))
                continue;
            checksum = rotate_add(checksum, sector[i]);
        }
    }
    return checksum;
}

uint64_t exfat_written_sectors(const StickLayout& layout) {
    const ExfatGeometry& g = layout.exfat;
    return uint64_t{g.heap_offset} + uint64_t{used_clusters(g)} * sectors_per_cluster(layout);
}

void exfat_sector(const StickLayout& layout, uint64_t sector, uint8_t* out) {
    const ExfatGeometry& g = layout.exfat;
    memset(out, 0, layout.bytes_per_sector);
    if (sector < 2 * BOOT_REGION_SECTORS) {
        const uint32_t index = static_cast<uint32_t>(sector % BOOT_REGION_SECTORS);
        if (index != CHECKSUM_SECTOR) {
            put_boot_region_sector(layout, index, out);
            return;
        }
        const uint32_t checksum = exfat_boot_checksum(layout);
        for (uint32_t i = 0; i < layout.bytes_per_sector; i += 4)
            put_le32(out + i, checksum);
    } else if (sector >= g.fat_offset && sector < uint64_t{g.fat_offset} + g.fat_length) {
        put_fat_sector(layout, sector - g.fat_offset, out);
    } else if (sector >= g.heap_offset) {
        put_heap_sector(layout, sector - g.heap_offset, out);
    }
}

}  // namespace formats
