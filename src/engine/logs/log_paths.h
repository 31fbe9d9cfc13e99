// Paths in the logs folder on the computer: joining a folder and a file
// name for messages and room checks. The folders themselves are reached by
// handle (run/held_folder.h), never by these paths.
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

}  // namespace engine
