#include "cli/tool_commands.h"
#include "discovery/stick_list.h"
#include "text/number_format.h"

namespace cli {
namespace {

constexpr size_t LIST_LINE_CAPACITY = 384;

template <typename... Pieces>
void say(ToolOutput& output, bool to_error, const Pieces&... pieces) {
    char line[LIST_LINE_CAPACITY];
    text::TextWriter out(line, sizeof line);
    text::compose(out, pieces...);
    const text::ByteText bytes{line, out.length()};
    if (to_error) {
        output.err(bytes);
    } else {
        output.out(bytes);
    }
}

}  // namespace

int run_list(ToolOutput& output) {
    if (!discovery::query_is_elevated()) {
        say(output, true,
            "tundra-stick list needs an administrator: run it from a command prompt opened with "
            "\"Run as administrator\"\n");
        return EXIT_FAILED;
    }
    static discovery::StickList list;
    discovery::build_stick_list(list, true);
    if (list.stick_count == 0) {
        say(output, false,
            "no stick found (a stick is a USB disk of at most 256 GB with 512-byte sectors and a "
            "serial number, and not the disk Windows runs from)\n");
        return EXIT_DONE;
    }
    for (uint64_t i = 0; i < list.stick_count; ++i) {
        const discovery::StickRecord& s = list.sticks[i];
        say(output, false, "disk ", s.disk_number, ", ", text::ByteText{s.vendor, s.vendor_len},
            " ", text::ByteText{s.product, s.product_len}, ", serial ",
            text::ByteText{s.serial, s.serial_len}, ", ", text::Gb{s.size_bytes}, " GB\n");
    }
    return EXIT_DONE;
}

}  // namespace cli
