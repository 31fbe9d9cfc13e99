// UTF-8 to UTF-16 for texts shown in the window. Texts are assembled in
// UTF-8 and converted just before display, into fixed buffers.
#pragma once

#include <cstddef>

#include "sys/windows_api.h"

namespace text {

struct Utf16Conversion {
    size_t length = 0;     // units written, without the terminating NUL
    bool invalid = false;  // the input was not well-formed UTF-8: the output is empty
    bool cut = false;      // the output ends early at a whole character: the rest did not fit
};

// Converts `length` bytes of UTF-8 into `out`, which holds `capacity` units
// including the terminating NUL (nothing is written when capacity is 0).
// Ill-formed input anywhere (stray or missing continuation bytes, overlong
// forms, surrogates, values above U+10FFFF) gives an empty text. Input that
// does not fit is cut before the first character that does not fit whole,
// so a surrogate pair is never split.
Utf16Conversion utf8_to_utf16(const char* bytes, size_t length, WCHAR* out, size_t capacity);

// A converted text that owns its buffer.
template <size_t CAPACITY>
struct Utf16Text {
    WCHAR units[CAPACITY] = {};
    size_t length = 0;

    static constexpr size_t capacity = CAPACITY;
};

template <size_t CAPACITY>
Utf16Text<CAPACITY> to_utf16(const char* bytes, size_t length) {
    Utf16Text<CAPACITY> result;
    result.length = utf8_to_utf16(bytes, length, result.units, CAPACITY).length;
    return result;
}

}  // namespace text
