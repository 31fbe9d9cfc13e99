// read_gpt and list_partitions over a fuzzed disk.
#include <cstddef>
#include <cstdint>

#include "formats/gpt.h"
#include "fuzz/fuzz_disk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 20)) return 0;
    fuzz::FuzzDisk disk(fuzz::sectors_of(data, size, 1024));
    static formats::GptTable table;
    if (formats::read_gpt(disk.region(), table) == engine::Result::Success) {
        if (table.count > formats::GPT_MAX_ENTRIES) __builtin_trap();
        const auto partition = formats::find_tundra_partition(table, disk.region());
        if (partition.has_value() && partition->end > disk.region().end) __builtin_trap();
    }
    (void)formats::list_partitions(disk.region());
    return 0;
}
