// The engine's UTF-8 lines on a Windows console: converted to UTF-16 whole,
// with a character cut by a line's end shown as U+FFFD rather than dropping
// the line; on a file or pipe the bytes go out as they are.
#include "cli/console_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/tool_output.h"
#include "sim/sim_machine.h"

namespace {

using Units = std::vector<uint32_t>;

Units converted(const std::string& bytes, size_t capacity, size_t& consumed) {
    std::vector<WCHAR> out(capacity);
    const size_t count =
        cli::console_units(bytes.data(), bytes.size(), out.data(), capacity, consumed);
    return Units(out.begin(), out.begin() + count);
}

TEST(ConsoleText, Utf8BecomesUtf16AndBrokenBytesShowAsReplacements) {
    const struct {
        std::string bytes;
        Units units;
    } cases[] = {
        {"copied 12 bytes\n",
         {'c', 'o', 'p', 'i', 'e', 'd', ' ', '1', '2', ' ', 'b', 'y', 't', 'e', 's', '\n'}},
        {"\xc3\x9c\xe6\x97\xa5\xf0\x9f\x98\x80", {0xDC, 0x65E5, 0xD83D, 0xDE00}},
        {"a\xe6\x97", {'a', 0xFFFD, 0xFFFD}},                    // cut at a line's capacity
        {"\xc0\xaf", {0xFFFD, 0xFFFD}},                          // overlong
        {"\xed\xa0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},              // a surrogate
        {"\xf4\x90\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},  // past U+10FFFF
        {"\x80x", {0xFFFD, 'x'}},
    };
    for (const auto& c : cases) {
        size_t consumed = 0;
        EXPECT_EQ(converted(c.bytes, 64, consumed), c.units) << c.bytes;
        EXPECT_EQ(consumed, c.bytes.size());
    }
    // A pair is never split at the end of the room.
    size_t consumed = 0;
    EXPECT_EQ(converted("ab\xf0\x9f\x98\x80", 3, consumed), (Units{'a', 'b'}));
    EXPECT_EQ(consumed, 2u);
}

#ifdef _WIN32
std::vector<WCHAR> console_units_written;
std::string file_bytes_written;
bool is_console = true;
const HANDLE STANDARD_OUT = reinterpret_cast<HANDLE>(0x5100);

HANDLE WINAPI fake_GetStdHandle(DWORD) {
    return STANDARD_OUT;
}
BOOL WINAPI fake_GetConsoleMode(HANDLE h, LPDWORD mode) {
    *mode = 3;
    return is_console && h == STANDARD_OUT;
}
BOOL WINAPI fake_WriteConsoleW(HANDLE, const VOID* units, DWORD count, LPDWORD written, LPVOID) {
    const WCHAR* u = static_cast<const WCHAR*>(units);
    console_units_written.insert(console_units_written.end(), u, u + count);
    *written = count;
    return TRUE;
}
BOOL WINAPI fake_WriteFile(HANDLE, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED) {
    file_bytes_written.append(static_cast<const char*>(bytes), count);
    *written = count;
    return TRUE;
}

TEST(ConsoleText, StandardOutputIsUtf16OnAConsoleAndBytesElsewhere) {
    sim::Machine machine;  // puts the call table back at the end
    sys::calls.GetStdHandle = fake_GetStdHandle;
    sys::calls.GetConsoleMode = fake_GetConsoleMode;
    sys::calls.WriteConsoleW = fake_WriteConsoleW;
    sys::calls.WriteFile = fake_WriteFile;
    // Longer than one piece of the conversion, with a character on the seam.
    std::string line = "image: C:\\\xc3\x9c\xe6\x97\xa5\\";
    while (line.size() < 5000)
        line += "\xe6\x97\xa5";
    line += "\n";
    std::vector<WCHAR> expected = {'i', 'm', 'a',  'g',  'e',    ':', ' ',
                                   'C', ':', '\\', 0xDC, 0x65E5, '\\'};
    while (expected.size() < 13 + (line.size() - 17) / 3)
        expected.push_back(0x65E5);
    expected.push_back('\n');

    cli::standard_output().out({line.data(), line.size()});
    EXPECT_EQ(console_units_written, expected);
    EXPECT_EQ(file_bytes_written, "");

    is_console = false;
    console_units_written.clear();
    cli::standard_output().err({line.data(), line.size()});
    EXPECT_TRUE(console_units_written.empty());
    EXPECT_EQ(file_bytes_written, line);
}
#endif

}  // namespace
