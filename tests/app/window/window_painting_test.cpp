// Painting: the background picture shown with StretchDIBits, and the
// owner-drawn buttons, also when GDI refuses a brush, a pen or a selection.
#include <string>
#include <vector>

#include "app/window/control_ids.h"
#include "app/window/palette.h"
#include "app/window/window_controls.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;
using app_test::WindowTest;

struct StretchRecord {
    int count = 0;
    int width = 0;
    int height = 0;
    int source_width = 0;
    int source_height = 0;
    const void* bits = nullptr;
    LONG header_height = 0;
};
StretchRecord stretch;

int WINAPI record_stretch(HDC dc, int x, int y, int width, int height, int source_x, int source_y,
                          int source_width, int source_height, const VOID* bits,
                          const BITMAPINFO* info, UINT usage, DWORD rop) {
    ++stretch.count;
    stretch.width = width;
    stretch.height = height;
    stretch.source_width = source_width;
    stretch.source_height = source_height;
    stretch.bits = bits;
    stretch.header_height = info->bmiHeader.biHeight;
    return StretchDIBits(dc, x, y, width, height, source_x, source_y, source_width, source_height,
                         bits, info, usage, rop);
}

void repaint() {
    RedrawWindow(app_state.hwnd_main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

TEST_F(WindowTest, PaintsTheBackgroundOnceComputedStretchedToTheWindow) {
    app_test::use_monitor_dpi(144);
    start();
    stretch = {};
    sys::calls.StretchDIBits = record_stretch;
    repaint();
    ASSERT_GE(stretch.count, 1);
    EXPECT_TRUE(app_state.background_rendered);
    EXPECT_EQ(stretch.bits, app_state.background_pixels);
    EXPECT_EQ(stretch.width, 1146);
    EXPECT_EQ(stretch.height, 702);
    EXPECT_EQ(stretch.source_width, 764);
    EXPECT_EQ(stretch.source_height, 468);
    EXPECT_EQ(stretch.header_height, -468);  // top row first
    EXPECT_EQ(app_state.background_pixels[0], 0x00121424u);
    EXPECT_EQ(app_state.background_pixels[21 * 764 + 24], 0x00CDA7DFu);
}

// The window leaves its controls out of its own painting, so that a
// repaint never shows the bare picture where a control is; a new status
// repaints the status line alone, which paints the picture beneath its
// text itself: nothing else of the window is painted again.
std::vector<SIZE> stretched;
int WINAPI record_each_stretch(HDC dc, int x, int y, int width, int height, int source_x,
                               int source_y, int source_width, int source_height, const VOID* bits,
                               const BITMAPINFO* info, UINT usage, DWORD rop) {
    stretched.push_back({width, height});
    return StretchDIBits(dc, x, y, width, height, source_x, source_y, source_width, source_height,
                         bits, info, usage, rop);
}

TEST_F(WindowTest, ANewStatusRepaintsTheStatusLineAloneOverItsOwnPicture) {
    start();
    EXPECT_NE(GetWindowLongW(app_state.hwnd_main, GWL_STYLE) & WS_CLIPCHILDREN, 0);
    RedrawWindow(app_state.hwnd_main, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    stretched.clear();
    sys::calls.StretchDIBits = record_each_stretch;
    app::set_status(L"Downloading Tundra… 42% · 1.3 of 3.1 GB", app::COLOR_ACCENT);
    RedrawWindow(app_state.hwnd_main, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    ASSERT_FALSE(stretched.empty()) << "the status line painted no picture beneath its text";
    for (const SIZE& size : stretched) {
        EXPECT_EQ(size.cx, 239);
        EXPECT_EQ(size.cy, 53);
    }
}

TEST_F(WindowTest, AFailedBeginPaintSkipsThePaint) {
    start();
    machine.fail_call("BeginPaint", ERROR_INVALID_HANDLE, 0);
    app_state.background_rendered = false;
    stretch = {};
    sys::calls.StretchDIBits = record_stretch;
    repaint();
    EXPECT_EQ(stretch.count, 0);
    EXPECT_FALSE(app_state.background_rendered);
}

std::vector<std::wstring> drawn_texts;
std::vector<COLORREF> brush_colours;
std::vector<COLORREF> pen_colours;
std::vector<int> corners;

int WINAPI record_draw_text(HDC dc, LPCWSTR text, int length, LPRECT rect, UINT format) {
    drawn_texts.emplace_back(text, static_cast<size_t>(length));
    EXPECT_EQ(format, static_cast<UINT>(DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS));
    return DrawTextW(dc, text, length, rect, format);
}

sys::CallTable faulting;  // the simulated machine's table, which can fail a call

HBRUSH WINAPI record_brush(COLORREF colour) {
    brush_colours.push_back(colour);
    return faulting.CreateSolidBrush(colour);
}

HPEN WINAPI record_pen(int style, int width, COLORREF colour) {
    pen_colours.push_back(colour);
    return faulting.CreatePen(style, width, colour);
}

// What a button's drawing did, in order: "picture" for a copy of the
// background picture, "shape" for the rounded shape.
std::vector<std::string> drawing;

BOOL WINAPI record_round_rect(HDC dc, int l, int t, int r, int b, int w, int h) {
    corners.push_back(w);
    drawing.push_back("shape");
    return faulting.RoundRect(dc, l, t, r, b, w, h);
}

struct PictureCopy {
    HDC dc;
    int x, y, width, height;
    int source_x, source_y, source_width, source_height;
    const void* bits;
    LONG header_height;
};
std::vector<PictureCopy> picture_copies;

int WINAPI record_picture_copy(HDC dc, int x, int y, int width, int height, int source_x,
                               int source_y, int source_width, int source_height, const VOID* bits,
                               const BITMAPINFO* info, UINT usage, DWORD rop) {
    picture_copies.push_back({dc, x, y, width, height, source_x, source_y, source_width,
                              source_height, bits, info->bmiHeader.biHeight});
    drawing.push_back("picture");
    return StretchDIBits(dc, x, y, width, height, source_x, source_y, source_width, source_height,
                         bits, info, usage, rop);
}

// Sends WM_DRAWITEM for a button as Windows would; `top_left` receives the
// colour of the button's top-left pixel afterwards.
LRESULT draw_item(HWND button, UINT state, COLORREF* top_left = nullptr) {
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(GetDlgCtrlID(button));
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = state;
    item.hwndItem = button;
    item.hDC = GetDC(button);
    GetClientRect(button, &item.rcItem);
    const LRESULT result =
        SendMessageW(app_state.hwnd_main, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
    if (top_left != nullptr)
        *top_left = GetPixel(item.hDC, 0, 0);
    ReleaseDC(button, item.hDC);
    return result;
}

void record_button_drawing() {
    faulting = sys::calls;
    sys::calls.DrawTextW = record_draw_text;
    sys::calls.CreateSolidBrush = record_brush;
    sys::calls.CreatePen = record_pen;
    sys::calls.RoundRect = record_round_rect;
    sys::calls.StretchDIBits = record_picture_copy;
    drawn_texts.clear();
    brush_colours.clear();
    pen_colours.clear();
    corners.clear();
    drawing.clear();
    picture_copies.clear();
}

class ButtonTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        start();
        record_button_drawing();
        machine.reset_uses();
    }

    LRESULT draw(HWND button, UINT state) { return draw_item(button, state); }
};

TEST_F(ButtonTest, DrawsTheShapeInTheColoursOfItsStateThenTheText) {
    EXPECT_EQ(draw(app_state.hwnd_version, ODS_FOCUS), 1);
    EXPECT_EQ(draw(app_state.hwnd_action, ODS_DISABLED), 1);
    EXPECT_EQ(draw(app_state.hwnd_refresh, 0), 1);
    EXPECT_EQ(brush_colours, (std::vector<COLORREF>{0xEF7AA3, 0x41252B, 0x2A1817}));
    EXPECT_EQ(pen_colours, (std::vector<COLORREF>{app::COLOR_ACCENT, 0x4E3335, 0x4E3335}));
    EXPECT_EQ(corners, (std::vector<int>{12, 12, 12}));
    EXPECT_EQ(drawn_texts,
              (std::vector<std::wstring>{L"Tundra", L"Download and write USB", L"Refresh"}));
    EXPECT_EQ(machine.uses("DeleteObject"), 6u);  // one brush and one pen each
}

// Windows adds ODS_NOFOCUSRECT until the keyboard is used; the focused
// look still shows, since Space and Enter press that button from the start.
TEST_F(ButtonTest, TheFocusedLookShowsWhileWindowsHidesFocusCues) {
    draw(app_state.hwnd_refresh, ODS_FOCUS | ODS_NOFOCUSRECT);
    draw(app_state.hwnd_action, ODS_FOCUS | ODS_NOFOCUSRECT);
    EXPECT_EQ(brush_colours, (std::vector<COLORREF>{0x4E2D33, 0xEF7AA3}));
    EXPECT_EQ(pen_colours, (std::vector<COLORREF>{app::COLOR_ACCENT, app::COLOR_ACCENT}));
}

TEST_F(ButtonTest, WithoutBrushPenOrSelectionTheTextIsStillDrawn) {
    const struct {
        const char* call;
        unsigned nth;
        unsigned deleted;  // brushes and pens that were made, and must go again
    } cases[] = {
        {"CreateSolidBrush", 1, 1},
        {"CreatePen", 1, 1},
        {"SelectObject", 1, 2},  // the brush
        {"SelectObject", 2, 2},  // the pen
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.call << " failing at use " << c.nth);
        machine.clear_faults();
        machine.reset_uses();
        corners.clear();
        drawn_texts.clear();
        machine.fail_call(c.call, ERROR_NOT_ENOUGH_MEMORY, c.nth);
        EXPECT_EQ(draw(app_state.hwnd_refresh, 0), 1);
        EXPECT_TRUE(corners.empty());
        EXPECT_EQ(drawn_texts, std::vector<std::wstring>{L"Refresh"});
        EXPECT_EQ(machine.uses("DeleteObject"), c.deleted);
    }
}

TEST_F(ButtonTest, WithoutItsPlaceAButtonIsStillDrawn) {
    machine.fail_call("GetWindowRect", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(draw(app_state.hwnd_refresh, 0), 1);
    EXPECT_TRUE(picture_copies.empty());
    EXPECT_EQ(drawing, std::vector<std::string>{"shape"});
    EXPECT_EQ(drawn_texts, std::vector<std::wstring>{L"Refresh"});
}

// The window at a chosen DPI, its buttons' drawing recorded.
class ButtonPictureTest : public WindowTest, public testing::WithParamInterface<UINT> {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        app_test::use_monitor_dpi(GetParam());
        start();
        record_button_drawing();
    }
};

COLORREF picture_colour(int x, int y) {
    const uint32_t pixel = app_state.background_pixels[y * app::WINDOW_WIDTH + x];
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

// Outside its rounded shape a button shows the picture, copied from beneath
// it at the window's scale, before the shape is drawn over it.
TEST_P(ButtonPictureTest, ButtonCornersShowThePictureBeneath) {
    struct Expected {
        HWND button;
        UINT dpi;
        int offset_y, width, height;  // where the copy lands in the button
        int source_width, first_row, rows;
        int corner_row;  // the picture row its top-left pixel shows
    };
    // The stick button is at 260, 259 and 338 × 43 at 96 DPI, the action
    // button at 260, 385 and 220 × 43. At 144 DPI their tops (388 and 577)
    // lie inside picture rows 258 and 384, whose top rows start one pixel
    // higher: the copy starts there and the button clips it.
    const Expected cases[] = {
        {app_state.hwnd_stick, 96, 0, 338, 43, 338, 259, 43, 259},
        {app_state.hwnd_action, 96, 0, 220, 43, 220, 385, 43, 385},
        {app_state.hwnd_stick, 144, -1, 507, 66, 338, 258, 44, 258},
        {app_state.hwnd_action, 144, -1, 330, 66, 220, 384, 44, 384},
    };
    for (const Expected& e : cases) {
        if (e.dpi != GetParam())
            continue;
        SCOPED_TRACE(testing::Message() << "button " << GetDlgCtrlID(e.button));
        picture_copies.clear();
        drawing.clear();
        COLORREF corner = CLR_INVALID;
        EXPECT_EQ(draw_item(e.button, 0, &corner), 1);
        ASSERT_EQ(picture_copies.size(), 1u);
        const PictureCopy& copy = picture_copies[0];
        EXPECT_EQ(copy.x, 0);
        EXPECT_EQ(copy.y, e.offset_y);
        EXPECT_EQ(copy.width, e.width);
        EXPECT_EQ(copy.height, e.height);
        EXPECT_EQ(copy.source_x, 260);
        EXPECT_EQ(copy.source_width, e.source_width);
        // The rows go over as a top-down picture of their own, whole.
        EXPECT_EQ(copy.bits, app_state.background_pixels + e.first_row * app::WINDOW_WIDTH);
        EXPECT_EQ(copy.header_height, -e.rows);
        EXPECT_EQ(copy.source_y, 0);
        EXPECT_EQ(copy.source_height, e.rows);
        EXPECT_EQ(drawing, (std::vector<std::string>{"picture", "shape"}));
        EXPECT_EQ(corner, picture_colour(260, e.corner_row));
    }
}

INSTANTIATE_TEST_SUITE_P(Dpi, ButtonPictureTest, testing::Values(96u, 144u));

}  // namespace
