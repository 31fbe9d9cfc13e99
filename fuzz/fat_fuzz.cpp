// The FAT layer and the boot probes over a fuzzed TUNDRA partition. The
// input is the partition itself, behind a fixed GPT that points at it, so
// that the fuzzer spends its effort on the file system.
#include <cstddef>
#include <cstdint>

#include "formats/boot_probe.h"
#include "formats/fat.h"
#include "formats/gpt.h"
#include "fuzz/fuzz_disk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (4 << 20)) return 0;
    fuzz::FuzzDisk disk(fuzz::with_tundra_partition(data, size));
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
