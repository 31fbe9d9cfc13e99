// The FAT layer and the boot probes over a fuzzed TUNDRA partition. The
// input is the partition itself, behind a fixed GPT that points at it, so
// that the fuzzer spends its effort on the file system.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "formats/boot_probe.h"
#include "formats/fat.h"
#include "formats/gpt.h"
#include "fuzz/fuzz_disk.h"

namespace {

constexpr uint64_t PARTITION_LBA = 64;

std::vector<uint8_t> disk_around(const uint8_t* data, size_t size) {
    std::vector<uint8_t> partition = fuzz::sectors_of(data, size, 512);
    std::vector<uint8_t> disk(PARTITION_LBA * 512 + partition.size(), 0);
    memcpy(disk.data() + 512, "EFI PART", 8);
    const uint64_t entry_lba = 2;
    const uint32_t entries = 1, entry_size = 128;
    memcpy(disk.data() + 512 + 72, &entry_lba, 8);
    memcpy(disk.data() + 512 + 80, &entries, 4);
    memcpy(disk.data() + 512 + 84, &entry_size, 4);
    uint8_t* entry = disk.data() + 1024;
    memcpy(entry, formats::ESP_TYPE_GUID, 16);
    entry[16] = 1;
    const uint64_t first = PARTITION_LBA, last = PARTITION_LBA + partition.size() / 512 - 1;
    memcpy(entry + 32, &first, 8);
    memcpy(entry + 40, &last, 8);
    memcpy(disk.data() + PARTITION_LBA * 512, partition.data(), partition.size());
    return disk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (4 << 20)) return 0;
    fuzz::FuzzDisk disk(disk_around(data, size));
    formats::FatVolume volume;
    bool found = false;
    if (formats::open_tundra_volume(disk.region(), volume, found) == engine::Result::Success &&
        found) {
        static formats::DirItem items[64];
        uint32_t count = 0;
        if (formats::list_directory(volume, formats::root_directory(volume), items, 64, count) ==
                engine::Result::Success &&
            count > 64) {
            __builtin_trap();
        }
        formats::DirItem item;
        bool present = false;
        (void)formats::find_tundra_file(volume, "KERNEL  ELF", item, present);
        if (present && (item.size == 0 || item.first_cluster < 2)) __builtin_trap();
    }
    if (formats::probe_boot_arch(disk.region()) > 3) __builtin_trap();
    (void)formats::has_kernel_and_root(disk.region());
    bool firmware = false;
    (void)formats::has_firmware_tar(disk.region(), firmware);
    return 0;
}
