#include "app/self_update/update_leftovers.h"

#include "app/self_update/update_paths.h"

namespace app {
namespace {

constexpr WCHAR SEARCH_SUFFIX[] = U16(".tundra-*");
constexpr size_t MAX_PROCESS_ID_DIGITS = 8;
constexpr size_t MAX_TICK_DIGITS = 16;

struct LeftoverBuffers {
    WidePath pattern;
    WidePath found;
    WIN32_FIND_DATAW entry;
};
LeftoverBuffers buffers;

WCHAR ascii_lower(WCHAR unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<WCHAR>(unit - u'A' + u'a') : unit;
}

// Advances past `prefix` when `text` starts with it.
bool skip_prefix(const WCHAR*& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i] != 0; ++i) {
        if (text[i] != static_cast<WCHAR>(prefix[i]))
            return false;
    }
    text += i;
    return true;
}

// Advances past 1 to `most` lower-case hexadecimal digits.
bool skip_hex(const WCHAR*& text, size_t most) {
    size_t count = 0;
    while (count < most && ((text[count] >= u'0' && text[count] <= u'9') ||
                            (text[count] >= u'a' && text[count] <= u'f'))) {
        ++count;
    }
    text += count;
    return count > 0;
}

// The executable's name: what follows the last separator of its path.
size_t name_start(const WidePath& exe_path) {
    size_t start = 0;
    for (size_t i = 0; i < exe_path.length; ++i) {
        if (exe_path.units[i] == u'\\' || exe_path.units[i] == u'/')
            start = i + 1;
    }
    return start;
}

bool append(WidePath& path, const WCHAR* units) {
    for (size_t i = 0; units[i] != 0; ++i) {
        if (path.length + 1 >= WIDE_PATH_UNITS)
            return false;
        path.units[path.length++] = units[i];
    }
    path.units[path.length] = 0;
    return true;
}

bool copy_prefix(WidePath& path, const WidePath& from, size_t units) {
    path.length = units;
    for (size_t i = 0; i < units; ++i)
        path.units[i] = from.units[i];
    path.units[units] = 0;
    return true;
}

// The handle, not the name, decides: the name may have been swapped for a
// link or another file since the folder was listed.
bool may_delete(HANDLE file, const FileIdentity& exe_identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!sys::GetFileInformationByHandle(file, &info))
        return false;
    constexpr DWORD NOT_A_PLAIN_FILE = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const bool running_build = info.nFileIndexHigh == exe_identity.nFileIndexHigh &&
                               info.nFileIndexLow == exe_identity.nFileIndexLow;
    return (info.dwFileAttributes & NOT_A_PLAIN_FILE) == 0 && info.nNumberOfLinks == 1 &&
           info.dwVolumeSerialNumber == exe_identity.dwVolumeSerialNumber && !running_build;
}

void delete_leftover(LPCWSTR path, const FileIdentity& exe_identity) {
    constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = sys::CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    if (may_delete(file, exe_identity)) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        (void)sys::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                              sizeof disposition);
    }
    (void)sys::CloseHandle(file);
}

}  // namespace

bool is_update_leftover_name(const WCHAR* name, const WCHAR* exe_name) {
    size_t i = 0;
    for (; exe_name[i] != 0; ++i) {
        if (ascii_lower(name[i]) != ascii_lower(exe_name[i]))
            return false;
    }
    const WCHAR* rest = name + i;
    if (!skip_prefix(rest, PREVIOUS_FILE_MARK) && !skip_prefix(rest, NEW_FILE_MARK))
        return false;
    return skip_hex(rest, MAX_PROCESS_ID_DIGITS) && skip_prefix(rest, "-") &&
           skip_hex(rest, MAX_TICK_DIGITS) && *rest == 0;
}

void remove_update_leftovers(const WidePath& exe_path, const FileIdentity& exe_identity) {
    const size_t folder_units = name_start(exe_path);
    const WCHAR* exe_name = exe_path.units + folder_units;
    copy_prefix(buffers.pattern, exe_path, exe_path.length);
    if (!exe_identity.valid || *exe_name == 0 || !append(buffers.pattern, SEARCH_SUFFIX))
        return;
    HANDLE search = sys::FindFirstFileExW(buffers.pattern.units, FindExInfoBasic, &buffers.entry,
                                          FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        constexpr DWORD NOT_A_PLAIN_FILE = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if ((buffers.entry.dwFileAttributes & NOT_A_PLAIN_FILE) != 0 ||
            !is_update_leftover_name(buffers.entry.cFileName, exe_name)) {
            continue;
        }
        copy_prefix(buffers.found, exe_path, folder_units);
        if (append(buffers.found, buffers.entry.cFileName))
            delete_leftover(buffers.found.units, exe_identity);
    } while (sys::FindNextFileW(search, &buffers.entry));
    (void)sys::FindClose(search);
}

}  // namespace app
