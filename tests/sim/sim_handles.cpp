// Opening and closing: drives, volumes and files by path, events, and the
// few facts of the machine a program asks for (its Windows directory, its
// token's elevation, the thread's error mode).
#include <cstring>
#include <utility>

#include "sim/sim_state.h"

namespace sim {
namespace detail {

// "\\.\PhysicalDriveN" gives N; anything else gives false.
bool parse_drive_path(const WCHAR* path, uint32_t& number) {
    static const char PREFIX[] = "\\\\.\\PhysicalDrive";
    size_t i = 0;
    for (; PREFIX[i] != 0; ++i) {
        if (path[i] == 0)
            return false;
        WCHAR c = path[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<WCHAR>(c - 32);
        char p = PREFIX[i];
        if (p >= 'a' && p <= 'z')
            p = static_cast<char>(p - 32);
        if (c != static_cast<WCHAR>(p))
            return false;
    }
    if (path[i] == 0)
        return false;
    uint64_t value = 0;
    for (; path[i] != 0; ++i) {
        if (path[i] < '0' || path[i] > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(path[i] - '0');
        if (value > 0xFFFFFFFFull)
            return false;
    }
    number = static_cast<uint32_t>(value);
    return true;
}

bool is_device_path(const WCHAR* path) {
    return path[0] == '\\' && path[1] == '\\' && (path[2] == '.' || path[2] == '?') &&
           path[3] == '\\';
}

HANDLE WINAPI sim_CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                              DWORD disposition, DWORD flags, HANDLE template_file) {
    note_name(CALL_CreateFileW, path, access, share, disposition, flags);
    uint32_t number = 0;
    if (parse_drive_path(path, number)) {
        Drive* d = find_drive(number);
        if (d == nullptr) {
            next.SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (access != 0 && (!machine->elevated() || d->deny_access)) {
            next.SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        HandleRecord* r = new_record(Kind::drive, nullptr);
        if (r == nullptr) {
            next.SetLastError(ERROR_TOO_MANY_OPEN_FILES);
            return INVALID_HANDLE_VALUE;
        }
        r->drive_number = number;
        r->access = access;
        r->flags = flags;
        note_open(number, (access & GENERIC_WRITE) != 0);
        note_device_open();
        if (access != 0 && d->after_open_with_access) {
            const auto change = std::move(d->after_open_with_access);
            d->after_open_with_access = nullptr;
            change(*machine);  // may remove or replace the drive: d is not used after this
        }
        return r->handle;
    }
    if (Volume* v = find_volume(path)) {
        note_device_open();
        if (access != 0 && v->open_error != 0) {
            next.SetLastError(v->open_error);
            return INVALID_HANDLE_VALUE;
        }
        HandleRecord* r = new_record(Kind::volume, nullptr);
        if (r == nullptr) {
            next.SetLastError(ERROR_TOO_MANY_OPEN_FILES);
            return INVALID_HANDLE_VALUE;
        }
        r->volume = v;
        r->access = access;
        r->flags = flags;
        return r->handle;
    }
    if (is_device_path(path)) {
        next.SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    WCHAR resolved[NAME_RECORD_UNITS];
    DWORD tag = 0;
    resolve_path(path, (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0, resolved, tag);
    HANDLE h = INVALID_HANDLE_VALUE;
    if (tag != 0 && (disposition == CREATE_NEW || disposition == CREATE_ALWAYS)) {
        next.SetLastError(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    } else {
        h = next.CreateFileW(resolved, access, share, sa, disposition, flags, template_file);
    }
    const DWORD code = next.GetLastError();
    if (h != INVALID_HANDLE_VALUE) {
        HandleRecord* r = new_record(Kind::file, h);
        if (r != nullptr) {
            r->access = access;
            r->flags = flags;
            r->on_network = under_network_folder(path);
            keep_path(*r, path, share, tag);
        }
    }
    after_name(path);
    next.SetLastError(code);
    return h;
}

BOOL WINAPI sim_CloseHandle(HANDLE h) {
    HandleRecord* r = record_of(h);
    if (r == nullptr)
        return next.CloseHandle(h);
    BOOL closed = TRUE;
    if (r->kind == Kind::file || r->kind == Kind::event)
        closed = next.CloseHandle(h);
    if (r->kind == Kind::volume)
        let_lock_go(*r);  // closing a volume handle ends its lock
    if (r->kind == Kind::drive)
        end_transfers_of(*r);
    *r = HandleRecord{};
    return closed;
}

HANDLE WINAPI sim_CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL manual_reset, BOOL initial_state,
                               LPCWSTR name) {
    HANDLE h = next.CreateEventW(sa, manual_reset, initial_state, name);
    if (h != nullptr)
        new_record(Kind::event, h);
    return h;
}

BOOL WINAPI sim_GetFileSizeEx(HANDLE h, PLARGE_INTEGER size) {
    HandleRecord* r = record_of(h);
    if (r == nullptr || r->kind == Kind::file)
        return next.GetFileSizeEx(h, size);
    return fail_with(ERROR_INVALID_FUNCTION);
}

BOOL WINAPI sim_FlushFileBuffers(HANDLE h) {
    HandleRecord* r = record_of(h);
    if (r == nullptr || r->kind == Kind::file)
        return next.FlushFileBuffers(h);
    if (r->kind == Kind::drive)
        note_happening(Happening::Kind::Flushed, r->drive_number, 0, nullptr);
    return TRUE;
}

BOOL WINAPI sim_SetThreadErrorMode(DWORD mode, LPDWORD previous) {
    if (previous != nullptr)
        *previous = thread_error_mode;
    thread_error_mode = mode;
    return TRUE;
}

UINT WINAPI sim_GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) {
    const std::u16string& dir = machine->windows_directory();
    if (dir.empty())
        return fail_with(ERROR_PATH_NOT_FOUND);
    if (capacity <= dir.size())
        return static_cast<UINT>(dir.size() + 1);
    for (size_t i = 0; i < dir.size(); ++i)
        buffer[i] = static_cast<WCHAR>(dir[i]);
    buffer[dir.size()] = 0;
    return static_cast<UINT>(dir.size());
}

BOOL WINAPI sim_OpenProcessToken(HANDLE, DWORD, PHANDLE token) {
    HandleRecord* r = new_record(Kind::token, nullptr);
    if (r == nullptr)
        return fail_with(ERROR_TOO_MANY_OPEN_FILES);
    *token = r->handle;
    return TRUE;
}

BOOL WINAPI sim_GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID info,
                                    DWORD size, PDWORD returned) {
    HandleRecord* r = record_of(token);
    if (r == nullptr || r->kind != Kind::token)
        return fail_with(ERROR_INVALID_HANDLE);
    if (kind != TokenElevation)
        return fail_with(ERROR_INVALID_PARAMETER);
    if (returned != nullptr)
        *returned = sizeof(TOKEN_ELEVATION);
    if (size < sizeof(TOKEN_ELEVATION))
        return fail_with(ERROR_INSUFFICIENT_BUFFER);
    TOKEN_ELEVATION elevation{};
    elevation.TokenIsElevated = machine->elevated() ? 1 : 0;
    memcpy(info, &elevation, sizeof elevation);
    return TRUE;
}

}  // namespace detail
}  // namespace sim
