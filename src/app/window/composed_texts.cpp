#include "app/window/composed_texts.h"

#include "app/app_messages.h"
#include "app/window/window_texts.h"
#include "text/number_format.h"
#include "text/text_writer.h"

namespace app {
namespace {

template <size_t CAPACITY>
text::Utf16Text<CAPACITY> copy_text(const WCHAR* units) {
    text::Utf16Text<CAPACITY> result;
    while (units[result.length] != 0 && result.length + 1 < CAPACITY) {
        result.units[result.length] = units[result.length];
        ++result.length;
    }
    result.units[result.length] = 0;
    return result;
}

// Units that would not show as themselves: control characters, which a
// dialog draws as boxes or acts on (a NUL ends the text early), and the
// direction overrides, embeddings and isolates, which would show a name
// such as a path reversed to the eye while a screen reader reads it in
// order. Line feeds stay: they break the text into lines.
bool hides_itself(WCHAR unit) {
    if (unit == u'\n')
        return false;
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || (unit >= 0x202A && unit <= 0x202E) ||
           (unit >= 0x2066 && unit <= 0x2069);
}

template <size_t CAPACITY>
void show_plainly(text::Utf16Text<CAPACITY>& shown) {
    for (size_t i = 0; i < shown.length; ++i) {
        if (hides_itself(shown.units[i]))
            shown.units[i] = u'?';
    }
}

}  // namespace

ProgressText progress_text(uint64_t progress) {
    if (progress == PROGRESS_WRITING)
        return copy_text<PROGRESS_TEXT_BYTES>(STATUS_WRITING);
    char bytes[PROGRESS_TEXT_BYTES];
    text::TextWriter out(bytes, sizeof bytes);
    text::compose(out, "Downloading Tundra… ", progress, "%");
    return text::to_utf16<PROGRESS_TEXT_BYTES>(out.data(), out.length());
}

namespace {

constexpr uint64_t MINUTE_S = 60;
constexpr uint64_t HOUR_S = 3600;
// Up to an hour and a half the minutes alone read best.
constexpr uint64_t MINUTES_ONLY_BELOW_S = 90 * MINUTE_S;

void put_time_left(text::TextWriter& out, uint64_t seconds) {
    if (seconds < MINUTE_S) {
        out.put("less than a minute left");
        return;
    }
    const uint64_t minutes = (seconds + MINUTE_S / 2) / MINUTE_S;
    if (seconds < MINUTES_ONLY_BELOW_S) {
        text::compose(out, "about ", minutes, " min left");
        return;
    }
    text::compose(out, "about ", minutes / 60, " h ", minutes % 60, " min left");
}

ProgressText to_progress_text(const text::TextWriter& out) {
    return text::to_utf16<PROGRESS_TEXT_BYTES>(out.data(), out.length());
}

}  // namespace

ProgressText download_text(const DownloadFigures& figures) {
    char bytes[PROGRESS_TEXT_BYTES];
    text::TextWriter out(bytes, sizeof bytes);
    text::compose(out, "Downloading Tundra… ", figures.percent, "%");
    if (figures.has_amount && figures.total_bytes != 0) {
        text::compose(out, " · ", text::Gb{figures.received_bytes}, " of ",
                      text::Gb{figures.total_bytes}, " GB");
        if (figures.seconds_left != SECONDS_LEFT_UNKNOWN) {
            out.put(" · ");
            put_time_left(out, figures.seconds_left);
        }
    }
    return to_progress_text(out);
}

ProgressText retry_text(uint64_t seconds, uint64_t percent) {
    char bytes[PROGRESS_TEXT_BYTES];
    text::TextWriter out(bytes, sizeof bytes);
    text::compose(out, "Connection lost. Trying again in ", seconds, " s… (", percent,
                  "% downloaded)");
    return to_progress_text(out);
}

ProgressText writing_text(uint64_t percent) {
    char bytes[PROGRESS_TEXT_BYTES];
    text::TextWriter out(bytes, sizeof bytes);
    text::compose(out, "Writing and verifying the USB stick… ", percent, "%");
    return to_progress_text(out);
}

ProgressText time_left_text(uint64_t seconds) {
    char bytes[PROGRESS_TEXT_BYTES];
    text::TextWriter out(bytes, sizeof bytes);
    put_time_left(out, seconds);
    return to_progress_text(out);
}

FailureDialogText failure_dialog_text(const char* utf8, uint64_t length) {
    if (utf8 == nullptr)
        return {};
    // The worker's text lives in a buffer of FAILURE_TEXT_BYTES; a larger
    // claimed length must not lead the window to read past it.
    const size_t readable =
        length < FAILURE_TEXT_BYTES ? static_cast<size_t>(length) : FAILURE_TEXT_BYTES;
    FailureDialogText dialog = text::to_utf16<FAILURE_DIALOG_UNITS>(utf8, readable);
    show_plainly(dialog);
    return dialog;
}

UpdateAvailableText update_available_text(const char* host) {
    char bytes[UPDATE_TEXT_BYTES];
    text::TextWriter out(bytes, sizeof bytes);
    text::compose(out, "Update available at ", host, "/install. This copy could not be replaced.");
    return text::to_utf16<UPDATE_TEXT_BYTES>(out.data(), out.length());
}

}  // namespace app
