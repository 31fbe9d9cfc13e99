// The texts the window composes at run time: progress, the failure dialog
// and the update warning.
#include "app/composed_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

TEST(UpdateAvailableText, NamesTheHost) {
    EXPECT_EQ(text_of(app::update_available_text("downloads.example.org")),
              u"Update available at downloads.example.org/install. This copy could not be "
              u"replaced.");
}

}  // namespace
