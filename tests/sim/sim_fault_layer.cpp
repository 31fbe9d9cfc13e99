// The seam's table while a machine lives: the fault layer in front of every
// call, and the simulated calls in front of the binding's.
#include "sim/sim_state.h"

namespace sim {
namespace detail {

// ---- fault layer: every failable call checks the rules first --------------

sys::CallTable layer;  // what the fault layer calls: the sim's call or the binding's
std::recursive_mutex calls_turn;
// The calls that touch the machine's records run in their turn; the
// binding's own calls need no turn beyond the count of their use.
bool in_turn[CALL_COUNT];

#define SYS_CALL(ret, name, fail_value, params, args)            \
    ret WINAPI fault_##name params {                             \
        std::unique_lock<std::recursive_mutex> turn(calls_turn); \
        DWORD error = 0;                                         \
        if (should_fail(CALL_##name, 0, error)) {                \
            next.SetLastError(error);                            \
            return fail_value;                                   \
        }                                                        \
        if (!in_turn[CALL_##name])                               \
            turn.unlock();                                       \
        return layer.name args;                                  \
    }
#define SYS_PLAIN(ret, name, params, args)                       \
    ret WINAPI fault_##name params {                             \
        std::unique_lock<std::recursive_mutex> turn(calls_turn); \
        ++records.uses[CALL_##name];                             \
        if (!in_turn[CALL_##name])                               \
            turn.unlock();                                       \
        return layer.name args;                                  \
    }
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN

// DeviceIoControl faults can be limited to one control code.
BOOL WINAPI fault_DeviceIoControl_by_code(HANDLE h, DWORD code, LPVOID in, DWORD in_size,
                                          LPVOID out, DWORD out_size, LPDWORD returned,
                                          LPOVERLAPPED ov) {
    std::lock_guard<std::recursive_mutex> turn(calls_turn);
    DWORD error = 0;
    if (should_fail(CALL_DeviceIoControl, code, error))
        return fail_with(error);
    return layer.DeviceIoControl(h, code, in, in_size, out, out_size, returned, ov);
}

// A handle whose close "fails" is gone all the same: Windows gives no way to
// retry, so the record goes too and only the result says it failed.
BOOL WINAPI fault_CloseHandle_after_close(HANDLE h) {
    std::lock_guard<std::recursive_mutex> turn(calls_turn);
    DWORD error = 0;
    const bool fails = should_fail(CALL_CloseHandle, 0, error);
    const BOOL closed = layer.CloseHandle(h);
    if (fails)
        return fail_with(error);
    return closed;
}

BOOL WINAPI fault_FindVolumeClose_after_close(HANDLE search) {
    std::lock_guard<std::recursive_mutex> turn(calls_turn);
    DWORD error = 0;
    const bool fails = should_fail(CALL_FindVolumeClose, 0, error);
    const BOOL closed = layer.FindVolumeClose(search);
    if (fails)
        return fail_with(error);
    return closed;
}

void install() {
    next = sys::default_calls();
    layer = next;
    layer.CreateFileW = sim_CreateFileW;
    layer.CloseHandle = sim_CloseHandle;
    layer.DeleteFileW = sim_DeleteFileW;
    layer.ReOpenFile = sim_ReOpenFile;
    layer.GetFileInformationByHandleEx = sim_GetFileInformationByHandleEx;
    layer.CreateDirectoryW = sim_CreateDirectoryW;
    layer.NtCreateFile = sim_NtCreateFile;
    layer.CreateEventW = sim_CreateEventW;
    layer.DeviceIoControl = sim_DeviceIoControl;
    layer.ReadFile = sim_ReadFile;
    layer.WriteFile = sim_WriteFile;
    layer.GetOverlappedResult = sim_GetOverlappedResult;
    layer.GetFileSizeEx = sim_GetFileSizeEx;
    layer.FlushFileBuffers = sim_FlushFileBuffers;
    layer.GetWindowsDirectoryW = sim_GetWindowsDirectoryW;
    layer.FindFirstVolumeW = sim_FindFirstVolumeW;
    layer.FindNextVolumeW = sim_FindNextVolumeW;
    layer.FindVolumeClose = sim_FindVolumeClose;
    layer.GetVolumePathNameW = sim_GetVolumePathNameW;
    layer.GetVolumeNameForVolumeMountPointW = sim_GetVolumeNameForVolumeMountPointW;
    layer.Sleep = sim_Sleep;
    layer.QueryPerformanceCounter = sim_QueryPerformanceCounter;
    layer.QueryPerformanceFrequency = sim_QueryPerformanceFrequency;
    layer.WaitForSingleObject = sim_WaitForSingleObject;
    layer.SetThreadErrorMode = sim_SetThreadErrorMode;
    layer.OpenProcessToken = sim_OpenProcessToken;
    layer.SetThreadExecutionState = sim_SetThreadExecutionState;
    layer.GetDiskFreeSpaceExW = sim_GetDiskFreeSpaceExW;
    layer.SetConsoleCtrlHandler = sim_SetConsoleCtrlHandler;
#ifdef _WIN32
    layer.ShutdownBlockReasonCreate = sim_ShutdownBlockReasonCreate;
    layer.ShutdownBlockReasonDestroy = sim_ShutdownBlockReasonDestroy;
#endif
    layer.GetTokenInformation = sim_GetTokenInformation;
#define SYS_CALL(ret, name, fail_value, params, args) \
    in_turn[CALL_##name] = layer.name != next.name;
#define SYS_PLAIN(ret, name, params, args) in_turn[CALL_##name] = layer.name != next.name;
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
    // It takes its turn only for the transfers it may end (sim_transfers).
    in_turn[CALL_WaitForSingleObject] = false;
    sys::CallTable faults = {
#define SYS_CALL(ret, name, fail_value, params, args) fault_##name,
#define SYS_PLAIN(ret, name, params, args) fault_##name,
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
    };
    faults.DeviceIoControl = fault_DeviceIoControl_by_code;
    faults.CloseHandle = fault_CloseHandle_after_close;
    faults.FindVolumeClose = fault_FindVolumeClose_after_close;
    sys::calls = faults;
}

}  // namespace detail
}  // namespace sim
