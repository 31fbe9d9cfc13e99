// tundra-stick's command line: parse_command_line over fuzzed arguments.
//
// Input: a mode byte, then the arguments after the program's name. Mode bit
// 0 clear: UTF-16 units (two bytes each, little-endian), a zero unit ending
// each argument, as Windows gives them, lone surrogates and all; set: UTF-8
// bytes, a zero byte ending each argument, converted as the host build's
// main does.
//
// The harness aborts when a request that is accepted breaks what the engine
// is promised (one stick, the paths its command needs, values in range,
// texts that point into the arguments or the request and end where they
// say), when a refusal has no text or text that is not UTF-8, and when the
// result depends on what an earlier command line left in the request.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cli/tool_request.h"
#include "text/utf8_to_utf16.h"

namespace {

constexpr size_t ARGUMENT_CAPACITY = 64;
constexpr size_t UNIT_CAPACITY = 8192;

WCHAR units[UNIT_CAPACITY];
const WCHAR* argv_units[ARGUMENT_CAPACITY + 1];

// The request that every input reuses, as a long-lived tool process would,
// and one made new for each input.
cli::ToolRequest reused;
alignas(cli::ToolRequest) unsigned char fresh_storage[sizeof(cli::ToolRequest)];

[[noreturn]] void violation(const char* what) {
    fprintf(stderr, "command_line_fuzz: %s\n", what);
    abort();
}

void require(bool condition, const char* what) {
    if (!condition)
        violation(what);
}

// Splits the input into arguments; argv[0] is the program. Gives argc, or 0
// when the input does not make a command line the front ends would pass.
int split(const uint8_t* data, size_t size, bool as_utf8) {
    static const char16_t PROGRAM[] = u"tundra-stick";
    int argc = 0;
    argv_units[argc++] = PROGRAM;
    size_t used = 0;
    size_t at = 0;
    while (at < size) {
        if (argc == ARGUMENT_CAPACITY)
            return 0;
        argv_units[argc++] = units + used;
        if (as_utf8) {
            size_t length = 0;
            while (at + length < size && data[at + length] != 0)
                ++length;
            const text::Utf16Conversion wide =
                text::utf8_to_utf16(reinterpret_cast<const char*>(data + at), length, units + used,
                                    UNIT_CAPACITY - used);
            if (wide.invalid || wide.cut || used + wide.length + 1 > UNIT_CAPACITY)
                return 0;
            used += wide.length + 1;
            at += length + 1;
        } else {
            for (; at + 1 < size; at += 2) {
                const WCHAR unit = static_cast<WCHAR>(data[at] | (data[at + 1] << 8));
                if (used + 1 >= UNIT_CAPACITY)
                    return 0;
                if (unit == 0)
                    break;
                units[used++] = unit;
            }
            at += 2;
            units[used++] = 0;
        }
    }
    return argc;
}

bool inside_arguments(engine::WideText text, int argc) {
    for (int i = 1; i < argc; ++i) {
        size_t length = 0;
        while (argv_units[i][length] != 0)
            ++length;
        if (text.data == argv_units[i] && text.length == length)
            return true;
    }
    return false;
}

bool given(const char* word, int argc) {
    for (int i = 1; i < argc; ++i) {
        size_t k = 0;
        while (word[k] != 0 && argv_units[i][k] == static_cast<WCHAR>(word[k]))
            ++k;
        if (word[k] == 0 && argv_units[i][k] == 0)
            return true;
    }
    return false;
}

bool is_utf8(const char* bytes, size_t length) {
    static WCHAR scratch[cli::USAGE_ERROR_CAPACITY + 1];
    return !text::utf8_to_utf16(bytes, length, scratch, sizeof scratch / sizeof scratch[0]).invalid;
}

bool printable(const char* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] < 0x20 || bytes[i] > 0x7E)
            return false;
    }
    return true;
}

void check_accepted(const cli::ToolRequest& request, int argc) {
    const engine::WriteOptions& o = request.options;
    const bool asked_for_help = given("--help", argc) || given("-h", argc);
    require((request.command == cli::ToolCommand::Help) == asked_for_help,
            "help without --help, or --help without help");
    if (request.command == cli::ToolCommand::Help)
        return;
    require(!o.has_expected_stick && !o.has_expected_sha256 == !given("--sha256", argc),
            "an expected stick or digest the command line did not give");
    require(o.fresh == given("--fresh", argc) && o.dry_run == given("--dry-run", argc),
            "a switch the command line did not give");
    const bool is_list = request.command == cli::ToolCommand::List;
    if (is_list) {
        require(argc == 2, "list with options");
        return;
    }
    require(o.serial.is_none() != o.target_file.is_none(), "not exactly one stick");
    if (!o.serial.is_none()) {
        require(o.serial.data == request.serial && o.serial.length <= cli::SERIAL_CAPACITY &&
                    printable(o.serial.data, o.serial.length),
                "a serial that is not a printable text of the request");
    }
    if (!o.required_model.is_none()) {
        require(o.required_model.data == request.model &&
                    o.required_model.length <= cli::MODEL_CAPACITY &&
                    printable(o.required_model.data, o.required_model.length),
                "a model that is not a printable text of the request");
    }
    for (const engine::WideText* path :
         {&o.image_path, &o.target_file, &o.logs_dir, &request.out_path}) {
        require(path->is_none() || (path->length > 0 && inside_arguments(*path, argc)),
                "a path that is not a whole argument");
    }
    require(o.chunk_bytes >= 1048576 && o.chunk_bytes <= cli::MAX_CHUNK_MIB * 1048576 &&
                o.chunk_bytes % 1048576 == 0,
            "a chunk size out of range");
    require(o.queue_depth >= 1 && o.queue_depth <= cli::MAX_QUEUE_DEPTH,
            "a queue depth out of range");
    require(o.keep_guid_count <= engine::KEEP_GUID_CAPACITY, "too many kept GUIDs");
    switch (request.command) {
        case cli::ToolCommand::Write:
            require(!o.image_path.is_none(), "write without an image");
            break;
        case cli::ToolCommand::Logs:
            require(!o.logs_dir.is_none(), "logs without a folder");
            break;
        case cli::ToolCommand::Backup:
            require(!request.out_path.is_none(), "backup without --out");
            break;
        default:
            violation("an unknown command");
    }
}

bool same_text(text::ByteText a, text::ByteText b) {
    return a.length == b.length && (a.length == 0 || memcmp(a.data, b.data, a.length) == 0);
}

bool same_wide(engine::WideText a, engine::WideText b) {
    return a.data == b.data && a.length == b.length;
}

// Everything a command is run with, field by field.
bool same_request(const cli::ToolRequest& a, const cli::ToolRequest& b) {
    const engine::WriteOptions& x = a.options;
    const engine::WriteOptions& y = b.options;
    return a.command == b.command && same_wide(a.out_path, b.out_path) &&
           same_wide(x.image_path, y.image_path) && same_wide(x.target_file, y.target_file) &&
           same_wide(x.logs_dir, y.logs_dir) && same_text(x.serial, y.serial) &&
           x.serial.is_none() == y.serial.is_none() &&
           same_text(x.required_model, y.required_model) &&
           x.required_model.is_none() == y.required_model.is_none() &&
           x.keep_guid_count == y.keep_guid_count &&
           memcmp(x.keep_guids, y.keep_guids, sizeof x.keep_guids) == 0 && x.max_gb == y.max_gb &&
           x.chunk_bytes == y.chunk_bytes && x.queue_depth == y.queue_depth &&
           x.read_back_all == y.read_back_all && x.full == y.full && x.dry_run == y.dry_run &&
           x.other_machine == y.other_machine && x.fresh == y.fresh &&
           x.has_expected_sha256 == y.has_expected_sha256 &&
           memcmp(x.expected_sha256, y.expected_sha256, 32) == 0 &&
           x.has_expected_stick == y.has_expected_stick;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const int argc = split(data + 1, size - 1, (data[0] & 1) != 0);
    if (argc == 0)
        return 0;

    cli::UsageError reused_error;
    const bool reused_ok = cli::parse_command_line(argc, argv_units, reused, reused_error);
    cli::ToolRequest* fresh = new (fresh_storage) cli::ToolRequest();
    cli::UsageError error;
    const bool ok = cli::parse_command_line(argc, argv_units, *fresh, error);

    require(ok == reused_ok && same_text(error.view(), reused_error.view()),
            "the result depends on an earlier command line");
    if (ok) {
        require(error.length == 0, "an accepted command line with an error text");
        require(same_request(*fresh, reused), "the request depends on an earlier command line");
        check_accepted(*fresh, argc);
    } else {
        require(error.length > 0 && error.length <= cli::USAGE_ERROR_CAPACITY,
                "a refusal without a text");
        require(is_utf8(error.data, error.length), "a refusal text that is not UTF-8");
    }
    fresh->~ToolRequest();
    return 0;
}
