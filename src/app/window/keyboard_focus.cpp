#include "app/window/keyboard_focus.h"

#include "app/window/app_state.h"
#include "app/window/control_states.h"

namespace app {
namespace {

bool usable(HWND hwnd) {
    return hwnd != nullptr && sys::IsWindowEnabled(hwnd);
}

bool is_own_control(HWND hwnd) {
    return hwnd != nullptr && sys::IsChild(app_state.hwnd_main, hwnd);
}

HWND first_focus_control() {
    const FocusInputs inputs{app_state.sticks.selected_stick.has_value(),
                             usable(app_state.hwnd_action), usable(app_state.hwnd_stick),
                             usable(app_state.hwnd_refresh), usable(app_state.hwnd_version)};
    switch (first_focus(inputs)) {
        case FocusTarget::action:
            return app_state.hwnd_action;
        case FocusTarget::stick:
            return app_state.hwnd_stick;
        case FocusTarget::refresh:
            return app_state.hwnd_refresh;
        case FocusTarget::version:
            return app_state.hwnd_version;
        case FocusTarget::main_window:
            break;
    }
    return app_state.hwnd_main;
}

// SetFocus on a window in the background would activate it in its thread;
// the focus waits for the user to come back instead.
void give_focus(HWND target) {
    if (sys::GetActiveWindow() != app_state.hwnd_main) {
        app_state.hwnd_saved_focus = target;
        return;
    }
    if (sys::GetFocus() != target)
        (void)sys::SetFocus(target);
}

}  // namespace

void place_first_focus() {
    give_focus(first_focus_control());
}

void settle_focus() {
    if (sys::GetActiveWindow() != app_state.hwnd_main)
        return;  // pass_focus_on decides when the window is activated again
    const HWND focus = sys::GetFocus();
    if (!is_own_control(focus) || !usable(focus))
        place_first_focus();
}

void remember_focus() {
    const HWND focus = sys::GetFocus();
    app_state.hwnd_saved_focus = is_own_control(focus) ? focus : nullptr;
}

void pass_focus_on() {
    const HWND saved = app_state.hwnd_saved_focus;
    app_state.hwnd_saved_focus = nullptr;
    if (is_own_control(saved) && usable(saved)) {
        (void)sys::SetFocus(saved);
        return;
    }
    place_first_focus();
}

int focused_button_id() {
    const HWND focus = sys::GetFocus();
    if (!is_own_control(focus) || !usable(focus))
        return 0;
    return sys::GetDlgCtrlID(focus);
}

}  // namespace app
