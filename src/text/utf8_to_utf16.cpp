#include "text/utf8_to_utf16.h"

#include <cstdint>

namespace text {
namespace {

constexpr uint32_t NO_CHARACTER = 0xFFFFFFFFu;

// Decodes one character starting at bytes[at]; returns NO_CHARACTER for an
// ill-formed sequence. `size` receives the sequence length.
uint32_t decode_one(const unsigned char* bytes, size_t length, size_t at, size_t& size) {
    const unsigned char lead = bytes[at];
    uint32_t value = 0;
    uint32_t smallest = 0;
    if (lead < 0x80) {
        size = 1;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2, value = lead & 0x1Fu, smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3, value = lead & 0x0Fu, smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4, value = lead & 0x07u, smallest = 0x10000;
    } else {
        return NO_CHARACTER;  // a continuation byte, C0, C1 or F5..FF as lead
    }
    if (size > length - at)
        return NO_CHARACTER;
    for (size_t i = 1; i < size; ++i) {
        const unsigned char next = bytes[at + i];
        if ((next & 0xC0u) != 0x80u)
            return NO_CHARACTER;
        value = (value << 6) | (next & 0x3Fu);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    if (value < smallest || surrogate || value > 0x10FFFF)
        return NO_CHARACTER;
    return value;
}

bool is_well_formed(const unsigned char* bytes, size_t length) {
    size_t at = 0;
    while (at < length) {
        size_t size = 0;
        if (decode_one(bytes, length, at, size) == NO_CHARACTER)
            return false;
        at += size;
    }
    return true;
}

}  // namespace

Utf16Conversion utf8_to_utf16(const char* bytes, size_t length, WCHAR* out, size_t capacity) {
    Utf16Conversion result;
    if (capacity == 0)
        return result;
    out[0] = 0;
    const unsigned char* input = reinterpret_cast<const unsigned char*>(bytes);
    if (!is_well_formed(input, length)) {
        result.invalid = true;
        return result;
    }
    const size_t room = capacity - 1;  // one unit stays for the NUL
    size_t at = 0;
    while (at < length) {
        size_t size = 0;
        const uint32_t value = decode_one(input, length, at, size);
        const size_t units = value >= 0x10000 ? 2 : 1;
        if (units > room - result.length) {
            result.cut = true;
            break;
        }
        if (units == 1) {
            out[result.length++] = static_cast<WCHAR>(value);
        } else {
            const uint32_t offset = value - 0x10000;
            out[result.length++] = static_cast<WCHAR>(0xD800 + (offset >> 10));
            out[result.length++] = static_cast<WCHAR>(0xDC00 + (offset & 0x3FF));
        }
        at += size;
    }
    out[result.length] = 0;
    return result;
}

}  // namespace text
