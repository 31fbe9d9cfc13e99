#include "app/painting.h"

#include "app/app_state.h"
#include "app/button_colours.h"
#include "app/control_ids.h"
#include "app/geometry.h"
#include "app/palette.h"
#include "app/window_controls.h"

namespace app {
namespace {

constexpr int BUTTON_TEXT_UNITS = 180;

BITMAPINFO background_header() {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = WINDOW_WIDTH;
    info.bmiHeader.biHeight = -WINDOW_HEIGHT;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

bool selected(HGDIOBJ previous) {
    return previous != nullptr && previous != HGDI_ERROR;
}

void draw_button_shape(HDC dc, const RECT& rect, const ButtonColours& colours) {
    HBRUSH brush = sys::CreateSolidBrush(colours.fill);
    HPEN pen = sys::CreatePen(PS_SOLID, 1, colours.outline);
    if (brush != nullptr && pen != nullptr) {
        const HGDIOBJ old_brush = sys::SelectObject(dc, brush);
        const HGDIOBJ old_pen = sys::SelectObject(dc, pen);
        if (selected(old_brush) && selected(old_pen)) {
            const int k = scale_px(BUTTON_CORNER);
            (void)sys::RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, k, k);
        }
        // Put back what was there before deleting: a selected object must
        // not be deleted.
        if (selected(old_pen))
            (void)sys::SelectObject(dc, old_pen);
        if (selected(old_brush))
            (void)sys::SelectObject(dc, old_brush);
    }
    if (pen != nullptr)
        (void)sys::DeleteObject(pen);
    if (brush != nullptr)
        (void)sys::DeleteObject(brush);
}

void draw_button_text(const DRAWITEMSTRUCT& item, COLORREF colour) {
    HDC dc = item.hDC;
    const HGDIOBJ old_font =
        app_state.font_control != nullptr ? sys::SelectObject(dc, app_state.font_control) : nullptr;
    (void)sys::SetTextColor(dc, colour);
    (void)sys::SetBkMode(dc, TRANSPARENT);
    WCHAR text[BUTTON_TEXT_UNITS] = {};
    const int length = sys::GetWindowTextW(item.hwndItem, text, BUTTON_TEXT_UNITS);
    RECT rect = item.rcItem;
    (void)sys::DrawTextW(dc, text, length > 0 ? length : 0, &rect,
                         DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    if (selected(old_font))
        (void)sys::SelectObject(dc, old_font);
}

}  // namespace

void paint_background(HWND hwnd) {
    PAINTSTRUCT paint{};
    HDC dc = sys::BeginPaint(hwnd, &paint);
    if (dc == nullptr)
        return;
    if (!app_state.background_rendered) {
        render_background(app_state.background_pixels);
        app_state.background_rendered = true;
    }
    static const BITMAPINFO header = background_header();
    (void)sys::StretchDIBits(dc, 0, 0, scale_px(WINDOW_WIDTH), scale_px(WINDOW_HEIGHT), 0, 0,
                             WINDOW_WIDTH, WINDOW_HEIGHT, app_state.background_pixels, &header,
                             DIB_RGB_COLORS, SRCCOPY);
    sys::EndPaint(hwnd, &paint);
}

void draw_button(const DRAWITEMSTRUCT& item) {
    const bool pressed_or_focused = (item.itemState & (ODS_SELECTED | ODS_FOCUS)) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const ButtonColours colours =
        button_colours(button_kind(static_cast<int>(item.CtlID)), pressed_or_focused, disabled);
    draw_button_shape(item.hDC, item.rcItem, colours);
    draw_button_text(item, colours.text);
}

LRESULT colour_static(HDC dc, HWND control) {
    COLORREF colour = COLOR_TEXT;
    switch (sys::GetDlgCtrlID(control)) {
        case ID_STATUS:
            colour = app_state.status_color;
            break;
        case ID_MUTED_TEXT:
            colour = COLOR_MUTED;
            break;
        case ID_ACCENT_TEXT:
            colour = COLOR_ACCENT;
            break;
        default:
            break;
    }
    (void)sys::SetTextColor(dc, colour);
    (void)sys::SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(sys::GetStockObject(NULL_BRUSH));
}

}  // namespace app
