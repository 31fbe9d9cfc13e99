#include "cli/file_checks.h"

#include "sys/sys.h"

namespace cli {
namespace {

// Opened with no access rights, so that any sharing lets it, and with
// FILE_FLAG_BACKUP_SEMANTICS, without which Windows opens no folder.
bool identify(engine::WideText path, BY_HANDLE_FILE_INFORMATION& info) {
    if (path.is_none())
        return false;
    const HANDLE file =
        sys::CreateFileW(path.data, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = sys::GetFileInformationByHandle(file, &info) != FALSE;
    (void)sys::CloseHandle(file);
    return known;
}

}  // namespace

bool is_folder(engine::WideText path) {
    BY_HANDLE_FILE_INFORMATION info{};
    return identify(path, info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool same_file(engine::WideText first, engine::WideText second) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    if (!identify(first, a) || !identify(second, b))
        return false;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace cli
