// The host build has no windows: nothing ends its session under it.
#include "cli/session_window.h"

namespace cli {

void open_session_window(HANDLE) {}

void close_session_window() {}

}  // namespace cli
