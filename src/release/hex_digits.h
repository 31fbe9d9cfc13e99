// Hexadecimal digits in either case, as the manifests carry them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace release {

// The value of one hexadecimal digit, or -1 for any other byte.
int hex_digit_value(char c);

// Decodes 2 * byte_count digits, high digit first, into out. False (with
// out partly written) when any byte is not a hexadecimal digit.
bool decode_hex(const char* digits, size_t byte_count, uint8_t* out);

}  // namespace release
