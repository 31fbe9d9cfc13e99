// A write's one-line progress on a console, through the seam's console
// calls: shown on standard error when it is a console, wiped before each
// report line, and absent when standard error is redirected.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli/tool_commands.h"
#include "fixtures/temp_file.h"
#include "sim/sim_machine.h"

namespace {

HANDLE const STDOUT_HANDLE = reinterpret_cast<HANDLE>(0x7001);
HANDLE const STDERR_HANDLE = reinterpret_cast<HANDLE>(0x7002);

struct Streams {
    bool out_is_console = false;
    bool err_is_console = false;
    std::string out_file;  // what went to a redirected handle
    std::string err_file;
    std::wstring console;  // what went to the console, from either handle
};
Streams streams;
sys::CallTable below;

HANDLE WINAPI fake_std_handle(DWORD which) {
    return which == STD_OUTPUT_HANDLE ? STDOUT_HANDLE : STDERR_HANDLE;
}

BOOL WINAPI fake_console_mode(HANDLE h, LPDWORD mode) {
    const bool console = (h == STDOUT_HANDLE && streams.out_is_console) ||
                         (h == STDERR_HANDLE && streams.err_is_console);
    if (!console) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *mode = ENABLE_PROCESSED_OUTPUT;
    return TRUE;
}

BOOL WINAPI fake_write_console(HANDLE, const VOID* units, DWORD count, LPDWORD written, LPVOID) {
    streams.console.append(static_cast<const wchar_t*>(units), count);
    *written = count;
    return TRUE;
}

BOOL WINAPI fake_write_file(HANDLE h, LPCVOID bytes, DWORD count, LPDWORD written,
                            LPOVERLAPPED ov) {
    if (h != STDOUT_HANDLE && h != STDERR_HANDLE)
        return below.WriteFile(h, bytes, count, written, ov);
    (h == STDOUT_HANDLE ? streams.out_file : streams.err_file)
        .append(static_cast<const char*>(bytes), count);
    *written = count;
    return TRUE;
}

// What a console shows of the text, row by row: a carriage return goes
// back to the row's start, and what follows overwrites it.
std::vector<std::wstring> console_rows(const std::wstring& text) {
    std::vector<std::wstring> rows;
    std::wstring row;
    size_t column = 0;
    for (const wchar_t unit : text) {
        if (unit == L'\r') {
            column = 0;
        } else if (unit == L'\n') {
            rows.push_back(row);
            row.clear();
            column = 0;
        } else if (column < row.size()) {
            row[column++] = unit;
        } else {
            row.push_back(unit);
            ++column;
        }
    }
    rows.push_back(row);
    return rows;
}

std::vector<std::wstring> lines_of(const std::string& ascii) {
    std::vector<std::wstring> lines{L""};
    for (const char c : ascii) {
        if (c == '\n')
            lines.emplace_back();
        else
            lines.back().push_back(static_cast<wchar_t>(c));
    }
    return lines;
}

class ConsoleProgress : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.add_system_disk(0);
        below = sys::calls;
        sys::calls.GetStdHandle = fake_std_handle;
        sys::calls.GetConsoleMode = fake_console_mode;
        sys::calls.WriteConsoleW = fake_write_console;
        sys::calls.WriteFile = fake_write_file;
    }

    // A fresh write of a 20 MiB image onto a target file of zeros, the same
    // two files each time, so that every run reports the same lines.
    int write(bool out_is_console, bool err_is_console) {
        streams = {out_is_console, err_is_console, {}, {}, {}};
        std::ofstream zeros(target.narrow(), std::ios::binary | std::ios::trunc);
        const std::vector<char> blank(IMAGE_BYTES, 0);
        zeros.write(blank.data(), static_cast<std::streamsize>(blank.size()));
        zeros.close();
        EXPECT_FALSE(zeros.fail());
        const std::wstring image_path(image.wide().data, image.wide().length);
        const std::wstring target_path(target.wide().data, target.wide().length);
        const WCHAR* argv[] = {L"tundra-stick",    L"write",    L"--image",
                               image_path.c_str(), L"--target", target_path.c_str(),
                               L"--fresh"};
        return cli::run_tool(7, argv, cli::standard_output());
    }

    static constexpr size_t IMAGE_BYTES = (20 << 20) + 512;
    fixtures::TempFile image{"console-progress.img", std::vector<uint8_t>(IMAGE_BYTES, 0x5A)};
    fixtures::TempFile target{"console-progress-target.img", std::vector<uint8_t>{}};
    sim::Machine machine;
};

TEST_F(ConsoleProgress, OnlyAConsoleShowsTheProgressAndEachReportLineStartsClean) {
    ASSERT_EQ(write(false, false), cli::EXIT_DONE) << streams.err_file;
    const std::string report = streams.out_file;
    EXPECT_EQ(streams.err_file, "");
    EXPECT_EQ(report.find('\r'), std::string::npos);

    // Standard output redirected, standard error a console: the report is
    // the same, the progress goes to the console alone.
    ASSERT_EQ(write(false, true), cli::EXIT_DONE);
    EXPECT_EQ(streams.out_file, report);
    EXPECT_NE(streams.console.find(L"% overall, writing"), std::wstring::npos);
    EXPECT_NE(streams.console.find(L"\r100% overall, reading back"), std::wstring::npos);
    const std::vector<std::wstring> rows = console_rows(streams.console);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].find_first_not_of(L' '), std::wstring::npos)
        << "the run ends with its progress wiped";

    // Both on the console: what shows there is the report, line by line,
    // with no trace of the progress left on any row.
    ASSERT_EQ(write(true, true), cli::EXIT_DONE);
    EXPECT_NE(streams.console.find(L"% overall, comparing"), std::wstring::npos);
    EXPECT_EQ(console_rows(streams.console), lines_of(report));

    // A run that fails after its writes: the reason too starts on a clean
    // row.
    machine.fail_call("FlushFileBuffers", ERROR_WRITE_FAULT);
    ASSERT_EQ(write(true, true), cli::EXIT_FAILED);
    const std::vector<std::wstring> failed = console_rows(streams.console);
    ASSERT_GE(failed.size(), 2u);
    // With the system's words for the number, whatever they are here.
    const std::wstring reason = failed[failed.size() - 2];
    EXPECT_EQ(reason.rfind(L"the stick did not take the writes (Windows error 29: ", 0), 0u);
    EXPECT_GT(reason.size(), 55u);
    EXPECT_EQ(reason.back(), L')');
}

}  // namespace
