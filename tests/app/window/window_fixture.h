// A real main window under Wine, on the simulated machine: start-up runs as
// in the installer (without the message loop), and the test drives the
// window procedure with messages and reads the controls back. Message boxes
// are recorded instead of shown, so that nothing waits for a user.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/window/app_state.h"
#include "app/window/fonts.h"
#include "app/window/startup.h"
#include "app/window/window_texts.h"
#include "sim/sim_machine.h"

namespace app_test {

struct MessageBoxRecord {
    int count = 0;
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    UINT type = 0;
};

inline MessageBoxRecord message_boxes;
// What the recorded message boxes answer, as if the user had clicked it.
inline int message_box_answer = IDOK;

inline int WINAPI record_message_box(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    ++message_boxes.count;
    message_boxes.owner = owner;
    message_boxes.text = text;
    message_boxes.caption = caption;
    message_boxes.type = type;
    return message_box_answer;
}

// Windows of other test processes share the desktop: a test looks only at
// its own thread's windows.
inline HWND own_main_window() {
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND hwnd, LPARAM out) -> BOOL {
            wchar_t class_name[64] = {};
            GetClassNameW(hwnd, class_name, 64);
            if (std::wstring(class_name) != L"TundraUsbInstaller")
                return TRUE;
            *reinterpret_cast<HWND*>(out) = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// A message to the window under test, handled before this returns.
inline LRESULT send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return SendMessageW(app::app_state.hwnd_main, message, wparam, lparam);
}

// Keyboard focus moves with whichever test process is in front, so tests
// check where the window put the focus, not where it is now.
inline HWND focus_given = nullptr;

inline HWND WINAPI record_focus(HWND hwnd) {
    focus_given = hwnd;
    return SetFocus(hwnd);
}

// The window holds back the focus while it is in the background, and which
// test process Windows puts in front is chance: the window under test
// counts as the active one unless a test says otherwise.
inline HWND WINAPI window_in_front() {
    return app::app_state.hwnd_main;
}

// A window test's instance without administrator rights would check for
// updates against whatever host runs on this machine, and might replace the
// test executable itself: the fixture skips the check, as when the update
// mutex cannot be made. The self-update tests allow it on their own terms.
inline HANDLE WINAPI no_update_mutex(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

// The DPI that the monitor and the window report when a test chooses one.
inline UINT monitor_dpi = 96;
inline HRESULT WINAPI report_monitor_dpi(HMONITOR, MONITOR_DPI_TYPE, UINT* dpi_x, UINT* dpi_y) {
    *dpi_x = *dpi_y = monitor_dpi;
    return S_OK;
}
inline UINT WINAPI report_window_dpi(HWND) {
    return monitor_dpi;
}
inline void use_monitor_dpi(UINT dpi) {
    monitor_dpi = dpi;
    sys::calls.GetDpiForMonitor = report_monitor_dpi;
    sys::calls.GetDpiForWindow = report_window_dpi;
}

inline std::wstring text_of(HWND hwnd) {
    wchar_t buffer[512] = {};
    GetWindowTextW(hwnd, buffer, 512);
    return buffer;
}

inline bool enabled(HWND hwnd) {
    return IsWindowEnabled(hwnd) != FALSE;
}

// Takes every message waiting for this thread, dispatching all but WM_QUIT;
// true when WM_QUIT was among them.
inline bool pump_messages() {
    bool quit = false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quit = true;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return quit;
}

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr)
            GTEST_SKIP() << "needs an X display (Xvfb)";
        app::reset_app_state();
        message_boxes = {};
        message_box_answer = IDOK;
        sys::calls.MessageBoxW = record_message_box;
        focus_given = nullptr;
        sys::calls.SetFocus = record_focus;
        sys::calls.GetActiveWindow = window_in_front;
        update_mutex_call = sys::calls.CreateMutexW;
        sys::calls.CreateMutexW = no_update_mutex;
    }

    // Lets start-up take the update mutex and start the check.
    void allow_update_check() { sys::calls.CreateMutexW = update_mutex_call; }

    void TearDown() override {
        if (app::app_state.hwnd_main != nullptr && IsWindow(app::app_state.hwnd_main)) {
            DestroyWindow(app::app_state.hwnd_main);
        }
        pump_messages();
        app::delete_fonts();
        UnregisterClassW(app::WINDOW_CLASS_NAME, GetModuleHandleW(nullptr));
    }

    void start(bool expect_success = true) {
        ASSERT_EQ(app::start_window(), expect_success);
        if (expect_success)
            pump_messages();
    }

    // The machine of most tests: Windows on disk 0 and two USB sticks.
    void add_two_sticks() {
        machine.add_system_disk(0);
        machine.add_stick({1, "Tundra", "Flash", "ONE"});
        machine.add_stick({2, "Tundra", "Flash", "TWO"});
    }

    std::wstring status() const { return text_of(app::app_state.hwnd_status); }

    sim::Machine machine;
    decltype(sys::calls.CreateMutexW) update_mutex_call = nullptr;
};

}  // namespace app_test
