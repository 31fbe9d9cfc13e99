#include "update_switches.h"

#include <cstdlib>
#include <cstring>

#include "sys/sys.h"

namespace gui_test {
namespace {

sys::CallTable below;
DWORD connect_delay_ms = 0;

HANDLE WINAPI no_update_mutex(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

HINTERNET WINAPI slow_connect(HINTERNET session, LPCWSTR server, INTERNET_PORT port,
                              DWORD reserved) {
    Sleep(connect_delay_ms);
    return below.WinHttpConnect(session, server, port, reserved);
}

}  // namespace

bool install_update_switches(const char* updates, const char* connect_delay_ms_text) {
    below = sys::calls;
    if (updates == nullptr) {
        sys::calls.CreateMutexW = no_update_mutex;
    } else if (strcmp(updates, "check") != 0) {
        return false;
    }
    if (connect_delay_ms_text != nullptr) {
        char* end = nullptr;
        const unsigned long value = strtoul(connect_delay_ms_text, &end, 10);
        if (end == connect_delay_ms_text || *end != 0 || value > 60000)
            return false;
        connect_delay_ms = static_cast<DWORD>(value);
        sys::calls.WinHttpConnect = slow_connect;
    }
    return true;
}

}  // namespace gui_test
