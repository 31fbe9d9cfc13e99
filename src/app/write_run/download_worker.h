// The download-and-write worker: everything between the user's confirmation
// and the result. It fetches and verifies the release manifest, checks that
// the image fits on the chosen stick, streams the image into a temporary
// file while hashing it, hands the file to the engine, lets Windows delete
// it, and tells the window how it went. It speaks to the window only by posting
// APP_MSG_PROGRESS and, last of all, APP_MSG_WRITE_RESULT.
#pragma once

#include <cstdint>

#include "app/write_run_hooks.h"
#include "sys/sys.h"

namespace app {

constexpr uint64_t RELEASE_MANIFEST_BUFFER_BYTES = 1600;  // a body must stay below it
constexpr DWORD MANIFEST_RECEIVE_TIMEOUT_MS = 4000;
constexpr ULONGLONG MANIFEST_DEADLINE_MS = 12000;  // for the whole manifest, as the update check
constexpr char RELEASE_MANIFEST_PATH[] = "/install/releases/tundra.txt";
constexpr char TEMP_FILE_PREFIX[] = "tundra-installer-";

// The texts posted with APP_MSG_WRITE_RESULT, besides the engine's own
// failure reason. Posted as a pointer to the first byte; the length goes in
// AppState's result_text_length.
constexpr char TEXT_NO_RELEASE[] = "The latest Tundra release is unavailable. Try again later.";
constexpr char TEXT_STICK_TOO_SMALL[] = "The selected USB stick is too small for this release.";
constexpr char TEXT_NOT_DOWNLOADED[] =
    "Tundra could not be downloaded or verified. Check your connection and try again.";
constexpr char TEXT_NOT_PREPARED[] = "Windows could not prepare to write the USB stick.";

}  // namespace app
