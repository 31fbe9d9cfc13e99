// The stick row: the stick button (id 103) and Refresh (id 102).
#pragma once

namespace app {

// Rebuilds the stick list (only an elevated process probes disks), clears
// the choice, and shows the result on the stick button and, when elevated,
// in the status line.
void refresh_stick_list();

// Opens the menu of the sticks found and records the user's choice.
void show_stick_menu();

}  // namespace app
