// Where a drive keeps its bytes, and how a transfer that ends moves them.
#include <cstring>

#include "sim/sim_state.h"

namespace sim {
namespace detail {

// The drive's storage: its file when it has one, otherwise `contents`.
BOOL store_bytes(Drive& d, const uint8_t* bytes, DWORD count, uint64_t offset) {
    if (d.file.is_open()) {
        DWORD error = 0;
        if (!d.file.write(offset, bytes, count, error))
            return fail_with(error);
        return TRUE;
    }
    memcpy(d.contents.data() + offset, bytes, count);
    return TRUE;
}

BOOL load_bytes(const Drive& d, uint8_t* bytes, DWORD count, uint64_t offset) {
    if (d.file.is_open()) {
        DWORD error = 0;
        if (!d.file.read(offset, bytes, count, error))
            return fail_with(error);
        return TRUE;
    }
    const uint64_t stored = d.contents.size();
    const uint64_t from_contents =
        offset >= stored ? 0 : std::min<uint64_t>(count, stored - offset);
    if (from_contents > 0)
        memcpy(bytes, d.contents.data() + offset, from_contents);
    memset(bytes + from_contents, 0, count - from_contents);
    return TRUE;
}

// Bytes that change behind the engine's back, once, after its first write.
void flip_after_first_write(Drive& d) {
    const uint64_t stored = d.file.is_open() ? d.size_bytes : d.contents.size();
    for (uint64_t at : d.flip_after_first_write) {
        if (at >= stored)
            continue;
        uint8_t byte = 0;
        if (!load_bytes(d, &byte, 1, at))
            continue;
        byte ^= 0xFF;
        (void)store_bytes(d, &byte, 1, at);
    }
    d.flip_after_first_write.clear();
}

// Moves the bytes of a transfer that ends now; a failure of the drive's
// file becomes the transfer's error.
void move_bytes(PendingTransfer& t) {
    if (t.is_ioctl || t.error != 0)
        return;
    Drive* d = find_drive(t.drive_number);
    if (d == nullptr) {
        t.error = ERROR_DEV_NOT_EXIST;
        return;
    }
    if (!t.writing) {
        if (!load_bytes(*d, t.buffer, t.count, t.offset))
            t.error = next.GetLastError();
        return;
    }
    if (!d->drop_writes && !store_bytes(*d, t.buffer, t.count, t.offset)) {
        t.error = next.GetLastError();
        return;
    }
    if (records.write_count < WRITE_CAPACITY) {
        records.writes[records.write_count++] = {t.drive_number, t.offset, t.count};
    }
    flip_after_first_write(*d);
}

}  // namespace detail
}  // namespace sim
