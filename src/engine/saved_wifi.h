// Carrying a stick's saved Wi-Fi networks (TUNDRA\WIFI.KEY) over a write:
// read off the old stick before anything is written, put into the new
// image's placeholder file in place afterwards, and read back.
#pragma once

#include <cstdint>

#include "engine/engine_workspace.h"
#include "engine/run_names.h"

namespace engine {

constexpr uint32_t SAVED_WIFI_CAPACITY = 65536;
// One cluster of the new file: 64 KiB is the largest cluster that fits.
constexpr uint32_t WIFI_STAGING_BYTES = 69632;

// The old file's bytes, unchanged; a length of 0 means nothing to carry.
struct SavedWifi {
    uint8_t bytes[SAVED_WIFI_CAPACITY];
    uint64_t length;
};

struct WifiStaging {
    alignas(TRANSFER_ALIGNMENT) uint8_t bytes[WIFI_STAGING_BYTES];
};

static_assert(WIFI_STAGING_BYTES % TRANSFER_ALIGNMENT == 0);

// Both hold the networks' keys: wipe_saved_wifi clears them after every run
// that read them.
extern SavedWifi saved_wifi;
extern WifiStaging wifi_staging;

// Fills saved_wifi from the stick; never fails: a stick whose file cannot be
// read, is too large or holds only blanks leaves the length at 0.
void read_saved_wifi(const DiskRegion& stick);

// Writes saved_wifi into the new image's TUNDRA\WIFI.KEY on the stick, cluster
// by cluster, reading each back. `written` says whether the networks are now
// on the stick; a new image without the partition or the file only warns.
Result write_saved_wifi(const DiskRegion& stick, HANDLE handle, uint32_t bytes_per_sector,
                        bool& written);

// Zeros in both buffers and a length of 0.
void wipe_saved_wifi();

}  // namespace engine
