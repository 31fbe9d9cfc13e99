// How the test build of the installer treats the self-update, from two
// variables that only this build reads:
//   TUNDRA_SIM_UPDATES=check        check for updates as the product does.
//       Without it the check is skipped, as when the update mutex cannot be
//       made, so that no GUI test replaces the test build it runs by chance.
//   TUNDRA_SIM_CONNECT_GATE=PATH    each connection to the download host
//       waits until a file exists at PATH (a Windows path): the test holds
//       the check or the write at its first connection while it starts a
//       second instance, changes the executable or clicks, and opens the
//       gate when it is done, instead of hoping a delay was long enough.
#pragma once

namespace gui_test {

// Either argument may be null (its variable is not set). False when a value
// cannot be used.
bool install_update_switches(const char* updates, const char* connect_gate);

}  // namespace gui_test
