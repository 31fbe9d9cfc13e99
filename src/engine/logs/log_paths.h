// Paths in the logs folder on the computer: joining a folder and a file
// name, making a folder with every missing folder above it, and opening a
// folder to write into so that nobody can swap it for a link meanwhile.
#pragma once

#include <cstdint>

#include "engine/run_names.h"
#include "engine/write_options.h"

namespace engine {

// Room for a path in UTF-16 units, the terminating NUL included.
constexpr uint64_t LOG_PATH_CAPACITY = 1024;

// The folder, a "\" unless it ends in a separator, and the name, into the
// one path buffer (valid until the next join). Fails with "a path is too
// long".
Result path_join(WideText folder, const WCHAR* name, uint32_t name_length, WideText& joined);
Result path_join(WideText folder, const char* ascii_name, uint32_t name_length, WideText& joined);

// How many units at the start of a path name a place that is never made:
// a drive ("C:"), a share ("\\server\share"), and their "\\?\" forms.
uint64_t path_root_length(WideText path);

// Creates the folder and each missing folder above it. Folders that exist
// already are fine, whatever Windows answers when asked to make them (a
// drive's root answers "access denied"); so is being refused one above the
// last (a folder the user may not list but may write in). Folders made here
// are made with `security` (nullptr: Windows' default).
Result make_folder(WideText path, LPSECURITY_ATTRIBUTES security = nullptr);

// Opens a folder to write into: the folder itself, never where a junction
// or symbolic link of that name points (refused), and held so that it can
// be neither renamed nor deleted while the handle is open.
Result open_log_folder(WideText path, HANDLE& folder);

}  // namespace engine
