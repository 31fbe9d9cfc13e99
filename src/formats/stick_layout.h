// What a stick holds once it is given back as an ordinary USB stick: an MBR
// with one partition from 1 MiB to the end, and a FAT32 or exFAT file system
// in it. Pure functions: the layout is computed from the stick's size and
// sector size, and the bytes of any written sector are computed from the
// layout, so that a run can write them piece by piece from a small buffer
// and compute them again to compare what it reads back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace formats {

enum class FileSystem : uint8_t { Fat32, Exfat };

constexpr uint64_t PARTITION_START_BYTES = 1048576;
constexpr uint32_t LABEL_CAPACITY = 11;
// The end of the stick that is cleared whatever lies there: it holds the
// backup GPT of a stick that had one (33 sectors of 512 bytes, or 6 of 4096).
constexpr uint64_t TAIL_CLEARED_BYTES = 65536;
// Sticks up to this size get FAT32 unless asked otherwise; larger ones exFAT.
constexpr uint64_t FAT32_DEFAULT_LIMIT_BYTES = 34359738368ull;  // 32 GiB

// A volume label: UTF-16 units, checked against the file system's rules
// (for FAT32 they are the label's upper-case ASCII bytes).
struct VolumeLabel {
    uint16_t units[LABEL_CAPACITY] = {};
    uint32_t length = 0;
};

struct Fat32Geometry {
    uint32_t sectors_per_cluster = 0;
    uint32_t reserved_sectors = 0;
    uint32_t fat_sectors = 0;  // each of the two
    uint32_t cluster_count = 0;
};

struct ExfatGeometry {
    uint32_t sectors_per_cluster_shift = 0;
    uint32_t fat_offset = 0;  // sectors from the volume's start
    uint32_t fat_length = 0;
    uint32_t heap_offset = 0;
    uint32_t cluster_count = 0;
    uint32_t bitmap_clusters = 0;
    uint32_t upcase_clusters = 0;
    uint32_t root_cluster = 0;
};

struct StickLayout {
    FileSystem file_system = FileSystem::Fat32;
    uint32_t bytes_per_sector = 512;
    uint64_t disk_bytes = 0;
    uint64_t partition_first = 0;  // in the stick's sectors
    uint64_t partition_sectors = 0;
    uint32_t disk_signature = 0;
    uint32_t volume_serial = 0;
    VolumeLabel label;
    Fat32Geometry fat32;
    ExfatGeometry exfat;
};

enum class LayoutFault : uint8_t { None, SectorSize, TooSmall, TooLarge };

// Lays the file system out for a stick of `disk_bytes` (whole sectors are
// used; a partial last sector is left alone). The label must have passed
// check_label for the same file system.
LayoutFault plan_stick_layout(uint64_t disk_bytes, uint32_t bytes_per_sector, FileSystem fs,
                              const VolumeLabel& label, uint32_t disk_signature,
                              uint32_t volume_serial, StickLayout& layout);

// The partition's bytes and the file system's cluster size, for messages.
uint64_t partition_bytes(const StickLayout& layout);
uint32_t cluster_bytes(const StickLayout& layout);

struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The places a restore writes, in the order it writes them: the end of the
// stick, then the file system's structures from the partition's start to
// its root directory, and last the first MiB with the new MBR (which also
// clears the old protective MBR and primary GPT), so that the stick shows a
// partition only once what it points at is in place.
constexpr size_t RESTORE_RANGE_COUNT = 3;
void restore_ranges(const StickLayout& layout, ByteRange ranges[RESTORE_RANGE_COUNT]);

// The restored stick's bytes at [offset, offset + count): whole sectors,
// within the disk. Bytes outside the structures are zero.
void restored_bytes(const StickLayout& layout, uint64_t offset, uint8_t* out, uint32_t count);

}  // namespace formats
