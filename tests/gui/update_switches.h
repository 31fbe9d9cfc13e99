// How the test build of the installer treats the self-update, from two
// variables that only this build reads:
//   TUNDRA_SIM_UPDATES=check        check for updates as the product does.
//       Without it the check is skipped, as when the update mutex cannot be
//       made, so that no GUI test replaces the test build it runs by chance.
//   TUNDRA_SIM_CONNECT_DELAY_MS=N   each connection to the download host
//       waits N ms first: a slow network, which keeps the check running
//       while a test starts a second instance or changes the executable.
#pragma once

namespace gui_test {

// Either argument may be null (its variable is not set). False when a value
// cannot be used.
bool install_update_switches(const char* updates, const char* connect_delay_ms);

}  // namespace gui_test
