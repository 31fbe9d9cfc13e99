#include "text/text_writer.h"

#include <cstring>

namespace text {

void TextWriter::put(const char* bytes, size_t count) {
    const size_t room = capacity_ - length_;
    if (count > room) {
        count = room;
        cut_ = true;
    }
    if (count > 0) memcpy(buffer_ + length_, bytes, count);
    length_ += count;
}

void TextWriter::put(const char* zero_terminated) { put(zero_terminated, strlen(zero_terminated)); }

}  // namespace text
