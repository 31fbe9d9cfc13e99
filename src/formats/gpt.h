// The primary GUID partition table of an image or a stick, and the two
// partition roles that mean something to the installer.
#pragma once

#include <cstdint>
#include <optional>

#include "run/disk_region.h"

namespace formats {

using run::DiskRegion;
using run::Result;

constexpr uint32_t GPT_SECTOR_BYTES = 512;
constexpr uint32_t GPT_MAX_ENTRIES = 128;
constexpr uint32_t GPT_ENTRY_BUFFER_BYTES = 65536;

// The EFI System Partition type: a disk's TUNDRA partition.
extern const uint8_t ESP_TYPE_GUID[16];
// The Tundra data partition type: the stick's data area.
extern const uint8_t TUNDRA_DATA_TYPE_GUID[16];

struct GptEntry {
    uint64_t first_lba = 0;
    uint64_t last_lba = 0;  // inclusive
    uint8_t type_guid[16] = {};
    uint8_t unique_guid[16] = {};
};

struct GptTable {
    uint32_t count = 0;
    GptEntry entries[GPT_MAX_ENTRIES];
};

// Fills `table` with the used slots of the region's primary GPT, in slot
// order. No GPT is an empty table, not a failure.
Result read_gpt(const DiskRegion& region, GptTable& table);

// The first entry of the given type, in slot order.
const GptEntry* first_entry_of_type(const GptTable& table, const uint8_t type_guid[16]);

// The region of the disk's TUNDRA partition (the first EFI System Partition),
// cut to the disk's end.
std::optional<DiskRegion> find_tundra_partition(const GptTable& table, const DiskRegion& disk);

// One report line per used entry of the stick's GPT.
Result list_partitions(const DiskRegion& stick);

}  // namespace formats
