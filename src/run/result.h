// The result of every step of a run on a disk, and its two text outputs: the
// failure reason, written by the step that fails, and the report sink, which
// receives each report line in turn.
#pragma once

#include <cstdint>

#include "run/run_buffers.h"
#include "text/number_format.h"

namespace run {

enum class [[nodiscard]] Result : uint8_t{Success, Failed};

// Formats the failure reason from its pieces, cut at its capacity (before a
// character that would be split, so the window can always show it), and
// gives Failed so that a step can `return fail(...)`.
template <typename... Pieces>
Result fail(const Pieces&... pieces) {
    text::TextWriter out(buffers.failure_reason, FAILURE_REASON_CAPACITY);
    text::compose(out, pieces...);
    buffers.failure_reason_length = out.length();
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
    text::TextWriter out(buffers.report, REPORT_CAPACITY);
    text::compose(out, pieces...);
    buffers.report_length = out.length();
    deliver_report_line();
}

inline text::ByteText failure_reason() {
    return {buffers.failure_reason, buffers.failure_reason_length};
}

}  // namespace run
