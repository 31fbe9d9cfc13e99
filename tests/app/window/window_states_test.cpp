// set_busy and update_action_enabled on the real controls, through the
// states of the window: elevated or not, busy, update check running, stick
// chosen.
#include "app/window/palette.h"
#include "app/window/window_controls.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;
using app_test::enabled;
using app_test::text_of;
using app_test::WindowTest;

struct Look {
    const wchar_t* action_text;
    bool action;
    bool stick;
    bool refresh;
    bool version;
};

void expect_look(const Look& want) {
    EXPECT_EQ(text_of(app_state.hwnd_action), want.action_text);
    EXPECT_EQ(enabled(app_state.hwnd_action), want.action);
    EXPECT_EQ(enabled(app_state.hwnd_stick), want.stick);
    EXPECT_EQ(enabled(app_state.hwnd_refresh), want.refresh);
    EXPECT_EQ(enabled(app_state.hwnd_version), want.version);
}

TEST_F(WindowTest, ElevatedStatesFollowTheChoiceAndTheWrite) {
    add_two_sticks();
    start();
    struct Step {
        const char* state;
        void (*enter)();
        Look look;
    };
    const Step steps[] = {
        {"no stick chosen", [] {}, {L"Download and write USB", false, true, true, true}},
        {"stick chosen",
         [] {
             app_state.sticks.selected_stick = 1;
             app::update_action_enabled();
         },
         {L"Download and write USB", true, true, true, true}},
        {"busy", [] { app::set_busy(true); }, {L"Preparing USB…", false, false, false, false}},
        {"write ended",
         [] { app::set_busy(false); },
         {L"Download and write USB", true, true, true, true}},
        {"choice cleared",
         [] {
             app_state.sticks.selected_stick.reset();
             app::update_action_enabled();
         },
         {L"Download and write USB", false, true, true, true}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.state);
        step.enter();
        expect_look(step.look);
    }
}

TEST_F(WindowTest, BusyWithoutSticksLeavesTheStickButtonDisabledAfterwards) {
    machine.add_system_disk(0);
    start();
    app::set_busy(true);
    app::set_busy(false);
    expect_look({L"Download and write USB", false, false, true, true});
}

TEST_F(WindowTest, NotElevatedStatesFollowTheUpdateCheck) {
    machine.set_elevated(false);
    start();
    const Look idle{L"Enable USB access", true, false, false, true};
    expect_look(idle);
    app_state.update_check_running = true;
    app::update_action_enabled();
    expect_look({L"Enable USB access", false, false, false, true});
    app_state.update_check_running = false;
    app::update_action_enabled();
    expect_look(idle);
}

TEST_F(WindowTest, SetStatusStoresTheColourAndRepaints) {
    start();
    RedrawWindow(app_state.hwnd_main, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    app::set_status(L"Some text", app::COLOR_SUCCESS);
    EXPECT_EQ(status(), L"Some text");
    EXPECT_EQ(app_state.status_color, app::COLOR_SUCCESS);
    // The status line waits to repaint, in its new colour; the rest of the
    // window does not (painting_test: the status line paints its picture).
    RECT update{};
    EXPECT_TRUE(GetUpdateRect(app_state.hwnd_status, &update, FALSE));
    EXPECT_EQ(update.right - update.left, 239);
    EXPECT_FALSE(GetUpdateRect(app_state.hwnd_main, &update, FALSE));
}

}  // namespace
