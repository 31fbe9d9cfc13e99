// The end of the user's session while a write runs. Sign-out, restart and
// an installer's Restart Manager all ask every window first; a window that
// lets the session end in the middle of a write leaves the stick half
// written and a multi-GB image in the temporary folder. So while busy the
// window blocks the end with a reason that Windows shows to the user and
// says no when asked. Windows then tells it that the session goes on
// (WM_ENDSESSION with FALSE); if the user ends it all the same, Windows may
// end the process with no further message, so nothing is left for that.
// An end that cannot be refused (ENDSESSION_CRITICAL) is answered only once
// the run has stopped and let the stick go, within the few seconds Windows
// waits for an answer.
#pragma once

#include "sys/sys.h"

namespace app {

constexpr WCHAR SHUTDOWN_BLOCK_REASON[] = U16("Writing the USB stick");
// Below the five seconds after which Windows ends a program that does not
// answer while the session ends.
constexpr ULONGLONG END_SESSION_WAIT_MS = 4000;

// A write starts: the session's end is blocked, with the reason.
void block_session_end();

// The write's result has arrived: the session may end again.
void allow_session_end();

// WM_QUERYENDSESSION, with its lParam: whether the session may end now.
// While a write runs, a critical end first stops it (as end_session does).
bool session_may_end(LPARAM flags);

// WM_POWERBROADCAST with PBT_APMSUSPEND: the user put the machine to sleep
// (lid, power button, Start menu), which no program can prevent. A write
// in progress is asked to stop at its next piece and to say that the
// machine slept; Windows waits only about two seconds, so nothing waits.
void machine_suspending();

// WM_ENDSESSION: `ending` is its wParam. While a write runs, asks it to stop
// and waits, at most END_SESSION_WAIT_MS, until its result is posted.
void end_session(bool ending);

}  // namespace app
