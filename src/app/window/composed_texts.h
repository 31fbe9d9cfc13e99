// The window texts that are composed at run time: assembled in UTF-8 and
// converted to UTF-16 just before display.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/utf8_to_utf16.h"

namespace app {

constexpr size_t PROGRESS_TEXT_BYTES = 128;
constexpr size_t FAILURE_TEXT_BYTES = 1024;    // the engine's failure reason, at most
constexpr size_t FAILURE_DIALOG_UNITS = 1024;  // including the terminating NUL
constexpr size_t UPDATE_TEXT_BYTES = 320;

using ProgressText = text::Utf16Text<PROGRESS_TEXT_BYTES>;
using FailureDialogText = text::Utf16Text<FAILURE_DIALOG_UNITS>;
using UpdateAvailableText = text::Utf16Text<UPDATE_TEXT_BYTES>;

// "Downloading Tundra… {percent}%", or the writing text for PROGRESS_WRITING.
ProgressText progress_text(uint64_t progress);

// How far a download is, as the window knows it from the worker's posts.
constexpr uint64_t SECONDS_LEFT_UNKNOWN = UINT64_MAX;
struct DownloadFigures {
    uint64_t percent = 0;
    bool has_amount = false;  // received_bytes and total_bytes are known
    uint64_t received_bytes = 0;
    uint64_t total_bytes = 0;
    uint64_t seconds_left = SECONDS_LEFT_UNKNOWN;
};

// "Downloading Tundra… 42% · 1.3 of 3.1 GB · about 6 min left": the amount
// once it is known, the time once it can be told.
ProgressText download_text(const DownloadFigures& figures);

// "Connection lost. Trying again in 8 s… (42% downloaded)".
ProgressText retry_text(uint64_t seconds, uint64_t percent);

// "Writing and verifying the USB stick… 42%".
ProgressText writing_text(uint64_t percent);

// "about 6 min left", "less than a minute left", "about 1 h 20 min left".
ProgressText time_left_text(uint64_t seconds);

// The failure text a worker posted, for the result dialog. At most
// FAILURE_TEXT_BYTES are read, whatever length is claimed; ill-formed UTF-8
// gives an empty text; a text longer than the dialog buffer is cut. It is
// shown as plain text: control characters other than the line feed, and
// the marks that change the direction of text, become "?".
FailureDialogText failure_dialog_text(const char* utf8, uint64_t length);

// "Update available at {host}/install. This copy could not be replaced."
UpdateAvailableText update_available_text(const char* host);

}  // namespace app
