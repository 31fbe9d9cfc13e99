#include "run/held_folder.h"

#include "run/path_text.h"

namespace run {
namespace {

WCHAR whole_path[HELD_PATH_CAPACITY];
WCHAR root_path[HELD_PATH_CAPACITY];

// What each held level is opened for: going through, and being asked what
// it is; the last one also for adding files and folders.
constexpr ACCESS_MASK LEVEL_ACCESS = SYNCHRONIZE | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr ACCESS_MASK FOLDER_ACCESS =
    LEVEL_ACCESS | FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
// No FILE_SHARE_DELETE: while a level is held, nobody can rename it, delete
// it or put a link in its place.
constexpr ULONG LEVEL_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool is_separator(WCHAR unit) {
    return unit == '\\' || unit == '/';
}

WCHAR upper(WCHAR unit) {
    return unit >= 'a' && unit <= 'z' ? static_cast<WCHAR>(unit - 32) : unit;
}

// The end of the path component that starts at `at`.
uint64_t component_end(WideText path, uint64_t at) {
    while (at < path.length && !is_separator(path.data[at]))
        ++at;
    return at;
}

bool starts_with(WideText path, const char* start) {
    uint64_t i = 0;
    for (; start[i] != 0; ++i) {
        if (i == path.length)
            return false;
        const WCHAR unit = path.data[i];
        const WCHAR want = static_cast<WCHAR>(start[i]);
        if (upper(unit) != want && !(is_separator(unit) && is_separator(want)))
            return false;
    }
    return true;
}

bool is_drive(WideText path, uint64_t at) {
    return path.length >= at + 2 && path.data[at + 1] == ':';
}

bool same_name(const WCHAR* name, uint64_t length, const char* reserved) {
    uint64_t i = 0;
    for (; i < length && reserved[i] != 0; ++i) {
        if (upper(name[i]) != static_cast<WCHAR>(reserved[i]))
            return false;
    }
    return i == length && reserved[i] == 0;
}

// NUL, CON, COM1, LPT1 and the like, which Windows takes for a device in
// whatever folder they are named, with any extension and trailing spaces.
bool is_reserved_name(const WCHAR* name, uint64_t length) {
    uint64_t base = 0;
    while (base < length && name[base] != '.')
        ++base;
    while (base > 0 && name[base - 1] == ' ')
        --base;
    static const char* const RESERVED[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* reserved : RESERVED) {
        if (same_name(name, base, reserved))
            return true;
    }
    if (base != 4 || name[3] < '0' || name[3] > '9')
        return false;
    return same_name(name, 3, "COM") || same_name(name, 3, "LPT");
}

Result refuse(WideText level, const FolderWalk& walk) {
    return fail(path_text(level), " is a junction or link, or not a folder: ", walk.refusal);
}

Result cannot_open(WideText level, const FolderWalk& walk, DWORD code) {
    return fail(
        walk.missing == MissingLevels::Make ? "cannot make the folder " : "cannot open the folder ",
        path_text(level), " (Windows error ", code, ")");
}

// Keeps a level just opened when it is a folder and no link.
Result keep_level(HeldFolder& held, HANDLE level_handle, WideText level, const FolderWalk& walk) {
    FILE_ATTRIBUTE_TAG_INFO info{};
    Result result = Result::Success;
    if (!sys::GetFileInformationByHandleEx(level_handle, FileAttributeTagInfo, &info,
                                           sizeof info)) {
        result = cannot_open(level, walk, sys::GetLastError());
    } else if (is_link(info) || (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        result = refuse(level, walk);
    }
    if (result != Result::Success) {
        (void)sys::CloseHandle(level_handle);
        return Result::Failed;
    }
    held.levels[held.count++] = level_handle;
    return Result::Success;
}

// The root of a whole path: a drive's, a share's, or "/" on the host.
Result hold_root(WideText whole, uint64_t root_end, bool is_last, const FolderWalk& walk,
                 HeldFolder& held) {
    for (uint64_t i = 0; i < root_end; ++i)
        root_path[i] = whole.data[i];
    uint64_t length = root_end;
    // No drive or share: the path starts at the root of its own volume
    // ("\\", or "/" on the host), written as the path writes it.
    if (length == 0)
        root_path[length++] =
            whole.length > 0 && is_separator(whole.data[0]) ? whole.data[0] : '\\';
    else if (!is_separator(root_path[length - 1]))
        root_path[length++] = '\\';
    root_path[length] = 0;
    const WideText root{root_path, length};
    const HANDLE h = sys::CreateFileW(root_path, is_last ? FOLDER_ACCESS : LEVEL_ACCESS,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return fail("cannot open the folder ", path_text(root), " (Windows error ",
                    sys::GetLastError(), ")");
    }
    return keep_level(held, h, root, walk);
}

Result open_level(HeldFolder& held, WideText level, const WCHAR* name, uint64_t name_length,
                  bool is_last, const FolderWalk& walk) {
    if (held.count == HELD_LEVEL_CAPACITY || name_length > 32767)
        return fail("a path is too long");
    if (is_reserved_name(name, name_length))
        return refuse(level, walk);
    const USHORT bytes = static_cast<USHORT>(name_length * sizeof(WCHAR));
    UNICODE_STRING object{bytes, bytes, const_cast<WCHAR*>(name)};
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = held.folder();
    attributes.ObjectName = &object;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    if (walk.missing == MissingLevels::Make && walk.made_with != nullptr)
        attributes.SecurityDescriptor = walk.made_with->lpSecurityDescriptor;
    IO_STATUS_BLOCK status{};
    HANDLE h = nullptr;
    const NTSTATUS opened = sys::NtCreateFile(
        &h, is_last ? FOLDER_ACCESS : LEVEL_ACCESS, &attributes, &status, nullptr,
        FILE_ATTRIBUTE_NORMAL, LEVEL_SHARING,
        walk.missing == MissingLevels::Make ? FILE_OPEN_IF : FILE_OPEN,
        FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (!NT_SUCCESS(opened)) {
        if (opened == STATUS_NOT_A_DIRECTORY)
            return refuse(level, walk);
        return cannot_open(level, walk, sys::RtlNtStatusToDosError(opened));
    }
    return keep_level(held, h, level, walk);
}

Result walk_levels(WideText whole, uint64_t root_end, const FolderWalk& walk, HeldFolder& held) {
    uint64_t at = root_end;
    while (at < whole.length && is_separator(whole.data[at]))
        ++at;
    if (hold_root(whole, root_end, at >= whole.length, walk, held) != Result::Success)
        return Result::Failed;
    while (at < whole.length) {
        const uint64_t end = component_end(whole, at);
        uint64_t next = end;
        while (next < whole.length && is_separator(whole.data[next]))
            ++next;
        if (open_level(held, {whole.data, end}, whole.data + at, end - at, next >= whole.length,
                       walk) != Result::Success) {
            return Result::Failed;
        }
        at = next;
    }
    return Result::Success;
}

}  // namespace

bool is_name_surrogate(DWORD tag) {
    return IsReparseTagNameSurrogate(tag);
}

bool is_link(const FILE_ATTRIBUTE_TAG_INFO& info) {
    return (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           is_name_surrogate(info.ReparseTag);
}

uint64_t path_root_length(WideText path) {
    uint64_t at = 0;
    if (starts_with(path, "\\\\?\\") || starts_with(path, "\\\\.\\")) {
        at = 4;
        if (!starts_with(WideText{path.data + at, path.length - at}, "UNC\\"))
            return is_drive(path, at) ? at + 2 : component_end(path, at);
        at += 4;
    } else if (starts_with(path, "\\\\")) {
        at = 2;
    } else {
        return is_drive(path, 0) ? 2 : 0;
    }
    // \\server\share, the share being the first folder there is.
    const uint64_t server_end = component_end(path, at);
    return server_end < path.length ? component_end(path, server_end + 1) : server_end;
}

bool names_a_device(WideText path) {
    if (starts_with(path, "\\\\.\\") || starts_with(path, "\\\\?\\GLOBALROOT"))
        return true;
    for (uint64_t at = 0; at < path.length;) {
        const uint64_t end = component_end(path, at);
        if (is_reserved_name(path.data + at, end - at))
            return true;
        at = end + 1;
    }
    return false;
}

Result hold_folder(WideText path, const FolderWalk& walk, HeldFolder& held) {
    held.count = 0;
    if (names_a_device(path)) {
        return fail(path_text(path), " names a device, not a folder on a file system");
    }
    const DWORD length = sys::GetFullPathNameW(path.data, HELD_PATH_CAPACITY, whole_path, nullptr);
    if (length == 0) {
        return fail("cannot open the folder ", path_text(path), " (Windows error ",
                    sys::GetLastError(), ")");
    }
    if (length >= HELD_PATH_CAPACITY)
        return fail("a path is too long");
    const WideText whole{whole_path, length};
    const Result result = walk_levels(whole, path_root_length(whole), walk, held);
    if (result != Result::Success)
        let_go(held);
    return result;
}

Result hold_subfolder(HeldFolder& held, WideText path, const WCHAR* name, uint32_t name_length,
                      const FolderWalk& walk) {
    // The level above is no longer the last: what the new one is opened for
    // is what matters.
    return open_level(held, path, name, name_length, true, walk);
}

HANDLE create_new_file(const HeldFolder& held, const WCHAR* name, uint32_t name_length,
                       ACCESS_MASK access, LPSECURITY_ATTRIBUTES security, DWORD& error) {
    error = ERROR_SUCCESS;
    if (is_reserved_name(name, name_length) || name_length > 32767) {
        error = ERROR_INVALID_NAME;
        return INVALID_HANDLE_VALUE;
    }
    const USHORT bytes = static_cast<USHORT>(name_length * sizeof(WCHAR));
    UNICODE_STRING object{bytes, bytes, const_cast<WCHAR*>(name)};
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = held.folder();
    attributes.ObjectName = &object;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    attributes.SecurityDescriptor = security != nullptr ? security->lpSecurityDescriptor : nullptr;
    IO_STATUS_BLOCK status{};
    HANDLE file = nullptr;
    // FILE_CREATE opens nothing that is there: a link at the name fails as
    // any other taken name does.
    const NTSTATUS made = sys::NtCreateFile(
        &file, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, 0,
        FILE_CREATE,
        FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr,
        0);
    if (!NT_SUCCESS(made)) {
        error = sys::RtlNtStatusToDosError(made);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

void let_go(HeldFolder& held) {
    while (held.count > 0)
        (void)sys::CloseHandle(held.levels[--held.count]);
}

}  // namespace run
