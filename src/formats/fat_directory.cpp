// Listing directories and finding the files of the TUNDRA directory.
#include <cstring>

#include "formats/fat.h"

namespace formats {
namespace {

constexpr uint32_t ENTRY_BYTES = 32;
constexpr uint32_t TUNDRA_LISTING_CAPACITY = 256;
constexpr char TUNDRA_DIRECTORY_NAME[11] = {'T', 'U', 'N', 'D', 'R', 'A', ' ', ' ', ' ', ' ', ' '};

uint8_t directory_bytes[DIRECTORY_BUFFER_BYTES];

uint16_t load_u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

struct Listing {
    DirItem* items;
    uint32_t capacity;
    uint32_t count;
    bool stopped;
    bool full;
};

// Scans one piece of a directory, 32 bytes at a time.
void scan(const uint8_t* bytes, uint64_t length, Listing& listing) {
    for (uint64_t at = 0; at + ENTRY_BYTES <= length; at += ENTRY_BYTES) {
        const uint8_t* entry = bytes + at;
        if (entry[0] == 0xE5)
            continue;
        if (entry[0] == 0x00) {
            listing.stopped = true;
            return;
        }
        if (entry[0] == '.')
            continue;
        if ((entry[11] & ATTRIBUTE_VOLUME_LABEL) != 0)
            continue;  // labels and long names
        if (listing.count == listing.capacity) {
            listing.stopped = true;
            listing.full = true;
            return;
        }
        DirItem& item = listing.items[listing.count++];
        item.first_cluster = (uint32_t{load_u16(entry + 20)} << 16) | load_u16(entry + 26);
        memcpy(&item.size, entry + 28, 4);
        memcpy(item.name, entry, 11);
        item.attributes = entry[11];
    }
}

Result list_fixed_root(const FatVolume& volume, Listing& listing) {
    for (uint64_t done = 0; done < volume.root_area_size && !listing.stopped;) {
        const uint64_t rest = volume.root_area_size - done;
        const uint64_t piece = rest < DIRECTORY_BUFFER_BYTES ? rest : DIRECTORY_BUFFER_BYTES;
        if (run::read_at(volume.partition, volume.root_area_offset + done, directory_bytes,
                         piece) != Result::Success) {
            return Result::Failed;
        }
        scan(directory_bytes, piece, listing);
        done += piece;
    }
    return Result::Success;
}

Result list_chain(const FatVolume& volume, uint32_t first_cluster, Listing& listing,
                  const ClusterWatch* watch) {
    const uint32_t start = first_cluster == 0 ? volume.root_cluster : first_cluster;
    // Cluster 0 names the root only on FAT32, and 1 is never a cluster.
    if (start < 2 || start - 2 >= volume.cluster_count) {
        return run::fail("a directory on the TUNDRA partition starts at cluster ", start,
                         ", which the volume does not have");
    }
    // A directory holds at most MAX_DIRECTORY_BYTES, and no chain has more
    // clusters than the volume: one that goes on past either loops.
    const uint64_t most_by_size =
        (MAX_DIRECTORY_BYTES + volume.cluster_size - 1) / volume.cluster_size;
    const uint64_t most_clusters =
        most_by_size < volume.cluster_count ? most_by_size : volume.cluster_count;
    std::optional<uint32_t> cluster = start;
    for (uint64_t read = 0; cluster.has_value(); ++read) {
        if (read == most_clusters) {
            return run::fail("a directory on the TUNDRA partition loops");
        }
        if (watch != nullptr && watch->check(*cluster, watch->context) != Result::Success)
            return Result::Failed;
        const uint64_t offset = volume.data_offset + uint64_t{*cluster - 2} * volume.cluster_size;
        if (run::read_at(volume.partition, offset, directory_bytes, volume.cluster_size) !=
            Result::Success) {
            return Result::Failed;
        }
        scan(directory_bytes, volume.cluster_size, listing);
        if (listing.stopped)
            break;
        if (next_cluster(volume, *cluster, cluster) != Result::Success)
            return Result::Failed;
    }
    return Result::Success;
}

}  // namespace

uint8_t* directory_buffer() {
    return directory_bytes;
}

Result list_directory(const FatVolume& volume, DirectoryRef directory, DirItem* items,
                      uint32_t capacity, uint32_t& count, bool& full, const ClusterWatch* watch) {
    Listing listing{items, capacity, 0, false, false};
    const Result result = directory.fixed_root
                              ? list_fixed_root(volume, listing)
                              : list_chain(volume, directory.first_cluster, listing, watch);
    count = listing.count;
    full = listing.full;
    return result;
}

Result list_directory(const FatVolume& volume, DirectoryRef directory, DirItem* items,
                      uint32_t capacity, uint32_t& count) {
    bool full = false;
    return list_directory(volume, directory, items, capacity, count, full);
}

const DirItem* find_item(const DirItem* items, uint32_t count, const char name[11]) {
    for (uint32_t i = 0; i < count; ++i) {
        if (memcmp(items[i].name, name, 11) == 0)
            return &items[i];
    }
    return nullptr;
}

Result find_tundra_file(const FatVolume& volume, const char name[11], DirItem& item, bool& found) {
    static DirItem listing[TUNDRA_LISTING_CAPACITY];
    found = false;
    uint32_t count = 0;
    if (list_directory(volume, root_directory(volume), listing, TUNDRA_LISTING_CAPACITY, count) !=
        Result::Success) {
        return Result::Failed;
    }
    const DirItem* tundra = find_item(listing, count, TUNDRA_DIRECTORY_NAME);
    if (tundra == nullptr)
        return Result::Success;
    if (list_directory(volume, {false, tundra->first_cluster}, listing, TUNDRA_LISTING_CAPACITY,
                       count) != Result::Success) {
        return Result::Failed;
    }
    const DirItem* file = find_item(listing, count, name);
    if (file == nullptr || file->first_cluster < 2 || file->size == 0 ||
        (file->attributes & ATTRIBUTE_DIRECTORY) != 0) {
        return Result::Success;
    }
    item = *file;
    found = true;
    return Result::Success;
}

}  // namespace formats
