#include "app/window/write_request.h"

#include "app/window/app_state.h"
#include "app/window/dot_local.h"
#include "app/window/palette.h"
#include "app/window/session_end.h"
#include "app/window/taskbar_progress.h"
#include "app/window/window_controls.h"
#include "app/window/window_texts.h"
#include "app/window/worker_messages.h"
#include "app/write_run_hooks.h"
#include "discovery/stick_texts.h"
#include "run/run_inputs.h"
#include "text/number_format.h"
#include "text/utf8_to_utf16.h"

namespace app {
namespace {

constexpr DWORD MODULE_PATH_UNITS = 4096;
constexpr size_t CONFIRMATION_BYTES = 512;
// ShellExecuteW answers with a value above 32 when it started the program.
constexpr INT_PTR SHELL_EXECUTE_STARTED = 32;

// Starts this executable again through the "runas" verb, which shows
// Windows' elevation prompt. Nothing is handed over: the elevated copy
// starts from the beginning and the user chooses the stick there.
void relaunch_elevated() {
    if (dot_local_beside_program()) {
        (void)sys::MessageBoxW(app_state.hwnd_main, TEXT_DOT_LOCAL, U16("Tundra USB Installer"),
                               MB_OK | MB_ICONWARNING);
        set_status(STATUS_ACCESS_DECLINED, COLOR_WARNING);
        return;
    }
    static WCHAR path[MODULE_PATH_UNITS];
    const DWORD length = sys::GetModuleFileNameW(nullptr, path, MODULE_PATH_UNITS);
    if (length >= 1 && length < MODULE_PATH_UNITS) {
        const HINSTANCE result = sys::ShellExecuteW(app_state.hwnd_main, U16("runas"), path,
                                                    nullptr, nullptr, SW_SHOWNORMAL);
        if (reinterpret_cast<INT_PTR>(result) > SHELL_EXECUTE_STARTED) {
            (void)sys::DestroyWindow(app_state.hwnd_main);
            return;
        }
    }
    set_status(STATUS_ACCESS_DECLINED, COLOR_WARNING);
}

using ConfirmationText = text::Utf16Text<CONFIRMATION_BYTES>;

ConfirmationText confirmation_text(const discovery::StickRecord& stick) {
    char bytes[CONFIRMATION_BYTES];
    text::TextWriter out(bytes, sizeof bytes);
    const discovery::StickDescription description = discovery::stick_description(stick);
    text::compose(out, "Download Tundra and erase this USB stick?\n\n", description.view(),
                  "\n\nBack up anything you need before continuing.");
    return text::to_utf16<CONFIRMATION_BYTES>(out.data(), out.length());
}

bool user_confirms(const discovery::StickRecord& stick) {
    const ConfirmationText text = confirmation_text(stick);
    return sys::MessageBoxW(app_state.hwnd_main, text.units, U16("Confirm USB erase"),
                            MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

// The worker reads the chosen stick from AppState; the busy window keeps
// the list and the choice still until the worker's result arrives.
void start_write() {
    set_busy(true);
    forget_run_view();
    set_status(STATUS_FINDING_RELEASE, COLOR_ACCENT);
    show_taskbar_searching();
    run::run_inputs.stop_requested = false;
    run::run_inputs.machine_slept = false;
    block_session_end();
    HANDLE worker = sys::CreateThread(nullptr, 0, download_and_write_thread, nullptr, 0, nullptr);
    if (worker != nullptr) {
        (void)sys::CloseHandle(worker);
        return;
    }
    allow_session_end();
    set_busy(false);
    clear_taskbar_progress();
    set_status(STATUS_WRITE_NOT_STARTED, COLOR_WARNING);
}

}  // namespace

void request_write() {
    if (app_state.update_check_running)
        return;
    if (!app_state.is_elevated) {
        relaunch_elevated();
        return;
    }
    if (app_state.is_busy || !app_state.sticks.selected_stick.has_value())
        return;
    if (user_confirms(app_state.sticks.sticks[*app_state.sticks.selected_stick]))
        start_write();
}

}  // namespace app
