// A UTF-16 text as Windows takes paths, given as a slice.
#pragma once

#include <cstdint>

#include "sys/windows_api.h"

namespace run {

// NUL-terminated at `length` units; an empty pointer is "none".
struct WideText {
    const WCHAR* data = nullptr;
    uint64_t length = 0;

    bool is_none() const { return data == nullptr; }
};

}  // namespace run
