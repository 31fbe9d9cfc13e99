// Control requests (DeviceIoControl) on volumes and drives.
#include <cstring>

#include "sim/sim_state.h"

namespace sim {
namespace detail {

BOOL copy_out(const std::vector<uint8_t>& bytes, LPVOID out, DWORD out_size, LPDWORD returned) {
    const DWORD count = bytes.size() < out_size ? static_cast<DWORD>(bytes.size()) : out_size;
    if (count > 0)
        memcpy(out, bytes.data(), count);
    if (returned != nullptr)
        *returned = count;
    return TRUE;
}

// Gives the record's index, or IOCTL_CAPACITY when the list is full.
size_t note_ioctl(DWORD code, const HandleRecord& r, const OVERLAPPED* ov) {
    if (records.ioctl_count == IOCTL_CAPACITY)
        return IOCTL_CAPACITY;
    records.ioctls[records.ioctl_count] = {code, r.kind == Kind::drive, r.drive_number,
                                           ov != nullptr, false};
    return records.ioctl_count++;
}

BOOL volume_ioctl(HandleRecord& r, DWORD code, LPVOID out, DWORD out_size, LPDWORD returned) {
    Volume& v = *r.volume;
    const size_t order = volume_order(&v);
    if (order >= HANDLE_CAPACITY)
        return fail_with(ERROR_INVALID_HANDLE);
    HandleRecord*& holder = records.lock_holders[order];
    switch (code) {
        case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
            if (v.extents_error != 0)
                return fail_with(v.extents_error);
            if (out_size < v.extents.size())
                return fail_with(ERROR_MORE_DATA);
            return copy_out(v.extents, out, out_size, returned);
        case FSCTL_LOCK_VOLUME:
            if (holder != nullptr && holder != &r)
                return fail_with(ERROR_ACCESS_DENIED);
            if (v.refuse_lock_attempts > 0) {
                --v.refuse_lock_attempts;
                return fail_with(ERROR_ACCESS_DENIED);
            }
            holder = &r;
            return TRUE;
        case FSCTL_UNLOCK_VOLUME:
            if (holder != &r)
                return fail_with(ERROR_NOT_SUPPORTED);
            let_lock_go(r);
            return TRUE;
        case FSCTL_DISMOUNT_VOLUME:
            if (v.refuse_dismount)
                return fail_with(ERROR_ACCESS_DENIED);
            if (holder == &r)
                records.dismounted_under[order] = &r;
            if (records.dismounted_count < HANDLE_CAPACITY) {
                records.dismounted[records.dismounted_count++] = &v;
            }
            return TRUE;
        default:
            return fail_with(ERROR_INVALID_FUNCTION);
    }
}

BOOL drive_ioctl(HandleRecord& r, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                 LPDWORD returned) {
    Drive* d = find_drive(r.drive_number);
    if (d == nullptr)
        return fail_with(ERROR_DEV_NOT_EXIST);
    switch (code) {
        case IOCTL_STORAGE_QUERY_PROPERTY: {
            uint8_t zeros[12] = {};
            if (in == nullptr || in_size < 12 || memcmp(in, zeros, 8) != 0) {
                return fail_with(ERROR_INVALID_PARAMETER);
            }
            return copy_out(d->descriptor, out, out_size, returned);
        }
        case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX:
            if (out_size < d->geometry.size() && out_size < 32) {
                return fail_with(ERROR_INSUFFICIENT_BUFFER);
            }
            return copy_out(d->geometry, out, out_size, returned);
        case IOCTL_DISK_UPDATE_PROPERTIES:
            if (returned != nullptr)
                *returned = 0;
            return TRUE;
        default:
            return fail_with(ERROR_INVALID_FUNCTION);
    }
}

// A control request on an overlapped drive handle does its work when it is
// made, then pends like a transfer until it is waited for.
BOOL WINAPI sim_DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                                DWORD out_size, LPDWORD returned, LPOVERLAPPED ov) {
    HandleRecord* r = record_of(h);
    if (r == nullptr || r->kind == Kind::file || r->kind == Kind::event) {
        return next.DeviceIoControl(h, code, in, in_size, out, out_size, returned, ov);
    }
    const size_t noted = note_ioctl(code, *r, ov);
    const bool overlapped_handle = (r->flags & FILE_FLAG_OVERLAPPED) != 0;
    if (overlapped_handle && ov == nullptr)
        return fail_with(ERROR_INVALID_PARAMETER);
    if (r->kind == Kind::volume)
        return volume_ioctl(*r, code, out, out_size, returned);
    if (r->kind != Kind::drive)
        return fail_with(ERROR_INVALID_HANDLE);
    if (ov != nullptr && ov->hEvent != nullptr)
        next.ResetEvent(ov->hEvent);
    DWORD got = 0;
    if (!drive_ioctl(*r, code, in, in_size, out, out_size, &got))
        return FALSE;
    if (returned != nullptr)
        *returned = got;
    if (!overlapped_handle)
        return TRUE;
    PendingTransfer t{};
    t.ov = ov;
    t.handle = r;
    t.drive_number = r->drive_number;
    t.count = got;
    t.is_ioctl = true;
    t.issued_step = ++records.step;
    t.end_ns = records.clock_ns;
    t.record = noted;
    if (machine->complete_at_once())
        return end_inside_call(*r, t, returned);
    return leave_pending(t);
}

}  // namespace detail
}  // namespace sim
