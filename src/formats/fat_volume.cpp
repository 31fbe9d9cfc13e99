// Opening a FAT volume from its boot sector.
#include <cstring>

#include "formats/fat.h"
#include "formats/gpt.h"

namespace formats {
namespace {

uint16_t load_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t load_u32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

bool is_power_of_two(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

DirectoryRef root_directory(const FatVolume& volume) {
    if (volume.type == FatType::Fat32) return {false, 0};
    return {true, 0};
}

Result parse_boot_sector(const DiskRegion& partition, FatVolume& volume) {
    uint8_t boot[512];
    if (run::read_at(partition, 0, boot, sizeof boot) != Result::Success)
        return Result::Failed;
    if (boot[510] != 0x55 || boot[511] != 0xAA) {
        return run::fail("the TUNDRA partition has no FAT boot sector");
    }
    const uint32_t bytes_per_sector = load_u16(boot + 11);
    const uint32_t sectors_per_cluster = boot[13];
    const uint32_t reserved = load_u16(boot + 14);
    const uint32_t fat_count = boot[16];
    const uint32_t root_entries = load_u16(boot + 17);
    const uint32_t total = load_u16(boot + 19) != 0 ? load_u16(boot + 19) : load_u32(boot + 32);
    const uint32_t fat_sectors = load_u16(boot + 22) != 0 ? load_u16(boot + 22) : load_u32(boot + 36);
    if (boot[12] < 2 || bytes_per_sector > 4096 || !is_power_of_two(bytes_per_sector) ||
        !is_power_of_two(sectors_per_cluster) || fat_count == 0 || fat_sectors == 0) {
        return run::fail("the TUNDRA partition's FAT boot sector is not one FAT has");
    }
    const uint32_t root_sectors = (root_entries * 32 + bytes_per_sector - 1) / bytes_per_sector;
    const uint64_t first_data = uint64_t{reserved} + uint64_t{fat_count} * fat_sectors + root_sectors;
    // Sizes that do not fit the 32-bit sector numbers of FAT describe no volume.
    if (first_data > UINT32_MAX) {
        return run::fail("the TUNDRA partition's FAT boot sector has areas larger than FAT allows");
    }
    if (total <= first_data)
        return run::fail("the TUNDRA partition's FAT has no data area");
    const uint32_t cluster_size = sectors_per_cluster * bytes_per_sector;
    if (cluster_size > DIRECTORY_BUFFER_BYTES) {
        return run::fail("the TUNDRA partition's clusters (", cluster_size,
                         " bytes) are too large");
    }
    volume = FatVolume{};
    volume.partition = partition;
    volume.cluster_count = static_cast<uint32_t>((total - first_data) / sectors_per_cluster);
    volume.type = volume.cluster_count < 4085    ? FatType::Fat12
                  : volume.cluster_count < 65525 ? FatType::Fat16
                                                 : FatType::Fat32;
    // The boot sector decides the FAT type, but a volume has no more clusters
    // than its partition holds: a boot sector that claims more would let a
    // chain run through clusters that are not there, and files grow past the
    // stick's size.
    const uint64_t data_start = first_data * bytes_per_sector;
    const uint64_t length = partition.end > partition.first ? partition.end - partition.first : 0;
    const uint64_t room = length > data_start ? (length - data_start) / cluster_size : 0;
    if (room == 0)
        return run::fail("the TUNDRA partition's FAT has no data area");
    if (room < volume.cluster_count)
        volume.cluster_count = static_cast<uint32_t>(room);
    volume.fat_offset = uint64_t{reserved} * bytes_per_sector;
    volume.root_area_offset = (uint64_t{reserved} + uint64_t{fat_count} * fat_sectors) * bytes_per_sector;
    volume.data_offset = first_data * bytes_per_sector;
    volume.root_area_size = root_sectors * bytes_per_sector;
    volume.root_cluster = volume.type == FatType::Fat32 ? load_u32(boot + 44) : 0;
    volume.cluster_size = cluster_size;
    return Result::Success;
}

Result open_tundra_volume(const DiskRegion& disk, FatVolume& volume, bool& found) {
    static GptTable table;  // too large for the engine's stack
    found = false;
    if (read_gpt(disk, table) != Result::Success) return Result::Failed;
    const std::optional<DiskRegion> partition = find_tundra_partition(table, disk);
    if (!partition.has_value()) return Result::Success;
    forget_fat_window();
    if (parse_boot_sector(*partition, volume) != Result::Success) return Result::Failed;
    found = true;
    return Result::Success;
}

}  // namespace formats
