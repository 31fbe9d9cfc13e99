// The small read-only FAT layer of the TUNDRA partition: the boot sector,
// directories, cluster chains and files of the TUNDRA directory by 8.3 name.
#pragma once

#include <cstdint>
#include <optional>

#include "run/disk_region.h"

namespace formats {

using run::DiskRegion;
using run::Result;

constexpr uint32_t DIRECTORY_BUFFER_BYTES = 262144;
constexpr uint32_t FAT_WINDOW_BYTES = 65536;
// FAT allows a directory at most 65,536 entries of 32 bytes: a chain that
// goes on past them loops, however large its clusters are.
constexpr uint32_t MAX_DIRECTORY_ENTRIES = 65536;
constexpr uint64_t MAX_DIRECTORY_BYTES = uint64_t{MAX_DIRECTORY_ENTRIES} * 32;
constexpr uint8_t ATTRIBUTE_VOLUME_LABEL = 0x08;
constexpr uint8_t ATTRIBUTE_DIRECTORY = 0x10;

enum class FatType : uint8_t { Fat12, Fat16, Fat32 };

struct FatVolume {
    DiskRegion partition;
    uint64_t fat_offset = 0;
    uint64_t root_area_offset = 0;
    uint64_t data_offset = 0;
    uint32_t root_area_size = 0;
    uint32_t root_cluster = 0;
    uint32_t cluster_size = 0;
    uint32_t cluster_count = 0;
    FatType type = FatType::Fat12;
};

struct DirItem {
    uint32_t first_cluster = 0;
    uint32_t size = 0;
    char name[11] = {};
    uint8_t attributes = 0;
};

// A directory: the fixed root area of FAT12 and FAT16, or a cluster chain
// (cluster 0 standing for the FAT32 root cluster).
struct DirectoryRef {
    bool fixed_root = false;
    uint32_t first_cluster = 0;
};

// The volume's root directory, whatever its FAT type.
DirectoryRef root_directory(const FatVolume& volume);

// Whether `cluster` is one of the volume's data clusters (2 and up).
inline bool has_cluster(const FatVolume& volume, uint32_t cluster) {
    return cluster >= 2 && cluster - 2 < volume.cluster_count;
}

// Where a data cluster starts, from the partition's first byte.
inline uint64_t cluster_offset(const FatVolume& volume, uint32_t cluster) {
    return volume.data_offset + uint64_t{cluster - 2} * volume.cluster_size;
}

// The one 256 KiB buffer that directory listings read into; log copying
// moves file data through it too, so no two of them may interleave.
uint8_t* directory_buffer();

Result parse_boot_sector(const DiskRegion& partition, FatVolume& volume);

// The FAT volume of the disk's TUNDRA partition; `found` is false (and the
// result Success) when the disk has no TUNDRA partition.
Result open_tundra_volume(const DiskRegion& disk, FatVolume& volume, bool& found);

// Stores up to `capacity` items of the directory; `count` says how many,
// and `full` whether the directory held more than `capacity` (those are
// not listed).
Result list_directory(const FatVolume& volume, DirectoryRef directory, DirItem* items,
                      uint32_t capacity, uint32_t& count);
// A watch over the clusters a listing reads: `check` is called with each
// cluster of a directory's chain before it is read, and a failure ends the
// listing with it.
struct ClusterWatch {
    Result (*check)(uint32_t cluster, void* context);
    void* context;
};
Result list_directory(const FatVolume& volume, DirectoryRef directory, DirItem* items,
                      uint32_t capacity, uint32_t& count, bool& full,
                      const ClusterWatch* watch = nullptr);

// The bytes of the volume's data area: no file on it can be larger.
inline uint64_t data_area_bytes(const FatVolume& volume) {
    return uint64_t{volume.cluster_count} * volume.cluster_size;
}

// The cluster after `cluster`, or nothing at the end of the chain.
Result next_cluster(const FatVolume& volume, uint32_t cluster, std::optional<uint32_t>& next);

// Copies `length` (2 or 4) bytes of the first FAT at `offset` (from the
// partition's first byte), through the 64 KiB window cache.
Result read_fat_entry(const FatVolume& volume, uint64_t offset, uint32_t length,
                      uint8_t* destination);

// Empties the FAT window cache; done whenever a volume is opened, so that
// FAT bytes of one disk are never taken for another's.
void forget_fat_window();

// TUNDRA\{name}: `found` is false when the directory or a non-empty file of
// that 8.3 name is not there.
Result find_tundra_file(const FatVolume& volume, const char name[11], DirItem& item, bool& found);

// Finds the first item of an 8.3 name in a listing.
const DirItem* find_item(const DirItem* items, uint32_t count, const char name[11]);

}  // namespace formats
