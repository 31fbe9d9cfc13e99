// tundra-stick.exe from its first act: it keeps the DLLs it loads to
// System32, says in one line why it cannot start when Windows refuses, and
// starts without the DLLs that only the installer needs (WinHTTP, dwmapi).
#include <gtest/gtest.h>

#include <string>

#include "cli/tool_commands.h"
#include "fixtures/temp_file.h"

#ifdef _WIN32
namespace {

struct Captured : cli::ToolOutput {
    std::string out_text;
    std::string err_text;
    void out(text::ByteText t) override { out_text.append(t.data, t.length); }
    void err(text::ByteText t) override { err_text.append(t.data, t.length); }
};

int start_with_help(Captured& output) {
    const fixtures::WideString program = fixtures::widen("tundra-stick");
    const fixtures::WideString help = fixtures::widen("--help");
    const WCHAR* argv[] = {program.c_str(), help.c_str()};
    return cli::start_tool(2, argv, output);
}

BOOL WINAPI refused_dll_directories(DWORD) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

unsigned dll_loads = 0;
HMODULE WINAPI no_dll_at_all(LPCWSTR, HANDLE, DWORD) {
    ++dll_loads;
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

TEST(ToolStart, ARefusedDllSearchIsExplainedInOneLine) {
    sys::calls.SetDefaultDllDirectories = refused_dll_directories;
    Captured output;
    EXPECT_EQ(start_with_help(output), cli::EXIT_FAILED);
    sys::restore_default_calls();
    EXPECT_EQ(output.err_text,
              "tundra-stick cannot start: Windows would not keep the DLLs it loads to System32 "
              "(SetDefaultDllDirectories in kernel32.dll, Windows error 127)\n");
    EXPECT_EQ(output.out_text, "");
}

// On a Windows without WinHTTP (or any DLL the installer loads itself) the
// tool still starts: it loads none of them.
TEST(ToolStart, NoLoadedDllIsNeeded) {
    dll_loads = 0;
    sys::calls.LoadLibraryExW = no_dll_at_all;
    Captured output;
    EXPECT_EQ(start_with_help(output), cli::EXIT_DONE) << output.err_text;
    sys::restore_default_calls();
    EXPECT_NE(output.out_text.find("tundra-stick"), std::string::npos);
    EXPECT_EQ(dll_loads, 0u);
}

}  // namespace
#endif
