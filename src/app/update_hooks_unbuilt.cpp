// The self-update is not built yet. Until it is, the window behaves exactly
// as when the update check is skipped: no context is ever filled and no
// update message ever comes. This file goes when the self-update arrives.
#include "app/update_hooks.h"

namespace app {

void start_update_check() {}

InstallOutcome install_update() {
    return InstallOutcome::gave_up;
}

const char* update_host_name() {
    return "localhost";
}

}  // namespace app
