// What the window does with the messages of the worker threads.
#pragma once

#include "sys/sys.h"

namespace app {

// APP_MSG_PROGRESS: the download percentage, or the start of writing.
void show_progress(WPARAM progress);

// APP_MSG_WRITE_RESULT: the end of a write; lParam 0 is success, otherwise
// it points to the failure text of result_text_length UTF-8 bytes.
void finish_write(LPARAM failure_text);

// APP_MSG_UPDATE_RESULT: the end of the update check. Ignored when no check
// was started.
void finish_update_check();

}  // namespace app
