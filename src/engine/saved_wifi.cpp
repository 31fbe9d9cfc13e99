#include "engine/saved_wifi.h"

#include <cstring>
#include <optional>

#include "formats/fat.h"

namespace engine {

using formats::cluster_offset;
using formats::DirItem;
using formats::FatVolume;
using formats::find_tundra_file;
using formats::has_cluster;
using formats::next_cluster;
using formats::open_tundra_volume;

SavedWifi saved_wifi;
WifiStaging wifi_staging;

namespace {

constexpr char WIFI_KEY_NAME[11] = {'W', 'I', 'F', 'I', ' ', ' ', ' ', ' ', 'K', 'E', 'Y'};

// Line ends, spaces and NULs are what an empty key file holds; a tab is not
// among them, so a file with one counts as networks.
bool holds_only_blanks(const uint8_t* bytes, uint64_t length) {
    for (uint64_t i = 0; i < length; ++i) {
        const uint8_t b = bytes[i];
        if (b != 0x00 && b != 0x0A && b != 0x0D && b != 0x20)
            return false;
    }
    return true;
}

// Reads the whole file into saved_wifi's buffer, cluster by cluster in chain
// order; false on anything that stops it.
bool read_whole_file(const FatVolume& volume, const DirItem& file) {
    uint64_t done = 0;
    uint32_t cluster = file.first_cluster;
    for (uint64_t clusters_read = 0;; ++clusters_read) {
        if (clusters_read > volume.cluster_count || !has_cluster(volume, cluster))
            return false;
        const uint64_t wanted = file.size - done;
        const uint64_t count = wanted < volume.cluster_size ? wanted : volume.cluster_size;
        if (engine::read_at(volume.partition, cluster_offset(volume, cluster),
                            saved_wifi.bytes + done, count) != Result::Success) {
            return false;
        }
        done += count;
        if (done == file.size)
            return true;
        std::optional<uint32_t> next;
        if (next_cluster(volume, cluster, next) != Result::Success || !next.has_value()) {
            return false;
        }
        cluster = *next;
    }
}

// The byte that belongs at `position` of the new file: a saved byte, or a
// space past the saved ones.
uint8_t carried_byte(uint64_t position) {
    return position < saved_wifi.length ? saved_wifi.bytes[position] : uint8_t{0x20};
}

// The clusters of the new file, in chain order: a file of at most 64 KiB in
// clusters of at least 512 bytes has no more than 128 of them.
constexpr uint32_t WIFI_FILE_MAX_CLUSTERS = SAVED_WIFI_CAPACITY / 512;
uint32_t file_clusters[WIFI_FILE_MAX_CLUSTERS];

bool is_among(uint32_t cluster, const uint32_t* clusters, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (clusters[i] == cluster)
            return true;
    }
    return false;
}

Result cannot_be_written(uint32_t size, uint32_t cluster_bytes) {
    return engine::fail("the new image's TUNDRA\\WIFI.KEY cannot be written here (", size,
                        " bytes, ", cluster_bytes, "-byte clusters)");
}

// One cluster of the new file: read it whole, put the carried bytes into its
// first `count` bytes, write it whole in place, read it back and compare.
Result rewrite_cluster(const FatVolume& volume, HANDLE handle, uint32_t cluster, uint64_t position,
                       uint32_t count) {
    const uint32_t cluster_bytes = volume.cluster_size;
    const uint64_t relative = cluster_offset(volume, cluster);
    if (engine::read_at(volume.partition, relative, wifi_staging.bytes, cluster_bytes) !=
        Result::Success) {
        return Result::Failed;
    }
    for (uint32_t i = 0; i < count; ++i)
        wifi_staging.bytes[i] = carried_byte(position + i);
    const uint64_t place = volume.partition.first + relative;
    const bool overlapped = volume.partition.overlapped;
    if (engine::write_exact_at(handle, overlapped, place, wifi_staging.bytes, cluster_bytes) !=
            Result::Success ||
        engine::read_exact_at(handle, overlapped, place, wifi_staging.bytes, cluster_bytes) !=
            Result::Success) {
        return Result::Failed;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (wifi_staging.bytes[i] != carried_byte(position + i)) {
            return engine::fail(
                "TUNDRA\\WIFI.KEY reads back differently from what was written: it may be failing");
        }
    }
    return Result::Success;
}

// Finds every cluster that the new file's bytes occupy before any of them is
// written, so that a chain that comes back to a cluster it already named
// (later saved bytes would land over earlier ones), leaves the volume or ends
// early is refused while the stick still holds the image as it was written
// and read back. Writing while walking would leave the clusters before the
// fault overwritten.
Result find_file_clusters(const FatVolume& volume, const DirItem& file, uint32_t& count) {
    if (!has_cluster(volume, file.first_cluster)) {
        return engine::fail("the new image's TUNDRA\\WIFI.KEY starts at cluster ",
                            file.first_cluster, ", which the volume does not have");
    }
    const uint64_t needed = (uint64_t{file.size} + volume.cluster_size - 1) / volume.cluster_size;
    uint32_t cluster = file.first_cluster;
    for (count = 0;;) {
        if (count == WIFI_FILE_MAX_CLUSTERS || is_among(cluster, file_clusters, count))
            return engine::fail("the new image's TUNDRA\\WIFI.KEY loops");
        file_clusters[count++] = cluster;
        if (count == needed)
            return Result::Success;
        std::optional<uint32_t> next;
        if (next_cluster(volume, cluster, next) != Result::Success)
            return Result::Failed;
        if (!next.has_value())
            return engine::fail("the new image's TUNDRA\\WIFI.KEY ends before its size");
        cluster = *next;
    }
}

// Rewrites each cluster of the new file in chain order, each read back
// before the next.
Result rewrite_file(const FatVolume& volume, HANDLE handle, const DirItem& file) {
    uint32_t count = 0;
    if (find_file_clusters(volume, file, count) != Result::Success)
        return Result::Failed;
    uint64_t position = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t rest = file.size - position;
        const uint32_t bytes =
            rest < volume.cluster_size ? static_cast<uint32_t>(rest) : volume.cluster_size;
        if (rewrite_cluster(volume, handle, file_clusters[i], position, bytes) != Result::Success) {
            return Result::Failed;
        }
        position += bytes;
    }
    return Result::Success;
}

}  // namespace

void read_saved_wifi(const DiskRegion& stick) {
    saved_wifi.length = 0;
    FatVolume volume;
    bool found = false;
    if (open_tundra_volume(stick, volume, found) != Result::Success || !found)
        return;
    DirItem file;
    if (find_tundra_file(volume, WIFI_KEY_NAME, file, found) != Result::Success || !found ||
        file.size > SAVED_WIFI_CAPACITY) {
        return;
    }
    // Keys read so far are not kept when the rest cannot be read or there
    // are no networks in them.
    if (!read_whole_file(volume, file) || holds_only_blanks(saved_wifi.bytes, file.size)) {
        memset(saved_wifi.bytes, 0, file.size);
        return;
    }
    saved_wifi.length = file.size;
}

Result write_saved_wifi(const DiskRegion& stick, HANDLE handle, uint32_t bytes_per_sector,
                        bool& written) {
    written = false;
    FatVolume volume;
    bool found = false;
    if (open_tundra_volume(stick, volume, found) != Result::Success)
        return Result::Failed;
    if (!found) {
        engine::report(
            "WARNING: the new image has no TUNDRA partition: the saved Wi-Fi networks were not "
            "carried over\n");
        return Result::Success;
    }
    DirItem file;
    if (find_tundra_file(volume, WIFI_KEY_NAME, file, found) != Result::Success) {
        return Result::Failed;
    }
    if (!found) {
        engine::report(
            "WARNING: the new image has no TUNDRA\\WIFI.KEY: the saved Wi-Fi networks were not "
            "carried over\n");
        return Result::Success;
    }
    // Each cluster is written straight from the staging buffer on the
    // unbuffered stick handle: it must fit there and be whole sectors.
    if (file.size > SAVED_WIFI_CAPACITY || volume.cluster_size > WIFI_STAGING_BYTES ||
        bytes_per_sector == 0 || volume.cluster_size % bytes_per_sector != 0) {
        return cannot_be_written(file.size, volume.cluster_size);
    }
    if (rewrite_file(volume, handle, file) != Result::Success)
        return Result::Failed;
    if (!sys::FlushFileBuffers(handle)) {
        return engine::fail("the stick did not take the writes (Windows error ",
                            sys::GetLastError(), ")");
    }
    written = true;
    return Result::Success;
}

void wipe_saved_wifi() {
    memset(saved_wifi.bytes, 0, sizeof saved_wifi.bytes);
    memset(wifi_staging.bytes, 0, sizeof wifi_staging.bytes);
    saved_wifi.length = 0;
}

}  // namespace engine
