#include "text/text_writer.h"

#include <cstring>

namespace text {
namespace {

bool is_continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u;
}

// The number of bytes of the UTF-8 character that `lead` starts; 0 when it
// cannot start one.
size_t sequence_length(char lead) {
    const unsigned char byte = static_cast<unsigned char>(lead);
    if (byte < 0x80)
        return 1;
    if (byte >= 0xC0 && byte <= 0xDF)
        return 2;
    if (byte >= 0xE0 && byte <= 0xEF)
        return 3;
    if (byte >= 0xF0 && byte <= 0xF7)
        return 4;
    return 0;
}

// The length of `text` without a last character whose bytes were not all
// kept. A sequence's first bytes alone are ill-formed UTF-8, and one such
// sequence makes the whole text unshowable in the window.
size_t without_partial_last_character(const char* text, size_t length) {
    size_t lead_at = length;
    while (lead_at > 0 && length - lead_at < 3 && is_continuation(text[lead_at - 1]))
        --lead_at;
    if (lead_at == 0)
        return length;
    --lead_at;
    const size_t needed = sequence_length(text[lead_at]);
    return needed > length - lead_at ? lead_at : length;
}

}  // namespace

void TextWriter::put(const char* bytes, size_t count) {
    // After a cut nothing more is taken: a later short piece would otherwise
    // land after the gap and read as if it followed the text directly.
    if (cut_)
        return;
    const size_t room = capacity_ - length_;
    const bool cut = count > room;
    if (cut)
        count = room;
    if (count > 0)
        memcpy(buffer_ + length_, bytes, count);
    length_ += count;
    if (cut) {
        cut_ = true;
        length_ = without_partial_last_character(buffer_, length_);
    }
}

void TextWriter::put(const char* zero_terminated) {
    put(zero_terminated, strlen(zero_terminated));
}

}  // namespace text
