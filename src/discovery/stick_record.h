// One probed physical disk, and the list of disks that may be offered as
// USB sticks.
#pragma once

#include <cstdint>
#include <optional>

namespace discovery {

constexpr uint64_t STICK_LIST_CAPACITY = 64;  // list entries, and disk numbers probed
constexpr uint64_t MAX_STICK_BYTES = 256000000000ull;  // decimal, not 2^38
constexpr uint32_t ADMITTED_SECTOR_BYTES = 512;
constexpr uint32_t BUS_TYPE_USB = 7;
constexpr uint64_t VENDOR_CAPACITY = 64;
constexpr uint64_t PRODUCT_CAPACITY = 64;
constexpr uint64_t SERIAL_CAPACITY = 128;

// A plain value, copied freely. Every text byte below its length lies in
// 0x20..0x7E, and no length exceeds its array.
struct StickRecord {
    uint64_t size_bytes = 0;
    uint64_t vendor_len = 0;
    uint64_t product_len = 0;
    uint64_t serial_len = 0;
    uint32_t disk_number = 0;
    uint32_t bus_type = 0;
    uint32_t bytes_per_sector = 512;
    bool removable = false;
    char vendor[VENDOR_CAPACITY] = {};
    char product[PRODUCT_CAPACITY] = {};
    char serial[SERIAL_CAPACITY] = {};
};

using ProbeResult = std::optional<StickRecord>;

struct StickList {
    StickRecord sticks[STICK_LIST_CAPACITY];
    uint64_t stick_count = 0;
    std::optional<uint64_t> selected_stick;
};

}  // namespace discovery
