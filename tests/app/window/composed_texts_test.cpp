// The texts the window composes at run time: progress, the failure dialog
// and the update warning.
#include "app/window/composed_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/run_names.h"
#include "engine/runs/write_stick.h"

namespace {

template <size_t N>
std::u16string text_of(const text::Utf16Text<N>& t) {
    std::u16string result;
    for (size_t i = 0; i < t.length; ++i)
        result.push_back(static_cast<char16_t>(t.units[i]));
    EXPECT_EQ(t.units[t.length], 0) << "not NUL-terminated";
    return result;
}

TEST(ProgressText, PercentOrWriting) {
    EXPECT_EQ(text_of(app::progress_text(0)), u"Downloading Tundra… 0%");
    EXPECT_EQ(text_of(app::progress_text(57)), u"Downloading Tundra… 57%");
    EXPECT_EQ(text_of(app::progress_text(100)), u"Downloading Tundra… 100%");
    EXPECT_EQ(text_of(app::progress_text(101)), u"Writing and verifying the USB stick…");
}

TEST(ProgressText, LargestValueStillFits) {
    EXPECT_EQ(text_of(app::progress_text(UINT64_MAX)),
              u"Downloading Tundra… 18446744073709551615%");
}

// The download's text grows as the worker knows more: the percent alone,
// then the amount, then the time left once it can be told.
TEST(ProgressText, DownloadWithAmountAndTimeLeft) {
    app::DownloadFigures figures;
    figures.percent = 42;
    EXPECT_EQ(text_of(app::download_text(figures)), u"Downloading Tundra… 42%");
    figures.has_amount = true;
    figures.received_bytes = 1302000000;
    figures.total_bytes = 3100000000;
    EXPECT_EQ(text_of(app::download_text(figures)), u"Downloading Tundra… 42% · 1.3 of 3.1 GB");
    figures.seconds_left = 6 * 60 + 10;
    EXPECT_EQ(text_of(app::download_text(figures)),
              u"Downloading Tundra… 42% · 1.3 of 3.1 GB · about 6 min left");
    // The longest that can come: every number at its widest.
    figures = {100, true, UINT64_MAX, UINT64_MAX, UINT64_MAX - 1};
    const std::u16string longest = text_of(app::download_text(figures));
    EXPECT_EQ(longest.substr(longest.size() - 9), u" min left");
}

TEST(ProgressText, TimeLeftInWords) {
    const struct {
        uint64_t seconds;
        const char16_t* text;
    } rows[] = {
        {0, u"less than a minute left"},
        {59, u"less than a minute left"},
        {60, u"about 1 min left"},
        {89, u"about 1 min left"},
        {90, u"about 2 min left"},
        {45 * 60, u"about 45 min left"},
        {89 * 60 + 29, u"about 89 min left"},
        {90 * 60, u"about 1 h 30 min left"},
        {3 * 3600 + 5 * 60, u"about 3 h 5 min left"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(text_of(app::time_left_text(row.seconds)), row.text) << row.seconds;
}

TEST(ProgressText, RetryAndWriting) {
    EXPECT_EQ(text_of(app::retry_text(8, 42)),
              u"Connection lost. Trying again in 8 s… (42% downloaded)");
    EXPECT_EQ(text_of(app::writing_text(0)), u"Writing and verifying the USB stick… 0%");
    EXPECT_EQ(text_of(app::writing_text(42)), u"Writing and verifying the USB stick… 42%");
}

// What the result dialog shows of the bytes a worker posted: UTF-8 turned
// into UTF-16, only the posted length read, nothing for ill-formed bytes,
// and at most what the dialog's buffer holds.
TEST(FailureDialogText, ConversionsOfThePostedBytes) {
    static char full[app::FAILURE_TEXT_BYTES + 64];
    memset(full, 'x', sizeof full);
    // 1024 one-byte characters need 1025 units with the NUL: one is cut.
    const std::u16string cut(app::FAILURE_DIALOG_UNITS - 1, u'x');
    const struct {
        const char* what;
        const char* bytes;
        uint64_t length;
        std::u16string shown;
    } rows[] = {
        {"quotes of three bytes",
         "Disk 3 changed: serial \xE2\x80\x9C"
         "ABC\xE2\x80\x9D",
         32, u"Disk 3 changed: serial “ABC”"},
        {"only the posted length, no NUL", "abcdef", 3, u"abc"},
        {"a sequence cut short", "write failed \xC3", 14, u""},
        {"a byte that is never UTF-8", "bad \xFF byte", 10, u""},
        {"the worker's whole buffer", full, app::FAILURE_TEXT_BYTES, cut},
        {"a claimed length past the worker's buffer", full, 1ull << 40, cut},
        // Plain text: what shows is what a screen reader reads.
        {"a NUL inside", "cannot open A\0B", 15, u"cannot open A?B"},
        {"control characters", "a\tb\rc\x1B[31md\x7F", 12, u"a?b?c?[31md?"},
        {"a C1 control", "x\xC2\x85y", 4, u"x?y"},
        {"direction marks around a name", "C:\\Users\\\xE2\x80\xAEgpj.exe\xE2\x81\xA6x\xE2\x81\xA9",
         26, u"C:\\Users\\?gpj.exe?x?"},
        {"line feeds stay", "first\nsecond", 12, u"first\nsecond"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const app::FailureDialogText dialog = app::failure_dialog_text(row.bytes, row.length);
        EXPECT_EQ(text_of(dialog), row.shown);
        EXPECT_LT(dialog.length, app::FAILURE_DIALOG_UNITS);
    }
}

TEST(FailureDialogText, AnOverlongReasonNamingANonAsciiPathStillShows) {
    // An image path of 2- and 3-byte characters, long enough that the
    // engine's reason "cannot open the image {path} (...)" overflows its
    // buffer with the cut inside a character.
    const char prefix_utf8[] = "C:\\Users\\Zoë\\Downloads\\";
    const char piece_utf8[] = "Überprüfung-日本語-";
    const char16_t prefix16[] = u"C:\\Users\\Zoë\\Downloads\\";
    const char16_t piece16[] = u"Überprüfung-日本語-";
    std::string path_utf8 = prefix_utf8;
    std::u16string path16 = prefix16;
    while (path_utf8.size() < 2 * run::FAILURE_REASON_CAPACITY) {
        path_utf8 += piece_utf8;
        path16 += piece16;
    }
    const std::string lead = "cannot open the image ";
    const std::string whole = lead + path_utf8;
    const unsigned char at_cut = static_cast<unsigned char>(whole[run::FAILURE_REASON_CAPACITY]);
    ASSERT_EQ(at_cut & 0xC0, 0x80) << "the fixture must put the cut inside a character";

    std::basic_string<WCHAR> wide_path;
    for (char16_t unit : path16)
        wide_path += static_cast<WCHAR>(unit);
    engine::WriteOptions options;
    options.image_path = {wide_path.c_str(), wide_path.size()};
    ASSERT_EQ(engine::write_stick(options), engine::Result::Failed);

    const text::ByteText reason = engine::failure_reason();
    EXPECT_LT(reason.length, run::FAILURE_REASON_CAPACITY);
    EXPECT_GE(reason.length, run::FAILURE_REASON_CAPACITY - 3);
    EXPECT_EQ(std::string(reason.data, reason.length), whole.substr(0, reason.length));

    const std::u16string shown = text_of(app::failure_dialog_text(reason.data, reason.length));
    const std::u16string expected = u"cannot open the image " + path16;
    EXPECT_GT(shown.size(), lead.size());
    EXPECT_EQ(shown, expected.substr(0, shown.size()));
}

TEST(UpdateAvailableText, NamesTheHost) {
    EXPECT_EQ(text_of(app::update_available_text("downloads.example.org")),
              u"Update available at downloads.example.org/install. This copy could not be "
              u"replaced.");
}

}  // namespace
