// The end of the user's session while a write runs. Sign-out, restart and
// an installer's Restart Manager all ask every window first; a window that
// lets the session end in the middle of a write leaves the stick half
// written and a multi-GB image in the temporary folder. So while busy the
// window blocks the end with a reason that Windows shows to the user, says
// no when asked, and if the session ends all the same, asks the run to stop
// and waits a few seconds for it to let the stick go and delete its file.
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

// WM_QUERYENDSESSION: whether the session may end now.
bool session_may_end();

// WM_ENDSESSION: `ending` is its wParam. While a write runs, asks it to stop
// and waits, at most END_SESSION_WAIT_MS, until its result is posted.
void end_session(bool ending);

}  // namespace app
