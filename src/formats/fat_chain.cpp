// FAT entries, through a 64 KiB window cache, and cluster chains.
#include <cstring>

#include "formats/fat.h"

namespace formats {
namespace {

struct FatWindow {
    bool valid = false;
    uint64_t start = 0;
    uint8_t bytes[FAT_WINDOW_BYTES];
};

FatWindow window;

uint64_t partition_length(const DiskRegion& partition) {
    return partition.end > partition.first ? partition.end - partition.first : 0;
}

}  // namespace

void forget_fat_window() { window.valid = false; }

Result read_fat_entry(const FatVolume& volume, uint64_t offset, uint32_t length,
                      uint8_t* destination) {
    const uint64_t available = partition_length(volume.partition);
    // A FAT that claims more room than the partition has would otherwise be
    // read from a window the partition does not fill.
    if (offset > available || length > available - offset) {
        return run::fail("the TUNDRA partition's FAT entry at byte ", offset,
                         " lies past the partition's end");
    }
    const uint64_t start = offset - offset % FAT_WINDOW_BYTES;
    if (offset + length > start + FAT_WINDOW_BYTES) {
        return run::read_at(volume.partition, offset, destination, length);
    }
    if (!window.valid || window.start != start) {
        const uint64_t rest = available - start;
        const uint64_t size = rest < FAT_WINDOW_BYTES ? rest : FAT_WINDOW_BYTES;
        if (run::read_at(volume.partition, start, window.bytes, size) != Result::Success) {
            return Result::Failed;
        }
        window.start = start;
        window.valid = true;
    }
    memcpy(destination, window.bytes + (offset - start), length);
    return Result::Success;
}

Result next_cluster(const FatVolume& volume, uint32_t cluster, std::optional<uint32_t>& next) {
    uint8_t raw[4] = {};
    uint32_t value = 0;
    uint32_t end_mark = 0;
    const uint64_t c = cluster;
    switch (volume.type) {
        case FatType::Fat12:
            if (read_fat_entry(volume, volume.fat_offset + c + c / 2, 2, raw) != Result::Success) {
                return Result::Failed;
            }
            value = static_cast<uint32_t>(raw[0] | (raw[1] << 8));
            value = (cluster & 1) != 0 ? value >> 4 : value & 0xFFF;
            end_mark = 0xFF8;
            break;
        case FatType::Fat16:
            if (read_fat_entry(volume, volume.fat_offset + 2 * c, 2, raw) != Result::Success) {
                return Result::Failed;
            }
            value = static_cast<uint32_t>(raw[0] | (raw[1] << 8));
            end_mark = 0xFFF8;
            break;
        case FatType::Fat32:
            if (read_fat_entry(volume, volume.fat_offset + 4 * c, 4, raw) != Result::Success) {
                return Result::Failed;
            }
            memcpy(&value, raw, 4);
            value &= 0x0FFFFFFF;
            end_mark = 0x0FFFFFF8;
            break;
    }
    if (value >= end_mark) {
        next.reset();
        return Result::Success;
    }
    if (value < 2 || value - 2 >= volume.cluster_count) {
        return run::fail("the TUNDRA partition's FAT has a broken chain (cluster ", cluster, " -> ",
                         value, ")");
    }
    next = value;
    return Result::Success;
}

}  // namespace formats
