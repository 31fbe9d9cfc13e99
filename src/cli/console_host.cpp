// Standard output and error in the host build: the UTF-8 bytes as they are.
#include <unistd.h>

#include <cstdio>

#include "cli/tool_output.h"

namespace cli {
namespace {

void write_bytes(FILE* stream, text::ByteText text) {
    if (text.length > 0)
        fwrite(text.data, 1, text.length, stream);
    fflush(stream);
}

class StdioOutput final : public ToolOutput {
  public:
    void out(text::ByteText text) override { write_bytes(stdout, text); }
    void err(text::ByteText text) override { write_bytes(stderr, text); }
    bool err_is_console() override { return isatty(fileno(stderr)) == 1; }
};

}  // namespace

ToolOutput& standard_output() {
    static StdioOutput output;
    return output;
}

}  // namespace cli
