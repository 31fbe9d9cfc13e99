#include "cli/error_words.h"

#include "run/path_text.h"
#include "text/number_format.h"

namespace cli {
namespace {

constexpr DWORD MESSAGE_UNITS = 512;
constexpr size_t WORDS_CAPACITY = 512;
constexpr size_t EXPLAINED_CAPACITY = 4096;
constexpr char MARK[] = "(Windows error ";
constexpr size_t MARK_LENGTH = sizeof MARK - 1;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Whether a "(Windows error N)" starts at `at`; its number and where its
// ")" is.
bool error_mark_at(text::ByteText line, size_t at, DWORD& code, size_t& close) {
    if (line.length - at < MARK_LENGTH)
        return false;
    for (size_t i = 0; i < MARK_LENGTH; ++i) {
        if (line.data[at + i] != MARK[i])
            return false;
    }
    uint64_t number = 0;
    size_t i = at + MARK_LENGTH;
    for (; i < line.length && is_digit(line.data[i]) && number <= 0xFFFFFFFFu; ++i)
        number = number * 10 + static_cast<uint64_t>(line.data[i] - '0');
    if (i == at + MARK_LENGTH || i == line.length || line.data[i] != ')' || number > 0xFFFFFFFFu)
        return false;
    code = static_cast<DWORD>(number);
    close = i;
    return true;
}

}  // namespace

text::ByteText system_words(DWORD code) {
    static WCHAR message[MESSAGE_UNITS];
    static char words[WORDS_CAPACITY];
    const DWORD units =
        sys::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                            code, 0, message, MESSAGE_UNITS, nullptr);
    if (units == 0 || units >= MESSAGE_UNITS)
        return {words, 0};
    DWORD length = units;
    // Windows ends its messages with a period and a line end.
    while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n' ||
                          message[length - 1] == ' ' || message[length - 1] == '.')) {
        --length;
    }
    const text::ByteText utf8 = run::path_text({message, length});
    size_t n = 0;
    for (; n < utf8.length && n < WORDS_CAPACITY; ++n)
        words[n] = utf8.data[n];
    return {words, n};
}

text::ByteText with_error_words(text::ByteText line) {
    static char explained[EXPLAINED_CAPACITY];
    text::TextWriter out(explained, sizeof explained);
    size_t copied = 0;
    for (size_t at = 0; at < line.length; ++at) {
        DWORD code = 0;
        size_t close = 0;
        if (!error_mark_at(line, at, code, close))
            continue;
        const text::ByteText words = system_words(code);
        if (words.length == 0)
            continue;
        out.put(text::ByteText{line.data + copied, close - copied});
        text::compose(out, ": ", words);
        copied = close;
        at = close;
    }
    out.put(text::ByteText{line.data + copied, line.length - copied});
    return {explained, out.length()};
}

bool first_error_code(text::ByteText line, DWORD& code) {
    for (size_t at = 0; at < line.length; ++at) {
        size_t close = 0;
        if (error_mark_at(line, at, code, close))
            return true;
    }
    return false;
}

}  // namespace cli
