// The byte range through which every read of a disk or an image goes, the
// two positioned reads, and the single positioned write beside them.
#pragma once

#include <cstdint>

#include "run/result.h"
#include "sys/sys.h"

namespace run {

struct DiskRegion {
    HANDLE handle = INVALID_HANDLE_VALUE;
    uint64_t first = 0;      // absolute offset of the region's first byte
    uint64_t end = 0;        // absolute offset just past its last byte
    uint32_t alignment = 1;  // a power of two; reads are widened to multiples of it
    bool overlapped = false;
};

// Reads `length` bytes at `offset` from the region's start, widened to the
// region's alignment through the aligned bounce buffer.
Result read_at(const DiskRegion& region, uint64_t offset, void* destination, uint64_t length);

// One positioned read of exactly `count` bytes at an absolute offset.
Result read_exact_at(HANDLE handle, bool overlapped, uint64_t offset, void* destination,
                     uint32_t count);

// One positioned write of exactly `count` bytes at an absolute offset, waited
// for; the engine's bulk transfers have their own slots instead. `started`,
// when given, says whether Windows took the write at all: after a failure,
// whether the place may have changed.
Result write_exact_at(HANDLE handle, bool overlapped, uint64_t offset, const void* source,
                      uint32_t count, bool* started = nullptr);

}  // namespace run
