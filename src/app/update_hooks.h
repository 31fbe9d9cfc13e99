// What the window needs from the self-update (update_start.cpp,
// install_update.cpp and the check thread in update_check.cpp): the start of
// the check at start-up, the hand-over of a verified update, and the
// download host named in the warning when an update could not be installed.
#pragma once

#include "app/file_identity.h"
#include "app/wide_path.h"
#include "sys/sys.h"

namespace app {

// Present in AppState from a successful start of the check until the check
// ends (or its thread could not be started). Clearing it zeroes it whole.
struct UpdateContext {
    HANDLE update_mutex = nullptr;       // owned by the window thread
    WidePath exe_path;                   // the running executable, from GetModuleFileNameW
    FileIdentity exe_identity;           // that file, at start-up
};

// Start-up step 12, only in an instance without administrator rights: takes
// the update mutex, fills AppState's `update` and starts the check thread,
// or leaves no trace at all when the check is skipped.
void start_update_check();

enum class InstallOutcome { relaunched, gave_up };

// Installs the verified update and starts the new copy. On `relaunched` the
// mutex is released, the check ended and the window destroyed already. On
// `gave_up` the running build is where the failure left it, and the caller
// ends the check.
InstallOutcome install_update();

// The download host, as shown in the update warning.
const char* update_host_name();

}  // namespace app
