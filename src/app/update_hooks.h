// What the window needs from the self-update: the start of the check at
// start-up, the hand-over of a verified update, and the download host named
// in the warning when an update could not be installed.
#pragma once

#include "sys/sys.h"

namespace app {

// Present in AppState from a successful start of the check until the check
// ends. The self-update adds the executable's path and file identity here.
struct UpdateContext {
    HANDLE update_mutex = nullptr;  // owned by the window thread
};

// Start-up step 12, only in an instance without administrator rights: takes
// the update mutex, fills AppState's `update` and starts the check thread,
// or leaves no trace at all when the check is skipped.
void start_update_check();

enum class InstallOutcome { relaunched, gave_up };

// Installs the verified update and starts the new copy. On `relaunched` the
// mutex is released and the window destroyed already.
InstallOutcome install_update();

// The download host, as shown in the update warning.
const char* update_host_name();

}  // namespace app
