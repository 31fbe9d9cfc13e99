// The number formats of every message: plain decimals, fixed-point values
// with a set number of digits (never exponent notation, however large),
// MiB, GB, seconds, MB/s, SHA-256 digests and GPT GUIDs.
#pragma once

#include <concepts>
#include <cstdint>

#include "text/text_writer.h"

namespace text {

void put_decimal(TextWriter& out, uint64_t value);

// Writes value rounded to `digits` places after the point (0 to 3), exactly:
// the decimal expansion of the double is computed, not approximated, and
// exact ties round up. NaN and infinities are written "nan", "inf", "-inf".
void put_fixed(TextWriter& out, double value, unsigned digits);

// Typed placeholders, so that a message is composed from its pieces with
// the right format for each and no format strings.
struct Mib {
    uint64_t bytes;
    unsigned digits = 1;
};
struct Gb {
    uint64_t bytes;
};
struct Seconds {
    double value;
};
struct MbPerSecond {
    uint64_t bytes;
    double seconds;
};
struct Sha256Hex {
    const uint8_t* digest;  // 32 bytes
};
// Lower-case hexadecimal without leading zeros, as in temporary file names.
struct LowerHex {
    uint64_t value;
};
struct GuidText {
    const uint8_t* stored;  // 16 bytes in GPT byte order
};

double mib_value(uint64_t bytes);
double gb_value(uint64_t bytes);
// Seconds from a performance counter difference; 0 when the frequency is not
// above 0, so that no message ever shows an infinite duration.
double seconds_between(int64_t start_count, int64_t end_count, int64_t frequency);

void put_piece(TextWriter& out, const char* zero_terminated);
void put_piece(TextWriter& out, ByteText bytes);
void put_piece(TextWriter& out, Mib value);
void put_piece(TextWriter& out, Gb value);
void put_piece(TextWriter& out, Seconds value);
void put_piece(TextWriter& out, MbPerSecond value);
void put_piece(TextWriter& out, Sha256Hex value);
void put_piece(TextWriter& out, GuidText value);
void put_piece(TextWriter& out, LowerHex value);
template <std::unsigned_integral T>
void put_piece(TextWriter& out, T value) {
    put_decimal(out, value);
}
template <std::signed_integral T>
void put_piece(TextWriter&, T) = delete;  // counts are unsigned; say which

template <typename... Pieces>
void compose(TextWriter& out, const Pieces&... pieces) {
    (put_piece(out, pieces), ...);
}

}  // namespace text
