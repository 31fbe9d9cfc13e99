// FAT32 laid out as Microsoft's FAT specification describes it: two FATs,
// the boot sector with its backup at sector 6, FSInfo at sector 1, the
// default cluster size for the volume's size, and the data area aligned.
#pragma once

#include <cstdint>

#include "formats/stick_layout.h"

namespace formats {

constexpr uint32_t FAT32_MIN_CLUSTERS = 65525;
constexpr uint32_t FAT32_MAX_CLUSTERS = 0x0FFFFFF5 - 2;

// The cluster size Microsoft's specification gives a FAT32 volume of that
// many bytes (its table counts 512-byte sectors), never below one sector;
// 0 when the volume is too small for FAT32.
uint32_t fat32_default_cluster_bytes(uint64_t volume_bytes, uint32_t bytes_per_sector);

LayoutFault plan_fat32(uint64_t volume_sectors, uint32_t bytes_per_sector, Fat32Geometry& geometry);

// The volume's sectors that the restore writes: the reserved area, both
// FATs and the root directory's cluster.
uint64_t fat32_written_sectors(const StickLayout& layout);

// One sector of the volume, below fat32_written_sectors; `out` holds a
// sector and is filled whole.
void fat32_sector(const StickLayout& layout, uint64_t sector, uint8_t* out);

}  // namespace formats
