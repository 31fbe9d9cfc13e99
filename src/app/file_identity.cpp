#include "app/file_identity.h"

namespace app {

FileIdentity read_file_identity(LPCWSTR path) {
    constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = sys::CreateFileW(path, 0, SHARE_ALL, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool queried = sys::GetFileInformationByHandle(file, &info) != FALSE;
    (void)sys::CloseHandle(file);
    if (!queried)
        return {};
    FileIdentity identity;
    identity.dwFileAttributes = info.dwFileAttributes;
    identity.ftCreationTime = info.ftCreationTime;
    identity.ftLastAccessTime = info.ftLastAccessTime;
    identity.ftLastWriteTime = info.ftLastWriteTime;
    identity.dwVolumeSerialNumber = info.dwVolumeSerialNumber;
    identity.nFileSizeHigh = info.nFileSizeHigh;
    identity.nFileSizeLow = info.nFileSizeLow;
    identity.nNumberOfLinks = info.nNumberOfLinks;
    identity.nFileIndexHigh = info.nFileIndexHigh;
    identity.nFileIndexLow = info.nFileIndexLow;
    identity.valid = true;
    return identity;
}

bool is_same_file(const FileIdentity& a, const FileIdentity& b) {
    return a.valid && b.valid && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow &&
           a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           a.ftLastWriteTime.dwLowDateTime == b.ftLastWriteTime.dwLowDateTime &&
           a.ftLastWriteTime.dwHighDateTime == b.ftLastWriteTime.dwHighDateTime;
}

void delete_posix(LPCWSTR path) {
    constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = sys::CreateFileW(path, DELETE, SHARE_ALL, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    FILE_DISPOSITION_INFO_EX disposition{};
    disposition.Flags = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS;
    (void)sys::SetFileInformationByHandle(file, FileDispositionInfoEx, &disposition,
                                          sizeof disposition);
    (void)sys::CloseHandle(file);
}

}  // namespace app
