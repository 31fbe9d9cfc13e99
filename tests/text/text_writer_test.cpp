#include "text/text_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "text/utf8_to_utf16.h"

namespace {

TEST(TextWriter, CutsAtCapacityAndRemembersIt) {
    char buffer[8];
    text::TextWriter out(buffer, sizeof buffer);
    out.put("12345");
    EXPECT_FALSE(out.was_cut());
    out.put("678");
    EXPECT_FALSE(out.was_cut());  // exactly full is not cut
    EXPECT_EQ(out.length(), 8u);
    out.put("9");
    EXPECT_TRUE(out.was_cut());
    EXPECT_EQ(std::string(buffer, out.length()), "12345678");
}

struct CutCase {
    const char* name;
    size_t capacity;
    const char* pieces[3];
    const char* kept;
    bool cut;
};

// é is C3 A9, € is E2 82 AC, 😀 is F0 9F 98 80.
const CutCase CUT_CASES[] = {
    {"ascii", 4, {"abcdef"}, "abcd", true},
    {"inside a 2-byte character", 4, {"abc\xC3\xA9"}, "abc", true},
    {"after 1 byte of a 3-byte character", 3, {"ab\xE2\x82\xAC"}, "ab", true},
    {"after 2 bytes of a 3-byte character", 4, {"ab\xE2\x82\xAC"}, "ab", true},
    {"after 1 byte of a 4-byte character", 2, {"a\xF0\x9F\x98\x80"}, "a", true},
    {"after 3 bytes of a 4-byte character", 4, {"a\xF0\x9F\x98\x80"}, "a", true},
    {"at a character boundary", 3, {"a\xC3\xA9", "x"}, "a\xC3\xA9", true},
    {"whole characters exactly full", 5, {"a", "\xF0\x9F\x98\x80"}, "a\xF0\x9F\x98\x80", false},
    {"a character split over two pieces", 4, {"ab\xE2", "\x82\xAC"}, "ab", true},
    {"a later piece that would fit the gap", 4, {"ab", "\xE2\x82\xAC", "z"}, "ab", true},
    {"a later piece after an ascii cut", 4, {"abcdef", ""}, "abcd", true},
};

TEST(TextWriter, ACutNeverKeepsPartOfACharacterAndEndsTheText) {
    for (const CutCase& c : CUT_CASES) {
        SCOPED_TRACE(c.name);
        char buffer[16];
        ASSERT_LE(c.capacity, sizeof buffer);
        text::TextWriter out(buffer, c.capacity);
        for (const char* piece : c.pieces)
            if (piece != nullptr)
                out.put(piece);
        EXPECT_EQ(std::string(out.data(), out.length()), c.kept);
        EXPECT_EQ(out.was_cut(), c.cut);

        WCHAR wide[16];
        const text::Utf16Conversion shown =
            text::utf8_to_utf16(out.data(), out.length(), wide, sizeof wide / sizeof wide[0]);
        EXPECT_FALSE(shown.invalid) << "the kept text must stay well-formed UTF-8";
    }
}

}  // namespace
