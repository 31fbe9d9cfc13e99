#include "app/window/painting.h"

#include "app/window/app_state.h"
#include "app/window/button_colours.h"
#include "app/window/control_ids.h"
#include "app/window/geometry.h"
#include "app/window/palette.h"
#include "app/window/window_controls.h"

namespace app {
namespace {

constexpr int BUTTON_TEXT_UNITS = 180;

// The header of `rows` rows of the picture, top row first.
BITMAPINFO picture_header(int32_t rows) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = WINDOW_WIDTH;
    info.bmiHeader.biHeight = -rows;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

bool selected(HGDIOBJ previous) {
    return previous != nullptr && previous != HGDI_ERROR;
}

void ensure_background_rendered() {
    if (app_state.background_rendered)
        return;
    render_background(app_state.background_pixels);
    app_state.background_rendered = true;
}

// The window clips its children out of its own painting, so that a repaint
// never covers a control until the control repaints itself (a flash of the
// bare picture, every second while the status counts). So each control
// paints the part of the picture that lies beneath it, at the scale the
// window shows it, before its own shape or text: a button, whose corners
// RoundRect leaves out and whose device context starts with the system's
// button face; a static, which paints no background of its own. Without
// the control's place the picture is left out; the rest is drawn all the
// same.
void paint_picture_beneath(HDC dc, HWND control) {
    RECT bounds{};
    if (!sys::GetWindowRect(control, &bounds))
        return;
    POINT origin{bounds.left, bounds.top};
    if (!sys::ScreenToClient(app_state.hwnd_main, &origin))
        return;
    const PictureSpan across =
        picture_span_under(origin.x, bounds.right - bounds.left, WINDOW_WIDTH, app_state.dpi);
    const PictureSpan down =
        picture_span_under(origin.y, bounds.bottom - bounds.top, WINDOW_HEIGHT, app_state.dpi);
    if (across.source_length == 0 || down.source_length == 0)
        return;
    ensure_background_rendered();
    // The rows are handed over as a picture of their own, taken from its
    // first row: for a top-down picture GDI measures a source rectangle's
    // top from the bottom in some cases and from the top in others, and a
    // source that starts at row 0 of all its rows means the same either way.
    const BITMAPINFO rows = picture_header(down.source_length);
    const uint32_t* first_row =
        app_state.background_pixels + size_t{WINDOW_WIDTH} * static_cast<size_t>(down.source_first);
    (void)sys::StretchDIBits(dc, across.offset, down.offset, across.length, down.length,
                             across.source_first, 0, across.source_length, down.source_length,
                             first_row, &rows, DIB_RGB_COLORS, SRCCOPY);
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
    ensure_background_rendered();
    static const BITMAPINFO header = picture_header(WINDOW_HEIGHT);
    (void)sys::StretchDIBits(dc, 0, 0, scale_px(WINDOW_WIDTH), scale_px(WINDOW_HEIGHT), 0, 0,
                             WINDOW_WIDTH, WINDOW_HEIGHT, app_state.background_pixels, &header,
                             DIB_RGB_COLORS, SRCCOPY);
    sys::EndPaint(hwnd, &paint);
}

// The focused button keeps its focused colours even while Windows hides
// focus cues (ODS_NOFOCUSRECT, until the keyboard is first used): Space
// and Enter press the focused button from the start, so a keyboard user
// must see which one that is before the first key, and the focused look
// is a fill and outline of the palette, not a dotted rectangle over a
// mouse user's view.
void draw_button(const DRAWITEMSTRUCT& item) {
    const bool pressed_or_focused = (item.itemState & (ODS_SELECTED | ODS_FOCUS)) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const ButtonColours colours =
        button_colours(button_kind(static_cast<int>(item.CtlID)), pressed_or_focused, disabled);
    paint_picture_beneath(item.hDC, item.hwndItem);
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
    paint_picture_beneath(dc, control);
    (void)sys::SetTextColor(dc, colour);
    (void)sys::SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(sys::GetStockObject(NULL_BRUSH));
}

}  // namespace app
