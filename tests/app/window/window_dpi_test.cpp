// The window's DPI: taken from the monitor it opens on, and followed when
// Windows moves it to a monitor with another scale (WM_DPICHANGED). A
// window moved to a DPI must look as one made at that DPI: the same size,
// control places and font heights, with four fonts alive and none leaked.
#include <set>
#include <vector>

#include "app/window/geometry.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;
using app_test::WindowTest;

// Fonts made through the seam and not yet deleted; a failure to make one
// can be asked for at the Nth font.
std::set<HFONT> live_fonts;
int fonts_made = 0;
int fail_font_number = 0;  // 0: none fails

HFONT WINAPI make_font(int height, int width, int escapement, int orientation, int weight,
                       DWORD italic, DWORD underline, DWORD strike_out, DWORD charset,
                       DWORD out_precision, DWORD clip_precision, DWORD quality, DWORD pitch,
                       LPCWSTR face) {
    if (++fonts_made == fail_font_number)
        return nullptr;
    HFONT font =
        CreateFontW(height, width, escapement, orientation, weight, italic, underline, strike_out,
                    charset, out_precision, clip_precision, quality, pitch, face);
    live_fonts.insert(font);
    return font;
}

BOOL WINAPI delete_object(HGDIOBJ object) {
    live_fonts.erase(static_cast<HFONT>(object));
    return DeleteObject(object);
}

RECT client_rect_of(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

int font_height_of(HWND control) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW look{};
    return GetObjectW(font, sizeof look, &look) == sizeof look ? look.lfHeight : 0;
}

// What a user sees of the window's layout.
struct Layout {
    int width = 0;
    int height = 0;
    std::vector<RECT> places;
    std::vector<int> font_heights;
};

Layout layout_of_window() {
    Layout layout;
    RECT window{};
    GetWindowRect(app_state.hwnd_main, &window);
    layout.width = window.right - window.left;
    layout.height = window.bottom - window.top;
    for (HWND child = GetWindow(app_state.hwnd_main, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        layout.places.push_back(client_rect_of(child));
        layout.font_heights.push_back(font_height_of(child));
    }
    return layout;
}

void expect_same_layout(const Layout& seen, const Layout& wanted) {
    EXPECT_EQ(seen.width, wanted.width);
    EXPECT_EQ(seen.height, wanted.height);
    ASSERT_EQ(seen.places.size(), wanted.places.size());
    for (size_t i = 0; i < seen.places.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "control " << i + 1);
        EXPECT_TRUE(EqualRect(&seen.places[i], &wanted.places[i]));
        EXPECT_EQ(seen.font_heights[i], wanted.font_heights[i]);
    }
}

// Every control holds one of the four live fonts.
void expect_four_live_fonts_in_use() {
    EXPECT_EQ(live_fonts.size(), 4u);
    for (HWND child = GetWindow(app_state.hwnd_main, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
        EXPECT_EQ(live_fonts.count(font), 1u) << "control id " << GetDlgCtrlID(child);
    }
}

LRESULT send_dpi_changed(UINT dpi, const RECT* suggested) {
    return SendMessageW(app_state.hwnd_main, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                        reinterpret_cast<LPARAM>(suggested));
}

RECT window_rect() {
    RECT rect{};
    GetWindowRect(app_state.hwnd_main, &rect);
    return rect;
}

class WindowDpiTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        live_fonts.clear();
        fonts_made = 0;
        fail_font_number = 0;
        sys::calls.CreateFontW = make_font;
        sys::calls.DeleteObject = delete_object;
    }

    // The layout of a window made at `dpi`, then closed again.
    Layout layout_made_at(UINT dpi) {
        app_test::use_monitor_dpi(dpi);
        start();
        const Layout layout = layout_of_window();
        TearDown();
        app::reset_app_state();
        live_fonts.clear();
        fonts_made = 0;
        return layout;
    }
};

HMONITOR monitor_asked = nullptr;
POINT monitor_point{-1, -1};
DWORD monitor_flags = 0;

HMONITOR WINAPI record_monitor_from_point(POINT point, DWORD flags) {
    monitor_point = point;
    monitor_flags = flags;
    monitor_asked = MonitorFromPoint(point, flags);
    return monitor_asked;
}

struct DpiReport {
    bool monitor_answers;
    UINT monitor, system, window;
};
DpiReport reported{};

HRESULT WINAPI report_monitor(HMONITOR monitor, MONITOR_DPI_TYPE kind, UINT* x, UINT* y) {
    EXPECT_EQ(monitor, monitor_asked);
    EXPECT_EQ(kind, MDT_EFFECTIVE_DPI);
    if (!reported.monitor_answers)
        return E_FAIL;
    *x = *y = reported.monitor;
    return S_OK;
}
UINT WINAPI report_system() {
    return reported.system;
}
UINT WINAPI report_window(HWND) {
    return reported.window;
}

SIZE main_window_asked{};
HWND WINAPI record_main_window(DWORD ex_style, LPCWSTR class_name, LPCWSTR title, DWORD style,
                               int x, int y, int width, int height, HWND parent, HMENU menu,
                               HINSTANCE instance, LPVOID param) {
    if (parent == nullptr)
        main_window_asked = {width, height};
    return CreateWindowExW(ex_style, class_name, title, style, x, y, width, height, parent, menu,
                           instance, param);
}

TEST_F(WindowDpiTest, TakesTheDpiOfTheMonitorItOpensOnNotTheSystems) {
    struct Case {
        DpiReport report;
        UINT made_at_dpi;  // the window is created at this DPI's size and fonts
        UINT final_dpi;
    };
    const Case cases[] = {
        {{true, 144, 96, 144}, 144, 144},   // a 150 % monitor on a 100 % system
        {{true, 96, 144, 96}, 96, 96},      // and the other way round
        {{true, 120, 192, 192}, 120, 192},  // the window itself reports another DPI
        {{true, 72, 96, 72}, 96, 96},       // never below 96
        {{true, 120, 96, 0}, 120, 120},     // the window cannot say: the monitor's
        {{false, 0, 120, 120}, 120, 120},   // no monitor DPI (no shcore): the system's
    };
    const Layout made_at_96 = layout_made_at(96);
    const Layout made_at_120 = layout_made_at(120);
    const Layout made_at_144 = layout_made_at(144);
    const Layout made_at_192 = layout_made_at(192);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "monitor " << c.report.monitor << ", system "
                                        << c.report.system << ", window " << c.report.window);
        reported = c.report;
        sys::calls.MonitorFromPoint = record_monitor_from_point;
        sys::calls.GetDpiForMonitor = report_monitor;
        sys::calls.GetDpiForSystem = report_system;
        sys::calls.GetDpiForWindow = report_window;
        sys::calls.CreateWindowExW = record_main_window;
        start();
        EXPECT_EQ(monitor_point.x, 0);
        EXPECT_EQ(monitor_point.y, 0);
        EXPECT_EQ(monitor_flags, static_cast<DWORD>(MONITOR_DEFAULTTOPRIMARY));
        EXPECT_EQ(main_window_asked.cx, app::scale_px_at(764, c.made_at_dpi));
        EXPECT_EQ(main_window_asked.cy, app::scale_px_at(468, c.made_at_dpi));
        // Fonts are made again only when the window's DPI differs.
        EXPECT_EQ(fonts_made, c.made_at_dpi == c.final_dpi ? 4 : 8);
        EXPECT_EQ(app_state.dpi, static_cast<int32_t>(c.final_dpi));
        const Layout& wanted = c.final_dpi == 96    ? made_at_96
                               : c.final_dpi == 120 ? made_at_120
                               : c.final_dpi == 144 ? made_at_144
                                                    : made_at_192;
        expect_same_layout(layout_of_window(), wanted);
        expect_four_live_fonts_in_use();
        TearDown();
        app::reset_app_state();
        live_fonts.clear();
        fonts_made = 0;
    }
}

TEST_F(WindowDpiTest, DpiChangeLaysTheWindowOutAsIfMadeAtTheNewDpi) {
    const Layout made_at_96 = layout_made_at(96);
    const Layout made_at_144 = layout_made_at(144);
    const Layout made_at_192 = layout_made_at(192);
    app_test::use_monitor_dpi(96);
    start();
    struct Step {
        UINT dpi;
        RECT suggested;
        const Layout* wanted;
    };
    const Step steps[] = {
        {144, {100, 50, 100 + 1146, 50 + 702}, &made_at_144},
        {192, {30, 20, 30 + 1528, 20 + 936}, &made_at_192},
        {96, {0, 0, 764, 468}, &made_at_96},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << step.dpi << " DPI");
        const std::set<HFONT> before = live_fonts;
        EXPECT_EQ(send_dpi_changed(step.dpi, &step.suggested), 0);
        EXPECT_EQ(app_state.dpi, static_cast<int32_t>(step.dpi));
        const RECT placed = window_rect();
        EXPECT_TRUE(EqualRect(&placed, &step.suggested));
        expect_same_layout(layout_of_window(), *step.wanted);
        expect_four_live_fonts_in_use();
        // The old fonts are gone, not merely unused.
        for (HFONT old : before) {
            EXPECT_EQ(live_fonts.count(old), 0u);
            EXPECT_EQ(GetObjectType(old), 0u);
        }
    }
    EXPECT_EQ(fonts_made, 16);  // four at start, four at each change
}

TEST_F(WindowDpiTest, AFontThatCannotBeMadeKeepsTheOldOneInUse) {
    const Layout made_at_144 = layout_made_at(144);
    app_test::use_monitor_dpi(96);
    start();
    HFONT old_body = app_state.font_body;
    HFONT old_title = app_state.font_title;
    fail_font_number = fonts_made + 2;  // the body font, the second made
    const RECT suggested{0, 0, 1146, 702};
    send_dpi_changed(144, &suggested);
    // The body texts keep their font, still alive at its old size; the
    // others change, and the layout is the new DPI's all the same.
    EXPECT_EQ(app_state.font_body, old_body);
    EXPECT_EQ(GetObjectType(old_body), static_cast<DWORD>(OBJ_FONT));
    EXPECT_NE(app_state.font_title, old_title);
    EXPECT_EQ(GetObjectType(old_title), 0u);
    expect_four_live_fonts_in_use();
    EXPECT_EQ(font_height_of(app_state.hwnd_status), -14);
    const Layout seen = layout_of_window();
    EXPECT_EQ(seen.width, made_at_144.width);
    EXPECT_EQ(seen.height, made_at_144.height);
    ASSERT_EQ(seen.places.size(), made_at_144.places.size());
    for (size_t i = 0; i < seen.places.size(); ++i)
        EXPECT_TRUE(EqualRect(&seen.places[i], &made_at_144.places[i])) << "control " << i + 1;
    // The next change that can make it replaces it.
    fail_font_number = 0;
    send_dpi_changed(144, &suggested);
    EXPECT_NE(app_state.font_body, old_body);
    EXPECT_EQ(GetObjectType(old_body), 0u);
    expect_same_layout(layout_of_window(), made_at_144);
    expect_four_live_fonts_in_use();
}

TEST_F(WindowDpiTest, WithoutASuggestedRectTheWindowKeepsItsCorner) {
    app_test::use_monitor_dpi(96);
    start();
    SetWindowPos(app_state.hwnd_main, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    send_dpi_changed(120, nullptr);
    const RECT placed = window_rect();
    const RECT wanted{40, 30, 40 + 955, 30 + 585};
    EXPECT_TRUE(EqualRect(&placed, &wanted));
}

// Painting scales at the DPI of the moment: after a change, the picture is
// stretched over the new size, button corners and the header's drag zone
// follow.
int stretched_width = 0;
int stretched_height = 0;
int WINAPI record_stretch(HDC dc, int x, int y, int width, int height, int source_x, int source_y,
                          int source_width, int source_height, const VOID* bits,
                          const BITMAPINFO* info, UINT usage, DWORD rop) {
    if (source_width == app::WINDOW_WIDTH && source_height == app::WINDOW_HEIGHT) {
        stretched_width = width;
        stretched_height = height;
    }
    return StretchDIBits(dc, x, y, width, height, source_x, source_y, source_width, source_height,
                         bits, info, usage, rop);
}
int corner_size = 0;
BOOL WINAPI record_round_rect(HDC dc, int l, int t, int r, int b, int w, int h) {
    corner_size = w;
    return RoundRect(dc, l, t, r, b, w, h);
}

TEST_F(WindowDpiTest, PaintingFollowsTheNewDpi) {
    app_test::use_monitor_dpi(96);
    start();
    // x = 700 lies right of the drag zone's end at 96 DPI (666) but left of
    // it at 144 (999); y = 50 is inside the header band only at 144 (64).
    const auto hit = [](int x, int y) {
        const RECT window = window_rect();
        return SendMessageW(app_state.hwnd_main, WM_NCHITTEST, 0,
                            MAKELPARAM(window.left + x, window.top + y));
    };
    EXPECT_EQ(hit(700, 20), HTCLIENT);
    EXPECT_EQ(hit(600, 50), HTCLIENT);
    const RECT suggested{0, 0, 1146, 702};
    send_dpi_changed(144, &suggested);
    sys::calls.StretchDIBits = record_stretch;
    sys::calls.RoundRect = record_round_rect;
    RedrawWindow(app_state.hwnd_main, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    EXPECT_EQ(stretched_width, 1146);
    EXPECT_EQ(stretched_height, 702);
    EXPECT_EQ(corner_size, 18);
    EXPECT_EQ(hit(700, 20), HTCAPTION);
    EXPECT_EQ(hit(600, 50), HTCAPTION);
    EXPECT_EQ(hit(1010, 20), HTCLIENT);
}

}  // namespace
