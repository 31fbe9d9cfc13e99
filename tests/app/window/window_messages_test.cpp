// The window procedure's messages: commands, closing, the header drag, the
// static colours and the three messages of the worker threads.
#include <cstring>

#include "app/app_messages.h"
#include "app/window/control_ids.h"
#include "app/window/palette.h"
#include "app/window/window_controls.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;
using app_test::enabled;
using app_test::message_boxes;
using app_test::pump_messages;
using app_test::text_of;
using app_test::WindowTest;

using app_test::send;

// An elevated window with a stick chosen and a write running.
class WriteTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        add_two_sticks();
        start();
        app_state.sticks.selected_stick = 1;
        app::set_busy(true);
    }
};

TEST_F(WriteTest, ProgressTexts) {
    const struct {
        WPARAM progress;
        const wchar_t* text;
    } cases[] = {
        {0, L"Downloading Tundra… 0%"},
        {100, L"Downloading Tundra… 100%"},
        {101, L"Writing and verifying the USB stick…"},
    };
    for (const auto& c : cases) {
        app_state.status_color = 0;
        EXPECT_EQ(send(app::APP_MSG_PROGRESS, c.progress), 0);
        EXPECT_EQ(status(), c.text);
        EXPECT_EQ(app_state.status_color, app::COLOR_ACCENT);
    }
}

TEST_F(WriteTest, SuccessEndsTheWriteAndKeepsTheChoice) {
    EXPECT_EQ(send(app::APP_MSG_WRITE_RESULT, 0, 0), 0);
    EXPECT_FALSE(app_state.is_busy);
    EXPECT_EQ(status(), L"Verified. Eject the stick and boot Tundra.");
    EXPECT_EQ(app_state.status_color, app::COLOR_SUCCESS);
    EXPECT_EQ(app_state.sticks.selected_stick, 1u);
    EXPECT_TRUE(enabled(app_state.hwnd_action));
    EXPECT_EQ(text_of(app_state.hwnd_action), L"Download and write USB");
    EXPECT_EQ(message_boxes.count, 0);
}

// The window's side of a failure; what the dialog makes of other bytes is
// the conversion's own table (composed_texts_test.cpp).
TEST_F(WriteTest, FailureShowsTheWorkersTextInADialog) {
    static const char reason[] = "Disk 2 changed: \xE2\x80\x9CTWO\xE2\x80\x9D is gone";
    app_state.result_text_length = strlen(reason);
    EXPECT_EQ(send(app::APP_MSG_WRITE_RESULT, 0, reinterpret_cast<LPARAM>(reason)), 0);
    EXPECT_FALSE(app_state.is_busy);
    EXPECT_TRUE(enabled(app_state.hwnd_action));
    EXPECT_EQ(status(), L"Flash failed. Review the error and try again.");
    EXPECT_EQ(app_state.status_color, app::COLOR_WARNING);
    ASSERT_EQ(message_boxes.count, 1);
    EXPECT_EQ(message_boxes.owner, app_state.hwnd_main);
    EXPECT_EQ(message_boxes.text, L"Disk 2 changed: “TWO” is gone");
    EXPECT_EQ(message_boxes.caption, L"Tundra USB Installer");
    EXPECT_EQ(message_boxes.type, static_cast<UINT>(MB_ICONERROR));
}

TEST_F(WriteTest, CloseIsRefusedWhileBusyAndAllowedAfterTheResult) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        app::set_status(L"Downloading Tundra… 3%", app::COLOR_ACCENT);
        EXPECT_EQ(send(WM_CLOSE), 0);
        EXPECT_TRUE(IsWindow(app_state.hwnd_main));
        EXPECT_EQ(status(), L"Keep the stick connected until verification completes.");
        EXPECT_EQ(app_state.status_color, app::COLOR_ACCENT);
    }
    EXPECT_FALSE(pump_messages());  // no quit was posted
    send(app::APP_MSG_WRITE_RESULT, 0, 0);
    send(WM_CLOSE);
    EXPECT_FALSE(IsWindow(app_state.hwnd_main));
    EXPECT_TRUE(pump_messages());  // the loop would end now
}

TEST_F(WindowTest, CommandsByControlId) {
    machine.set_elevated(false);
    start();
    // The notification code in the high word is not examined.
    EXPECT_EQ(send(WM_COMMAND, MAKEWPARAM(app::ID_VERSION_TUNDRA, BN_DOUBLECLICKED)), 0);
    EXPECT_EQ(status(), L"Tundra selected. The latest public release downloads automatically.");
    EXPECT_EQ(app_state.status_color, app::COLOR_ACCENT);
    EXPECT_TRUE(enabled(app_state.hwnd_action));

    EXPECT_EQ(send(WM_COMMAND, app::ID_MINIMIZE), 0);
    EXPECT_TRUE(IsIconic(app_state.hwnd_main));

    EXPECT_EQ(send(WM_COMMAND, app::ID_CLOSE), 0);
    EXPECT_TRUE(IsWindow(app_state.hwnd_main));  // the close request is posted
    EXPECT_TRUE(pump_messages());
    EXPECT_FALSE(IsWindow(app_state.hwnd_main));
}

TEST_F(WindowTest, HeaderBandDragsLeftOfTheButtons) {
    start();
    const struct {
        int x, y;
        LRESULT hit;
    } cases[] = {
        {600, 10, HTCAPTION}, {5, 0, HTCAPTION},   {670, 10, HTCLIENT},
        {734, 21, HTCLIENT},  {600, 43, HTCLIENT}, {300, 200, HTCLIENT},
    };
    for (const auto& c : cases) {
        POINT screen{c.x, c.y};
        ClientToScreen(app_state.hwnd_main, &screen);
        EXPECT_EQ(send(WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y)), c.hit)
            << c.x << "," << c.y;
    }
}

TEST_F(WindowTest, StaticsTakeTheirColourByIdAndPaintNoBackground) {
    start();
    app::set_status(L"status", app::COLOR_WARNING);
    HWND status_static = app_state.hwnd_status;
    HWND muted = nullptr;
    HWND accent = nullptr;
    HWND plain = nullptr;
    for (HWND child = GetWindow(app_state.hwnd_main, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        if (id == app::ID_MUTED_TEXT && muted == nullptr)
            muted = child;
        if (id == app::ID_ACCENT_TEXT)
            accent = child;
        if (id == 0 && plain == nullptr)
            plain = child;
    }
    const struct {
        HWND control;
        COLORREF colour;
    } cases[] = {{status_static, app::COLOR_WARNING},
                 {muted, app::COLOR_MUTED},
                 {accent, app::COLOR_ACCENT},
                 {plain, app::COLOR_TEXT}};
    HDC dc = GetDC(app_state.hwnd_main);
    for (const auto& c : cases) {
        ASSERT_NE(c.control, nullptr);
        SetTextColor(dc, 0);
        SetBkMode(dc, OPAQUE);
        const LRESULT brush = send(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                   reinterpret_cast<LPARAM>(c.control));
        EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)));
        EXPECT_EQ(GetTextColor(dc), c.colour) << GetDlgCtrlID(c.control);
        EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    }
    ReleaseDC(app_state.hwnd_main, dc);
}

// An update check in progress: the window thread owns the update mutex.
class UpdateResultTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        machine.set_elevated(false);
        start();
        mutex = CreateMutexW(nullptr, TRUE, nullptr);
        ASSERT_NE(mutex, nullptr);
        app_state.update.emplace().update_mutex = mutex;
        app_state.update_check_running = true;
        app::update_action_enabled();
        app::set_status(L"Checking for installer updates…", app::COLOR_MUTED);
        machine.reset_uses();
        app_test::focus_given = nullptr;
    }

    void expect_check_ended() {
        EXPECT_FALSE(app_state.update.has_value());
        EXPECT_FALSE(app_state.update_check_running);
        EXPECT_EQ(machine.uses("ReleaseMutex"), 1u);
        EXPECT_EQ(machine.uses("CloseHandle"), 1u);
        EXPECT_TRUE(enabled(app_state.hwnd_action));
        EXPECT_EQ(app_test::focus_given, app_state.hwnd_action);
    }

    HANDLE mutex = nullptr;
};

TEST_F(UpdateResultTest, NoUpdateEndsTheCheckWithTheIdleText) {
    app_state.update_ready = false;
    EXPECT_EQ(send(app::APP_MSG_UPDATE_RESULT), 0);
    expect_check_ended();
    EXPECT_EQ(status(), L"Windows administrator access is required to write a USB stick.");
    EXPECT_EQ(app_state.status_color, app::COLOR_MUTED);
}

TEST_F(UpdateResultTest, AnUpdateThatWasNotInstalledEndsWithTheWarning) {
    app_state.update_ready = true;
    app_state.update_length = 4096;
    EXPECT_EQ(send(app::APP_MSG_UPDATE_RESULT), 0);
    expect_check_ended();
    // The test builds' download host is localhost.
    EXPECT_EQ(status(), L"Update available at localhost/install. This copy could not be replaced.");
    EXPECT_EQ(app_state.status_color, app::COLOR_WARNING);
}

TEST_F(WindowTest, UpdateMessageWithoutACheckChangesNothing) {
    machine.set_elevated(false);
    start();
    app_state.update_ready = true;
    app_state.update_length = 4096;
    machine.reset_uses();
    const std::wstring before = status();
    const COLORREF colour_before = app_state.status_color;
    EXPECT_EQ(send(app::APP_MSG_UPDATE_RESULT), 0);
    EXPECT_EQ(status(), before);
    EXPECT_EQ(app_state.status_color, colour_before);
    EXPECT_TRUE(enabled(app_state.hwnd_action));
    EXPECT_EQ(machine.uses("ReleaseMutex"), 0u);
    EXPECT_EQ(machine.uses("SetWindowTextW"), 0u);
}

}  // namespace
