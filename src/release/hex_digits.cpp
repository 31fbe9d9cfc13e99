#include "release/hex_digits.h"

namespace release {

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool decode_hex(const char* digits, size_t byte_count, uint8_t* out) {
    for (size_t i = 0; i < byte_count; ++i) {
        const int high = hex_digit_value(digits[2 * i]);
        const int low = hex_digit_value(digits[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

}  // namespace release
