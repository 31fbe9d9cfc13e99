#include "formats/stick_layout.h"

#include <cstring>

#include "formats/byte_fields.h"
#include "formats/exfat_layout.h"
#include "formats/fat32_layout.h"

namespace formats {
namespace {

constexpr uint8_t TYPE_FAT32_LBA = 0x0C;
constexpr uint8_t TYPE_EXFAT = 0x07;
constexpr uint32_t MAX_SECTOR_BYTES = 4096;

bool is_sector_size(uint32_t bytes) {
    return bytes >= 512 && bytes <= MAX_SECTOR_BYTES && (bytes & (bytes - 1)) == 0;
}

// A sector's place as a BIOS of 255 heads and 63 sectors a track counts it,
// or the mark of a place past what such a count reaches.
void put_chs(uint8_t* at, uint64_t lba) {
    const uint64_t cylinder = lba / (255 * 63);
    if (cylinder > 1023) {
        at[0] = 0xFE;
        at[1] = 0xFF;
        at[2] = 0xFF;
        return;
    }
    const uint64_t head = lba / 63 % 255;
    const uint64_t sector = lba % 63 + 1;
    at[0] = static_cast<uint8_t>(head);
    at[1] = static_cast<uint8_t>(sector | ((cylinder >> 2) & 0xC0));
    at[2] = static_cast<uint8_t>(cylinder);
}

void put_mbr(const StickLayout& layout, uint8_t* s) {
    // As in the volume boot sectors: ask the firmware for the next device.
    const uint8_t code[] = {0xCD, 0x18, 0xF4, 0xEB, 0xFD};
    memcpy(s, code, sizeof code);
    put_le32(s + 440, layout.disk_signature);
    uint8_t* entry = s + 446;
    const uint64_t last = layout.partition_first + layout.partition_sectors - 1;
    put_chs(entry + 1, layout.partition_first);
    entry[4] = layout.file_system == FileSystem::Fat32 ? TYPE_FAT32_LBA : TYPE_EXFAT;
    put_chs(entry + 5, last);
    put_le32(entry + 8, static_cast<uint32_t>(layout.partition_first));
    put_le32(entry + 12, static_cast<uint32_t>(layout.partition_sectors));
    s[510] = 0x55;
    s[511] = 0xAA;
}

uint64_t written_volume_sectors(const StickLayout& layout) {
    return layout.file_system == FileSystem::Fat32 ? fat32_written_sectors(layout)
                                                   : exfat_written_sectors(layout);
}

void disk_sector(const StickLayout& layout, uint64_t sector, uint8_t* out) {
    if (sector == 0) {
        memset(out, 0, layout.bytes_per_sector);
        put_mbr(layout, out);
        return;
    }
    const uint64_t in_volume = sector - layout.partition_first;
    if (sector < layout.partition_first || in_volume >= written_volume_sectors(layout)) {
        memset(out, 0, layout.bytes_per_sector);
    } else if (layout.file_system == FileSystem::Fat32) {
        fat32_sector(layout, in_volume, out);
    } else {
        exfat_sector(layout, in_volume, out);
    }
}

}  // namespace

LayoutFault plan_stick_layout(uint64_t disk_bytes, uint32_t bytes_per_sector, FileSystem fs,
                              const VolumeLabel& label, uint32_t disk_signature,
                              uint32_t volume_serial, StickLayout& layout) {
    if (!is_sector_size(bytes_per_sector))
        return LayoutFault::SectorSize;
    StickLayout planned;
    planned.file_system = fs;
    planned.bytes_per_sector = bytes_per_sector;
    planned.disk_bytes = disk_bytes / bytes_per_sector * bytes_per_sector;
    planned.partition_first = PARTITION_START_BYTES / bytes_per_sector;
    const uint64_t disk_sectors = disk_bytes / bytes_per_sector;
    if (disk_sectors <= planned.partition_first + TAIL_CLEARED_BYTES / bytes_per_sector)
        return LayoutFault::TooSmall;
    // The MBR counts sectors in 32 bits.
    if (disk_sectors > UINT32_MAX)
        return LayoutFault::TooLarge;
    planned.partition_sectors = disk_sectors - planned.partition_first;
    planned.disk_signature = disk_signature;
    planned.volume_serial = volume_serial;
    planned.label = label;
    const LayoutFault fault =
        fs == FileSystem::Fat32
            ? plan_fat32(planned.partition_sectors, bytes_per_sector, planned.fat32)
            : plan_exfat(planned.partition_sectors, bytes_per_sector, planned.exfat);
    if (fault != LayoutFault::None)
        return fault;
    layout = planned;
    return LayoutFault::None;
}

uint64_t partition_bytes(const StickLayout& layout) {
    return layout.partition_sectors * layout.bytes_per_sector;
}

uint32_t cluster_bytes(const StickLayout& layout) {
    if (layout.file_system == FileSystem::Fat32)
        return layout.fat32.sectors_per_cluster * layout.bytes_per_sector;
    return layout.bytes_per_sector << layout.exfat.sectors_per_cluster_shift;
}

void restore_ranges(const StickLayout& layout, ByteRange ranges[RESTORE_RANGE_COUNT]) {
    const uint64_t volume_start = layout.partition_first * layout.bytes_per_sector;
    ranges[0] = {layout.disk_bytes - TAIL_CLEARED_BYTES, TAIL_CLEARED_BYTES};
    ranges[1] = {volume_start, written_volume_sectors(layout) * layout.bytes_per_sector};
    ranges[2] = {0, volume_start};
}

void restored_bytes(const StickLayout& layout, uint64_t offset, uint8_t* out, uint32_t count) {
    const uint32_t bytes = layout.bytes_per_sector;
    for (uint32_t done = 0; done < count; done += bytes)
        disk_sector(layout, (offset + done) / bytes, out + done);
}

}  // namespace formats
