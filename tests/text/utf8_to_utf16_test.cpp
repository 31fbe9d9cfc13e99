// UTF-8 to UTF-16: well-formed input converted exactly, ill-formed input
// refused whole, and a full buffer cut at a whole character.
#include "text/utf8_to_utf16.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Converted {
    std::u16string text;
    text::Utf16Conversion result;
};

Converted convert(const std::string& bytes, size_t capacity = 64) {
    WCHAR out[64];
    for (WCHAR& unit : out)
        unit = 0x7777;
    Converted c;
    c.result = text::utf8_to_utf16(bytes.data(), bytes.size(), out, capacity);
    for (size_t i = 0; i < c.result.length; ++i)
        c.text.push_back(static_cast<char16_t>(out[i]));
    if (capacity > 0) {
        EXPECT_EQ(out[c.result.length], 0) << "not NUL-terminated";
    }
    if (capacity < 64) {
        EXPECT_EQ(out[capacity], 0x7777) << "wrote past the capacity";
    }
    return c;
}

TEST(Utf8ToUtf16, WellFormedInput) {
    EXPECT_EQ(convert("").text, u"");
    EXPECT_EQ(convert("plain ASCII").text, u"plain ASCII");
    EXPECT_EQ(convert("\xC2\xB7 \xE2\x80\xA6 \xE2\x8C\x84").text, u"· … ⌄");
    EXPECT_EQ(convert("\xF0\x9F\x98\x80").text, u"\U0001F600");  // a surrogate pair
    EXPECT_EQ(convert("\xF4\x8F\xBF\xBF").text, u"\U0010FFFF");  // the last one
    EXPECT_EQ(convert(std::string("a\0b", 3)).text, std::u16string(u"a\0b", 3));
}

TEST(Utf8ToUtf16, IllFormedInputGivesAnEmptyText) {
    const char* const cases[] = {
        "\x80",              // a stray continuation byte
        "ab\xC3",            // cut short at the end
        "\xE2\x82",          // cut short
        "\xC3(",             // missing continuation
        "\xC0\xAF",          // overlong
        "\xE0\x80\xAF",      // overlong
        "\xF0\x80\x80\xAF",  // overlong
        "\xED\xA0\x80",      // a surrogate
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xFF",              // never a lead byte
        "ok text then \xFE",
    };
    for (const char* bytes : cases) {
        const Converted c = convert(bytes);
        EXPECT_TRUE(c.result.invalid) << bytes;
        EXPECT_EQ(c.result.length, 0u) << bytes;
    }
}

TEST(Utf8ToUtf16, CutAtAWholeCharacterWhenTheBufferIsFull) {
    Converted c = convert("abcdef", 4);
    EXPECT_EQ(c.text, u"abc");
    EXPECT_TRUE(c.result.cut);

    c = convert("ab\xF0\x9F\x98\x80", 4);  // the pair would need units 3 and 4
    EXPECT_EQ(c.text, u"ab");
    EXPECT_TRUE(c.result.cut);

    c = convert("abc", 4);
    EXPECT_EQ(c.text, u"abc");
    EXPECT_FALSE(c.result.cut);

    WCHAR untouched = 0x7777;
    EXPECT_EQ(text::utf8_to_utf16("abc", 3, &untouched, 0).length, 0u);
    EXPECT_EQ(untouched, 0x7777);
}

}  // namespace
