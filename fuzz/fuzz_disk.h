// Serves fuzzer bytes as a simulated physical drive, opened the way the
// engine opens a stick, so that the readers meet them through the same
// aligned, overlapped reads as on a real disk.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "discovery/disk_probe.h"
#include "engine/run_names.h"
#include "engine/write_options.h"
#include "formats/gpt.h"
#include "sim/sim_machine.h"

namespace fuzz {

inline sim::Machine& machine() {
    static sim::Machine* m = [] {
        auto* made = new sim::Machine();
        made->add_system_disk(0);
        return made;
    }();
    return *m;
}

// How a fuzzed drive is opened: as the engine opens a stick (read-only for a
// dry run, or for writing), or as it opens an image file (no alignment).
struct DiskShape {
    uint32_t number = 7;
    uint32_t bytes_per_sector = 512;
    bool writable = false;
    bool unbuffered = true;
};

class FuzzDisk {
public:
  explicit FuzzDisk(std::vector<uint8_t> contents, DiskShape shape = {}) : number_(shape.number) {
      sim::StickSpec spec{shape.number};
      spec.size_bytes = contents.size();
      spec.bytes_per_sector = shape.bytes_per_sector;
      sim::Drive& drive = machine().add_stick(spec);
      drive.contents = std::move(contents);
      const discovery::DrivePath path = discovery::physical_drive_path(shape.number);
      const DWORD access = shape.writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
      const DWORD flags = shape.unbuffered ? FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING : 0;
      handle_ = sys::CreateFileW(path.text, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, flags, nullptr);
      region_ = {handle_, 0, spec.size_bytes, shape.unbuffered ? shape.bytes_per_sector : 1u,
                 shape.unbuffered};
      ++live_disks();
  }
    ~FuzzDisk() {
        (void)sys::CloseHandle(handle_);
        machine().remove_drive(number_);
        // Each disk still in use holds one handle; any other is a leak.
        if (machine().open_handle_count() != --live_disks())
            __builtin_trap();
    }
    const engine::DiskRegion& region() const { return region_; }
    HANDLE handle() const { return handle_; }
    // The drive's bytes as they are now.
    const std::vector<uint8_t>& contents() const { return machine().drive(number_)->contents; }

  private:
    static size_t& live_disks() {
        static size_t count = 0;
        return count;
    }

    uint32_t number_;
    HANDLE handle_;
    engine::DiskRegion region_;
};

// Whole sectors of the input, at least `minimum` bytes.
inline std::vector<uint8_t> sectors_of(const uint8_t* data, size_t size, size_t minimum,
                                       size_t sector_bytes = 512) {
    size_t length = size < minimum ? minimum : size;
    length = (length + sector_bytes - 1) / sector_bytes * sector_bytes;
    std::vector<uint8_t> bytes(length, 0);
    for (size_t i = 0; i < size; ++i) bytes[i] = data[i];
    return bytes;
}

// Where with_tundra_partition puts the partition: sector 64 of the disk.
constexpr uint64_t TUNDRA_PARTITION_LBA = 64;

// A disk whose GPT has one entry, an EFI System Partition (the TUNDRA
// partition) at sector 64 that holds the input, so that a fuzzer spends its
// effort on the file system rather than on finding it.
inline std::vector<uint8_t> with_tundra_partition(const uint8_t* data, size_t size,
                                                  size_t minimum = 512, size_t sector_bytes = 512) {
    std::vector<uint8_t> partition = sectors_of(data, size, minimum, sector_bytes);
    std::vector<uint8_t> disk(TUNDRA_PARTITION_LBA * 512 + partition.size(), 0);
    memcpy(disk.data() + 512, "EFI PART", 8);
    const uint64_t entry_lba = 2;
    const uint32_t entries = 1, entry_size = 128;
    memcpy(disk.data() + 512 + 72, &entry_lba, 8);
    memcpy(disk.data() + 512 + 80, &entries, 4);
    memcpy(disk.data() + 512 + 84, &entry_size, 4);
    uint8_t* entry = disk.data() + 1024;
    memcpy(entry, formats::ESP_TYPE_GUID, 16);
    entry[16] = 1;
    const uint64_t first = TUNDRA_PARTITION_LBA;
    const uint64_t last = TUNDRA_PARTITION_LBA + partition.size() / 512 - 1;
    memcpy(entry + 32, &first, 8);
    memcpy(entry + 40, &last, 8);
    memcpy(disk.data() + TUNDRA_PARTITION_LBA * 512, partition.data(), partition.size());
    return disk;
}

}  // namespace fuzz
