// What the buttons offer in each state of the window. The window applies
// these decisions to its controls (set_busy, update_action_enabled).
#pragma once

#include <cstdint>

#include "sys/windows_api.h"

namespace app {

struct ActionInputs {
    bool is_busy;
    bool update_check_running;
    bool is_elevated;
    bool stick_chosen;
};

// The action button is usable when no write and no update check runs, and
// either it offers the elevated relaunch or a stick has been chosen.
bool action_enabled(const ActionInputs& inputs);

struct BusyLook {
    bool version_enabled;
    bool refresh_enabled;
    bool stick_enabled;
    const WCHAR* action_text;
};

// While a write runs, nothing that would change the stick list or the
// choice can be used; the stick button needs a list to choose from.
BusyLook busy_look(bool busy, uint64_t stick_count);

struct FocusInputs {
    bool stick_chosen;
    bool action_enabled;
    bool stick_enabled;
    bool refresh_enabled;
    bool version_enabled;
};

enum class FocusTarget { action, stick, refresh, version, main_window };

// Where the keyboard focus belongs in a state: on the next step of the
// user's road (choosing a stick, then writing), else on the first usable
// button of the main column in the order of importance. When none can be
// used (a write runs) the focus rests on the main window itself, so that
// no stray Space or Enter presses a button and focus never sits on a
// disabled control, which takes no keys.
FocusTarget first_focus(const FocusInputs& inputs);

}  // namespace app
