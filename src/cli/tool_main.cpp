#include "cli/tool_commands.h"
#include "text/number_format.h"

namespace cli {
namespace {

void put_line(ToolOutput& output, text::ByteText line) {
    output.err(line);
    output.err({"\n", 1});
}

}  // namespace

int run_tool(int argc, const WCHAR* const* argv, ToolOutput& output) {
    // Static: it holds a whole WriteOptions, and the tool runs one command.
    static ToolRequest request;
    UsageError error;
    if (!parse_command_line(argc, argv, request, error)) {
        put_line(output, error.view());
        const char hint[] = "tundra-stick --help lists the commands and their options\n";
        output.err({hint, sizeof hint - 1});
        return EXIT_USAGE;
    }
    switch (request.command) {
        case ToolCommand::Help: {
            const char* help = help_text(request.help_for);
            size_t length = 0;
            while (help[length] != 0)
                ++length;
            output.out({help, length});
            return EXIT_DONE;
        }
        case ToolCommand::List:
            return run_list(output);
        case ToolCommand::Write:
        case ToolCommand::Logs:
        case ToolCommand::Backup:
        case ToolCommand::Restore:
            return run_engine_command(request, output);
    }
    return EXIT_USAGE;
}

#ifdef _WIN32
int start_tool(int argc, const WCHAR* const* argv, ToolOutput& output) {
    if (!sys::restrict_dll_search()) {
        const DWORD code = sys::GetLastError();
        char buffer[192];
        text::TextWriter line(buffer, sizeof buffer);
        line.put(
            "tundra-stick cannot start: Windows would not keep the DLLs it loads to System32 "
            "(SetDefaultDllDirectories in kernel32.dll, Windows error ");
        text::put_decimal(line, code);
        line.put(")");
        put_line(output, {line.data(), line.length()});
        return EXIT_FAILED;
    }
    return run_tool(argc, argv, output);
}
#endif

}  // namespace cli
