#include "release/manifest_fields.h"

#include <cstring>

namespace release {

bool LineCursor::next(ByteText& line) {
    if (finished_)
        return false;
    const char* start = text_.data + position_;
    const size_t rest = text_.length - position_;
    const void* feed = rest == 0 ? nullptr : std::memchr(start, '\n', rest);
    if (feed == nullptr) {
        line = {start, rest};
        finished_ = true;
        return true;
    }
    const size_t length = static_cast<size_t>(static_cast<const char*>(feed) - start);
    line = {start, length};
    position_ += length + 1;
    return true;
}

bool line_is(ByteText line, const char* expected) {
    const size_t length = std::strlen(expected);
    return line.length == length && std::memcmp(line.data, expected, length) == 0;
}

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<uint64_t> parse_decimal(ByteText line, uint64_t max_value) {
    size_t first = 0;
    if (line.length > 0 && line.data[0] == '+')
        first = 1;
    // The first and last bytes must be digits: this refuses an empty line, a
    // lone "+" and an underscore at either end in one test.
    if (first >= line.length)
        return std::nullopt;
    if (!is_digit(line.data[first]) || !is_digit(line.data[line.length - 1]))
        return std::nullopt;
    uint64_t value = 0;
    for (size_t i = first; i < line.length; ++i) {
        const char c = line.data[i];
        if (c == '_')
            continue;
        if (!is_digit(c))
            return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (max_value - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace release
