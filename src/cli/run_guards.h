// What surrounds one engine run of the stick tool, from before the run
// starts to after it has released the stick.
#pragma once

#include "sys/sys.h"

namespace cli {

// While it lives, Windows does not put the machine to sleep (disk activity
// does not count as activity there), and Ctrl+C or a closing console asks
// the run to stop instead of ending the process mid-transfer. Both are
// undone when it ends, whatever the run's result.
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

// How long a closing console waits for the run to release the stick. Windows
// ends the process about five seconds after the close; the run stops at its
// next piece and drains its transfers well within that.
constexpr DWORD CLOSE_WAIT_MS = 4000;

}  // namespace cli
