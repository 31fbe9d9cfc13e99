// The pieces the manifest formats are made of: lines cut at line feeds and
// decimal numbers with their grouping rule.
#pragma once

#include <cstdint>
#include <optional>

#include "text/text_writer.h"

namespace release {

using text::ByteText;

// Walks a text line by line. The text is cut at every line feed, so k line
// feeds give k + 1 lines, and empty lines count: an empty text is one empty
// line.
class LineCursor {
  public:
    explicit LineCursor(ByteText text) : text_(text) {}

    // The next line without its line feed; false once every line was taken.
    bool next(ByteText& line);

  private:
    ByteText text_;
    size_t position_ = 0;
    bool finished_ = false;
};

// True when the line is exactly the given NUL-terminated text.
bool line_is(ByteText line, const char* expected);

// A decimal number: ASCII digits after an optional "+", with underscores
// allowed between the first and the last digit (they are skipped). Values
// above max_value are refused, as are empty lines, a lone "+", an underscore
// first or last, and any other byte.
std::optional<uint64_t> parse_decimal(ByteText line, uint64_t max_value);

}  // namespace release
