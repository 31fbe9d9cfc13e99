#include "engine/logs/log_paths.h"

#include "engine/run_names.h"

namespace engine {
namespace {

WCHAR joined_path[LOG_PATH_CAPACITY];
WCHAR folder_prefix[LOG_PATH_CAPACITY];

bool is_separator(WCHAR unit) {
    return unit == '\\' || unit == '/';
}

Result cannot_make(WideText path, DWORD code) {
    return engine::fail("cannot make the folder ", engine::path_text(path), " (Windows error ",
                        code, ")");
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
        if (unit != want && !(is_separator(unit) && is_separator(want)) &&
            !(want >= 'A' && want <= 'Z' && unit == want + 32)) {
            return false;
        }
    }
    return true;
}

bool is_drive(WideText path, uint64_t at) {
    return path.length >= at + 2 && path.data[at + 1] == ':';
}

// What a path names, opened without following a link at its end.
enum class Found : uint8_t { Nothing, Folder, Link, Other };

Found what_is(LPCWSTR path, DWORD& code) {
    const HANDLE h = sys::CreateFileW(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        code = sys::GetLastError();
        return Found::Nothing;
    }
    FILE_ATTRIBUTE_TAG_INFO info{};
    Found found = Found::Other;
    if (!sys::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info)) {
        code = sys::GetLastError();
        found = Found::Nothing;
    } else if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        found = Found::Link;
    } else if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        found = Found::Folder;
    }
    (void)sys::CloseHandle(h);
    return found;
}

}  // namespace

Result path_join(WideText folder, const WCHAR* name, uint32_t name_length, WideText& joined) {
    if (folder.length > LOG_PATH_CAPACITY || name_length + 2 > LOG_PATH_CAPACITY - folder.length) {
        return engine::fail("a path is too long");
    }
    uint64_t length = 0;
    for (; length < folder.length; ++length)
        joined_path[length] = folder.data[length];
    if (length > 0 && !is_separator(joined_path[length - 1]))
        joined_path[length++] = '\\';
    for (uint32_t i = 0; i < name_length; ++i)
        joined_path[length++] = name[i];
    joined_path[length] = 0;
    joined = {joined_path, length};
    return Result::Success;
}

Result path_join(WideText folder, const char* ascii_name, uint32_t name_length, WideText& joined) {
    WCHAR name[16];
    if (name_length > sizeof name / sizeof name[0])
        return engine::fail("a path is too long");
    for (uint32_t i = 0; i < name_length; ++i)
        name[i] = static_cast<WCHAR>(static_cast<uint8_t>(ascii_name[i]));
    return path_join(folder, name, name_length, joined);
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

Result make_folder(WideText path, LPSECURITY_ATTRIBUTES security) {
    if (path.length >= LOG_PATH_CAPACITY)
        return engine::fail("a path is too long");
    const uint64_t root = path_root_length(path);
    for (uint64_t i = root + 1; i <= path.length; ++i) {
        if (i < path.length && !is_separator(path.data[i]))
            continue;
        for (uint64_t k = 0; k < i; ++k)
            folder_prefix[k] = path.data[k];
        folder_prefix[i] = 0;
        const bool made = sys::CreateDirectoryW(folder_prefix, security) != FALSE;
        const DWORD create_code = made ? ERROR_SUCCESS : sys::GetLastError();
        // Every level, found or just made, is looked at without following a
        // link: another user may have put a junction in the way (or swapped
        // one in for a level just made in a folder of theirs), and what is
        // made below it would land wherever it points. A level that cannot
        // be looked at is not gone through either: nothing says it is no link.
        DWORD code = create_code;
        const Found found = what_is(folder_prefix, code);
        if (found == Found::Link) {
            return engine::fail(engine::path_text({folder_prefix, i}),
                                " is a junction or link, or not a folder: no logs are written "
                                "through it");
        }
        if (found == Found::Folder)
            continue;
        // A plain file leads nowhere: nothing can be made below it, and the
        // logs folder itself is opened as a folder only.
        if (found == Found::Other && create_code == ERROR_ALREADY_EXISTS)
            continue;
        const bool is_there = made || create_code == ERROR_ALREADY_EXISTS;
        return cannot_make(path, found == Found::Nothing && is_there ? code : create_code);
    }
    return Result::Success;
}

Result open_log_folder(WideText path, HANDLE& folder) {
    // No FILE_SHARE_DELETE: while this handle is open the folder cannot be
    // renamed or deleted, so no link can take its place.
    folder = sys::CreateFileW(path.data,
                              FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY |
                                  FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return engine::fail("cannot open the folder ", engine::path_text(path), " (Windows error ",
                            sys::GetLastError(), ")");
    }
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!sys::GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &info, sizeof info)) {
        const DWORD code = sys::GetLastError();
        (void)sys::CloseHandle(folder);
        folder = INVALID_HANDLE_VALUE;
        return engine::fail("cannot open the folder ", engine::path_text(path), " (Windows error ",
                            code, ")");
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        (void)sys::CloseHandle(folder);
        folder = INVALID_HANDLE_VALUE;
        return engine::fail(engine::path_text(path),
                            " is a junction or link, or not a folder: no logs are written "
                            "through it");
    }
    return Result::Success;
}

}  // namespace engine
