// The engine's result and its two text outputs: the failure reason, written
// by the stage that fails, and the report sink, which receives each report
// line in turn.
#pragma once

#include <cstdint>

#include "engine/engine_workspace.h"
#include "text/number_format.h"

namespace engine {

enum class [[nodiscard]] Result : uint8_t { Success, Failed };

// Formats the failure reason from its pieces, cut at its capacity (before a
// character that would be split, so the window can always show it), and
// gives Failed so that a stage can `return fail(...)`.
template <typename... Pieces>
Result fail(const Pieces&... pieces) {
    text::TextWriter out(workspace.failure_reason, FAILURE_REASON_CAPACITY);
    text::compose(out, pieces...);
    workspace.failure_reason_length = out.length();
    return Result::Failed;
}

// A front end that wants the report lines gets each one here, before the
// next line replaces it in the sink.
using ReportObserver = void (*)(const char* line, size_t length, void* context);
void set_report_observer(ReportObserver observer, void* context);
void deliver_report_line();

// Formats one report line into the sink, cut at its capacity; a line that
// does not fit never stops the run.
template <typename... Pieces>
void report(const Pieces&... pieces) {
    text::TextWriter out(workspace.report, REPORT_CAPACITY);
    text::compose(out, pieces...);
    workspace.report_length = out.length();
    deliver_report_line();
}

inline text::ByteText failure_reason() {
    return {workspace.failure_reason, workspace.failure_reason_length};
}

}  // namespace engine
