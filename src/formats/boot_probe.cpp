#include "formats/boot_probe.h"

#include "formats/fat.h"
#include "formats/gpt.h"

namespace formats {
namespace {

constexpr uint32_t PROBE_LISTING_CAPACITY = 64;
constexpr char EFI_NAME[11] = {'E', 'F', 'I', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
constexpr char BOOT_NAME[11] = {'B', 'O', 'O', 'T', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
constexpr char BOOTX64_NAME[11] = {'B', 'O', 'O', 'T', 'X', '6', '4', ' ', 'E', 'F', 'I'};
constexpr char BOOTAA64_NAME[11] = {'B', 'O', 'O', 'T', 'A', 'A', '6', '4', 'E', 'F', 'I'};
constexpr char KERNEL_NAME[11] = {'K', 'E', 'R', 'N', 'E', 'L', ' ', ' ', 'E', 'L', 'F'};
constexpr char ROOT_NAME[11] = {'R', 'O', 'O', 'T', ' ', ' ', ' ', ' ', 'T', 'A', 'R'};
constexpr char FIRMWARE_NAME[11] = {'F', 'I', 'R', 'M', 'W', 'A', 'R', 'E', 'T', 'A', 'R'};

DirItem listing[PROBE_LISTING_CAPACITY];

// Opens the TUNDRA volume the way the two answer-only probes do: any
// failure or absence is simply "no".
bool open_quietly(const run::DiskRegion& disk, FatVolume& volume) {
    static GptTable table;
    if (read_gpt(disk, table) != Result::Success) return false;
    const std::optional<DiskRegion> partition = find_tundra_partition(table, disk);
    if (!partition.has_value()) return false;
    forget_fat_window();
    return parse_boot_sector(*partition, volume) == Result::Success;
}

// The subdirectory `name` of a listing, listed in its place; false when it is
// missing, not a directory, unreadable or empty.
bool descend(const FatVolume& volume, const char name[11], uint32_t& count) {
    const DirItem* item = find_item(listing, count, name);
    if (item == nullptr || (item->attributes & ATTRIBUTE_DIRECTORY) == 0) return false;
    const DirectoryRef directory{false, item->first_cluster};
    return list_directory(volume, directory, listing, PROBE_LISTING_CAPACITY, count) ==
               Result::Success &&
           count > 0;
}

}  // namespace

uint32_t probe_boot_arch(const run::DiskRegion& disk) {
    FatVolume volume;
    uint32_t count = 0;
    if (!open_quietly(disk, volume) ||
        list_directory(volume, root_directory(volume), listing, PROBE_LISTING_CAPACITY, count) !=
            Result::Success ||
        count == 0 || !descend(volume, EFI_NAME, count) || !descend(volume, BOOT_NAME, count)) {
        return BOOT_ARCH_NONE;
    }
    uint32_t answer = BOOT_ARCH_NONE;
    if (find_item(listing, count, BOOTX64_NAME) != nullptr) answer |= BOOT_ARCH_X64;
    if (find_item(listing, count, BOOTAA64_NAME) != nullptr) answer |= BOOT_ARCH_AA64;
    return answer;
}

bool has_kernel_and_root(const run::DiskRegion& disk) {
    FatVolume volume;
    if (!open_quietly(disk, volume)) return false;
    DirItem item;
    bool found = false;
    if (find_tundra_file(volume, KERNEL_NAME, item, found) != Result::Success || !found) return false;
    return find_tundra_file(volume, ROOT_NAME, item, found) == Result::Success && found;
}

Result has_firmware_tar(const run::DiskRegion& disk, bool& present) {
    present = false;
    FatVolume volume;
    bool found = false;
    if (open_tundra_volume(disk, volume, found) != Result::Success) return Result::Failed;
    if (!found) return Result::Success;
    DirItem item;
    return find_tundra_file(volume, FIRMWARE_NAME, item, present);
}

}  // namespace formats
