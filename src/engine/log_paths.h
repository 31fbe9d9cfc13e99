// Paths in the logs folder on the computer: joining a folder and a file
// name, and making a folder with every missing folder above it.
#pragma once

#include <cstdint>

#include "engine/run_names.h"
#include "engine/write_options.h"

namespace engine {

// Room for a path in UTF-16 units, the terminating NUL included.
constexpr uint64_t LOG_PATH_CAPACITY = 1024;

// The folder, a "\" unless it ends in a separator, and the name's bytes as
// one UTF-16 unit each, into the one path buffer (valid until the next
// join). Fails with "a path is too long".
Result path_join(WideText folder, const char* name, uint32_t name_length, WideText& joined);

// Creates the folder and each missing folder above it. Folders that exist
// already are fine; so is being refused one above the last (a folder the
// user may not list but may write in).
Result make_folder(WideText path);

}  // namespace engine
