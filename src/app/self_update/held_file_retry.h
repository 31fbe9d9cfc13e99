// Antivirus scanners, indexers and sync clients open a new file for a moment
// after it appears; while they hold it, a rename or a delete fails with a
// sharing, access or lock violation that goes away by itself. The update's
// renames and deletes try again a bounded number of times, a short pause
// apart; any other error ends them at once.
#pragma once

#include "sys/sys.h"

namespace app {

constexpr unsigned HELD_FILE_ATTEMPTS = 10;
constexpr DWORD HELD_FILE_PAUSE_MS = 150;

// The errors of a file that another program holds for now.
bool is_held_file_error(DWORD error);

// Runs `operation` (true on success, the error in GetLastError otherwise)
// until it succeeds, fails for another reason, or has been tried
// HELD_FILE_ATTEMPTS times.
template <typename Operation>
bool retry_while_held(Operation operation) {
    for (unsigned attempt = 1;; ++attempt) {
        if (operation())
            return true;
        if (attempt == HELD_FILE_ATTEMPTS || !is_held_file_error(sys::GetLastError()))
            return false;
        sys::Sleep(HELD_FILE_PAUSE_MS);
    }
}

}  // namespace app
