// UTF-8 texts for a Windows console, which takes UTF-16 (WriteConsoleW):
// the engine's lines reach it intact whatever the console's code page.
#pragma once

#include <cstddef>

#include "sys/windows_api.h"

namespace cli {

// Converts from the start of `bytes` as many whole characters as fit in
// `capacity` units (at least 2); `consumed` says how many bytes that took. A
// byte that does not begin a well-formed character becomes U+FFFD on its own,
// so that a line cut inside a character still shows the rest.
size_t console_units(const char* bytes, size_t length, WCHAR* out, size_t capacity,
                     size_t& consumed);

}  // namespace cli
