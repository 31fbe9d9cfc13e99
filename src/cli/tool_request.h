// The stick tool's command line, checked and turned into what the engine
// takes: every option is refused here, with a message that names it, before
// anything runs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/runs/restore_run.h"
#include "engine/write_options.h"
#include "text/text_writer.h"

namespace cli {

enum class ToolCommand : uint8_t { Help, List, Write, Logs, Backup, Restore };

constexpr size_t SERIAL_CAPACITY = 128;  // a StickRecord's serial
constexpr size_t MODEL_CAPACITY = 64;    // a StickRecord's product
constexpr size_t USAGE_ERROR_CAPACITY = 512;
constexpr uint32_t MAX_CHUNK_MIB = 4;
constexpr uint32_t MAX_QUEUE_DEPTH = 8;  // the engine has this many transfer slots

// What to do. The options' paths point into the command line; its serial
// and model point into this record, which therefore stays where it is.
struct ToolRequest {
    ToolCommand command = ToolCommand::Help;
    engine::WriteOptions options;
    engine::WideText out_path;  // backup's --out
    // With command Help: the command whose help was asked for, or Help for
    // the whole tool's.
    ToolCommand help_for = ToolCommand::Help;
    engine::RestoreChoice restore;  // restore's --fs and --label
    char serial[SERIAL_CAPACITY] = {};
    char model[MODEL_CAPACITY] = {};

    ToolRequest() = default;
    ToolRequest(const ToolRequest&) = delete;
    ToolRequest& operator=(const ToolRequest&) = delete;
};

using UsageError = text::FixedText<USAGE_ERROR_CAPACITY>;

// argv[0] is the program, argv[1] the command; arguments are UTF-16 as
// Windows gives them. False with `error` for a command line that cannot run.
bool parse_command_line(int argc, const WCHAR* const* argv, ToolRequest& request,
                        UsageError& error);

}  // namespace cli
