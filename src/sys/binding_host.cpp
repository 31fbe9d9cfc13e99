// The host binding: a small POSIX stand-in for the Windows calls that the
// host build needs. Files are regular files (share modes are not enforced:
// POSIX has none); overlapped transfers are positioned reads and writes that
// complete inside the call; events are condition variables, threads are
// POSIX threads that signal their handle when they end. There are no
// disks, volumes or tokens here: tests that need them install the simulated
// machine over this table.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "sys/sys.h"

namespace sys {
namespace {

thread_local DWORD last_error = 0;
// The C library's error behind the last code made from one, for its words.
thread_local int last_errno = 0;

enum class Kind { free, file, event, thread };

struct HostObject {
    Kind kind = Kind::free;
    int fd = -1;
    bool manual_reset = false;
    bool signalled = false;  // an event that is set, or a thread that has ended
    // A thread's routine, and whether its handle was closed while it ran:
    // its slot is then freed when it ends, not before.
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID param = nullptr;
    bool closed = false;
};

constexpr size_t HOST_HANDLE_CAPACITY = 1024;
constexpr uintptr_t HOST_HANDLE_BASE = 0x10000;

std::mutex pool_mutex;
std::condition_variable event_changed;
HostObject pool[HOST_HANDLE_CAPACITY];

HANDLE handle_of(size_t slot) {
    return reinterpret_cast<HANDLE>(HOST_HANDLE_BASE + slot * 4);
}

HostObject* object_of(HANDLE h, Kind kind) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(h);
    if (value < HOST_HANDLE_BASE || (value - HOST_HANDLE_BASE) % 4 != 0)
        return nullptr;
    const size_t slot = (value - HOST_HANDLE_BASE) / 4;
    if (slot >= HOST_HANDLE_CAPACITY || pool[slot].kind != kind || pool[slot].closed)
        return nullptr;
    return &pool[slot];
}

HANDLE take_slot(const HostObject& object) {
    std::lock_guard<std::mutex> lock(pool_mutex);
    for (size_t slot = 0; slot < HOST_HANDLE_CAPACITY; ++slot) {
        if (pool[slot].kind == Kind::free) {
            pool[slot] = object;
            return handle_of(slot);
        }
    }
    return nullptr;
}

DWORD code_of_errno(int e) {
    switch (e) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EROFS:
            // What Windows says of a write to a write-protected medium.
            return ERROR_WRITE_PROTECT;
        default:
            return ERROR_GEN_FAILURE;
    }
}

DWORD error_from_errno(int e) {
    last_errno = e;
    return code_of_errno(e);
}

// The C library's error that a code stands for: the one it was made from
// when it is the last, else the usual one.
int errno_of_code(DWORD code) {
    if (last_errno != 0 && code_of_errno(last_errno) == code)
        return last_errno;
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
            return ENOENT;
        case ERROR_PATH_NOT_FOUND:
            return ENOTDIR;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_GEN_FAILURE:
            return EIO;
        default:
            return 0;
    }
}

BOOL fail_with(DWORD code) {
    last_error = code;
    return FALSE;
}

// UTF-16 to UTF-8 for POSIX paths; false when the path does not fit. A "\"
// separates folders as it does on Windows, so that paths joined the Windows
// way name the same files here.
bool utf8_path(LPCWSTR path, char* out, size_t capacity) {
    size_t n = 0;
    for (size_t i = 0; path[i] != 0; ++i) {
        uint32_t cp = path[i] == u'\\' ? u'/' : path[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (path[i + 1] - 0xDC00);
            ++i;
        }
        char bytes[4];
        size_t len = 0;
        if (cp < 0x80) {
            bytes[len++] = static_cast<char>(cp);
        } else if (cp < 0x800) {
            bytes[len++] = static_cast<char>(0xC0 | (cp >> 6));
            bytes[len++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            bytes[len++] = static_cast<char>(0xE0 | (cp >> 12));
            bytes[len++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            bytes[len++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            bytes[len++] = static_cast<char>(0xF0 | (cp >> 18));
            bytes[len++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            bytes[len++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            bytes[len++] = static_cast<char>(0x80 | (cp & 0x3F));
        }
        if (len >= capacity - n)
            return false;
        memcpy(out + n, bytes, len);
        n += len;
    }
    out[n] = 0;
    return true;
}

uint64_t overlapped_offset(const OVERLAPPED* ov) {
    return (static_cast<uint64_t>(ov->OffsetHigh) << 32) | ov->Offset;
}

void signal_event(HANDLE h, bool signalled) {
    std::lock_guard<std::mutex> lock(pool_mutex);
    HostObject* event = object_of(h, Kind::event);
    if (event == nullptr)
        return;
    event->signalled = signalled;
    if (signalled)
        event_changed.notify_all();
}

// Finishes a transfer that completed inside the call, the way Windows reports
// one: the OVERLAPPED carries status and count, and its event is signalled.
BOOL complete_transfer(ssize_t moved, LPDWORD done, LPOVERLAPPED ov) {
    if (moved < 0)
        return fail_with(error_from_errno(errno));
    if (done != nullptr)
        *done = static_cast<DWORD>(moved);
    if (ov != nullptr) {
        ov->Internal = 0;
        ov->InternalHigh = static_cast<ULONG_PTR>(moved);
        if (ov->hEvent != nullptr)
            signal_event(ov->hEvent, true);
    }
    return TRUE;
}

int file_fd(HANDLE h) {
    HostObject* file = object_of(h, Kind::file);
    return file == nullptr ? -1 : file->fd;
}

BOOL WINAPI host_CloseHandle(HANDLE h) {
    std::lock_guard<std::mutex> lock(pool_mutex);
    HostObject* object = object_of(h, Kind::file);
    if (object == nullptr)
        object = object_of(h, Kind::event);
    if (object == nullptr)
        object = object_of(h, Kind::thread);
    if (object == nullptr)
        return fail_with(ERROR_INVALID_HANDLE);
    if (object->kind == Kind::file)
        close(object->fd);
    if (object->kind == Kind::thread && !object->signalled) {
        object->closed = true;  // the thread runs on; it frees the slot at its end
        return TRUE;
    }
    *object = HostObject{};
    return TRUE;
}

// POSIX has no access lists: a folder made with a security descriptor is
// made for its owner alone (and root), which is what the system's
// descriptors ask for; without one it gets the usual mode.
BOOL WINAPI host_CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    char name[4096];
    if (!utf8_path(path, name, sizeof name))
        return fail_with(ERROR_INVALID_PARAMETER);
    const bool owner_only = security != nullptr && security->lpSecurityDescriptor != nullptr;
    if (mkdir(name, owner_only ? 0700 : 0755) != 0)
        return fail_with(error_from_errno(errno));
    return TRUE;
}

// Opens what the path names as POSIX opens it, with the flags that stand
// for Windows' own: a symbolic link is what a reparse point is on Windows,
// so FILE_FLAG_OPEN_REPARSE_POINT opens the link itself (O_NOFOLLOW, and
// O_PATH for a handle that can only be asked what it is), and
// FILE_FLAG_BACKUP_SEMANTICS lets a folder be opened.
int open_as_windows(const char* name, DWORD access, DWORD disposition, DWORD file_flags) {
    int flags = O_CLOEXEC;
    const bool reads = (access & GENERIC_READ) != 0 || (access & GENERIC_WRITE) == 0;
    const bool writes = (access & GENERIC_WRITE) != 0;
    flags |= writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY;
    const bool no_follow = (file_flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    if (no_follow)
        flags |= O_NOFOLLOW;
    switch (disposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;  // never follows a link in the last place
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
        default:
            break;
    }
    const bool folders = (file_flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;
    if (folders && disposition == OPEN_EXISTING) {
        const int fd =
            open(name, O_CLOEXEC | O_RDONLY | O_DIRECTORY | (no_follow ? O_NOFOLLOW : 0));
        if (fd >= 0 || (errno != ENOTDIR && errno != ELOOP))
            return fd;
    }
    int fd = open(name, flags, 0644);
    if (fd < 0 && errno == ELOOP && no_follow && disposition == OPEN_EXISTING)
        fd = open(name, O_CLOEXEC | O_PATH | O_NOFOLLOW);
    return fd;
}

HANDLE WINAPI host_CreateFileW(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                               DWORD disposition, DWORD file_flags, HANDLE) {
    char name[4096];
    if (!utf8_path(path, name, sizeof name)) {
        last_error = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    const int fd = open_as_windows(name, access, disposition, file_flags);
    if (fd < 0) {
        last_error = errno == EEXIST ? ERROR_FILE_EXISTS : error_from_errno(errno);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if ((file_flags & FILE_FLAG_BACKUP_SEMANTICS) == 0 && fstat(fd, &info) == 0 &&
        S_ISDIR(info.st_mode)) {
        close(fd);
        last_error = error_from_errno(EISDIR);
        return INVALID_HANDLE_VALUE;
    }
    HostObject file;
    file.kind = Kind::file;
    file.fd = fd;
    HANDLE h = take_slot(file);
    if (h == nullptr) {
        close(fd);
        last_error = ERROR_TOO_MANY_OPEN_FILES;
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

NTSTATUS status_from_errno(int e) {
    switch (e) {
        case ENOENT:
            return STATUS_OBJECT_NAME_NOT_FOUND;
        case EEXIST:
            return STATUS_OBJECT_NAME_COLLISION;
        case EACCES:
        case EPERM:
            return STATUS_ACCESS_DENIED;
        case ENOTDIR:
            return STATUS_NOT_A_DIRECTORY;
        case EISDIR:
            return STATUS_FILE_IS_A_DIRECTORY;
        case ENOSPC:
            return STATUS_DISK_FULL;
        case EMFILE:
        case ENFILE:
            return STATUS_TOO_MANY_OPENED_FILES;
        case EINVAL:
        case ENAMETOOLONG:
            return STATUS_OBJECT_NAME_INVALID;
        default:
            return STATUS_UNSUCCESSFUL;
    }
}

// A name in a held folder, as openat takes it: the folder's descriptor (or
// the working folder without one) and the name in UTF-8.
bool at_name(const OBJECT_ATTRIBUTES* attributes, int& folder, char* name, size_t capacity) {
    folder = AT_FDCWD;
    if (attributes->RootDirectory != nullptr) {
        folder = file_fd(attributes->RootDirectory);
        if (folder < 0)
            return false;
    }
    const UNICODE_STRING* object = attributes->ObjectName;
    WCHAR units[1024];
    const size_t count = object->Length / sizeof(WCHAR);
    if (count == 0 || count >= sizeof units / sizeof units[0])
        return false;
    memcpy(units, object->Buffer, count * sizeof(WCHAR));
    units[count] = 0;
    return utf8_path(units, name, capacity);
}

// NtCreateFile as openat, mkdirat and O_NOFOLLOW give it: the name is
// looked up in the held folder alone; with FILE_OPEN_REPARSE_POINT a
// symbolic link at the name is opened itself (O_PATH), never followed;
// FILE_CREATE never opens what is there. A security descriptor makes the
// new file or folder its owner's alone.
int open_at_as_windows(int folder, const char* name, ULONG disposition, ULONG options,
                       bool owner_only, bool& created) {
    const bool no_follow = (options & FILE_OPEN_REPARSE_POINT) != 0;
    const int follow_flag = no_follow ? O_NOFOLLOW : 0;
    created = false;
    if ((options & FILE_DIRECTORY_FILE) != 0) {
        if (disposition == FILE_CREATE || disposition == FILE_OPEN_IF) {
            if (mkdirat(folder, name, owner_only ? 0700 : 0755) == 0)
                created = true;
            else if (errno != EEXIST || disposition == FILE_CREATE)
                return -1;
        }
        int fd = openat(folder, name, O_CLOEXEC | O_RDONLY | O_DIRECTORY | follow_flag);
        if (fd < 0 && no_follow && (errno == ELOOP || errno == ENOTDIR)) {
            // A link, or something that is no folder: open it as what it
            // is, so that the caller sees which.
            fd = openat(folder, name, O_CLOEXEC | O_PATH | O_NOFOLLOW);
            struct stat info;
            if (fd >= 0 && fstat(fd, &info) == 0 && !S_ISLNK(info.st_mode)) {
                close(fd);
                errno = ENOTDIR;
                return -1;
            }
        }
        return fd;
    }
    int flags = O_CLOEXEC | O_RDWR | follow_flag;
    if (disposition == FILE_CREATE)
        flags |= O_CREAT | O_EXCL;
    else if (disposition == FILE_OPEN_IF)
        flags |= O_CREAT;
    const int fd = openat(folder, name, flags, owner_only ? 0600 : 0644);
    struct stat info;
    if (fd >= 0 && (options & FILE_NON_DIRECTORY_FILE) != 0 && fstat(fd, &info) == 0 &&
        S_ISDIR(info.st_mode)) {
        close(fd);
        errno = EISDIR;
        return -1;
    }
    created = fd >= 0 && disposition == FILE_CREATE;
    return fd;
}

NTSTATUS WINAPI host_NtCreateFile(PHANDLE h, ACCESS_MASK, POBJECT_ATTRIBUTES attributes,
                                  PIO_STATUS_BLOCK status, PLARGE_INTEGER, ULONG, ULONG,
                                  ULONG disposition, ULONG options, PVOID, ULONG) {
    char name[4096];
    int folder = AT_FDCWD;
    if (!at_name(attributes, folder, name, sizeof name))
        return status->Status = STATUS_INVALID_PARAMETER;
    bool created = false;
    const bool owner_only = attributes->SecurityDescriptor != nullptr;
    const int fd = open_at_as_windows(folder, name, disposition, options, owner_only, created);
    if (fd < 0)
        return status->Status = status_from_errno(errno);
    HostObject file;
    file.kind = Kind::file;
    file.fd = fd;
    *h = take_slot(file);
    if (*h == nullptr) {
        close(fd);
        return status->Status = STATUS_TOO_MANY_OPENED_FILES;
    }
    status->Information = created ? FILE_CREATED : FILE_OPENED;
    return status->Status = STATUS_SUCCESS;
}

ULONG WINAPI host_RtlNtStatusToDosError(NTSTATUS status) {
    switch (status) {
        case STATUS_SUCCESS:
            return ERROR_SUCCESS;
        case STATUS_OBJECT_NAME_NOT_FOUND:
            return ERROR_FILE_NOT_FOUND;
        case STATUS_OBJECT_PATH_NOT_FOUND:
            return ERROR_PATH_NOT_FOUND;
        case STATUS_OBJECT_NAME_COLLISION:
            return ERROR_ALREADY_EXISTS;
        case STATUS_ACCESS_DENIED:
        case STATUS_FILE_IS_A_DIRECTORY:
            return ERROR_ACCESS_DENIED;
        case STATUS_SHARING_VIOLATION:
            return ERROR_SHARING_VIOLATION;
        case STATUS_NOT_A_DIRECTORY:
            return ERROR_DIRECTORY;
        case STATUS_DISK_FULL:
            return ERROR_DISK_FULL;
        case STATUS_TOO_MANY_OPENED_FILES:
            return ERROR_TOO_MANY_OPEN_FILES;
        case STATUS_OBJECT_NAME_INVALID:
            return ERROR_INVALID_NAME;
        case STATUS_INVALID_PARAMETER:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

// A path made whole as Windows makes it: a relative one is taken from the
// working folder; "." and ".." are resolved by name, never by looking.
// Separators stay as they were written.
DWORD WINAPI host_GetFullPathNameW(LPCWSTR path, DWORD capacity, LPWSTR buffer, LPWSTR* file_part) {
    WCHAR whole[4096];
    size_t length = 0;
    // A Windows drive path ("E:\\...") is whole already: the simulated
    // machine gives such paths meaning in host tests.
    const bool drive = path[0] != 0 && path[1] == u':';
    if (path[0] != u'/' && path[0] != u'\\' && !drive) {
        char here[2048];
        if (getcwd(here, sizeof here) == nullptr)
            return fail_with(error_from_errno(errno));
        for (size_t i = 0; here[i] != 0; ++i)
            whole[length++] = static_cast<unsigned char>(here[i]);
        whole[length++] = u'/';
    }
    for (size_t i = 0; path[i] != 0; ++i) {
        if (length + 1 >= sizeof whole / sizeof whole[0])
            return fail_with(ERROR_BAD_PATHNAME);
        whole[length++] = path[i];
    }
    // Component by component, dropping "." and going up for "..".
    size_t out = 0;
    for (size_t at = 0; at < length;) {
        size_t end = at;
        while (end < length && whole[end] != u'/' && whole[end] != u'\\')
            ++end;
        const size_t part = end - at;
        if (part == 2 && whole[at] == u'.' && whole[at + 1] == u'.') {
            while (out > 0 && whole[out - 1] != u'/' && whole[out - 1] != u'\\')
                --out;
            if (out > 1)
                --out;
        } else if (part > 0 && !(part == 1 && whole[at] == u'.')) {
            // The separator stays as it was written, as the path is shown.
            if (out > 0 && whole[out - 1] != u'/' && whole[out - 1] != u'\\')
                whole[out++] = whole[at - 1];
            else if (out == 0 && at > 0)
                whole[out++] = whole[0];
            for (size_t k = at; k < end; ++k)
                whole[out++] = whole[k];
        }
        at = end + 1;
    }
    if (out == 0)
        whole[out++] = u'/';
    if (out + 1 > capacity)
        return static_cast<DWORD>(out + 1);
    memcpy(buffer, whole, out * sizeof(WCHAR));
    buffer[out] = 0;
    if (file_part != nullptr) {
        size_t last = out;
        while (last > 0 && buffer[last - 1] != u'/' && buffer[last - 1] != u'\\')
            --last;
        *file_part = last < out ? buffer + last : nullptr;
    }
    return static_cast<DWORD>(out);
}

BOOL WINAPI host_DeleteFileW(LPCWSTR path) {
    char name[4096];
    if (!utf8_path(path, name, sizeof name))
        return fail_with(ERROR_INVALID_PARAMETER);
    if (unlink(name) != 0)
        return fail_with(error_from_errno(errno));
    return TRUE;
}

BOOL WINAPI host_DeviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                 LPOVERLAPPED) {
    return fail_with(ERROR_INVALID_FUNCTION);
}

// The host has no volumes: a search finds none.
HANDLE WINAPI host_FindFirstVolumeW(LPWSTR, DWORD) {
    last_error = ERROR_NO_MORE_FILES;
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI host_FindNextVolumeW(HANDLE, LPWSTR, DWORD) {
    return fail_with(ERROR_INVALID_HANDLE);
}

BOOL WINAPI host_FindVolumeClose(HANDLE) {
    return fail_with(ERROR_INVALID_HANDLE);
}

BOOL WINAPI host_FlushFileBuffers(HANDLE h) {
    const int fd = file_fd(h);
    if (fd < 0)
        return fail_with(ERROR_INVALID_HANDLE);
    if (fsync(fd) != 0)
        return fail_with(error_from_errno(errno));
    return TRUE;
}

BOOL WINAPI host_GetDiskFreeSpaceExW(LPCWSTR folder, PULARGE_INTEGER free_to_caller,
                                     PULARGE_INTEGER total, PULARGE_INTEGER free_total) {
    char name[4096];
    struct statvfs info;
    if (!utf8_path(folder, name, sizeof name))
        return fail_with(ERROR_INVALID_PARAMETER);
    if (statvfs(name, &info) != 0)
        return fail_with(error_from_errno(errno));
    if (free_to_caller != nullptr)
        free_to_caller->QuadPart = static_cast<ULONGLONG>(info.f_bavail) * info.f_frsize;
    if (total != nullptr)
        total->QuadPart = static_cast<ULONGLONG>(info.f_blocks) * info.f_frsize;
    if (free_total != nullptr)
        free_total->QuadPart = static_cast<ULONGLONG>(info.f_bfree) * info.f_frsize;
    return TRUE;
}

// What a file is, as Windows answers FileAttributeTagInfo: a symbolic link
// is a reparse point.
BOOL WINAPI host_GetFileInformationByHandleEx(HANDLE h, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                              DWORD size) {
    const int fd = file_fd(h);
    if (fd < 0)
        return fail_with(ERROR_INVALID_HANDLE);
    if (kind != FileAttributeTagInfo || size < sizeof(FILE_ATTRIBUTE_TAG_INFO))
        return fail_with(ERROR_INVALID_PARAMETER);
    struct stat status;
    if (fstat(fd, &status) != 0)
        return fail_with(error_from_errno(errno));
    FILE_ATTRIBUTE_TAG_INFO answer{FILE_ATTRIBUTE_NORMAL, 0};
    if (S_ISLNK(status.st_mode)) {
        answer = {FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK};
    } else if (S_ISDIR(status.st_mode)) {
        answer.FileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    }
    memcpy(info, &answer, sizeof answer);
    return TRUE;
}

BOOL WINAPI host_GetFileSizeEx(HANDLE h, PLARGE_INTEGER size) {
    const int fd = file_fd(h);
    if (fd < 0)
        return fail_with(ERROR_INVALID_HANDLE);
    struct stat info;
    if (fstat(fd, &info) != 0)
        return fail_with(error_from_errno(errno));
    size->QuadPart = info.st_size;
    return TRUE;
}

BOOL WINAPI host_GetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD done, BOOL) {
    if (file_fd(h) < 0)
        return fail_with(ERROR_INVALID_HANDLE);
    if (ov->Internal != 0)
        return fail_with(static_cast<DWORD>(ov->Internal));
    *done = static_cast<DWORD>(ov->InternalHigh);
    return TRUE;
}

DWORD WINAPI host_GetTempPathW(DWORD capacity, LPWSTR buffer) {
    const char* dir = getenv("TMPDIR");
    if (dir == nullptr || dir[0] == 0)
        dir = "/tmp";
    const size_t len = strlen(dir);
    const size_t needed = len + (dir[len - 1] == '/' ? 0 : 1);
    if (needed + 1 > capacity)
        return static_cast<DWORD>(needed + 1);
    for (size_t i = 0; i < len; ++i)
        buffer[i] = static_cast<unsigned char>(dir[i]);
    if (needed > len)
        buffer[len] = u'/';
    buffer[needed] = 0;
    return static_cast<DWORD>(needed);
}

// The host has no volumes: no path lies on one.
BOOL WINAPI host_GetVolumeNameForVolumeMountPointW(LPCWSTR, LPWSTR, DWORD) {
    return fail_with(ERROR_NOT_SUPPORTED);
}

BOOL WINAPI host_GetVolumePathNameW(LPCWSTR, LPWSTR, DWORD) {
    return fail_with(ERROR_NOT_SUPPORTED);
}

UINT WINAPI host_GetWindowsDirectoryW(LPWSTR, UINT) {
    last_error = ERROR_PATH_NOT_FOUND;
    return 0;
}

BOOL WINAPI host_ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    const int fd = file_fd(h);
    if (fd < 0)
        return fail_with(ERROR_INVALID_HANDLE);
    if (ov == nullptr)
        return complete_transfer(read(fd, buffer, count), done, nullptr);
    if (ov->hEvent != nullptr)
        signal_event(ov->hEvent, false);
    const ssize_t moved = pread(fd, buffer, count, static_cast<off_t>(overlapped_offset(ov)));
    // Windows reports a positioned read that starts at the end of a file as
    // a failure, not as zero bytes.
    if (moved == 0 && count > 0)
        return fail_with(ERROR_HANDLE_EOF);
    return complete_transfer(moved, done, ov);
}

// A second descriptor of the very file the handle holds, through the
// process's own descriptor table: no name is looked up, so the file may
// since have been renamed or unlinked.
HANDLE WINAPI host_ReOpenFile(HANDLE original, DWORD access, DWORD, DWORD) {
    const int fd = file_fd(original);
    if (fd < 0) {
        last_error = ERROR_INVALID_HANDLE;
        return INVALID_HANDLE_VALUE;
    }
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const bool writes = (access & GENERIC_WRITE) != 0;
    const int copy = open(link, (writes ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (copy < 0) {
        last_error = error_from_errno(errno);
        return INVALID_HANDLE_VALUE;
    }
    HostObject file;
    file.kind = Kind::file;
    file.fd = copy;
    HANDLE h = take_slot(file);
    if (h == nullptr) {
        close(copy);
        last_error = ERROR_TOO_MANY_OPEN_FILES;
    }
    return h == nullptr ? INVALID_HANDLE_VALUE : h;
}

// The file ends where its descriptor stands.
BOOL WINAPI host_SetEndOfFile(HANDLE h) {
    const int fd = file_fd(h);
    if (fd < 0)
        return fail_with(ERROR_INVALID_HANDLE);
    const off_t at = lseek(fd, 0, SEEK_CUR);
    if (at < 0 || ftruncate(fd, at) != 0)
        return fail_with(error_from_errno(errno));
    return TRUE;
}

BOOL WINAPI host_SetFilePointerEx(HANDLE h, LARGE_INTEGER distance, PLARGE_INTEGER position,
                                  DWORD method) {
    const int fd = file_fd(h);
    if (fd < 0)
        return fail_with(ERROR_INVALID_HANDLE);
    const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    const off_t at = lseek(fd, static_cast<off_t>(distance.QuadPart), whence);
    if (at < 0)
        return fail_with(error_from_errno(errno));
    if (position != nullptr)
        position->QuadPart = at;
    return TRUE;
}

// Only the delete disposition, of a file or an empty folder. POSIX cannot
// unlink through a descriptor:
// the name the descriptor was opened under is unlinked only while it still
// names that same file (device and inode), and at once rather than at the
// last close, which no reader through an open descriptor can tell apart.
BOOL WINAPI host_SetFileInformationByHandle(HANDLE h, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                            DWORD size) {
    const int fd = file_fd(h);
    if (fd < 0)
        return fail_with(ERROR_INVALID_HANDLE);
    if (kind != FileDispositionInfo || size < sizeof(FILE_DISPOSITION_INFO))
        return fail_with(ERROR_INVALID_PARAMETER);
    if (!static_cast<FILE_DISPOSITION_INFO*>(info)->DeleteFile)
        return TRUE;
    char link[64];
    char name[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, name, sizeof name - 1);
    if (length <= 0)
        return fail_with(ERROR_ACCESS_DENIED);
    name[length] = 0;
    struct stat held, named;
    if (fstat(fd, &held) != 0 || lstat(name, &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino) {
        return fail_with(ERROR_ACCESS_DENIED);
    }
    if ((S_ISDIR(held.st_mode) ? rmdir(name) : unlink(name)) != 0)
        return fail_with(error_from_errno(errno));
    return TRUE;
}

// All of it, or -1 with errno: a file on Windows takes a whole write or fails
// it (a full disk fails with ERROR_DISK_FULL), where POSIX may store part
// of it and report the rest on the next call.
ssize_t write_whole(int fd, const void* buffer, DWORD count, const OVERLAPPED* ov) {
    const char* bytes = static_cast<const char*>(buffer);
    DWORD written = 0;
    while (written < count) {
        const ssize_t moved = ov == nullptr
                                  ? write(fd, bytes + written, count - written)
                                  : pwrite(fd, bytes + written, count - written,
                                           static_cast<off_t>(overlapped_offset(ov) + written));
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved <= 0)
            return moved < 0 || written == 0 ? moved : written;
        written += static_cast<DWORD>(moved);
    }
    return written;
}

BOOL WINAPI host_WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    const int fd = file_fd(h);
    if (fd < 0)
        return fail_with(ERROR_INVALID_HANDLE);
    if (ov != nullptr && ov->hEvent != nullptr)
        signal_event(ov->hEvent, false);
    return complete_transfer(write_whole(fd, buffer, count, ov), done, ov);
}

HANDLE WINAPI host_CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state,
                                LPCWSTR) {
    HostObject event;
    event.kind = Kind::event;
    event.manual_reset = manual_reset != FALSE;
    event.signalled = initial_state != FALSE;
    HANDLE h = take_slot(event);
    if (h == nullptr)
        last_error = ERROR_NOT_ENOUGH_MEMORY;
    return h;
}

// The POSIX thread behind a thread handle: runs the routine, then signals
// the handle (or frees it, when it was closed meanwhile).
void* run_thread(void* slot_value) {
    const size_t slot = reinterpret_cast<uintptr_t>(slot_value);
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID param = nullptr;
    {
        std::lock_guard<std::mutex> lock(pool_mutex);
        start = pool[slot].start;
        param = pool[slot].param;
    }
    (void)start(param);
    std::lock_guard<std::mutex> lock(pool_mutex);
    if (pool[slot].closed)
        pool[slot] = HostObject{};
    else
        pool[slot].signalled = true;
    event_changed.notify_all();
    return nullptr;
}

// Only what the program asks of a thread: no attributes, the default stack,
// started at once.
HANDLE WINAPI host_CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start,
                                LPVOID param, DWORD, LPDWORD thread_id) {
    HostObject thread;
    thread.kind = Kind::thread;
    thread.manual_reset = true;  // a wait does not take its end away
    thread.start = start;
    thread.param = param;
    HANDLE h = take_slot(thread);
    if (h == nullptr) {
        last_error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    const uintptr_t slot = (reinterpret_cast<uintptr_t>(h) - HOST_HANDLE_BASE) / 4;
    pthread_attr_t attributes;
    pthread_t id;
    int made = pthread_attr_init(&attributes);
    if (made == 0) {
        (void)pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        made = pthread_create(&id, &attributes, run_thread, reinterpret_cast<void*>(slot));
        (void)pthread_attr_destroy(&attributes);
    }
    if (made != 0) {
        std::lock_guard<std::mutex> lock(pool_mutex);
        pool[slot] = HostObject{};
        last_error = error_from_errno(made);
        return nullptr;
    }
    if (thread_id != nullptr)
        *thread_id = static_cast<DWORD>(slot);
    return h;
}

HANDLE WINAPI host_GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(intptr_t{-1});
}

DWORD WINAPI host_GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

DWORD WINAPI host_GetLastError() {
    return last_error;
}

uint64_t monotonic_ns() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

ULONGLONG WINAPI host_GetTickCount64() {
    return monotonic_ns() / 1000000u;
}

// The OEM code page of a US or Western European Windows, 437: bytes from
// 0x80 up, as Unicode.
const WCHAR OEM_437_HIGH[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Only the OEM code page, which FAT short names are written in.
int WINAPI host_MultiByteToWideChar(UINT code_page, DWORD, LPCCH bytes, int byte_count,
                                    LPWSTR units, int capacity) {
    if (code_page != CP_OEMCP || byte_count < 0 || (capacity != 0 && capacity < byte_count)) {
        last_error = capacity != 0 && capacity < byte_count ? ERROR_INSUFFICIENT_BUFFER
                                                            : ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (capacity == 0)
        return byte_count;
    for (int i = 0; i < byte_count; ++i) {
        const uint8_t b = static_cast<uint8_t>(bytes[i]);
        units[i] = b < 0x80 ? b : OEM_437_HIGH[b - 0x80];
    }
    return byte_count;
}

BOOL WINAPI host_QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = static_cast<LONGLONG>(monotonic_ns());
    return TRUE;
}

BOOL WINAPI host_QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 1000000000;
    return TRUE;
}

BOOL WINAPI host_ResetEvent(HANDLE h) {
    std::lock_guard<std::mutex> lock(pool_mutex);
    HostObject* event = object_of(h, Kind::event);
    if (event == nullptr)
        return fail_with(ERROR_INVALID_HANDLE);
    event->signalled = false;
    return TRUE;
}

BOOL WINAPI host_SetEvent(HANDLE h) {
    std::lock_guard<std::mutex> lock(pool_mutex);
    HostObject* event = object_of(h, Kind::event);
    if (event == nullptr)
        return fail_with(ERROR_INVALID_HANDLE);
    event->signalled = true;
    event_changed.notify_all();
    return TRUE;
}

void WINAPI host_SetLastError(DWORD code) {
    last_error = code;
}

// POSIX shows no system dialogs; the mode is only kept, per thread, as
// Windows keeps it.
thread_local DWORD thread_error_mode = 0;

BOOL WINAPI host_SetThreadErrorMode(DWORD mode, LPDWORD previous) {
    if (previous != nullptr) *previous = thread_error_mode;
    thread_error_mode = mode;
    return TRUE;
}

// Nothing here puts the host to sleep; the state is only kept, per thread,
// and the previous one returned, as Windows does.
thread_local EXECUTION_STATE thread_execution_state = ES_CONTINUOUS;

EXECUTION_STATE WINAPI host_SetThreadExecutionState(EXECUTION_STATE flags) {
    const EXECUTION_STATE previous = thread_execution_state;
    if ((flags & ES_CONTINUOUS) != 0)
        thread_execution_state = flags;
    return previous;
}

void WINAPI host_Sleep(DWORD ms) {
    timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

DWORD WINAPI host_WaitForSingleObject(HANDLE h, DWORD timeout_ms) {
    std::unique_lock<std::mutex> lock(pool_mutex);
    HostObject* event = object_of(h, Kind::event);
    if (event == nullptr)
        event = object_of(h, Kind::thread);  // signalled for good once it ended
    if (event == nullptr) {
        last_error = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    auto ready = [&] { return event->signalled; };
    if (timeout_ms == INFINITE) {
        event_changed.wait(lock, ready);
    } else if (!event_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
        return WAIT_TIMEOUT;
    }
    if (!event->manual_reset)
        event->signalled = false;
    return WAIT_OBJECT_0;
}

// A console's Ctrl+C is SIGINT here. Only one routine is kept, which is
// all the stick tool installs; it runs in the signal's context, where the
// tool's routine only sets an atomic flag.
PHANDLER_ROUTINE console_routine = nullptr;

void on_interrupt(int) {
    const PHANDLER_ROUTINE routine = console_routine;
    if (routine != nullptr)
        (void)routine(CTRL_C_EVENT);
}

BOOL WINAPI host_SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
    if (routine == nullptr)
        return fail_with(ERROR_INVALID_PARAMETER);
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = add ? on_interrupt : SIG_DFL;
    console_routine = add ? routine : nullptr;
    if (sigaction(SIGINT, &action, nullptr) != 0)
        return fail_with(error_from_errno(errno));
    return TRUE;
}

BOOL WINAPI host_GetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD) {
    return fail_with(ERROR_INVALID_HANDLE);
}

// A system message: the C library's words for the error a code stands for
// (strerror_r), as UTF-16; 0 with ERROR_MR_MID_NOT_FOUND for a code that
// stands for none, as Windows answers for a number it has no text for.
DWORD WINAPI host_FormatMessageW(DWORD flags, LPCVOID, DWORD id, DWORD, LPWSTR buffer,
                                 DWORD capacity, va_list*) {
    const int e = (flags & FORMAT_MESSAGE_FROM_SYSTEM) != 0 ? errno_of_code(id) : 0;
    if (e == 0 || buffer == nullptr) {
        last_error = ERROR_MR_MID_NOT_FOUND;
        return 0;
    }
    static thread_local char words[256];
    const char* text = strerror_r(e, words, sizeof words);
    DWORD n = 0;
    for (; text[n] != 0; ++n) {
        // The C library's messages are ASCII in the C and UTF-8 locales.
        if (n + 1 >= capacity) {
            last_error = ERROR_INSUFFICIENT_BUFFER;
            return 0;
        }
        buffer[n] = static_cast<unsigned char>(text[n]);
    }
    buffer[n] = 0;
    return n;
}

// What tells one file from another: the device and inode stand for the
// volume serial number and the file index.
BOOL WINAPI host_GetFileInformationByHandle(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
    const int fd = file_fd(h);
    if (fd < 0)
        return fail_with(ERROR_INVALID_HANDLE);
    struct stat status;
    if (fstat(fd, &status) != 0)
        return fail_with(error_from_errno(errno));
    *info = BY_HANDLE_FILE_INFORMATION{};
    info->dwFileAttributes =
        S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    const uint64_t device = status.st_dev;
    const uint64_t index = status.st_ino;
    const uint64_t size = static_cast<uint64_t>(status.st_size);
    info->dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    info->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    info->nFileSizeLow = static_cast<DWORD>(size);
    info->nNumberOfLinks = static_cast<DWORD>(status.st_nlink);
    info->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    info->nFileIndexLow = static_cast<DWORD>(index);
    return TRUE;
}

// The host has no Windows token: a process here is never elevated unless a
// test's simulated machine says so.
BOOL WINAPI host_OpenProcessToken(HANDLE, DWORD, PHANDLE) {
    return fail_with(ERROR_NOT_SUPPORTED);
}

}  // namespace

const CallTable& default_calls() {
    static const CallTable table = {
#define SYS_CALL(ret, name, fail_value, params, args) host_##name,
#define SYS_PLAIN(ret, name, params, args) host_##name,
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
    };
    return table;
}

}  // namespace sys
