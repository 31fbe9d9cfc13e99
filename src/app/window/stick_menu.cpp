#include "app/window/app_state.h"
#include "app/window/literal_ampersands.h"
#include "app/window/stick_row.h"
#include "app/window/window_controls.h"
#include "discovery/stick_texts.h"

namespace app {
namespace {

// Menu item ids are the list index plus one, so that 0 can mean "nothing
// was chosen" when TrackPopupMenu returns.
bool append_sticks(HMENU menu) {
    const discovery::StickList& list = app_state.sticks;
    for (uint64_t i = 0; i < list.stick_count; ++i) {
        const discovery::StickDescription description =
            discovery::stick_description(list.sticks[i]);
        const auto item = with_literal_ampersands<discovery::STICK_DESCRIPTION_CAPACITY>(
            description.data, description.length);
        const bool chosen = list.selected_stick.has_value() && *list.selected_stick == i;
        if (!sys::AppendMenuW(menu, chosen ? MF_CHECKED : MF_STRING, i + 1, item.units))
            return false;
    }
    return true;
}

void choose_stick(uint64_t index) {
    app_state.sticks.selected_stick = index;
    const discovery::StickButtonLabel label =
        discovery::stick_button_label(app_state.sticks.sticks[index]);
    const auto units =
        with_literal_ampersands<discovery::STICK_BUTTON_LABEL_CAPACITY>(label.data, label.length);
    (void)sys::SetWindowTextW(app_state.hwnd_stick, units.units);
    update_action_enabled();
}

// The menu opens with its top-left corner at the stick button's bottom-left
// corner and answers with the chosen id instead of posting a command.
UINT_PTR track_menu(HMENU menu) {
    RECT button{};
    if (!sys::GetWindowRect(app_state.hwnd_stick, &button))
        return 0;
    const BOOL chosen =
        sys::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, button.left,
                            button.bottom, 0, app_state.hwnd_main, nullptr);
    return chosen > 0 ? static_cast<UINT_PTR>(chosen) : 0;
}

}  // namespace

void show_stick_menu() {
    if (app_state.sticks.stick_count == 0 || app_state.is_busy)
        return;
    HMENU menu = sys::CreatePopupMenu();
    if (menu == nullptr)
        return;
    // A menu that could not be filled whole would offer the wrong ids.
    const UINT_PTR chosen = append_sticks(menu) ? track_menu(menu) : 0;
    if (chosen >= 1 && chosen <= app_state.sticks.stick_count)
        choose_stick(chosen - 1);
    (void)sys::DestroyMenu(menu);
}

}  // namespace app
