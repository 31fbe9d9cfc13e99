#include "app/window/window_controls.h"

#include "app/window/accessible_annotations.h"
#include "app/window/app_state.h"
#include "app/window/control_states.h"
#include "app/window/geometry.h"
#include "app/window/keyboard_focus.h"
#include "app/window/status_stage.h"

namespace app {
namespace {

// Room for the longest status text, the update notice with its host name.
constexpr int STATUS_UNITS = 512;

}  // namespace

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

void set_status(const WCHAR* text, COLORREF colour) {
    app_state.status_color = colour;
    // What the line said until now, to tell a new stage from a new number.
    static WCHAR shown[STATUS_UNITS];
    if (sys::GetWindowTextW(app_state.hwnd_status, shown, STATUS_UNITS) == 0)
        shown[0] = 0;
    // A reader that looks at the status line reads its new name; one that
    // looks elsewhere hears the live region, for the changes that matter.
    if (sys::SetWindowTextW(app_state.hwnd_status, text)) {
        sys::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, app_state.hwnd_status, OBJID_CLIENT,
                            CHILDID_SELF);
        if (starts_new_stage(shown, text))
            announce_status_change();
    }
    (void)sys::RedrawWindow(app_state.hwnd_main, nullptr, nullptr,
                            RDW_INVALIDATE | RDW_ALLCHILDREN);
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
