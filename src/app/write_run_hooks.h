// What the window needs from the write run (write_run/): the thread it
// starts once the user has confirmed. The run reports back only through the
// messages of app_messages.h, so the window never includes the run itself.
#pragma once

#include "sys/sys.h"

namespace app {

// The thread's entry. Reads the chosen stick from AppState, which the busy
// window keeps unchanged until the result arrives. Returns 0.
DWORD WINAPI download_and_write_thread(LPVOID unused);

// Deletes the image that the last run kept for a second write, if any:
// when the window closes. Only while no run is going.
void forget_kept_image();

}  // namespace app
