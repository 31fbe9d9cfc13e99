// The main window and its controls.
#pragma once

namespace app {

// Registers the window class and creates the layered pop-up window at the
// top-left corner of the screen; false when either fails.
[[nodiscard]] bool create_main_window();

// Creates the 18 controls in order and keeps the handles the window uses;
// false when one cannot be created.
[[nodiscard]] bool create_controls();

}  // namespace app
