#include "cli/console_text.h"

#include <cstdint>

namespace cli {
namespace {

constexpr uint32_t REPLACEMENT = 0xFFFD;

bool is_continuation(uint8_t b) {
    return (b & 0xC0) == 0x80;
}

// One character from `bytes`; `size` is how many bytes it took (1 for a
// byte that begins nothing well-formed, which then stands for U+FFFD).
uint32_t decode(const uint8_t* bytes, size_t length, size_t& size) {
    const uint8_t lead = bytes[0];
    size = 1;
    if (lead < 0x80)
        return lead;
    size_t need = 0;
    uint32_t cp = 0;
    uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1, cp = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2, cp = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3, cp = lead & 0x07, least = 0x10000;
    } else {
        return REPLACEMENT;
    }
    if (need >= length)
        return REPLACEMENT;
    for (size_t i = 1; i <= need; ++i) {
        if (!is_continuation(bytes[i]))
            return REPLACEMENT;
        cp = (cp << 6) | (bytes[i] & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return REPLACEMENT;
    size = need + 1;
    return cp;
}

}  // namespace

size_t console_units(const char* bytes, size_t length, WCHAR* out, size_t capacity,
                     size_t& consumed) {
    const uint8_t* input = reinterpret_cast<const uint8_t*>(bytes);
    size_t units = 0;
    consumed = 0;
    while (consumed < length) {
        size_t size = 0;
        const uint32_t cp = decode(input + consumed, length - consumed, size);
        const size_t needed = cp >= 0x10000 ? 2 : 1;
        if (needed > capacity - units)
            break;
        if (needed == 2) {
            out[units++] = static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10));
            out[units++] = static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out[units++] = static_cast<WCHAR>(cp);
        }
        consumed += size;
    }
    return units;
}

}  // namespace cli
