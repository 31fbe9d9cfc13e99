#include "run/path_text.h"

#include "run/run_buffers.h"

namespace run {
namespace {

constexpr char NOT_UTF16[] = "(a path that is not UTF-16)";

bool is_high_surrogate(uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// UTF-8 bytes of one code point; returns their count.
size_t encode(uint32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace

text::ByteText path_text(WideText path) {
    char* out = buffers.path_text;
    size_t length = 0;
    bool full = false;
    for (uint64_t i = 0; i < path.length; ++i) {
        uint32_t cp = static_cast<uint16_t>(path.data[i]);
        if (is_low_surrogate(cp))
            return {NOT_UTF16, sizeof NOT_UTF16 - 1};
        if (is_high_surrogate(cp)) {
            if (i + 1 >= path.length ||
                !is_low_surrogate(static_cast<uint16_t>(path.data[i + 1]))) {
                return {NOT_UTF16, sizeof NOT_UTF16 - 1};
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) +
                 (static_cast<uint16_t>(path.data[i + 1]) - 0xDC00);
            ++i;
        }
        char bytes[4];
        const size_t count = encode(cp, bytes);
        // Keep checking the rest for validity, but stop adding once full.
        if (full || count > PATH_TEXT_CAPACITY - length) {
            full = true;
            continue;
        }
        for (size_t b = 0; b < count; ++b)
            out[length++] = bytes[b];
    }
    return {out, length};
}

}  // namespace run
