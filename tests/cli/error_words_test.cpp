// Windows error numbers in the stick tool's texts get the system's words
// beside them: every "(Windows error N)" of a line, in place, and nothing
// else of it.
#include "cli/error_words.h"

#include <gtest/gtest.h>

#include <string>

#include "sys/sys.h"

namespace {

// Windows' way with a message: a period and a line end after the words.
DWORD WINAPI fake_messages(DWORD, LPCVOID, DWORD id, DWORD, LPWSTR buffer, DWORD capacity,
                           va_list*) {
    std::u16string words;
    if (id == 2)
        words = u"The system cannot find the file specified.\r\n";
    else if (id == 112)
        words = u"There is not enough space on the disk. \r\n";
    else if (id == 5)
        words = u"Zugriff verweigert \u00fcberall.\r\n";
    if (words.empty() || words.size() >= capacity) {
        sys::SetLastError(317);
        return 0;
    }
    words.copy(reinterpret_cast<char16_t*>(buffer), words.size());
    buffer[words.size()] = 0;
    return static_cast<DWORD>(words.size());
}

std::string explained(const std::string& line) {
    const text::ByteText out = cli::with_error_words({line.data(), line.size()});
    return std::string(out.data, out.length);
}

class ErrorWords : public ::testing::Test {
  protected:
    void SetUp() override { sys::calls.FormatMessageW = fake_messages; }
    void TearDown() override { sys::restore_default_calls(); }
};

TEST_F(ErrorWords, EveryNumberGetsItsWordsInPlace) {
    const struct {
        std::string line;
        std::string expected;
    } cases[] = {
        {"cannot open the image a.img (Windows error 2)",
         "cannot open the image a.img (Windows error 2: The system cannot find the file "
         "specified)"},
        {"cannot write b (Windows error 112): the disk is full; (Windows error 5) too\n",
         "cannot write b (Windows error 112: There is not enough space on the disk): the disk is "
         "full; (Windows error 5: Zugriff verweigert \xc3\xbc"
         "berall) too\n"},
        // No words for it, or no number: as it was.
        {"a read at 0 failed (Windows error 31)", "a read at 0 failed (Windows error 31)"},
        {"(Windows error )(Windows error 2x)(Windows error 99999999999)",
         "(Windows error )(Windows error 2x)(Windows error 99999999999)"},
        {"ends inside (Windows error 2", "ends inside (Windows error 2"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(explained(c.line), c.expected);
}

TEST_F(ErrorWords, TheFirstNumberOfALine) {
    DWORD code = 0;
    const std::string line = "x (Windows error 7x) y (Windows error 112) (Windows error 2)";
    ASSERT_TRUE(cli::first_error_code({line.data(), line.size()}, code));
    EXPECT_EQ(code, 112u);
    const std::string none = "no number here";
    EXPECT_FALSE(cli::first_error_code({none.data(), none.size()}, code));
}

// The build's own binding: the host's words are the C library's, and a
// read-only file system has the number Windows gives a write-protected disk.
TEST(SystemWords, TheBindingsOwnWords) {
    sys::restore_default_calls();
    for (DWORD code : {2u, 5u, 19u, 112u}) {
        const text::ByteText words = cli::system_words(code);
        const std::string shown(words.data, words.length);
        ASSERT_FALSE(shown.empty()) << code;
        EXPECT_NE(shown.back(), '.') << shown;
        EXPECT_EQ(shown.find_first_of("\r\n"), std::string::npos) << shown;
    }
#ifndef _WIN32
    const text::ByteText read_only = cli::system_words(ERROR_WRITE_PROTECT);
    EXPECT_EQ(std::string(read_only.data, read_only.length), "Read-only file system");
    const text::ByteText full = cli::system_words(ERROR_DISK_FULL);
    EXPECT_EQ(std::string(full.data, full.length), "No space left on device");
#endif
}

}  // namespace
