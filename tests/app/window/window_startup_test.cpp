// Start-up of the real window: the 18 controls, the first state of an
// elevated and a non-elevated instance, scaling by DPI, and what happens
// when Windows refuses a step.
#include <vector>

#include "app/window/control_ids.h"
#include "app/window/logo_icon.h"
#include "app/window/palette.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;
using app_test::enabled;
using app_test::text_of;
using app_test::WindowTest;

struct ExpectedControl {
    const wchar_t* class_name;
    const wchar_t* text;  // null for the action button: its text depends on elevation
    int id;
    int x, y, width, height;
    HFONT app::AppState::*font;
};

constexpr auto CONTROL = &app::AppState::font_control;
constexpr auto BODY = &app::AppState::font_body;
constexpr auto TITLE = &app::AppState::font_title;
constexpr auto BRAND = &app::AppState::font_brand;

const ExpectedControl EXPECTED[18] = {
    {L"Static", L"rx4s", 0, 43, 8, 59, 29, BRAND},
    {L"Static", L"Tundra USB Installer  ·  v5", 202, 103, 13, 330, 23, BODY},
    {L"Button", L"−", 105, 679, 8, 31, 27, CONTROL},
    {L"Button", L"×", 106, 719, 8, 31, 27, CONTROL},
    {L"Static", L"Tundra", 0, 38, 306, 181, 44, TITLE},
    {L"Static", L"Boot from USB", 203, 40, 353, 177, 26, CONTROL},
    {L"Static", L"Start Tundra from a USB stick.", 202, 40, 390, 177, 32, BODY},
    {L"Static", L"Create a bootable USB", 0, 260, 68, 480, 48, TITLE},
    {L"Static", L"Choose a version and the USB stick to write it to.", 202, 262, 114, 476, 26,
     BODY},
    {L"Static", L"Version", 0, 262, 144, 300, 25, CONTROL},
    {L"Button", L"Tundra", 101, 260, 167, 196, 43, CONTROL},
    {L"Button", L"Meridian  ·  Coming soon", 107, 469, 167, 271, 43, CONTROL},
    {L"Static", L"USB stick", 0, 262, 235, 300, 25, CONTROL},
    {L"Button", nullptr, 103, 260, 259, 338, 43, CONTROL},
    {L"Button", L"Refresh", 102, 610, 259, 130, 43, CONTROL},
    {L"Static", L"Writing erases the selected USB stick. Back it up first.", 202, 262, 318, 479, 24,
     BODY},
    {L"Button", nullptr, 104, 260, 385, 220, 43, CONTROL},
    {L"Static", nullptr, 201, 499, 385, 239, 53, BODY},
};

std::vector<HWND> children_in_tab_order(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

RECT client_rect_of(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

TEST_F(WindowTest, CreatesTheEighteenControlsInOrderAtTheirPlaces) {
    app_test::use_monitor_dpi(144);
    start();
    const std::vector<HWND> children = children_in_tab_order(app_state.hwnd_main);
    ASSERT_EQ(children.size(), 18u);
    for (size_t i = 0; i < 18; ++i) {
        const ExpectedControl& want = EXPECTED[i];
        HWND child = children[i];
        SCOPED_TRACE(testing::Message() << "control " << i + 1);
        wchar_t class_name[32] = {};
        GetClassNameW(child, class_name, 32);
        EXPECT_EQ(std::wstring(class_name), want.class_name);
        if (want.text != nullptr) {
            EXPECT_EQ(text_of(child), want.text);
        }
        EXPECT_EQ(GetDlgCtrlID(child), want.id);
        const RECT rect = client_rect_of(child);
        EXPECT_EQ(rect.left, want.x * 144 / 96);
        EXPECT_EQ(rect.top, want.y * 144 / 96);
        EXPECT_EQ(rect.right - rect.left, want.width * 144 / 96);
        EXPECT_EQ(rect.bottom - rect.top, want.height * 144 / 96);
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)),
                  app_state.*want.font);
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        EXPECT_TRUE(style & WS_VISIBLE);
        if (want.class_name == std::wstring(L"Button")) {
            EXPECT_EQ(style & BS_TYPEMASK, BS_OWNERDRAW);
            EXPECT_TRUE(style & WS_TABSTOP);
        } else {
            EXPECT_TRUE(style & SS_NOPREFIX);
        }
    }
    EXPECT_FALSE(enabled(GetDlgItem(app_state.hwnd_main, app::ID_VERSION_MERIDIAN)));
}

// The class icon's size and the centre pixel (0x00RRGGBB) of its colour bitmap.
struct IconLook {
    int width = 0;
    int height = 0;
    uint32_t centre = 0;
};

IconLook look_of(HICON icon) {
    IconLook look;
    ICONINFO parts{};
    if (icon == nullptr || !GetIconInfo(icon, &parts))
        return look;
    BITMAP bitmap{};
    GetObjectW(parts.hbmColor, sizeof bitmap, &bitmap);
    static uint32_t rows[256 * 256];
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = bitmap.bmWidth;
    info.bmiHeader.biHeight = -bitmap.bmHeight;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    if (bitmap.bmWidth <= 256 && bitmap.bmHeight <= 256 &&
        GetDIBits(dc, parts.hbmColor, 0, UINT(bitmap.bmHeight), rows, &info, DIB_RGB_COLORS) ==
            bitmap.bmHeight)
        look = {bitmap.bmWidth, bitmap.bmHeight,
                rows[(bitmap.bmHeight / 2) * bitmap.bmWidth + bitmap.bmWidth / 2] & 0xFFFFFFu};
    ReleaseDC(nullptr, dc);
    DeleteObject(parts.hbmColor);
    DeleteObject(parts.hbmMask);
    return look;
}

// Where the main window was asked to open; the place Windows then gives it
// is Windows' own (the top-left for a pop-up) and may differ elsewhere.
POINT main_window_asked_at{-1, -1};

TEST_F(WindowTest, MainWindowIsALayeredPopupAtTheTopLeft) {
    sys::calls.CreateWindowExW = [](DWORD ex_style, LPCWSTR class_name, LPCWSTR title, DWORD style,
                                    int x, int y, int width, int height, HWND parent, HMENU menu,
                                    HINSTANCE instance, LPVOID param) -> HWND {
        if (parent == nullptr)
            main_window_asked_at = {x, y};
        return CreateWindowExW(ex_style, class_name, title, style, x, y, width, height, parent,
                               menu, instance, param);
    };
    start();
    HWND hwnd = app_test::own_main_window();
    ASSERT_EQ(hwnd, app_state.hwnd_main);
    EXPECT_EQ(text_of(hwnd), L"Tundra USB Installer");
    EXPECT_EQ(main_window_asked_at.x, CW_USEDEFAULT);
    EXPECT_EQ(main_window_asked_at.y, CW_USEDEFAULT);
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    EXPECT_EQ(rect.right - rect.left, 764);
    EXPECT_EQ(rect.bottom - rect.top, 468);
    EXPECT_TRUE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED);
    EXPECT_EQ(GetWindowLongW(hwnd, GWL_STYLE) & (WS_POPUP | WS_CAPTION | WS_THICKFRAME), WS_POPUP);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(hwnd, nullptr, &alpha, &flags));
    EXPECT_EQ(alpha, 238);
    EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));
    // The taskbar and Alt+Tab show the class icon: the program's own, drawn
    // from the sparkle mark, at the system's icon size.
    const IconLook icon = look_of(reinterpret_cast<HICON>(GetClassLongPtrW(hwnd, GCLP_HICON)));
    EXPECT_EQ(icon.width, 32);
    EXPECT_EQ(icon.height, 32);
    EXPECT_EQ(icon.centre, app::logo_icon_pixel(16, 16, 32) & 0xFFFFFFu);
}

TEST_F(WindowTest, ScalesWindowAndFontsByTheMonitorDpi) {
    struct Case {
        UINT dpi;
        int width, height;
        int font_heights[4];  // control, body, title, brand, in creation order
    };
    const Case cases[] = {
        {72, 764, 468, {-15, -14, -32, -20}},
        {120, 955, 585, {-18, -17, -40, -25}},
        {144, 1146, 702, {-22, -21, -48, -30}},
    };
    static std::vector<int> heights;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dpi << " DPI");
        app_test::use_monitor_dpi(c.dpi);
        heights.clear();
        sys::calls.CreateFontW = [](int height, int width, int escapement, int orientation,
                                    int weight, DWORD italic, DWORD underline, DWORD strike_out,
                                    DWORD charset, DWORD out_precision, DWORD clip_precision,
                                    DWORD quality, DWORD pitch, LPCWSTR face) -> HFONT {
            heights.push_back(height);
            return CreateFontW(height, width, escapement, orientation, weight, italic, underline,
                               strike_out, charset, out_precision, clip_precision, quality, pitch,
                               face);
        };
        start();
        RECT rect{};
        GetWindowRect(app_state.hwnd_main, &rect);
        EXPECT_EQ(rect.right - rect.left, c.width);
        EXPECT_EQ(rect.bottom - rect.top, c.height);
        EXPECT_EQ(heights, std::vector<int>(c.font_heights, c.font_heights + 4));
        TearDown();
        app::reset_app_state();
    }
}

TEST_F(WindowTest, ElevatedWithSticksOffersTheListAndWaitsForAChoice) {
    add_two_sticks();
    start();
    EXPECT_TRUE(app_state.is_elevated);
    EXPECT_EQ(app_state.sticks.stick_count, 2u);
    EXPECT_FALSE(app_state.sticks.selected_stick.has_value());
    EXPECT_EQ(text_of(app_state.hwnd_stick), L"Select a USB stick  ⌄");
    EXPECT_TRUE(enabled(app_state.hwnd_stick));
    EXPECT_TRUE(enabled(app_state.hwnd_refresh));
    EXPECT_TRUE(enabled(app_state.hwnd_version));
    EXPECT_EQ(text_of(app_state.hwnd_action), L"Download and write USB");
    EXPECT_FALSE(enabled(app_state.hwnd_action));
    EXPECT_EQ(status(), L"Writing will erase the selected USB stick.");
    EXPECT_EQ(app_state.status_color, app::COLOR_WARNING);
    EXPECT_EQ(app_test::focus_given, app_state.hwnd_stick);  // the next step: choosing
}

TEST_F(WindowTest, ElevatedWithoutSticksAsksForOne) {
    machine.add_system_disk(0);
    start();
    EXPECT_EQ(text_of(app_state.hwnd_stick), L"No USB stick selected");
    EXPECT_FALSE(enabled(app_state.hwnd_stick));
    EXPECT_TRUE(enabled(app_state.hwnd_refresh));
    EXPECT_FALSE(enabled(app_state.hwnd_action));
    EXPECT_EQ(status(), L"Plug in a USB stick and select Refresh.");
    EXPECT_EQ(app_state.status_color, app::COLOR_MUTED);
    EXPECT_EQ(app_test::focus_given, app_state.hwnd_refresh);
}

TEST_F(WindowTest, NotElevatedOffersOnlyTheRelaunch) {
    add_two_sticks();
    machine.set_elevated(false);
    start();
    EXPECT_FALSE(app_state.is_elevated);
    EXPECT_EQ(app_state.sticks.stick_count, 0u);
    EXPECT_EQ(machine.uses("DeviceIoControl"), 0u);  // no disk is probed
    EXPECT_EQ(text_of(app_state.hwnd_action), L"Enable USB access");
    EXPECT_TRUE(enabled(app_state.hwnd_action));
    EXPECT_FALSE(enabled(app_state.hwnd_stick));
    EXPECT_FALSE(enabled(app_state.hwnd_refresh));
    EXPECT_TRUE(enabled(app_state.hwnd_version));
    EXPECT_EQ(status(), L"Windows administrator access is required to write a USB stick.");
    EXPECT_EQ(app_state.status_color, app::COLOR_MUTED);
    EXPECT_EQ(app_test::focus_given, app_state.hwnd_action);
}

TEST_F(WindowTest, AFailedElevationQueryCountsAsNotElevated) {
    machine.fail_call("OpenProcessToken", ERROR_ACCESS_DENIED, 0);
    start();
    EXPECT_FALSE(app_state.is_elevated);
    EXPECT_EQ(text_of(app_state.hwnd_action), L"Enable USB access");
}

TEST_F(WindowTest, FontsThatCannotBeCreatedLeaveTheSystemFont) {
    machine.fail_call("CreateFontW", ERROR_NOT_ENOUGH_MEMORY, 0);
    start();
    EXPECT_EQ(app_state.font_control, nullptr);
    EXPECT_EQ(app_state.font_brand, nullptr);
    EXPECT_EQ(text_of(app_state.hwnd_version), L"Tundra");
}

TEST_F(WindowTest, StartUpFailuresEndWithNothingLeftBehind) {
    struct Case {
        const char* call;
        unsigned nth;
        bool window_existed;
    };
    const Case cases[] = {
        {"GetModuleHandleW", 1, false}, {"RegisterClassW", 1, false},
        {"CreateWindowExW", 1, false},  // the main window
        {"CreateWindowExW", 2, true},   // the first control
        {"CreateWindowExW", 19, true},  // the last control
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.call << " failing at use " << c.nth);
        machine.clear_faults();
        machine.reset_uses();
        machine.fail_call(c.call, ERROR_NOT_ENOUGH_MEMORY, c.nth);
        start(false);
        EXPECT_EQ(app_test::own_main_window(), nullptr);
        const unsigned fonts = machine.uses("CreateFontW");
        EXPECT_EQ(machine.uses("DeleteObject"), fonts);  // every font made is deleted
        EXPECT_EQ(machine.uses("DestroyWindow"), c.window_existed ? 1u : 0u);
        EXPECT_EQ(app_state.font_control, nullptr);
        TearDown();
        app::reset_app_state();
    }
}

TEST_F(WindowTest, InstallerExitCodes) {
    machine.fail_call("CreateWindowExW", ERROR_NOT_ENOUGH_MEMORY, 1);
    EXPECT_EQ(app::run_installer(), 1);
    TearDown();
    app::reset_app_state();
    machine.clear_faults();
    // The window closes itself once the loop runs: a normal end.
    ASSERT_TRUE(PostMessageW(nullptr, WM_NULL, 0, 0));
    sys::calls.IsDialogMessageW = [](HWND hwnd, LPMSG msg) -> BOOL {
        if (msg->message == WM_NULL && msg->hwnd == nullptr)
            DestroyWindow(hwnd);
        return IsDialogMessageW(hwnd, msg);
    };
    machine.reset_uses();
    EXPECT_EQ(app::run_installer(), 0);
    // Every GDI object made, fonts included, is deleted by the end.
    EXPECT_EQ(machine.uses("CreateFontW"), 4u);
    EXPECT_EQ(
        machine.uses("DeleteObject"),
        machine.uses("CreateFontW") + machine.uses("CreateSolidBrush") + machine.uses("CreatePen"));
    EXPECT_EQ(app_state.font_control, nullptr);
}

}  // namespace
