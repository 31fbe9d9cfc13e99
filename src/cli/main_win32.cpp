// tundra-stick.exe: the command-line stick tool. Windows gives the arguments
// as UTF-16, so paths in any language reach the engine as they are.
#include "cli/tool_commands.h"
#include "sys/sys.h"

int wmain(int argc, wchar_t** argv) {
    // Before anything else may load a DLL: only Windows' own copies.
    if (!sys::load_system_libraries())
        return 1;
    return cli::run_tool(argc, argv, cli::standard_output());
}
