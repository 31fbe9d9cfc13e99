// Fixed-capacity UTF-8 text assembly. A writer never writes past its
// buffer: what does not fit is cut and remembered as cut. The cut falls at
// the capacity or, when that is inside a UTF-8 character, just before that
// character, so a cut text stays well-formed. Once cut, a writer takes
// nothing more.
#pragma once

#include <cstddef>
#include <cstdint>

namespace text {

// A byte text given as pointer and length; an empty pointer means "none".
struct ByteText {
    const char* data = nullptr;
    size_t length = 0;

    bool is_none() const { return data == nullptr; }
};

class TextWriter {
  public:
    TextWriter(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    void put(const char* bytes, size_t count);
    void put(const char* zero_terminated);
    void put(ByteText bytes) { put(bytes.data, bytes.length); }
    void put_char(char c) { put(&c, 1); }

    size_t length() const { return length_; }
    bool was_cut() const { return cut_; }
    const char* data() const { return buffer_; }

  private:
    char* buffer_;
    size_t capacity_;
    size_t length_ = 0;
    bool cut_ = false;
};

// A text that owns its fixed buffer, for results such as the stick texts.
template <size_t CAPACITY>
struct FixedText {
    char data[CAPACITY];
    size_t length = 0;

    static constexpr size_t capacity = CAPACITY;
    ByteText view() const { return {data, length}; }
};

}  // namespace text
