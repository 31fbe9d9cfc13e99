#include "cli/option_values.h"
#include "cli/tool_request.h"
#include "engine/run_names.h"
#include "text/number_format.h"

namespace cli {
namespace {

enum class OptionId : uint8_t {
    Image,
    Serial,
    Target,
    Model,
    Sha256,
    KeepGuid,
    MaxGb,
    Fresh,
    OtherMachine,
    Full,
    DryRun,
    Logs,
    ChunkMib,
    QueueDepth,
    NoReadBack,
    Out,
    FileSystem,
    Label,
};

// Which commands take an option.
constexpr uint8_t WRITE = 1;
constexpr uint8_t LOGS = 2;
constexpr uint8_t BACKUP = 4;
constexpr uint8_t RESTORE = 8;

struct KnownOption {
    const char* name;
    OptionId id;
    bool takes_value;
    uint8_t commands;
};

constexpr KnownOption OPTIONS[] = {
    {"--image", OptionId::Image, true, WRITE},
    {"--serial", OptionId::Serial, true, WRITE | LOGS | BACKUP | RESTORE},
    {"--target", OptionId::Target, true, WRITE | LOGS | BACKUP | RESTORE},
    {"--model", OptionId::Model, true, WRITE | LOGS | BACKUP | RESTORE},
    {"--max-gb", OptionId::MaxGb, true, WRITE | LOGS | BACKUP | RESTORE},
    {"--sha256", OptionId::Sha256, true, WRITE},
    {"--keep-guid", OptionId::KeepGuid, true, WRITE},
    {"--fresh", OptionId::Fresh, false, WRITE},
    {"--other-machine", OptionId::OtherMachine, false, WRITE},
    {"--full", OptionId::Full, false, WRITE},
    {"--dry-run", OptionId::DryRun, false, WRITE | RESTORE},
    {"--logs", OptionId::Logs, true, WRITE | LOGS | RESTORE},
    {"--chunk-mib", OptionId::ChunkMib, true, WRITE},
    {"--queue-depth", OptionId::QueueDepth, true, WRITE},
    {"--no-read-back", OptionId::NoReadBack, false, WRITE},
    {"--out", OptionId::Out, true, BACKUP},
    {"--fs", OptionId::FileSystem, true, RESTORE},
    {"--label", OptionId::Label, true, RESTORE},
};
constexpr size_t OPTION_COUNT = sizeof OPTIONS / sizeof OPTIONS[0];

constexpr size_t max_gb_index() {
    for (size_t k = 0; k < OPTION_COUNT; ++k) {
        if (OPTIONS[k].id == OptionId::MaxGb)
            return k;
    }
    return OPTION_COUNT;
}
static_assert(max_gb_index() < OPTION_COUNT);

struct KnownCommand {
    const char* name;
    ToolCommand command;
    uint8_t bit;  // 0: takes no options
};

constexpr KnownCommand COMMANDS[] = {
    {"list", ToolCommand::List, 0},
    {"write", ToolCommand::Write, WRITE},
    {"logs", ToolCommand::Logs, LOGS},
    {"backup", ToolCommand::Backup, BACKUP},
    {"restore", ToolCommand::Restore, RESTORE},
};

engine::WideText wide_of(const WCHAR* units) {
    uint64_t length = 0;
    while (units[length] != 0)
        ++length;
    return {units, length};
}

bool equals_ascii(engine::WideText text, const char* ascii) {
    uint64_t i = 0;
    for (; ascii[i] != 0; ++i) {
        if (i == text.length || text.data[i] != static_cast<WCHAR>(ascii[i]))
            return false;
    }
    return i == text.length;
}

bool is_option_like(engine::WideText text) {
    return text.length >= 2 && text.data[0] == '-' && text.data[1] == '-';
}

// Longer arguments are no near miss of any option or command.
constexpr size_t NEAR_MISS_UNITS = 24;

// The edit distance between an argument and an ASCII name (insertions,
// deletions, substitutions and swaps of two neighbours), or NEAR_MISS_UNITS
// when either is longer than that.
size_t edit_distance(engine::WideText text, const char* name) {
    size_t name_length = 0;
    while (name[name_length] != 0)
        ++name_length;
    if (text.length > NEAR_MISS_UNITS || name_length > NEAR_MISS_UNITS)
        return NEAR_MISS_UNITS;
    size_t rows[3][NEAR_MISS_UNITS + 1];
    for (size_t j = 0; j <= name_length; ++j)
        rows[0][j] = j;
    for (size_t i = 1; i <= text.length; ++i) {
        size_t* row = rows[i % 3];
        const size_t* up = rows[(i - 1) % 3];
        const size_t* up2 = rows[(i + 1) % 3];  // two rows above
        row[0] = i;
        for (size_t j = 1; j <= name_length; ++j) {
            const WCHAR a = text.data[i - 1];
            const WCHAR b = static_cast<WCHAR>(name[j - 1]);
            size_t best = up[j - 1] + (a == b ? 0 : 1);
            best = up[j] + 1 < best ? up[j] + 1 : best;
            best = row[j - 1] + 1 < best ? row[j - 1] + 1 : best;
            if (i > 1 && j > 1 && a == static_cast<WCHAR>(name[j - 2]) && text.data[i - 2] == b &&
                up2[j - 2] + 1 < best) {
                best = up2[j - 2] + 1;
            }
            row[j] = best;
        }
    }
    return rows[text.length % 3][name_length];
}

// Whether the argument's letters all appear in the name, in order: an
// abbreviation such as --img for --image.
bool abbreviates(engine::WideText text, const char* name) {
    size_t j = 0;
    for (uint64_t i = 0; i < text.length; ++i) {
        while (name[j] != 0 && static_cast<WCHAR>(name[j]) != text.data[i])
            ++j;
        if (name[j] == 0)
            return false;
        ++j;
    }
    return true;
}

bool starts_with(const char* name, engine::WideText text) {
    for (uint64_t i = 0; i < text.length; ++i) {
        if (name[i] == 0 || static_cast<WCHAR>(name[i]) != text.data[i])
            return false;
    }
    return true;
}

// Where an argument stops being an option's name: at a "=" that joins a
// value to it, as other tools take it.
engine::WideText name_part(engine::WideText argument) {
    for (uint64_t i = 0; i < argument.length; ++i) {
        if (argument.data[i] == '=')
            return {argument.data, i};
    }
    return argument;
}

// The parse in progress: the request, the error, and the options seen.
class Parser {
  public:
    Parser(ToolRequest& request, UsageError& error) : request_(request), error_(error) {}

    bool command(engine::WideText name);
    bool option(int argc, const WCHAR* const* argv, int& index);
    bool complete();

  private:
    template <typename... Pieces>
    bool refuse(const Pieces&... pieces) {
        text::TextWriter out(error_.data, error_.capacity);
        text::compose(out, pieces...);
        error_.length = out.length();
        return false;
    }

    bool value(const KnownOption& known, engine::WideText value);
    bool number(const KnownOption& known, engine::WideText text, uint64_t low, uint64_t high,
                const char* what, uint64_t& number);
    bool one_stick();
    bool refuse_unknown_option(engine::WideText argument);
    const KnownOption* nearest_option(engine::WideText name) const;
    bool file_system(engine::WideText value);

    ToolRequest& request_;
    UsageError& error_;
    uint8_t command_bit_ = 0;
    const char* command_name_ = "";
    bool seen_[OPTION_COUNT] = {};
};

bool Parser::command(engine::WideText name) {
    for (const KnownCommand& known : COMMANDS) {
        if (!equals_ascii(name, known.name))
            continue;
        request_.command = known.command;
        command_bit_ = known.bit;
        command_name_ = known.name;
        return true;
    }
    for (const KnownCommand& known : COMMANDS) {
        if (edit_distance(name, known.name) <= 1) {
            return refuse("unknown command ", engine::path_text(name), ": did you mean ",
                          known.name, "?");
        }
    }
    return refuse("unknown command ", engine::path_text(name),
                  ": the commands are list, write, "
                  "logs, backup and restore");
}

// An option of this command that the argument comes close to: one it
// begins (--dry for --dry-run), one typed with one slip (--dryrun,
// --serail), or one it abbreviates (--img for --image).
const KnownOption* Parser::nearest_option(engine::WideText name) const {
    constexpr uint64_t SHORTEST = 5;  // "--" and three letters
    for (const KnownOption& known : OPTIONS) {
        if ((known.commands & command_bit_) == 0)
            continue;
        if (edit_distance(name, known.name) <= 1)
            return &known;
    }
    for (const KnownOption& known : OPTIONS) {
        if ((known.commands & command_bit_) == 0 || name.length < SHORTEST)
            continue;
        if (starts_with(known.name, name) || abbreviates(name, known.name))
            return &known;
    }
    return nullptr;
}

bool Parser::refuse_unknown_option(engine::WideText argument) {
    const engine::WideText name = name_part(argument);
    if (name.length < argument.length) {
        const engine::WideText given{name.data + name.length + 1,
                                     argument.length - name.length - 1};
        for (const KnownOption& known : OPTIONS) {
            if (!equals_ascii(name, known.name))
                continue;
            if (!known.takes_value)
                return refuse("unknown option ", engine::path_text(argument), ": ", known.name,
                              " takes no value");
            // One path text at a time: each call reuses the same buffer.
            text::TextWriter out(error_.data, error_.capacity);
            text::compose(out, "unknown option ", engine::path_text(argument), ": did you mean ",
                          known.name, " ");
            text::compose(out, engine::path_text(given), " (a space between, not =)?");
            error_.length = out.length();
            return false;
        }
    }
    const KnownOption* nearest = nearest_option(name);
    if (nearest != nullptr) {
        return refuse("unknown option ", engine::path_text(argument), ": did you mean ",
                      nearest->name, "?");
    }
    return refuse("unknown option ", engine::path_text(argument));
}

bool Parser::option(int argc, const WCHAR* const* argv, int& index) {
    const engine::WideText argument = wide_of(argv[index]);
    if (!is_option_like(argument)) {
        return refuse("unexpected ", engine::path_text(argument), ": options start with --");
    }
    for (size_t k = 0; k < OPTION_COUNT; ++k) {
        const KnownOption& known = OPTIONS[k];
        if (!equals_ascii(argument, known.name))
            continue;
        if ((known.commands & command_bit_) == 0) {
            return refuse(command_name_, " does not take ", known.name);
        }
        if (seen_[k] && known.id != OptionId::KeepGuid)
            return refuse(known.name, " is given twice");
        seen_[k] = true;
        if (!known.takes_value)
            return value(known, {});
        if (index + 1 >= argc)
            return refuse(known.name, " needs a value");
        const engine::WideText given = wide_of(argv[++index]);
        if (given.length == 0 || is_option_like(given))
            return refuse(known.name, " needs a value");
        return value(known, given);
    }
    return refuse_unknown_option(argument);
}

bool Parser::number(const KnownOption& known, engine::WideText text, uint64_t low, uint64_t high,
                    const char* what, uint64_t& number) {
    const NumberRead read = read_decimal(text, number);
    if (read == NumberRead::Ok && number >= low && number <= high)
        return true;
    if (read == NumberRead::TooLarge && high == UINT64_MAX) {
        return refuse(known.name, " is too large: at most 18446744073709551615");
    }
    return refuse(known.name, " takes ", what);
}

bool Parser::value(const KnownOption& known, engine::WideText given) {
    engine::WriteOptions& options = request_.options;
    uint64_t n = 0;
    size_t length = 0;
    switch (known.id) {
        case OptionId::Image:
            options.image_path = given;
            return true;
        case OptionId::Target:
            options.target_file = given;
            return true;
        case OptionId::Logs:
            options.logs_dir = given;
            return true;
        case OptionId::Out:
            request_.out_path = given;
            return true;
        case OptionId::Label:
            request_.restore.label = given;
            return true;
        case OptionId::FileSystem:
            return file_system(given);
        case OptionId::Fresh:
            options.fresh = true;
            return true;
        case OptionId::OtherMachine:
            options.other_machine = true;
            return true;
        case OptionId::Full:
            options.full = true;
            return true;
        case OptionId::DryRun:
            options.dry_run = true;
            return true;
        case OptionId::NoReadBack:
            options.read_back_all = false;
            return true;
        case OptionId::Serial:
            if (!read_ascii_text(given, request_.serial, SERIAL_CAPACITY, length)) {
                return refuse(
                    "--serial takes the serial number that tundra-stick list shows: at "
                    "most 128 printable ASCII characters");
            }
            options.serial = {request_.serial, length};
            return true;
        case OptionId::Model:
            if (!read_ascii_text(given, request_.model, MODEL_CAPACITY, length)) {
                return refuse("--model takes at most 64 printable ASCII characters");
            }
            options.required_model = {request_.model, length};
            return true;
        case OptionId::Sha256:
            if (!read_hex_bytes(given, options.expected_sha256, 32)) {
                return refuse("--sha256 takes the image's SHA-256 as 64 hexadecimal digits");
            }
            options.has_expected_sha256 = true;
            return true;
        case OptionId::KeepGuid:
            if (options.keep_guid_count == engine::KEEP_GUID_CAPACITY) {
                return refuse("--keep-guid can be given at most 8 times");
            }
            if (!read_guid(given, options.keep_guids[options.keep_guid_count])) {
                return refuse(
                    "--keep-guid takes a partition GUID of 36 characters, such as "
                    "0fc63daf-8483-4772-8e79-3d69d8477de4");
            }
            ++options.keep_guid_count;
            return true;
        case OptionId::MaxGb:
            if (!number(known, given, 0, UINT64_MAX, "a whole number of GB", n))
                return false;
            options.max_gb = n;
            return true;
        case OptionId::ChunkMib:
            if (!number(known, given, 1, MAX_CHUNK_MIB, "a whole number of MiB from 1 to 4", n)) {
                return false;
            }
            options.chunk_bytes = static_cast<uint32_t>(n * 1048576);
            return true;
        case OptionId::QueueDepth:
            if (!number(known, given, 1, MAX_QUEUE_DEPTH, "a whole number from 1 to 8", n)) {
                return false;
            }
            options.queue_depth = static_cast<uint32_t>(n);
            return true;
    }
    return refuse("unknown option ", known.name);
}

bool Parser::file_system(engine::WideText value) {
    if (equals_ascii(value, "fat32") || equals_ascii(value, "FAT32")) {
        request_.restore.file_system = engine::FileSystemChoice::Fat32;
        return true;
    }
    if (equals_ascii(value, "exfat") || equals_ascii(value, "exFAT")) {
        request_.restore.file_system = engine::FileSystemChoice::Exfat;
        return true;
    }
    return refuse("--fs takes fat32 or exfat");
}

// A stick by its serial, or a file that stands in for one: exactly one.
bool Parser::one_stick() {
    const engine::WriteOptions& options = request_.options;
    const bool by_serial = !options.serial.is_none();
    const bool by_file = !options.target_file.is_none();
    if (by_serial && by_file)
        return refuse("give --serial or --target, not both");
    if (!by_serial && !by_file) {
        return refuse(
            "which stick? --serial S (tundra-stick list shows the serial numbers), or "
            "--target FILE");
    }
    // Both check what a disk says of itself; a file says nothing of the kind,
    // and an ignored check would pass for one that was made.
    if (by_file && !options.required_model.is_none())
        return refuse("--model checks a stick found by --serial: a --target file has no model");
    if (by_file && seen_[max_gb_index()])
        return refuse(
            "--max-gb checks a stick found by --serial: a --target file has no such size");
    return true;
}

bool Parser::complete() {
    const engine::WriteOptions& options = request_.options;
    switch (request_.command) {
        case ToolCommand::Help:
        case ToolCommand::List:
            return true;
        case ToolCommand::Write:
            if (options.image_path.is_none())
                return refuse("which image? --image FILE");
            return one_stick();
        case ToolCommand::Logs:
            if (!one_stick())
                return false;
            if (options.logs_dir.is_none())
                return refuse("which folder? --logs DIR");
            return true;
        case ToolCommand::Backup:
            if (!one_stick())
                return false;
            if (request_.out_path.is_none())
                return refuse("where to? --out FILE");
            return true;
        case ToolCommand::Restore:
            return one_stick();
    }
    return true;
}

// --help anywhere: the help of the command it follows, when argv[1] names
// one, or else of the whole tool.
bool asks_for_help(int argc, const WCHAR* const* argv, ToolRequest& request) {
    for (int i = 1; i < argc; ++i) {
        const engine::WideText argument = wide_of(argv[i]);
        if (!equals_ascii(argument, "--help") && !equals_ascii(argument, "-h"))
            continue;
        request.help_for = ToolCommand::Help;
        for (const KnownCommand& known : COMMANDS) {
            if (argc > 1 && equals_ascii(wide_of(argv[1]), known.name))
                request.help_for = known.command;
        }
        return true;
    }
    return false;
}

}  // namespace

bool parse_command_line(int argc, const WCHAR* const* argv, ToolRequest& request,
                        UsageError& error) {
    request.command = ToolCommand::Help;
    request.options = engine::WriteOptions{};
    // The tool's own defaults where the desktop's differ: a stick with a data
    // area keeps it unless --fresh, and no stick was picked in a window.
    request.options.fresh = false;
    request.options.has_expected_stick = false;
    request.options.has_expected_sha256 = false;
    request.out_path = {};
    request.help_for = ToolCommand::Help;
    request.restore = engine::RestoreChoice{};
    error.length = 0;
    if (asks_for_help(argc, argv, request))
        return true;
    Parser parser(request, error);
    if (argc < 2) {
        text::TextWriter out(error.data, error.capacity);
        out.put("which command? list, write, logs, backup or restore");
        error.length = out.length();
        return false;
    }
    if (!parser.command(wide_of(argv[1])))
        return false;
    for (int i = 2; i < argc; ++i) {
        if (!parser.option(argc, argv, i))
            return false;
    }
    return parser.complete();
}

}  // namespace cli
