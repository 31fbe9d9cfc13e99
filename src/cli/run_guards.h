// What surrounds one engine run of the stick tool, from before the run
// starts to after it has released the stick.
#pragma once

#include "sys/sys.h"

namespace cli {

// While it lives, Windows does not put the machine to sleep when idle (disk
// activity does not count as activity there); Ctrl+C or a closing console
// asks the run to stop instead of ending the process mid-transfer; and the
// session window (session_window.h) stops the run when the session ends or
// the user puts the machine to sleep. All is undone when it ends, whatever
// the run's result.
class RunGuards {
  public:
    RunGuards();
    ~RunGuards();
    RunGuards(const RunGuards&) = delete;
    RunGuards& operator=(const RunGuards&) = delete;

    // The run has returned: it has let go of every transfer, lock and handle.
    void run_over();

  private:
    bool handler_installed_ = false;
};

// How long a closing console, or an ending session, waits for the run to
// release the stick. Windows ends the process about five seconds after the
// close or the end; the run stops at its next piece and drains its
// transfers well within that.
constexpr DWORD CLOSE_WAIT_MS = 4000;

}  // namespace cli
