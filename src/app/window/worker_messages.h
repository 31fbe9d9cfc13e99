// What the window does with the messages of the worker threads.
#pragma once

#include "sys/sys.h"

namespace app {

// APP_MSG_PROGRESS: the download percentage, the start of writing, or the
// image downloaded earlier being used.
void show_progress(WPARAM progress);

// APP_MSG_DOWNLOAD_AMOUNT: the bytes received and the seconds left (or
// DOWNLOAD_TIME_UNKNOWN).
void show_download_amount(WPARAM received_bytes, LPARAM seconds_left);

// APP_MSG_DOWNLOAD_RETRY: the seconds until the download asks again.
void show_retry(WPARAM seconds);

// APP_MSG_WRITE_PROGRESS: how far the write and its read-back are.
void show_write_progress(WPARAM percent);

// A new write starts: nothing is known of its download yet.
void forget_run_view();

// APP_MSG_WRITE_RESULT: the end of a write; lParam 0 is success, otherwise
// it points to the failure text of result_text_length UTF-8 bytes.
void finish_write(LPARAM failure_text);

// APP_MSG_UPDATE_RESULT: the end of the update check. Ignored when no check
// was started.
void finish_update_check();

}  // namespace app
