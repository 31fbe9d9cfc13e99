#include "app/window/window_dpi.h"

#include "app/window/app_state.h"
#include "app/window/control_table.h"
#include "app/window/fonts.h"
#include "app/window/geometry.h"
#include "app/window/window_controls.h"

namespace app {
namespace {

constexpr UINT KEEP_ORDER_AND_FOCUS = SWP_NOZORDER | SWP_NOACTIVATE;

// Fonts are replaced one for one: the new ones go to every control before
// the old ones are deleted, so no control ever holds a deleted font.
void refont_and_place_controls() {
    const ReplacedFonts replaced = recreate_fonts();
    for (size_t i = 0; i < CONTROL_COUNT; ++i) {
        HWND control = app_state.controls[i];
        if (control == nullptr)
            continue;
        const ControlSpec& spec = CONTROLS[i];
        sys::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(spec.font)),
                          FALSE);
        (void)sys::SetWindowPos(control, nullptr, scale_px(spec.x), scale_px(spec.y),
                                scale_px(spec.width), scale_px(spec.height), KEEP_ORDER_AND_FOCUS);
    }
    delete_replaced_fonts(replaced);
}

void take_dpi(int32_t dpi) {
    app_state.dpi = dpi;
    refont_and_place_controls();
}

}  // namespace

int32_t dpi_where_window_opens() {
    HMONITOR monitor = sys::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    UINT dpi_x = 0;
    UINT dpi_y = 0;
    if (monitor != nullptr &&
        SUCCEEDED(sys::GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y)))
        return usable_dpi(dpi_x);
    return usable_dpi(sys::GetDpiForSystem());
}

void adopt_window_dpi() {
    const UINT window_dpi = sys::GetDpiForWindow(app_state.hwnd_main);
    if (window_dpi == 0 || usable_dpi(window_dpi) == app_state.dpi)
        return;
    take_dpi(usable_dpi(window_dpi));
    (void)sys::SetWindowPos(app_state.hwnd_main, nullptr, 0, 0, scale_px(WINDOW_WIDTH),
                            scale_px(WINDOW_HEIGHT), SWP_NOMOVE | KEEP_ORDER_AND_FOCUS);
}

void change_dpi(WPARAM wparam, LPARAM lparam) {
    // Windows sends the same DPI for both axes (low word x, high word y).
    take_dpi(usable_dpi(LOWORD(wparam)));
    const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
    if (suggested != nullptr) {
        (void)sys::SetWindowPos(app_state.hwnd_main, nullptr, suggested->left, suggested->top,
                                suggested->right - suggested->left,
                                suggested->bottom - suggested->top, KEEP_ORDER_AND_FOCUS);
    } else {
        // Without a suggestion the window keeps its top-left corner.
        (void)sys::SetWindowPos(app_state.hwnd_main, nullptr, 0, 0, scale_px(WINDOW_WIDTH),
                                scale_px(WINDOW_HEIGHT), SWP_NOMOVE | KEEP_ORDER_AND_FOCUS);
    }
    // Everything painted (the picture, the button shapes, the statics'
    // texts) is scaled at paint time: one repaint shows the new DPI.
    (void)sys::RedrawWindow(app_state.hwnd_main, nullptr, nullptr,
                            RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

}  // namespace app
