// A path in a fixed buffer, as Windows takes it: UTF-16, NUL-terminated at
// `length`.
#pragma once

#include <cstdint>

#include "sys/windows_api.h"

namespace app {

constexpr uint64_t WIDE_PATH_UNITS = 4096;

struct WidePath {
    uint64_t length = 0;
    WCHAR units[WIDE_PATH_UNITS] = {};
};

}  // namespace app
