#include "app/window/dot_local.h"

#include "discovery/stick_list.h"
#include "sys/sys.h"

namespace app {
namespace {

constexpr DWORD PATH_UNITS = 4096;
constexpr WCHAR SUFFIX[] = U16(".local");
constexpr DWORD SUFFIX_UNITS = sizeof SUFFIX / sizeof SUFFIX[0] - 1;

}  // namespace

bool dot_local_beside_program() {
    static WCHAR path[PATH_UNITS + SUFFIX_UNITS];
    const DWORD length = sys::GetModuleFileNameW(nullptr, path, PATH_UNITS);
    if (length == 0 || length >= PATH_UNITS)
        return true;
    for (DWORD i = 0; i <= SUFFIX_UNITS; ++i)
        path[length + i] = SUFFIX[i];
    // The name itself, whatever it is: a junction or link there counts.
    const HANDLE h = sys::CreateFileW(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        (void)sys::CloseHandle(h);
        return true;
    }
    const DWORD code = sys::GetLastError();
    return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND;
}

bool may_start_here() {
    return !(discovery::query_is_elevated() && dot_local_beside_program());
}

}  // namespace app
