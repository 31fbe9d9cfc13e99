#include "engine/table_reread.h"

#include "run/run_inputs.h"

namespace engine {

// The disk's handle is overlapped, and Windows leaves a request without an
// OVERLAPPED on such a handle undefined: it goes with one on the caller's
// event and is waited for, like the engine's single reads.
void ask_windows_to_reread_the_table(HANDLE disk) {
    OVERLAPPED ov{};
    ov.hEvent = run::run_inputs.disk_io_event;
    DWORD returned = 0;
    if (sys::DeviceIoControl(disk, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned,
                             &ov) ||
        sys::GetLastError() == ERROR_IO_PENDING) {
        (void)sys::GetOverlappedResult(disk, &ov, &returned, TRUE);
    }
}

}  // namespace engine
