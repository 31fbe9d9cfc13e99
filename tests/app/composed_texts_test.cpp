// The texts the window composes at run time: progress, the failure dialog
// and the update warning.
#include "app/composed_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/engine_result.h"
#include "engine/write_stick.h"

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

TEST(FailureDialogText, ConvertsTheWorkersUtf8) {
    const char reason[] =
        "Disk 3 changed: serial \xE2\x80\x9C"
        "ABC\xE2\x80\x9D";
    EXPECT_EQ(text_of(app::failure_dialog_text(reason, strlen(reason))),
              u"Disk 3 changed: serial “ABC”");
    // Only the posted length counts; the text is not NUL-terminated.
    EXPECT_EQ(text_of(app::failure_dialog_text("abcdef", 3)), u"abc");
}

TEST(FailureDialogText, InvalidUtf8GivesAnEmptyText) {
    const char broken[] = "write failed \xC3";  // a sequence cut short
    const app::FailureDialogText dialog = app::failure_dialog_text(broken, strlen(broken));
    EXPECT_EQ(dialog.length, 0u);
    EXPECT_EQ(dialog.units[0], 0);
}

TEST(FailureDialogText, AFullFailureBufferIsCutNotOverrun) {
    // 1024 one-byte characters need 1025 units with the NUL: one is cut.
    static char full[app::FAILURE_TEXT_BYTES + 64];
    memset(full, 'x', sizeof full);
    const app::FailureDialogText dialog = app::failure_dialog_text(full, app::FAILURE_TEXT_BYTES);
    EXPECT_EQ(dialog.length, app::FAILURE_DIALOG_UNITS - 1);
    EXPECT_EQ(dialog.units[app::FAILURE_DIALOG_UNITS - 1], 0);
    // A claimed length past the worker's buffer reads no further than it.
    const app::FailureDialogText claimed = app::failure_dialog_text(full, 1ull << 40);
    EXPECT_EQ(claimed.length, app::FAILURE_DIALOG_UNITS - 1);
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
    while (path_utf8.size() < 2 * engine::FAILURE_REASON_CAPACITY) {
        path_utf8 += piece_utf8;
        path16 += piece16;
    }
    const std::string lead = "cannot open the image ";
    const std::string whole = lead + path_utf8;
    const unsigned char at_cut = static_cast<unsigned char>(whole[engine::FAILURE_REASON_CAPACITY]);
    ASSERT_EQ(at_cut & 0xC0, 0x80) << "the fixture must put the cut inside a character";

    std::basic_string<WCHAR> wide_path;
    for (char16_t unit : path16)
        wide_path += static_cast<WCHAR>(unit);
    engine::WriteOptions options;
    options.image_path = {wide_path.c_str(), wide_path.size()};
    ASSERT_EQ(engine::write_stick(options), engine::Result::Failed);

    const text::ByteText reason = engine::failure_reason();
    EXPECT_LT(reason.length, engine::FAILURE_REASON_CAPACITY);
    EXPECT_GE(reason.length, engine::FAILURE_REASON_CAPACITY - 3);
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
