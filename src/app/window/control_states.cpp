#include "app/window/control_states.h"

#include "app/window/window_texts.h"

namespace app {

bool action_enabled(const ActionInputs& inputs) {
    return !inputs.is_busy && !inputs.update_check_running &&
           (!inputs.is_elevated || inputs.stick_chosen);
}

BusyLook busy_look(bool busy, uint64_t stick_count) {
    return {!busy, !busy, !busy && stick_count > 0,
            busy ? TEXT_ACTION_PREPARING : TEXT_ACTION_WRITE};
}

FocusTarget first_focus(const FocusInputs& inputs) {
    using enum FocusTarget;
    if (!inputs.stick_chosen && inputs.stick_enabled)
        return stick;
    if (inputs.action_enabled)
        return action;
    if (inputs.stick_enabled)
        return stick;
    if (inputs.refresh_enabled)
        return refresh;
    if (inputs.version_enabled)
        return version;
    return main_window;
}

}  // namespace app
