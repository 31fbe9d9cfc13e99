// What the test build of the installer writes down for the GUI tests about
// what a script cannot read from outside in time: the items of the stick
// menu each time it opens, each message box with its caption, type and
// text, and every text of the status line. The real menu and box still
// appear, for xdotool to answer.
//
// Log lines, UTF-8, one event each (a line feed inside a text is written
// as the two characters \n):
//   menu ID CHECKED TEXT
//   menu-closed ID                  (the id TrackPopupMenu answered, 0 for
//                                    none, before the program acts on it)
//   message-box TYPE-HEX CAPTION|TEXT
//   message-box-closed ANSWER       (IDYES 6, IDNO 7, IDOK 1, ...)
//   status TEXT                     (each text the status line is given)
//   runas FILE
//   message-loop                    (once: the start-up is over)
#pragma once

namespace gui_test {

// Starts the log at `path` (the file is made anew) and wraps the seam's
// TrackPopupMenu, MessageBoxW, SetWindowTextW and GetMessageW.
bool install_ui_log(const char* path);

// Answers the elevated relaunch without starting anything: "declined"
// makes ShellExecuteW fail as when the user says no at the prompt,
// "accepted" makes it succeed.
bool install_runas_answer(const char* answer);

}  // namespace gui_test
