#include "cli/option_values.h"

namespace cli {
namespace {

int hex_digit(WCHAR unit) {
    if (unit >= '0' && unit <= '9')
        return unit - '0';
    if (unit >= 'a' && unit <= 'f')
        return unit - 'a' + 10;
    if (unit >= 'A' && unit <= 'F')
        return unit - 'A' + 10;
    return -1;
}

// Two hexadecimal digits at `at` as one byte; false when either is not one.
bool hex_byte(const WCHAR* units, size_t at, uint8_t& byte) {
    const int high = hex_digit(units[at]);
    const int low = hex_digit(units[at + 1]);
    if (high < 0 || low < 0)
        return false;
    byte = static_cast<uint8_t>(high * 16 + low);
    return true;
}

}  // namespace

NumberRead read_decimal(engine::WideText value, uint64_t& number) {
    if (value.length == 0)
        return NumberRead::NotANumber;
    uint64_t result = 0;
    bool too_large = false;
    for (uint64_t i = 0; i < value.length; ++i) {
        const WCHAR unit = value.data[i];
        if (unit < '0' || unit > '9')
            return NumberRead::NotANumber;
        const uint64_t digit = static_cast<uint64_t>(unit - '0');
        if (result > (UINT64_MAX - digit) / 10)
            too_large = true;
        result = result * 10 + digit;
    }
    if (too_large)
        return NumberRead::TooLarge;
    number = result;
    return NumberRead::Ok;
}

bool read_guid(engine::WideText value, uint8_t stored[16]) {
    if (value.length != 36)
        return false;
    // Where each written byte's two digits start, and where it is stored.
    static const uint8_t DIGITS_AT[16] = {0,  2,  4,  6,  9,  11, 14, 16,
                                          19, 21, 24, 26, 28, 30, 32, 34};
    static const uint8_t STORED_AT[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    static const uint8_t DASHES_AT[4] = {8, 13, 18, 23};
    for (uint8_t dash : DASHES_AT) {
        if (value.data[dash] != '-')
            return false;
    }
    for (size_t i = 0; i < 16; ++i) {
        if (!hex_byte(value.data, DIGITS_AT[i], stored[STORED_AT[i]]))
            return false;
    }
    return true;
}

bool read_hex_bytes(engine::WideText value, uint8_t* bytes, size_t count) {
    if (value.length != 2 * count)
        return false;
    for (size_t i = 0; i < count; ++i) {
        if (!hex_byte(value.data, 2 * i, bytes[i]))
            return false;
    }
    return true;
}

bool read_ascii_text(engine::WideText value, char* bytes, size_t capacity, size_t& length) {
    if (value.length > capacity)
        return false;
    for (uint64_t i = 0; i < value.length; ++i) {
        const WCHAR unit = value.data[i];
        if (unit < 0x20 || unit > 0x7E)
            return false;
        bytes[i] = static_cast<char>(unit);
    }
    length = value.length;
    return true;
}

}  // namespace cli
