// The messages by which the worker threads report to the window. Each
// worker writes the AppState fields that its message refers to before it
// posts; the window reads them only while handling that message.
#pragma once

#include <cstdint>

namespace app {

constexpr unsigned APP_MSG_WRITE_RESULT = 0x8001;   // lParam: 0, or the UTF-8 failure text
constexpr unsigned APP_MSG_UPDATE_RESULT = 0x8002;  // result in update_ready, update_length
constexpr unsigned APP_MSG_PROGRESS = 0x8003;       // wParam: percent 0..100 or PROGRESS_WRITING
constexpr uint64_t PROGRESS_WRITING = 101;
// After PROGRESS_WRITING: how far the write and its verification are, in
// percent 0..100 of the bytes the engine moves on the stick, posted only
// when the whole percentage changes. The status line keeps its one text
// for the write; this drives what the window shows beside it.
constexpr unsigned APP_MSG_WRITE_PROGRESS = 0x8004;  // wParam: percent 0..100

// Beside the download's APP_MSG_PROGRESS: how much of the image has come,
// and how long the rest will take. wParam: the bytes received; lParam: the
// seconds left, or DOWNLOAD_TIME_UNKNOWN. The image's size is in AppState's
// download_size_bytes, written before the first of these is posted.
constexpr unsigned APP_MSG_DOWNLOAD_AMOUNT = 0x8005;
constexpr int64_t DOWNLOAD_TIME_UNKNOWN = -1;
// The download broke off and waits before it asks again: wParam, the whole
// seconds until it does. Posted once a second while it waits.
constexpr unsigned APP_MSG_DOWNLOAD_RETRY = 0x8006;
// APP_MSG_PROGRESS when the image downloaded earlier in this window is the
// one the release names: it is written without a second download.
constexpr uint64_t PROGRESS_KEPT_IMAGE = 102;

#ifdef WM_APP
static_assert(APP_MSG_WRITE_RESULT == WM_APP + 1 && APP_MSG_PROGRESS == WM_APP + 3 &&
              APP_MSG_WRITE_PROGRESS == WM_APP + 4 && APP_MSG_DOWNLOAD_AMOUNT == WM_APP + 5 &&
              APP_MSG_DOWNLOAD_RETRY == WM_APP + 6);
#endif

}  // namespace app
