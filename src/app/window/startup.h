// The program's main routine: start-up, the message loop and the clean-up.
#pragma once

namespace app {

// Steps 1 to 12 of start-up: the window exists, shows its first state and
// the update check has started or been skipped. False when the program
// cannot run; everything it created is released then.
[[nodiscard]] bool start_window();

// Runs until the window is destroyed.
void run_message_loop();

// The whole program: the process exit code, 0 after a normal close and 1
// when the window cannot be created.
int run_installer();

}  // namespace app
