// The stick tool's part in the end of the user's session and in sleep.
// Windows counts a console program that loads user32 (as this one does) as
// a Windows application: it never gets the console's sign-out or shut-down
// event, only the messages that every top-level window gets. So while
// write, logs or backup runs, the tool keeps a hidden top-level window on a
// thread of its own, which
// - holds a shutdown block reason, so that Windows names the tool and why
//   when the session ends;
// - answers yes when asked whether the session may end: Windows does not let
//   a console program refuse, and ends one that says no; a yes is what makes
//   Windows send WM_ENDSESSION, the only moment the tool gets to stop;
// - on WM_ENDSESSION with TRUE asks the run to stop and waits, at most
//   CLOSE_WAIT_MS, until it has let the stick go (Windows waits five seconds
//   for the answer); with FALSE the session goes on, and so does the run;
// - when the machine goes to sleep (PBT_APMSUSPEND) asks the run to stop at
//   its next piece, and says that the machine slept.
#pragma once

#include "sys/sys.h"

namespace cli {

constexpr WCHAR SESSION_WINDOW_CLASS[] = U16("TundraStickSession");
constexpr WCHAR SESSION_BLOCK_REASON[] = U16("tundra-stick is using a USB stick");

// Opens the window, on its thread, for the length of one run. `run_over` is
// the event that the run sets once it has returned. Without the window (it
// could not be made, or the build has none) the run goes on unguarded by it.
void open_session_window(HANDLE run_over);

// The run is over: lets the session end freely again and closes the window
// and its thread.
void close_session_window();

}  // namespace cli
