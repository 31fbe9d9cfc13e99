// Reading the values of command-line options from their UTF-16 text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/write_options.h"

namespace cli {

enum class NumberRead : uint8_t { Ok, NotANumber, TooLarge };

// Decimal digits only: no sign, no spaces, no separators.
NumberRead read_decimal(engine::WideText value, uint64_t& number);

// 8-4-4-4-12 hexadecimal digits, either case, into the 16 bytes a GPT entry
// stores: the first three groups little-endian, the rest as written.
bool read_guid(engine::WideText value, uint8_t stored[16]);

// Exactly `count` bytes as 2 × count hexadecimal digits, either case.
bool read_hex_bytes(engine::WideText value, uint8_t* bytes, size_t count);

// Printable ASCII (0x20 to 0x7E), at most `capacity` characters, as bytes.
bool read_ascii_text(engine::WideText value, char* bytes, size_t capacity, size_t& length);

}  // namespace cli
