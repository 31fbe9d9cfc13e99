#include "app/window/app_state.h"

namespace app {

AppState app_state;

void clear_update_context() {
    if (app_state.update.has_value())
        *app_state.update = UpdateContext{};
    app_state.update.reset();
}

void reset_app_state() {
    AppState& s = app_state;
    s.hwnd_main = s.hwnd_version = s.hwnd_refresh = s.hwnd_stick = s.hwnd_action = nullptr;
    s.hwnd_status = s.hwnd_saved_focus = nullptr;
    for (HWND& control : s.controls)
        control = nullptr;
    s.instance = nullptr;
    s.font_control = s.font_title = s.font_body = s.font_brand = nullptr;
    clear_update_context();
    s.sticks.stick_count = 0;
    s.sticks.selected_stick.reset();
    s.dpi = 96;
    s.status_color = 0;
    s.status_stage = StatusStage::none;
    s.is_elevated = s.is_busy = s.update_check_running = s.update_ready = false;
    s.result_text_length = 0;
    s.download_size_bytes = 0;
    s.update_length = 0;
    s.background_rendered = false;
}

}  // namespace app
