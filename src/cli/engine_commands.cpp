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
    run.output.out({line, length});
}

void observe_progress(const ToolRequest& request, RunOutput& run) {
    const bool shown = request.command == ToolCommand::Write && run.output.err_is_console();
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
    output.err(engine::failure_reason());
    output.err({"\n", 1});
    return false;
}

}  // namespace

int run_engine_command(const ToolRequest& request, ToolOutput& output) {
    RunGuards guards;
    if (!prepare_engine_inputs(output))
        return EXIT_FAILED;
    RunOutput run{output, ProgressLine(output)};
    engine::set_report_observer(show_report_line, &run);
    observe_progress(request, run);
    const engine::Result result = run_command(request);
    guards.run_over();
    run::run_inputs.progress_observer = nullptr;
    run::run_inputs.progress_context = nullptr;
    run.progress.wipe();
    engine::set_report_observer(nullptr, nullptr);
    (void)sys::CloseHandle(run::run_inputs.disk_io_event);
    run::run_inputs.disk_io_event = nullptr;
    if (result == engine::Result::Success)
        return EXIT_DONE;
    output.err(engine::failure_reason());
    output.err({"\n", 1});
    return EXIT_FAILED;
}

}  // namespace cli
