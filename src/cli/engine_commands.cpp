#include "cli/error_words.h"
#include "cli/failure_advice.h"
#include "cli/file_checks.h"
#include "cli/progress_line.h"
#include "cli/run_guards.h"
#include "cli/tool_commands.h"
#include "engine/run_names.h"
#include "engine/runs/read_only_runs.h"
#include "engine/runs/restore_run.h"
#include "engine/runs/write_stick.h"

namespace cli {
namespace {

// Where a run's texts go: the report lines to standard output as soon as
// the engine makes them, and a write's progress, on a console, in one line
// that each of them wipes first.
struct RunOutput {
    ToolOutput& output;
    ProgressLine progress;
};

void show_report_line(const char* line, size_t length, void* context) {
    RunOutput& run = *static_cast<RunOutput*>(context);
    run.progress.wipe();
    run.output.out(with_error_words({line, length}));
}

void observe_progress(const ToolRequest& request, RunOutput& run) {
    const bool counted =
        request.command == ToolCommand::Write || request.command == ToolCommand::Backup;
    const bool shown = counted && run.output.err_is_console();
    run::run_inputs.progress_observer = shown ? ProgressLine::observe : nullptr;
    run::run_inputs.progress_context = shown ? &run.progress : nullptr;
}

engine::Result run_command(const ToolRequest& request) {
    switch (request.command) {
        case ToolCommand::Write:
            return engine::write_stick(request.options);
        case ToolCommand::Logs:
            return engine::copy_stick_logs(request.options);
        case ToolCommand::Backup:
            return engine::back_up_stick(request.options, request.out_path);
        case ToolCommand::Restore:
            return engine::restore_stick(request.options, request.restore);
        case ToolCommand::Help:
        case ToolCommand::List:
            break;
    }
    return engine::Result::Failed;
}

// What the engine needs besides the options: the counter frequency and the
// event its single positioned transfers wait on.
bool prepare_engine_inputs(ToolOutput& output) {
    LARGE_INTEGER frequency;
    run::run_inputs.perf_frequency =
        sys::QueryPerformanceFrequency(&frequency) ? frequency.QuadPart : 0;
    run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (run::run_inputs.disk_io_event != nullptr)
        return true;
    (void)engine::fail("cannot make an event (Windows error ", sys::GetLastError(), ")");
    output.err(with_error_words(engine::failure_reason()));
    output.err({"\n", 1});
    return false;
}

// The reason in words, and on a line of its own the next step when the
// reason is a common one.
void show_failure(const ToolRequest& request, ToolOutput& output) {
    const text::ByteText reason = engine::failure_reason();
    output.err(with_error_words(reason));
    output.err({"\n", 1});
    const text::ByteText step = next_step(reason, request);
    if (step.length == 0)
        return;
    output.err(step);
    output.err({"\n", 1});
}

// A write of a file onto itself reads back what it reads and proves
// nothing; refused before either is read. By identity, since ./x, x and a
// link to x are one file.
bool refuse_same_file(const ToolRequest& request, ToolOutput& output) {
    const engine::WriteOptions& options = request.options;
    if (request.command != ToolCommand::Write || options.target_file.is_none() ||
        !same_file(options.image_path, options.target_file)) {
        return false;
    }
    const char message[] =
        "--image and --target are the same file: a file written onto itself proves nothing "
        "(give --target a file that stands in for the stick)\n";
    output.err({message, sizeof message - 1});
    return true;
}

}  // namespace

int run_engine_command(const ToolRequest& request, ToolOutput& output) {
    if (refuse_same_file(request, output))
        return EXIT_USAGE;
    RunGuards guards;
    if (!prepare_engine_inputs(output))
        return EXIT_FAILED;
    run::run_inputs.stick_tool_texts = true;
    RunOutput run{output, ProgressLine(output)};
    engine::set_report_observer(show_report_line, &run);
    observe_progress(request, run);
    const engine::Result result = run_command(request);
    guards.run_over();
    run::run_inputs.progress_observer = nullptr;
    run::run_inputs.progress_context = nullptr;
    run.progress.wipe();
    engine::set_report_observer(nullptr, nullptr);
    run::run_inputs.stick_tool_texts = false;
    (void)sys::CloseHandle(run::run_inputs.disk_io_event);
    run::run_inputs.disk_io_event = nullptr;
    if (result == engine::Result::Success)
        return EXIT_DONE;
    show_failure(request, output);
    return EXIT_FAILED;
}

}  // namespace cli
