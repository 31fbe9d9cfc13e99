#include "app/window/window_procedure.h"

#include "app/app_messages.h"
#include "app/window/accessible_annotations.h"
#include "app/window/app_state.h"
#include "app/window/control_ids.h"
#include "app/window/geometry.h"
#include "app/window/keyboard_focus.h"
#include "app/window/painting.h"
#include "app/window/palette.h"
#include "app/window/session_end.h"
#include "app/window/stick_row.h"
#include "app/window/taskbar_progress.h"
#include "app/window/window_controls.h"
#include "app/window/window_dpi.h"
#include "app/window/window_texts.h"
#include "app/window/worker_messages.h"
#include "app/window/write_request.h"
#include "app/write_run_hooks.h"

namespace app {
namespace {

// The borderless window is dragged by its header band.
LRESULT hit_test(HWND hwnd, LPARAM lparam) {
    POINT point{static_cast<int16_t>(LOWORD(lparam)), static_cast<int16_t>(HIWORD(lparam))};
    if (!sys::ScreenToClient(hwnd, &point))
        return HTCLIENT;
    return starts_window_drag(point.x, point.y, app_state.dpi) ? HTCAPTION : HTCLIENT;
}

// Only the control id matters: the notification code is not examined.
bool run_command(int id) {
    switch (id) {
        case ID_VERSION_TUNDRA:
            set_status(STATUS_TUNDRA_SELECTED, COLOR_ACCENT);
            return true;
        case ID_REFRESH:
            refresh_stick_list();
            return true;
        case ID_STICK:
            show_stick_menu();
            return true;
        case ID_ACTION:
            request_write();
            return true;
        case ID_MINIMIZE:
            sys::ShowWindow(app_state.hwnd_main, SW_MINIMIZE);
            return true;
        case ID_CLOSE:
            (void)sys::PostMessageW(app_state.hwnd_main, WM_CLOSE, 0, 0);
            return true;
        case IDOK:  // Enter, from IsDialogMessageW
            if (const int focused = focused_button_id(); focused != 0)
                (void)run_command(focused);
            return true;
        default:
            return false;
    }
}

// A write in progress must not lose its window: the user would lose the
// result, and the stick would be pulled before it is verified.
bool refuse_close_while_busy() {
    if (!app_state.is_busy)
        return false;
    set_status(STATUS_KEEP_CONNECTED, COLOR_ACCENT);
    return true;
}

}  // namespace

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_DESTROY:
            clear_annotations();
            release_taskbar_button();
            // The image kept for a second write goes with the window.
            forget_kept_image();
            sys::PostQuitMessage(0);
            return 0;
        case WM_PAINT:
            paint_background(hwnd);
            return 0;
        case WM_CLOSE:
            if (refuse_close_while_busy())
                return 0;
            break;
        case WM_QUERYENDSESSION:
            return session_may_end(lparam) ? TRUE : FALSE;
        case WM_ENDSESSION:
            end_session(wparam != FALSE);
            return 0;
        case WM_POWERBROADCAST:
            if (wparam == PBT_APMSUSPEND)
                machine_suspending();
            return TRUE;
        case WM_ERASEBKGND:
            return 1;
        case WM_ACTIVATE:
            if (LOWORD(wparam) == WA_INACTIVE)
                remember_focus();
            break;
        case WM_SETFOCUS:
            pass_focus_on();
            return 0;
        case WM_DRAWITEM:
            draw_button(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
            return 1;
        case WM_DPICHANGED:
            change_dpi(wparam, lparam);
            return 0;
        case WM_NCHITTEST:
            return hit_test(hwnd, lparam);
        case WM_COMMAND:
            if (run_command(LOWORD(wparam)))
                return 0;
            break;
        case WM_CTLCOLORSTATIC:
            return colour_static(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
        case APP_MSG_WRITE_RESULT:
            finish_write(lparam);
            return 0;
        case APP_MSG_UPDATE_RESULT:
            finish_update_check();
            return 0;
        case APP_MSG_PROGRESS:
            show_progress(wparam);
            return 0;
        case APP_MSG_WRITE_PROGRESS:
            show_write_progress(wparam);
            return 0;
        case APP_MSG_DOWNLOAD_AMOUNT:
            show_download_amount(wparam, lparam);
            return 0;
        case APP_MSG_DOWNLOAD_RETRY:
            show_retry(wparam);
            return 0;
        default:
            if (is_taskbar_button_created(message)) {
                connect_taskbar_button();
                return 0;
            }
            break;
    }
    return sys::DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace app
