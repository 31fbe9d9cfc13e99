// The two names beside the running executable that an update uses: the new
// build is written under the first, and the running build steps aside under
// the second, so that the new one can take its place. Each is the
// executable's full path (its own name and extension stay in front) followed
// by a mark, the process id and a tick count, both numbers in lower-case
// hexadecimal without leading zeros:
//   C:\Users\u\Downloads\tundra-usb-installer-x64.exe.tundra-new-1a2c-5f3e01
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/wide_path.h"

namespace app {

constexpr char NEW_FILE_MARK[] = ".tundra-new-";
constexpr char PREVIOUS_FILE_MARK[] = ".tundra-previous-";

// The appended part is made in a buffer of this many bytes; the longest,
// the previous-file mark with an 8-digit id and a 16-digit tick, needs 42.
constexpr size_t BESIDE_NAME_BYTES = 60;
// The longest whole path, in UTF-16 units without the terminating NUL.
constexpr uint64_t MAX_BESIDE_PATH_UNITS = WIDE_PATH_UNITS - 1;

// Writes exe_path + mark + id + "-" + tick into `out`. False, with `out`
// emptied, when the whole path would exceed MAX_BESIDE_PATH_UNITS.
bool path_beside(const WidePath& exe_path, const char* mark, uint32_t process_id, uint64_t tick,
                 WidePath& out);

}  // namespace app
