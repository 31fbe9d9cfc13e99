// The update check: on its own thread, it asks the download host whether a
// newer build of the installer exists and, if one does, downloads it into
// AppState's update buffer and verifies it. It writes only update_ready,
// update_length and the buffer, then posts APP_MSG_UPDATE_RESULT once; the
// window thread installs what it verified (install_update).
#pragma once

#include <cstdint>

#include "sys/sys.h"

namespace app {

// One deadline over both fetches, counted from after the connection is open.
constexpr ULONGLONG UPDATE_DEADLINE_MS = 12000;
// The update manifest must be shorter than this.
constexpr uint64_t UPDATE_MANIFEST_BUFFER_BYTES = 512;

inline constexpr WCHAR UPDATE_MANIFEST_PATH[] = U16("/install/updates/x64.txt");
inline constexpr WCHAR UPDATE_EXE_PATH[] = U16("/install/tundra-usb-installer-x64.exe");
inline constexpr WCHAR UPDATE_MUTEX_NAME[] = U16("Local\\RX4.TundraUsbInstaller.Update");

// The thread's entry; no parameter. Returns 0.
DWORD WINAPI update_check_thread(LPVOID unused);

}  // namespace app
