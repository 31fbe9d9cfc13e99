#include "app/window/main_window.h"

#include "app/window/app_state.h"
#include "app/window/control_ids.h"
#include "app/window/control_table.h"
#include "app/window/fonts.h"
#include "app/window/geometry.h"
#include "app/window/resource_ids.h"
#include "app/window/window_controls.h"
#include "app/window/window_procedure.h"
#include "app/window/window_texts.h"

namespace app {
namespace {

constexpr BYTE WINDOW_ALPHA = 238;
constexpr DWORD DWM_ATTRIBUTE_DARK_MODE = 20;  // DWMWA_USE_IMMERSIVE_DARK_MODE
constexpr DWORD DWM_ATTRIBUTE_CORNERS = 33;    // DWMWA_WINDOW_CORNER_PREFERENCE
constexpr DWORD DWM_CORNERS_ROUND = 2;         // DWMWCP_ROUND

// The look of the frame is a nicety: Windows versions without these
// attributes simply keep their default frame.
void set_frame_attributes(HWND hwnd) {
    (void)sys::SetLayeredWindowAttributes(hwnd, 0, WINDOW_ALPHA, LWA_ALPHA);
    const DWORD dark = 1;
    (void)sys::DwmSetWindowAttribute(hwnd, DWM_ATTRIBUTE_DARK_MODE, &dark, sizeof dark);
    const DWORD corners = DWM_CORNERS_ROUND;
    (void)sys::DwmSetWindowAttribute(hwnd, DWM_ATTRIBUTE_CORNERS, &corners, sizeof corners);
}

void keep_handle(int id, HWND control) {
    switch (id) {
        case ID_VERSION_TUNDRA:
            app_state.hwnd_version = control;
            break;
        case ID_REFRESH:
            app_state.hwnd_refresh = control;
            break;
        case ID_STICK:
            app_state.hwnd_stick = control;
            break;
        case ID_ACTION:
            app_state.hwnd_action = control;
            break;
        case ID_STATUS:
            app_state.hwnd_status = control;
            break;
        case ID_VERSION_MERIDIAN:
            sys::EnableWindow(control, FALSE);
            break;  // never enabled
        default:
            break;
    }
}

}  // namespace

bool create_main_window() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = window_procedure;
    window_class.lpszClassName = WINDOW_CLASS_NAME;
    window_class.hInstance = app_state.instance;
    window_class.hCursor = sys::LoadCursorW(nullptr, IDC_ARROW);
    // The taskbar and Alt+Tab show the class icon; Windows picks the small
    // one from the same icon resource. Without it the window still works.
    window_class.hIcon = sys::LoadIconW(app_state.instance, MAKEINTRESOURCEW(TUNDRA_ICON_ID));
    if (sys::RegisterClassW(&window_class) == 0)
        return false;
    // For a pop-up window CW_USEDEFAULT places it at the top-left corner.
    // Its painting leaves the controls out: each paints its own part of the
    // picture (painting.cpp), so none is ever covered until it repaints.
    app_state.hwnd_main =
        sys::CreateWindowExW(WS_EX_LAYERED | WS_EX_APPWINDOW, WINDOW_CLASS_NAME, WINDOW_TITLE,
                             WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
                             CW_USEDEFAULT, CW_USEDEFAULT,
                             scale_px(WINDOW_WIDTH), scale_px(WINDOW_HEIGHT), nullptr, nullptr,
                             app_state.instance, nullptr);
    if (app_state.hwnd_main == nullptr)
        return false;
    set_frame_attributes(app_state.hwnd_main);
    return true;
}

bool create_controls() {
    for (size_t i = 0; i < CONTROL_COUNT; ++i) {
        const ControlSpec& spec = CONTROLS[i];
        const bool is_button = spec.kind == ControlKind::button;
        const DWORD style = is_button ? WS_TABSTOP | BS_OWNERDRAW : SS_NOPREFIX;
        HWND control = create_control(is_button ? U16("BUTTON") : U16("STATIC"),
                                      initial_text(spec, app_state.is_elevated), spec.id, style,
                                      spec.x, spec.y, spec.width, spec.height, font_for(spec.font));
        if (control == nullptr)
            return false;
        app_state.controls[i] = control;
        keep_handle(spec.id, control);
    }
    return true;
}

}  // namespace app
