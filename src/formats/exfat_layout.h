// exFAT laid out as Microsoft's exFAT specification describes it: the main
// and backup boot regions with their checksum, one FAT, and in the cluster
// heap the allocation bitmap, the up-case table and the root directory
// with the volume label.
#pragma once

#include <cstdint>

#include "formats/stick_layout.h"

namespace formats {

// The cluster size Windows gives an exFAT volume of that many bytes, never
// below one sector.
uint32_t exfat_default_cluster_bytes(uint64_t volume_bytes, uint32_t bytes_per_sector);

LayoutFault plan_exfat(uint64_t volume_sectors, uint32_t bytes_per_sector, ExfatGeometry& geometry);

// The up-case table as the volume stores it (compressed), and its checksum.
extern const uint16_t EXFAT_UPCASE_TABLE[];
extern const uint32_t EXFAT_UPCASE_ENTRIES;
uint32_t exfat_upcase_checksum();

// The boot region's checksum over its first 11 sectors, as the twelfth
// sector repeats it.
uint32_t exfat_boot_checksum(const StickLayout& layout);

// The volume's sectors that the restore writes: the boot regions, the FAT
// and the clusters of the bitmap, the up-case table and the root directory.
uint64_t exfat_written_sectors(const StickLayout& layout);

// One sector of the volume, below exfat_written_sectors; `out` holds a
// sector and is filled whole.
void exfat_sector(const StickLayout& layout, uint64_t sector, uint8_t* out);

}  // namespace formats
