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
//   taskbar STATE                   (none, indeterminate, normal, error)
//   taskbar progress PERCENT
//   flash                           (FlashWindowEx: the window was behind)
//
// Wine under Xvfb has no Explorer, so no taskbar button: with the log, the
// test build stands in for it as Explorer would, announcing the button once
// the main window first shows ("TaskbarButtonCreated") and handing out a
// taskbar list that writes down each change of the button.
#pragma once

namespace gui_test {

// Starts the log at `path` (the file is made anew) and wraps the seam's
// TrackPopupMenu, MessageBoxW, SetWindowTextW, GetMessageW, ShowWindow,
// CoCreateInstance and FlashWindowEx.
bool install_ui_log(const char* path);

// Answers the elevated relaunch without starting anything: "declined"
// makes ShellExecuteW fail as when the user says no at the prompt,
// "accepted" makes it succeed.
bool install_runas_answer(const char* answer);

}  // namespace gui_test
