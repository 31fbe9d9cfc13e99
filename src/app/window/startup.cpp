#include "app/window/startup.h"

#include "app/update_hooks.h"
#include "app/window/accessible_annotations.h"
#include "app/window/app_state.h"
#include "app/window/dot_local.h"
#include "app/window/fonts.h"
#include "app/window/keyboard_focus.h"
#include "app/window/main_window.h"
#include "app/window/palette.h"
#include "app/window/stick_row.h"
#include "app/window/taskbar_progress.h"
#include "app/window/window_controls.h"
#include "app/window/window_dpi.h"
#include "app/window/window_texts.h"
#include "discovery/stick_list.h"

namespace app {
namespace {

void show_first_state() {
    refresh_stick_list();
    if (!app_state.is_elevated) {
        sys::EnableWindow(app_state.hwnd_stick, FALSE);
        sys::EnableWindow(app_state.hwnd_refresh, FALSE);
        set_status(STATUS_ADMIN_REQUIRED, COLOR_MUTED);
    }
    sys::ShowWindow(app_state.hwnd_main, SW_SHOWNORMAL);
    place_first_focus();
}

// ShellExecuteW (the elevated relaunch, the start of an updated build) may
// hand its work to shell extensions that use COM; Microsoft asks that the
// calling thread initialise COM first. Without it the call still goes on.
// The taskbar button's interface lives in the same apartment.
bool com_ready = false;

void prepare_shell_calls() {
    com_ready =
        SUCCEEDED(sys::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
}

void end_com() {
    release_taskbar_button();
    if (com_ready)
        sys::CoUninitialize();
    com_ready = false;
}

// A window without all of its controls cannot be used: it goes again, and
// with it everything created so far.
void abandon_window() {
    if (app_state.hwnd_main != nullptr)
        (void)sys::DestroyWindow(app_state.hwnd_main);
    app_state.hwnd_main = nullptr;
}

}  // namespace

bool start_window() {
    prepare_shell_calls();
    // Per-monitor DPI awareness comes from the manifest alone.
    app_state.dpi = dpi_where_window_opens();
    app_state.instance = sys::GetModuleHandleW(nullptr);
    if (app_state.instance == nullptr)
        return false;
    app_state.is_elevated = discovery::query_is_elevated();
    create_fonts();
    if (!create_main_window()) {
        delete_fonts();
        return false;
    }
    adopt_window_dpi();
    if (!create_controls()) {
        abandon_window();
        delete_fonts();
        return false;
    }
    listen_for_taskbar_button(app_state.hwnd_main);
    annotate_controls();
    show_first_state();
    if (!app_state.is_elevated)
        start_update_check();
    return true;
}

void run_message_loop() {
    MSG msg{};
    while (sys::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (sys::IsDialogMessageW(app_state.hwnd_main, &msg))
            continue;
        sys::TranslateMessage(&msg);
        sys::DispatchMessageW(&msg);
    }
}

int run_installer() {
    // Elevated beside a "<program>.local", nothing more is loaded: not even
    // a message box, whose controls could come from there. The instance
    // without administrator rights has said why before it asked for them.
    if (!may_start_here())
        return 1;
    // Before anything else may load a DLL: only Windows' own copies.
    if (!sys::load_system_libraries())
        return 1;
    if (!start_window())
        return 1;
    run_message_loop();
    end_com();
    delete_fonts();
    return 0;
}

}  // namespace app
