// tundra-stick in the host build, for target files: the arguments arrive as
// UTF-8 and are given to the tool as UTF-16, as Windows would give them.
#include "cli/tool_commands.h"
#include "text/utf8_to_utf16.h"

namespace {

constexpr size_t ARGUMENT_CAPACITY = 256;
constexpr size_t ARGUMENT_UNITS = 65536;

WCHAR argument_units[ARGUMENT_UNITS];
const WCHAR* arguments[ARGUMENT_CAPACITY];

void refuse(const char* text) {
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    cli::standard_output().err({text, length});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 0 || static_cast<size_t>(argc) > ARGUMENT_CAPACITY) {
        refuse("tundra-stick: too many arguments\n");
        return cli::EXIT_USAGE;
    }
    size_t used = 0;
    for (int i = 0; i < argc; ++i) {
        size_t length = 0;
        while (argv[i][length] != 0)
            ++length;
        if (used == ARGUMENT_UNITS) {
            refuse("tundra-stick: the arguments are too long\n");
            return cli::EXIT_USAGE;
        }
        const text::Utf16Conversion wide =
            text::utf8_to_utf16(argv[i], length, argument_units + used, ARGUMENT_UNITS - used);
        if (wide.invalid || wide.cut) {
            refuse(wide.invalid ? "tundra-stick: an argument is not UTF-8\n"
                                : "tundra-stick: the arguments are too long\n");
            return cli::EXIT_USAGE;
        }
        arguments[i] = argument_units + used;
        used += wide.length + 1;
    }
    return cli::run_tool(argc, arguments, cli::standard_output());
}
