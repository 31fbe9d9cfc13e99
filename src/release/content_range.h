// The Content-Range of a 206 answer to "Range: bytes=N-": whether it is the
// rest of the very file we were given, from byte N to its last byte. Only
// then may its body continue our file; any other range (a piece of it, a
// range of another length, a range we did not ask for) is refused.
#pragma once

#include <cstdint>

#include "text/text_writer.h"

namespace release {

// True when `header` is "bytes N-M/L" with N = from_byte, M = total_bytes - 1
// and L either total_bytes or "*" (a length the server does not know).
// Numbers are plain decimal digits; no spaces inside, no sign, no overflow.
bool content_range_continues(text::ByteText header, uint64_t from_byte, uint64_t total_bytes);

}  // namespace release
