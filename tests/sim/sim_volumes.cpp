// Volumes: finding them, their locks and mounts, and the volume search.
#include <cstring>

#include "sim/sim_state.h"

namespace sim {
namespace detail {

Volume* find_volume(const WCHAR* path) {
    for (Volume& v : *volume_list) {
        size_t i = 0;
        while (i < v.path.size() && path[i] != 0 && static_cast<char16_t>(path[i]) == v.path[i]) {
            ++i;
        }
        if (i == v.path.size() && path[i] == 0)
            return &v;
    }
    return nullptr;
}

size_t volume_order(const Volume* v) {
    size_t i = 0;
    for (const Volume& each : *volume_list) {
        if (&each == v)
            return i;
        ++i;
    }
    return HANDLE_CAPACITY;
}

// A volume is mounted unless the handle that holds its lock dismounted it.
bool is_mounted(const Volume& v) {
    const size_t order = volume_order(&v);
    if (order >= HANDLE_CAPACITY)
        return true;
    const HandleRecord* holder = records.lock_holders[order];
    return holder == nullptr || records.dismounted_under[order] != holder;
}

uint64_t load_u64_at(const std::vector<uint8_t>& bytes, size_t at) {
    uint64_t value;
    memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// Windows refuses raw writes into a mounted volume: true when the bytes
// touch an extent of one on this drive.
bool touches_mounted_volume(uint32_t drive_number, uint64_t offset, uint64_t count) {
    for (const Volume& v : *volume_list) {
        if (!is_mounted(v) || v.extents.size() < 8)
            continue;
        uint32_t extent_count;
        memcpy(&extent_count, v.extents.data(), sizeof extent_count);
        for (size_t i = 0; i < extent_count && 8 + 24 * (i + 1) <= v.extents.size(); ++i) {
            const size_t at = 8 + 24 * i;
            uint32_t disk;
            memcpy(&disk, v.extents.data() + at, sizeof disk);
            const uint64_t start = load_u64_at(v.extents, at + 8);
            const uint64_t length = load_u64_at(v.extents, at + 16);
            if (disk == drive_number && offset < start + length && start < offset + count) {
                return true;
            }
        }
    }
    return false;
}

void let_lock_go(const HandleRecord& r) {
    size_t order = 0;
    for (HandleRecord*& holder : records.lock_holders) {
        if (holder == &r) {
            holder = nullptr;  // the volume is mounted again
            records.dismounted_under[order] = nullptr;
            note_happening(Happening::Kind::LockReleased, 0, 0, r.volume);
        }
        ++order;
    }
}

// Writes the listed volume at `index` (with its trailing backslash, as
// Windows names volumes in a search) and moves past it.
BOOL volume_name_at(HandleRecord& search, LPWSTR name, DWORD capacity) {
    size_t index = 0;
    for (const Volume& v : *volume_list) {
        if (v.hidden)
            continue;
        if (index++ < search.position)
            continue;
        if (v.path.size() + 2 > capacity)
            return fail_with(ERROR_MORE_DATA);
        for (size_t i = 0; i < v.path.size(); ++i)
            name[i] = static_cast<WCHAR>(v.path[i]);
        name[v.path.size()] = U16('\\');
        name[v.path.size() + 1] = 0;
        ++search.position;
        return TRUE;
    }
    return fail_with(ERROR_NO_MORE_FILES);
}

HANDLE WINAPI sim_FindFirstVolumeW(LPWSTR name, DWORD capacity) {
    HandleRecord* r = new_record(Kind::search, nullptr);
    if (r == nullptr) {
        next.SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    if (!volume_name_at(*r, name, capacity)) {
        const DWORD error = next.GetLastError();
        *r = HandleRecord{};
        next.SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return r->handle;
}

BOOL WINAPI sim_FindNextVolumeW(HANDLE search, LPWSTR name, DWORD capacity) {
    HandleRecord* r = record_of(search);
    if (r == nullptr || r->kind != Kind::search)
        return fail_with(ERROR_INVALID_HANDLE);
    return volume_name_at(*r, name, capacity);
}

BOOL WINAPI sim_FindVolumeClose(HANDLE search) {
    HandleRecord* r = record_of(search);
    if (r == nullptr || r->kind != Kind::search)
        return fail_with(ERROR_INVALID_HANDLE);
    *r = HandleRecord{};
    return TRUE;
}

// The volume mounted where `path` begins (ASCII letters in either case), or
// none.
const Volume* volume_holding(const WCHAR* path) {
    for (const Volume& v : *volume_list) {
        const std::u16string& mount = v.mount_point;
        size_t i = 0;
        while (i < mount.size() && path[i] != 0 &&
               (static_cast<char16_t>(path[i]) | 0x20) == (mount[i] | 0x20)) {
            ++i;
        }
        if (!mount.empty() && i == mount.size())
            return &v;
    }
    return nullptr;
}

BOOL copy_name(const std::u16string& text, const char16_t* suffix, LPWSTR into, DWORD capacity) {
    std::u16string::size_type suffix_length = 0;
    while (suffix[suffix_length] != 0)
        ++suffix_length;
    if (text.size() + suffix_length + 1 > capacity)
        return fail_with(ERROR_MORE_DATA);
    for (size_t i = 0; i < text.size(); ++i)
        into[i] = static_cast<WCHAR>(text[i]);
    for (size_t i = 0; i < suffix_length; ++i)
        into[text.size() + i] = static_cast<WCHAR>(suffix[i]);
    into[text.size() + suffix_length] = 0;
    return TRUE;
}

// A path that no volume's mount point holds lies on the Windows volume,
// unless it is on a share.
const Volume* volume_of_path(const WCHAR* path) {
    const Volume* v = volume_holding(path);
    const bool share = (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
    if (v == nullptr && !share)
        v = volume_holding(U16("C:\\"));
    return v;
}

BOOL WINAPI sim_GetVolumePathNameW(LPCWSTR path, LPWSTR mount_point, DWORD capacity) {
    const Volume* v = volume_of_path(path);
    if (v == nullptr)
        return next.GetVolumePathNameW(path, mount_point, capacity);
    return copy_name(v->mount_point, u"", mount_point, capacity);
}

BOOL WINAPI sim_GetVolumeNameForVolumeMountPointW(LPCWSTR mount_point, LPWSTR name,
                                                  DWORD capacity) {
    const Volume* v = volume_holding(mount_point);
    if (v == nullptr)
        return next.GetVolumeNameForVolumeMountPointW(mount_point, name, capacity);
    return copy_name(v->path, u"\\", name, capacity);
}

}  // namespace detail
}  // namespace sim
