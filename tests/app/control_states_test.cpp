// The window's state table: when the action button is usable, and what a
// running write disables.
#include "app/control_states.h"

#include <gtest/gtest.h>

#include <string>

#include "app/window_texts.h"

namespace {

std::u16string text_of(const WCHAR* units) {
    std::u16string result;
    for (; *units != 0; ++units)
        result.push_back(static_cast<char16_t>(*units));
    return result;
}

TEST(ControlStates, ActionEnabledOverEveryCombination) {
    for (int bits = 0; bits < 16; ++bits) {
        const app::ActionInputs in{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0,
                                   (bits & 8) != 0};
        // Usable only when idle, and either offering the relaunch (not
        // elevated) or with a stick chosen (elevated).
        const bool expected =
            !in.is_busy && !in.update_check_running && (!in.is_elevated || in.stick_chosen);
        EXPECT_EQ(app::action_enabled(in), expected)
            << "busy " << in.is_busy << " update " << in.update_check_running << " elevated "
            << in.is_elevated << " stick " << in.stick_chosen;
    }
}

TEST(ControlStates, RowsOfTheStateTable) {
    struct Row {
        const char* state;
        app::ActionInputs in;
        bool enabled;
    };
    const Row rows[] = {
        {"not elevated, update check running", {false, true, false, false}, false},
        {"not elevated, idle", {false, false, false, false}, true},
        {"elevated, no stick chosen", {false, false, true, false}, false},
        {"elevated, stick chosen", {false, false, true, true}, true},
        {"elevated, busy", {true, false, true, true}, false},
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

}  // namespace
