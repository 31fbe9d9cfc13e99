// tundra-stick.exe: the command-line stick tool. Windows gives the arguments
// as UTF-16, so paths in any language reach the engine as they are.
#include "cli/tool_commands.h"

int wmain(int argc, wchar_t** argv) {
    return cli::start_tool(argc, argv, cli::standard_output());
}
