// Serves fuzzer bytes as a simulated physical drive, opened the way the
// engine opens a stick, so that the readers meet them through the same
// aligned, overlapped reads as on a real disk.
#pragma once

#include <cstdint>
#include <vector>

#include "discovery/disk_probe.h"
#include "engine/run_names.h"
#include "engine/write_options.h"
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

class FuzzDisk {
public:
    explicit FuzzDisk(std::vector<uint8_t> contents) {
        sim::StickSpec spec{7};
        spec.size_bytes = contents.size();
        sim::Drive& drive = machine().add_stick(spec);
        drive.contents = std::move(contents);
        const discovery::DrivePath path = discovery::physical_drive_path(7);
        handle_ = sys::CreateFileW(path.text, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING, nullptr);
        region_ = {handle_, 0, spec.size_bytes, 512, true};
    }
    ~FuzzDisk() {
        (void)sys::CloseHandle(handle_);
        if (machine().open_handle_count() != 0) __builtin_trap();  // a leaked handle
    }
    const engine::DiskRegion& region() const { return region_; }

private:
    HANDLE handle_;
    engine::DiskRegion region_;
};

// Whole 512-byte sectors of the input, at least `minimum` bytes.
inline std::vector<uint8_t> sectors_of(const uint8_t* data, size_t size, size_t minimum) {
    size_t length = size < minimum ? minimum : size;
    length = (length + 511) / 512 * 512;
    std::vector<uint8_t> bytes(length, 0);
    for (size_t i = 0; i < size; ++i) bytes[i] = data[i];
    return bytes;
}

}  // namespace fuzz
