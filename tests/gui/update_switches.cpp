#include "update_switches.h"

#include <cstdlib>
#include <cstring>

#include "sys/sys.h"

namespace gui_test {
namespace {

// A gate that never opens lets the connection go after this long, so that
// an instance whose test died does not hang for good.
constexpr DWORD GATE_LIMIT_MS = 120000;
constexpr DWORD GATE_POLL_MS = 50;

sys::CallTable below;
const char* connect_gate = nullptr;

HANDLE WINAPI no_update_mutex(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

bool gate_open() {
    return GetFileAttributesA(connect_gate) != INVALID_FILE_ATTRIBUTES;
}

HINTERNET WINAPI gated_connect(HINTERNET session, LPCWSTR server, INTERNET_PORT port,
                               DWORD reserved) {
    for (DWORD waited_ms = 0; waited_ms < GATE_LIMIT_MS && !gate_open(); waited_ms += GATE_POLL_MS)
        Sleep(GATE_POLL_MS);
    return below.WinHttpConnect(session, server, port, reserved);
}

}  // namespace

bool install_update_switches(const char* updates, const char* gate_path) {
    below = sys::calls;
    if (updates == nullptr) {
        sys::calls.CreateMutexW = no_update_mutex;
    } else if (strcmp(updates, "check") != 0) {
        return false;
    }
    if (gate_path != nullptr) {
        if (*gate_path == 0)
            return false;
        connect_gate = gate_path;
        sys::calls.WinHttpConnect = gated_connect;
    }
    return true;
}

}  // namespace gui_test
