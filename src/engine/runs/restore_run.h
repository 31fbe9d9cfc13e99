// Giving a stick back as an ordinary USB stick: one MBR partition from 1 MiB
// to the end with FAT32 or exFAT in it, the old partition tables gone. On
// the same steps as write_stick (the target found and vetted, its volumes
// locked and dismounted, the logs copied first when asked, a stop honoured
// between pieces), and under the same rules: one run at a time, run_inputs
// filled first, the failure reason after Failed, nothing held after the call.
#pragma once

#include <cstdint>

#include "engine/run_names.h"
#include "engine/write_options.h"

namespace engine {

enum class FileSystemChoice : uint8_t { BySize, Fat32, Exfat };

struct RestoreChoice {
    FileSystemChoice file_system = FileSystemChoice::BySize;
    WideText label;  // none: "USB"
};

// Writes only the partition table and the file system's structures, reads
// every byte it wrote back and compares it. With options.dry_run it says
// what it would write and writes nothing.
Result restore_stick(const WriteOptions& options, const RestoreChoice& choice);

}  // namespace engine
