#include "release/content_range.h"

#include <cstring>

namespace release {
namespace {

constexpr char UNIT[] = "bytes ";

// Reads digits at `at` up to `stop`; false without a digit or on overflow.
bool read_number(text::ByteText text, size_t& at, char stop, uint64_t& value) {
    const size_t first = at;
    value = 0;
    while (at < text.length && text.data[at] >= '0' && text.data[at] <= '9') {
        const uint64_t digit = static_cast<uint64_t>(text.data[at] - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
        ++at;
    }
    if (at == first || at >= text.length || text.data[at] != stop)
        return false;
    ++at;
    return true;
}

bool length_matches(text::ByteText text, size_t at, uint64_t total_bytes) {
    if (text.length - at == 1 && text.data[at] == '*')
        return true;
    uint64_t length = 0;
    const size_t first = at;
    while (at < text.length && text.data[at] >= '0' && text.data[at] <= '9') {
        const uint64_t digit = static_cast<uint64_t>(text.data[at] - '0');
        if (length > (UINT64_MAX - digit) / 10)
            return false;
        length = length * 10 + digit;
        ++at;
    }
    return at != first && at == text.length && length == total_bytes;
}

}  // namespace

bool content_range_continues(text::ByteText header, uint64_t from_byte, uint64_t total_bytes) {
    const size_t unit = sizeof UNIT - 1;
    if (header.is_none() || total_bytes == 0 || from_byte >= total_bytes || header.length <= unit ||
        memcmp(header.data, UNIT, unit) != 0) {
        return false;
    }
    size_t at = unit;
    uint64_t first = 0;
    uint64_t last = 0;
    return read_number(header, at, '-', first) && read_number(header, at, '/', last) &&
           first == from_byte && last == total_bytes - 1 && length_matches(header, at, total_bytes);
}

}  // namespace release
