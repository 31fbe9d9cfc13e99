// Where the keyboard focus is in the window. The buttons are walked with
// Tab and Shift+Tab by IsDialogMessageW in the message loop; this keeps the
// focus on a usable control as the window's state changes, brings it back
// when the window is activated again, and lets Enter press the focused
// button.
#pragma once

#include "sys/sys.h"

namespace app {

// Gives the focus to the control that the state asks for first (see
// first_focus), or to the main window when no button can be used.
void place_first_focus();

// After the enabled state of the buttons changed: a focus that was lost or
// sits on a disabled control, which would take no keys, moves to the
// state's first focus. A focus on a usable button stays where the user put
// it.
void settle_focus();

// WM_ACTIVATE, on deactivation: keeps the focused control for later.
void remember_focus();

// WM_SETFOCUS on the main window, which Windows gives the focus to when it
// is activated (after a message box, Alt+Tab, a restore): hands it on to
// the remembered control if it can still be used, else to the first focus.
void pass_focus_on();

// The id of the usable button that has the focus, or 0. Enter presses it:
// the buttons are owner-drawn and the window is no dialog, so no default
// push button answers Enter, and IsDialogMessageW sends IDOK instead.
int focused_button_id();

}  // namespace app
