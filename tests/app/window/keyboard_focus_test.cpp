// The keyboard focus as the window's state changes, when the window is
// activated again, and Enter on the focused button. Windows moves the
// focus between this test and whatever else runs on the desktop, so the
// focus and the window's activity come from a stand-in: the focus is where
// the window last put it.
#include "app/app_messages.h"
#include "app/window/control_ids.h"
#include "app/window/window_controls.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;
using app::AppState;

HWND focus = nullptr;
bool in_front = true;

HWND WINAPI move_focus(HWND hwnd) {
    const HWND previous = focus;
    focus = hwnd;
    return previous;
}
HWND WINAPI current_focus() {
    return in_front ? focus : nullptr;
}
HWND WINAPI active_window() {
    return in_front ? app_state.hwnd_main : nullptr;
}

using app_test::send;

class FocusTest : public app_test::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        focus = nullptr;
        in_front = true;
        sys::calls.SetFocus = move_focus;
        sys::calls.GetFocus = current_focus;
        sys::calls.GetActiveWindow = active_window;
    }

    void choose_stick(uint64_t index) {
        app_state.sticks.selected_stick = index;
        app::update_action_enabled();
    }
};

// Through one write: the focus stays where the user puts it while that
// button can be used, rests on the main window while nothing can, and
// comes back to the action button with the result.
TEST_F(FocusTest, TheFocusNeverStaysOnADisabledButton) {
    add_two_sticks();
    start();
    ASSERT_EQ(focus, app_state.hwnd_stick);
    choose_stick(0);
    EXPECT_EQ(focus, app_state.hwnd_stick);  // the user's place is kept
    focus = app_state.hwnd_action;           // Tab, Tab
    app::set_busy(true);
    EXPECT_EQ(focus, app_state.hwnd_main);
    send(app::APP_MSG_PROGRESS, 50);
    EXPECT_EQ(focus, app_state.hwnd_main);
    send(app::APP_MSG_WRITE_RESULT, 0, 0);
    EXPECT_EQ(focus, app_state.hwnd_action);
}

TEST_F(FocusTest, RefreshWithoutSticksMovesTheFocusToRefresh) {
    add_two_sticks();
    start();
    ASSERT_EQ(focus, app_state.hwnd_stick);
    machine.remove_drive(1);
    machine.remove_drive(2);
    send(WM_COMMAND, app::ID_REFRESH);
    EXPECT_FALSE(app_test::enabled(app_state.hwnd_stick));
    EXPECT_EQ(focus, app_state.hwnd_refresh);
}

// A window in the background is not activated by a state change: the
// focus it chose waits for the window's activation (WM_SETFOCUS on the
// main window), as does the control that had it at deactivation.
TEST_F(FocusTest, TheFocusComesBackWhenTheWindowIsActivated) {
    add_two_sticks();
    start();
    choose_stick(1);
    struct Case {
        const char* what;
        void (*before)();
        void (*while_away)();
        HWND AppState::*expected;
    };
    const Case cases[] = {
        {"nothing changed", [] { focus = app_state.hwnd_refresh; }, [] {}, &AppState::hwnd_refresh},
        {"the remembered button was disabled", [] { focus = app_state.hwnd_refresh; },
         [] { EnableWindow(app_state.hwnd_refresh, FALSE); }, &AppState::hwnd_action},
        {"a write ended", [] { app::set_busy(true); },
         [] { send(app::APP_MSG_WRITE_RESULT, 0, 0); }, &AppState::hwnd_action},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EnableWindow(app_state.hwnd_refresh, TRUE);
        c.before();
        const HWND focus_before = focus;
        send(WM_ACTIVATE, WA_INACTIVE);
        in_front = false;
        c.while_away();
        EXPECT_EQ(focus, focus_before);  // not moved while away
        in_front = true;
        focus = app_state.hwnd_main;  // where Windows puts it on activation
        send(WM_SETFOCUS);
        EXPECT_EQ(focus, app_state.*c.expected);
    }
}

// The end of the update check gives the action button the focus, but not
// to a window the user has left: that would take the window forward.
TEST_F(FocusTest, TheUpdateCheckEndingInTheBackgroundLeavesTheFocusForLater) {
    machine.set_elevated(false);
    start();
    app_state.update.emplace().update_mutex = CreateMutexW(nullptr, TRUE, nullptr);
    app_state.update_check_running = true;
    app::update_action_enabled();
    ASSERT_EQ(focus, app_state.hwnd_version);  // the only usable button
    send(WM_ACTIVATE, WA_INACTIVE);
    in_front = false;
    send(app::APP_MSG_UPDATE_RESULT);
    EXPECT_EQ(focus, app_state.hwnd_version);
    in_front = true;
    focus = app_state.hwnd_main;
    send(WM_SETFOCUS);
    EXPECT_EQ(focus, app_state.hwnd_action);
}

// IsDialogMessageW turns Enter into IDOK; the focused button is pressed.
TEST_F(FocusTest, EnterPressesTheFocusedButtonOnly) {
    add_two_sticks();
    start();
    choose_stick(0);
    app::set_status(L"before", 0);
    struct Case {
        const char* what;
        HWND AppState::*focused;
        bool disable;
        const wchar_t* status;
        int boxes;
    };
    const Case cases[] = {
        {"Tundra button", &AppState::hwnd_version, false,
         L"Tundra selected. The latest public release downloads automatically.", 0},
        {"action button", &AppState::hwnd_action, false, L"before", 1},
        {"the main window", &AppState::hwnd_main, false, L"before", 0},
        {"a disabled button", &AppState::hwnd_version, true, L"before", 0},
    };
    app_test::message_box_answer = IDNO;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app::set_status(L"before", 0);
        app_test::message_boxes = {};
        focus = app_state.*c.focused;
        if (c.disable)
            EnableWindow(focus, FALSE);
        EXPECT_EQ(send(WM_COMMAND, IDOK), 0);
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(app_test::message_boxes.count, c.boxes);
        EnableWindow(focus, TRUE);
    }
}

}  // namespace
