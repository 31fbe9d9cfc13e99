#include "run/disk_region.h"

#include <cstring>

#include "run/run_buffers.h"
#include "run/run_inputs.h"

namespace run {

Result read_exact_at(HANDLE handle, bool overlapped, uint64_t offset, void* destination,
                     uint32_t count) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    ov.hEvent = run_inputs.disk_io_event;
    DWORD got = 0;
    if (overlapped) {
        // Windows may finish at once (TRUE) or later (FALSE with
        // ERROR_IO_PENDING); either way the result comes from the wait.
        if (!sys::ReadFile(handle, destination, count, nullptr, &ov) &&
            sys::GetLastError() != ERROR_IO_PENDING) {
            return fail("a read at ", offset, " failed (Windows error ", sys::GetLastError(), ")");
        }
        if (!sys::GetOverlappedResult(handle, &ov, &got, TRUE)) {
            return fail("a read at ", offset, " failed (Windows error ", sys::GetLastError(), ")");
        }
    } else if (!sys::ReadFile(handle, destination, count, &got, &ov)) {
        return fail("a read at ", offset, " failed (Windows error ", sys::GetLastError(), ")");
    }
    if (got != count)
        return fail("a read at ", offset, " returned ", got, " of ", count, " bytes");
    return Result::Success;
}

Result write_exact_at(HANDLE handle, bool overlapped, uint64_t offset, const void* source,
                      uint32_t count, bool* started) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    ov.hEvent = run_inputs.disk_io_event;
    DWORD written = 0;
    if (overlapped) {
        if (!sys::WriteFile(handle, source, count, nullptr, &ov) &&
            sys::GetLastError() != ERROR_IO_PENDING) {
            return fail("a write at ", offset, " failed (Windows error ", sys::GetLastError(), ")");
        }
        if (started != nullptr)
            *started = true;
        if (!sys::GetOverlappedResult(handle, &ov, &written, TRUE)) {
            return fail("a write at ", offset, " failed (Windows error ", sys::GetLastError(), ")");
        }
    } else {
        // A synchronous write that fails may still have changed some of it.
        if (started != nullptr)
            *started = true;
        if (!sys::WriteFile(handle, source, count, &written, &ov))
            return fail("a write at ", offset, " failed (Windows error ", sys::GetLastError(), ")");
    }
    if (written != count) {
        return fail("a write at ", offset, " took ", written, " of ", count, " bytes");
    }
    return Result::Success;
}

Result read_at(const DiskRegion& region, uint64_t offset, void* destination, uint64_t length) {
    // Offsets come from disk contents: check every sum before using it.
    if (offset > UINT64_MAX - region.first || length > UINT64_MAX - (region.first + offset)) {
        return fail("a read past the end (", length, " bytes at offset ", offset,
                    " of a region at ", region.first, ")");
    }
    const uint64_t absolute = region.first + offset;
    const uint64_t stop = absolute + length;
    if (stop > region.end)
        return fail("a read past the end (", length, " bytes at ", absolute, ")");
    const uint64_t a = region.alignment == 0 ? 1 : region.alignment;
    const uint64_t start = absolute - absolute % a;
    const uint64_t rounded_up = stop % a == 0 ? 0 : a - stop % a;
    if (rounded_up > UINT64_MAX - stop)
        return fail("a read of ", length, " bytes is too large");
    const uint64_t span = stop + rounded_up - start;
    if (span > BOUNCE_CAPACITY)
        return fail("a read of ", span, " bytes is too large");
    if (read_exact_at(region.handle, region.overlapped, start, buffers.bounce,
                      static_cast<uint32_t>(span)) != Result::Success) {
        return Result::Failed;
    }
    if (length > 0)
        memcpy(destination, buffers.bounce + (absolute - start), length);
    return Result::Success;
}

}  // namespace run
