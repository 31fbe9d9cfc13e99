// What tells one file from another at the same path: the file information
// that Windows keeps for an open handle. The update takes it from the
// running executable at start-up and again just before it swaps the files,
// so that it never moves aside a file that is not the one that is running.
#pragma once

#include "sys/sys.h"

namespace app {

// The ten fields of BY_HANDLE_FILE_INFORMATION, in their order; all zero
// and not valid when the file could not be opened or queried.
struct FileIdentity {
    DWORD dwFileAttributes = 0;
    FILETIME ftCreationTime = {};
    FILETIME ftLastAccessTime = {};
    FILETIME ftLastWriteTime = {};
    DWORD dwVolumeSerialNumber = 0;
    DWORD nFileSizeHigh = 0;
    DWORD nFileSizeLow = 0;
    DWORD nNumberOfLinks = 0;
    DWORD nFileIndexHigh = 0;
    DWORD nFileIndexLow = 0;
    bool valid = false;
};

// Opens the path with no access rights (so any sharing lets it), queries
// it and closes it.
FileIdentity read_file_identity(LPCWSTR path);

// The same file with the same contents as far as Windows tells: volume,
// index, size and last write time agree. Attributes, links and the access
// time may change under a running program and are not compared.
bool is_same_file(const FileIdentity& a, const FileIdentity& b);

// Asks Windows to delete the file at once with POSIX semantics, even while
// a process still runs from it. Every result is ignored: where the system
// refuses, the file stays.
void delete_posix(LPCWSTR path);

}  // namespace app
