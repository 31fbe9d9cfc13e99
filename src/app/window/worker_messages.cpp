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

namespace {

// What the window knows of the run's download from the worker's posts,
// from the start of a write to its result.
struct RunView {
    DownloadFigures download;
    bool kept_image = false;  // the image downloaded earlier is written
};
RunView run_view;

void show_download() {
    const ProgressText text = download_text(run_view.download);
    set_stage_status(StatusStage::downloading, text.units, COLOR_ACCENT);
}

}  // namespace

void forget_run_view() {
    run_view = {};
}

void show_progress(WPARAM progress) {
    if (progress == PROGRESS_KEPT_IMAGE) {
        run_view.kept_image = true;
        set_stage_status(StatusStage::kept_image, STATUS_KEPT_IMAGE, COLOR_ACCENT);
        return;
    }
    // The write's own percentages follow (APP_MSG_WRITE_PROGRESS) from 0.
    if (progress == PROGRESS_WRITING) {
        // The kept image's text stays until the write itself moves: the
        // engine first checks the image again.
        if (!run_view.kept_image)
            set_stage_status(StatusStage::writing, STATUS_WRITING, COLOR_ACCENT);
        show_taskbar_percent(0);
        return;
    }
    run_view.download.percent = progress;
    show_download();
    show_taskbar_percent(progress);
}

void show_download_amount(WPARAM received_bytes, LPARAM seconds_left) {
    run_view.download.has_amount = true;
    run_view.download.received_bytes = received_bytes;
    run_view.download.total_bytes = app_state.download_size_bytes;
    run_view.download.seconds_left =
        seconds_left < 0 ? SECONDS_LEFT_UNKNOWN : static_cast<uint64_t>(seconds_left);
    show_download();
}

void show_retry(WPARAM seconds) {
    const ProgressText text = retry_text(seconds, run_view.download.percent);
    set_stage_status(StatusStage::retrying, text.units, COLOR_WARNING);
}

void show_write_progress(WPARAM percent) {
    const ProgressText text = writing_text(percent);
    set_stage_status(StatusStage::writing, text.units, COLOR_ACCENT);
    show_taskbar_percent(percent);
}

void finish_write(LPARAM failure_text) {
    forget_run_view();
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
