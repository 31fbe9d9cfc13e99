// The window texts that are composed at run time: assembled in UTF-8 and
// converted to UTF-16 just before display.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/utf8_to_utf16.h"

namespace app {

constexpr size_t PROGRESS_TEXT_BYTES = 64;
constexpr size_t FAILURE_TEXT_BYTES = 1024;    // the engine's failure reason, at most
constexpr size_t FAILURE_DIALOG_UNITS = 1024;  // including the terminating NUL
constexpr size_t UPDATE_TEXT_BYTES = 320;

using ProgressText = text::Utf16Text<PROGRESS_TEXT_BYTES>;
using FailureDialogText = text::Utf16Text<FAILURE_DIALOG_UNITS>;
using UpdateAvailableText = text::Utf16Text<UPDATE_TEXT_BYTES>;

// "Downloading Tundra… {percent}%", or the writing text for PROGRESS_WRITING.
ProgressText progress_text(uint64_t progress);

// The failure text a worker posted, for the result dialog. At most
// FAILURE_TEXT_BYTES are read, whatever length is claimed; ill-formed UTF-8
// gives an empty text; a text longer than the dialog buffer is cut. It is
// shown as plain text: control characters other than the line feed, and
// the marks that change the direction of text, become "?".
FailureDialogText failure_dialog_text(const char* utf8, uint64_t length);

// "Update available at {host}/install. This copy could not be replaced."
UpdateAvailableText update_available_text(const char* host);

}  // namespace app
