#include "app/window/stick_row.h"

#include "app/window/app_state.h"
#include "app/window/palette.h"
#include "app/window/window_controls.h"
#include "app/window/window_texts.h"
#include "discovery/stick_list.h"

namespace app {

void refresh_stick_list() {
    discovery::build_stick_list(app_state.sticks, app_state.is_elevated);
    const bool any = app_state.sticks.stick_count > 0;
    (void)sys::SetWindowTextW(app_state.hwnd_stick, any ? TEXT_SELECT_STICK : TEXT_NO_STICK);
    sys::EnableWindow(app_state.hwnd_stick, any ? TRUE : FALSE);
    if (app_state.is_elevated) {
        if (any) {
            set_status(STATUS_STICKS_FOUND, COLOR_WARNING);
        } else {
            set_status(STATUS_NO_STICKS, COLOR_MUTED);
        }
    }
    update_action_enabled();
}

}  // namespace app
