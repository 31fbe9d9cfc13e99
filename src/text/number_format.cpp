#include "text/number_format.h"

#include <cmath>

namespace text {
namespace {

// An unsigned integer wide enough for any finite double times 1000:
// 1024 + 10 bits, kept in 32-bit limbs, least significant first.
struct WideUnsigned {
    static constexpr int LIMBS = 34;
    uint32_t limb[LIMBS] = {};

    void shift_left(unsigned bits) {
        const unsigned whole = bits / 32, part = bits % 32;
        for (int i = LIMBS - 1; i >= 0; --i) {
            const int from = i - static_cast<int>(whole);
            uint64_t value = from >= 0 ? limb[from] : 0;
            uint64_t below = from - 1 >= 0 ? limb[from - 1] : 0;
            limb[i] = part == 0 ? static_cast<uint32_t>(value)
                                : static_cast<uint32_t>((value << part) | (below >> (32 - part)));
        }
    }
    void multiply(uint32_t factor) {
        uint64_t carry = 0;
        for (uint32_t& l : limb) {
            const uint64_t product = static_cast<uint64_t>(l) * factor + carry;
            l = static_cast<uint32_t>(product);
            carry = product >> 32;
        }
    }
    uint32_t divide(uint32_t divisor) {  // returns the remainder
        uint64_t remainder = 0;
        for (int i = LIMBS - 1; i >= 0; --i) {
            const uint64_t value = (remainder << 32) | limb[i];
            limb[i] = static_cast<uint32_t>(value / divisor);
            remainder = value % divisor;
        }
        return static_cast<uint32_t>(remainder);
    }
    bool is_zero() const {
        for (uint32_t l : limb) {
            if (l != 0)
                return false;
        }
        return true;
    }
};

constexpr uint32_t POWERS_OF_TEN[] = {1, 10, 100, 1000};

// value = mantissa * 2^exponent exactly, mantissa < 2^53.
void split_double(double value, uint64_t& mantissa, int& exponent) {
    int binary_exponent = 0;
    const double fraction = std::frexp(value, &binary_exponent);
    mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
    exponent = binary_exponent - 53;
}

// The value times 10^digits, rounded to an integer, ties up.
WideUnsigned scaled_integer(double value, unsigned digits) {
    uint64_t mantissa = 0;
    int exponent = 0;
    split_double(value, mantissa, exponent);
    WideUnsigned result;
    const uint32_t scale = POWERS_OF_TEN[digits];
    if (exponent >= 0) {
        result.limb[0] = static_cast<uint32_t>(mantissa);
        result.limb[1] = static_cast<uint32_t>(mantissa >> 32);
        result.shift_left(static_cast<unsigned>(exponent));
        result.multiply(scale);
        return result;
    }
    // mantissa * scale < 2^63, so the product fits; the shift decides the rest.
    const unsigned __int128 product = static_cast<unsigned __int128>(mantissa) * scale;
    const unsigned shift = static_cast<unsigned>(-exponent);
    unsigned __int128 quotient = 0;
    if (shift < 128) {
        quotient = product >> shift;
        const unsigned __int128 remainder = product - (quotient << shift);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
        if (remainder >= half)
            ++quotient;
    }
    result.limb[0] = static_cast<uint32_t>(quotient);
    result.limb[1] = static_cast<uint32_t>(quotient >> 32);
    result.limb[2] = static_cast<uint32_t>(quotient >> 64);
    result.limb[3] = static_cast<uint32_t>(quotient >> 96);
    return result;
}

}  // namespace

void put_piece(TextWriter& out, LowerHex hex) {
    char digits[16];
    size_t count = 0;
    uint64_t value = hex.value;
    do {
        digits[count++] = "0123456789abcdef"[value & 15];
        value >>= 4;
    } while (value != 0);
    while (count > 0)
        out.put_char(digits[--count]);
}

void put_decimal(TextWriter& out, uint64_t value) {
    char digits[20];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        out.put_char(digits[--count]);
}

void put_fixed(TextWriter& out, double value, unsigned digits) {
    if (digits > 3)
        digits = 3;
    if (std::isnan(value))
        return out.put("nan");
    if (std::signbit(value) && value != 0.0) {
        out.put_char('-');
        value = -value;
    }
    if (std::isinf(value))
        return out.put("inf");
    WideUnsigned scaled = value == 0.0 ? WideUnsigned{} : scaled_integer(value, digits);
    // A double below 2^1024 times 1000 has at most 312 decimal digits.
    char reversed[320];
    size_t count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + scaled.divide(10));
    } while (!scaled.is_zero());
    while (count <= digits)
        reversed[count++] = '0';  // at least one digit before the point
    while (count > digits)
        out.put_char(reversed[--count]);
    if (digits == 0)
        return;
    out.put_char('.');
    while (count > 0)
        out.put_char(reversed[--count]);
}

double mib_value(uint64_t bytes) {
    return static_cast<double>(bytes) / 1048576.0;
}

double gb_value(uint64_t bytes) {
    return static_cast<double>(bytes) / 1e9;
}

double seconds_between(int64_t start_count, int64_t end_count, int64_t frequency) {
    if (frequency <= 0)
        return 0.0;
    return static_cast<double>(end_count - start_count) / static_cast<double>(frequency);
}

void put_piece(TextWriter& out, const char* zero_terminated) {
    out.put(zero_terminated);
}

void put_piece(TextWriter& out, ByteText bytes) {
    out.put(bytes);
}

void put_piece(TextWriter& out, Mib value) {
    put_fixed(out, mib_value(value.bytes), value.digits);
}

void put_piece(TextWriter& out, Gb value) {
    put_fixed(out, gb_value(value.bytes), 1);
}

void put_piece(TextWriter& out, Seconds value) {
    put_fixed(out, value.value, 1);
}

void put_piece(TextWriter& out, MbPerSecond value) {
    // "not above 0" also catches NaN, which compares false with everything.
    const double rate =
        value.seconds > 0.0 ? static_cast<double>(value.bytes) / 1e6 / value.seconds : 0.0;
    put_fixed(out, rate, 1);
}

void put_piece(TextWriter& out, Sha256Hex value) {
    static const char HEX[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) {
        out.put_char(HEX[value.digest[i] >> 4]);
        out.put_char(HEX[value.digest[i] & 15]);
    }
}

void put_piece(TextWriter& out, GuidText value) {
    // The first three groups are stored little-endian.
    static const int ORDER[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    static const char HEX[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out.put_char('-');
        const uint8_t byte = value.stored[ORDER[i]];
        out.put_char(HEX[byte >> 4]);
        out.put_char(HEX[byte & 15]);
    }
}

}  // namespace text
