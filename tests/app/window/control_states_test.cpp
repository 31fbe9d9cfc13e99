// The window's state table: when the action button is usable, and what a
// running write disables.
#include "app/window/control_states.h"

#include <gtest/gtest.h>

#include <string>

#include "app/window/window_texts.h"

namespace {

std::u16string text_of(const WCHAR* units) {
    std::u16string result;
    for (; *units != 0; ++units)
        result.push_back(static_cast<char16_t>(*units));
    return result;
}

TEST(ControlStates, RowsOfTheStateTable) {
    struct Row {
        const char* state;
        app::ActionInputs in;  // busy, update check running, elevated, stick chosen
        bool enabled;
    };
    const Row rows[] = {
        {"not elevated, update check running", {false, true, false, false}, false},
        {"not elevated, idle", {false, false, false, false}, true},
        {"elevated, no stick chosen", {false, false, true, false}, false},
        {"elevated, stick chosen", {false, false, true, true}, true},
        {"elevated, busy", {true, false, true, true}, false},
        // A running write or update check blocks the button whatever else
        // holds; elevated, only a chosen stick opens it.
        {"not elevated, busy", {true, false, false, false}, false},
        {"elevated, stick chosen, update check running", {false, true, true, true}, false},
        {"elevated, busy, no stick chosen", {true, false, true, false}, false},
        {"not elevated, a stale choice, idle", {false, false, false, true}, true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(app::action_enabled(row.in), row.enabled) << row.state;
}

TEST(ControlStates, BusyDisablesEverythingThatChangesTheChoice) {
    const app::BusyLook busy = app::busy_look(true, 3);
    EXPECT_FALSE(busy.version_enabled);
    EXPECT_FALSE(busy.refresh_enabled);
    EXPECT_FALSE(busy.stick_enabled);
    EXPECT_EQ(text_of(busy.action_text), u"Preparing USB…");

    const app::BusyLook idle = app::busy_look(false, 3);
    EXPECT_TRUE(idle.version_enabled);
    EXPECT_TRUE(idle.refresh_enabled);
    EXPECT_TRUE(idle.stick_enabled);
    EXPECT_EQ(text_of(idle.action_text), u"Download and write USB");

    const app::BusyLook idle_without_sticks = app::busy_look(false, 0);
    EXPECT_TRUE(idle_without_sticks.refresh_enabled);
    EXPECT_FALSE(idle_without_sticks.stick_enabled);
}

TEST(ControlStates, FirstFocusOfEachState) {
    using enum app::FocusTarget;
    struct Row {
        const char* state;
        app::FocusInputs in;  // stick chosen; action, stick, refresh, version enabled
        app::FocusTarget focus;
    };
    const Row rows[] = {
        {"elevated, no stick chosen", {false, false, true, true, true}, stick},
        {"elevated, stick chosen", {true, true, true, true, true}, action},
        {"elevated, empty list", {false, false, false, true, true}, refresh},
        {"not elevated, idle", {false, true, false, false, true}, action},
        {"not elevated, update check running", {false, false, false, false, true}, version},
        {"elevated, busy", {true, false, false, false, false}, main_window},
        // A choice whose action cannot be used leaves the stick button.
        {"stick chosen, action disabled", {true, false, true, true, true}, stick},
    };
    for (const Row& row : rows)
        EXPECT_EQ(app::first_focus(row.in), row.focus) << row.state;
}

}  // namespace
