#include "app/window/window_controls.h"

#include "app/window/accessible_annotations.h"
#include "app/window/app_state.h"
#include "app/window/control_states.h"
#include "app/window/geometry.h"
#include "app/window/keyboard_focus.h"
#include "app/window/status_stage.h"

namespace app {
int32_t scale_px(int32_t v) {
    return scale_px_at(v, app_state.dpi);
}

HWND create_control(const WCHAR* class_name, const WCHAR* text, int id, DWORD style, int x, int y,
                    int width, int height, HFONT font) {
    HMENU id_as_menu = reinterpret_cast<HMENU>(static_cast<intptr_t>(id));
    HWND control =
        sys::CreateWindowExW(0, class_name, text, style | WS_CHILD | WS_VISIBLE, scale_px(x),
                             scale_px(y), scale_px(width), scale_px(height), app_state.hwnd_main,
                             id_as_menu, app_state.instance, nullptr);
    if (control != nullptr) {
        sys::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    return control;
}

namespace {

void show_status(const WCHAR* text, COLORREF colour, bool announce) {
    app_state.status_color = colour;
    // A reader that looks at the status line reads its new name; one that
    // looks elsewhere hears the live region, for a new stage or a text of
    // its own, never for a new number within a stage.
    if (sys::SetWindowTextW(app_state.hwnd_status, text)) {
        sys::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, app_state.hwnd_status, OBJID_CLIENT,
                            CHILDID_SELF);
        if (announce)
            announce_status_change();
    }
    // The status line paints the picture beneath its text itself: it alone
    // repaints, and nothing else of the window blinks.
    (void)sys::RedrawWindow(app_state.hwnd_status, nullptr, nullptr, RDW_INVALIDATE);
}

}  // namespace

void set_status(const WCHAR* text, COLORREF colour) {
    app_state.status_stage = StatusStage::none;
    show_status(text, colour, true);
}

void set_stage_status(StatusStage stage, const WCHAR* text, COLORREF colour) {
    const bool new_stage = stage != app_state.status_stage;
    app_state.status_stage = stage;
    show_status(text, colour, new_stage);
}

void update_action_enabled() {
    const ActionInputs inputs{app_state.is_busy, app_state.update_check_running,
                              app_state.is_elevated, app_state.sticks.selected_stick.has_value()};
    sys::EnableWindow(app_state.hwnd_action, action_enabled(inputs) ? TRUE : FALSE);
    settle_focus();
}

void set_busy(bool busy) {
    app_state.is_busy = busy;
    const BusyLook look = busy_look(busy, app_state.sticks.stick_count);
    sys::EnableWindow(app_state.hwnd_version, look.version_enabled ? TRUE : FALSE);
    sys::EnableWindow(app_state.hwnd_refresh, look.refresh_enabled ? TRUE : FALSE);
    sys::EnableWindow(app_state.hwnd_stick, look.stick_enabled ? TRUE : FALSE);
    (void)sys::SetWindowTextW(app_state.hwnd_action, look.action_text);
    update_action_enabled();
}

}  // namespace app
