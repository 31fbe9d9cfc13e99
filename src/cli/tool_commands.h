// The stick tool's commands, on the same engine and discovery as the
// installer. Each returns the process exit code.
#pragma once

#include "cli/tool_output.h"
#include "cli/tool_request.h"

namespace cli {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// The whole tool: checks the command line, then runs its command.
int run_tool(int argc, const WCHAR* const* argv, ToolOutput& output);

#ifdef _WIN32
// tundra-stick.exe from its first act: keeps every DLL it loads to
// System32, saying in one line why it cannot start when Windows refuses,
// then runs the tool. It needs none of the DLLs the installer loads for
// itself (WinHTTP, dwmapi), and so does not load them.
int start_tool(int argc, const WCHAR* const* argv, ToolOutput& output);
#endif

// The sticks that may be written, one line each; needs an administrator.
int run_list(ToolOutput& output);

// write, logs, backup and restore: one engine run with its report lines on standard
// output and, when it fails, its reason on standard error.
int run_engine_command(const ToolRequest& request, ToolOutput& output);

// Everything the tool takes, for --help.
extern const char HELP_TEXT[];

// What `tundra-stick COMMAND --help` shows: that command's options and an
// example; HELP_TEXT for Help.
const char* help_text(ToolCommand command);

}  // namespace cli
