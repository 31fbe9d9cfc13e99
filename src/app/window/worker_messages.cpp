#include "app/window/worker_messages.h"

#include "app/app_messages.h"
#include "app/window/app_state.h"
#include "app/window/composed_texts.h"
#include "app/window/keyboard_focus.h"
#include "app/window/palette.h"
#include "app/window/session_end.h"
#include "app/window/taskbar_progress.h"
#include "app/window/window_controls.h"
#include "app/window/window_texts.h"

namespace app {
namespace {

void end_update_check() {
    (void)sys::ReleaseMutex(app_state.update->update_mutex);
    (void)sys::CloseHandle(app_state.update->update_mutex);
    clear_update_context();
    app_state.update_check_running = false;
    update_action_enabled();
    // The check held the action button; it is the next step now.
    place_first_focus();
}

}  // namespace

void show_progress(WPARAM progress) {
    const ProgressText status = progress_text(progress);
    set_status(status.units, COLOR_ACCENT);
    // The write's own percentages follow (APP_MSG_WRITE_PROGRESS) from 0.
    show_taskbar_percent(progress == PROGRESS_WRITING ? 0 : progress);
}

void finish_write(LPARAM failure_text) {
    allow_session_end();
    set_busy(false);
    flash_if_in_background();
    if (failure_text == 0) {
        set_status(STATUS_VERIFIED, COLOR_SUCCESS);
        clear_taskbar_progress();
        return;
    }
    set_status(STATUS_FLASH_FAILED, COLOR_WARNING);
    // Red until the user has read why.
    show_taskbar_failure();
    const FailureDialogText dialog = failure_dialog_text(
        reinterpret_cast<const char*>(failure_text), app_state.result_text_length);
    (void)sys::MessageBoxW(app_state.hwnd_main, dialog.units, WINDOW_TITLE, MB_ICONERROR);
    clear_taskbar_progress();
}

void finish_update_check() {
    if (!app_state.update.has_value())
        return;
    if (app_state.update_ready && app_state.update_length != 0) {
        if (install_update() == InstallOutcome::relaunched)
            return;
    }
    end_update_check();
    if (app_state.update_ready) {
        const UpdateAvailableText warning = update_available_text(update_host_name());
        set_status(warning.units, COLOR_WARNING);
    } else {
        set_status(STATUS_ADMIN_REQUIRED, COLOR_MUTED);
    }
}

}  // namespace app
