#include "engine/stop_request.h"

#include "run/run_inputs.h"

namespace engine {
namespace {

// Whether this run has started a write to the stick.
bool stick_written = false;
const char* again_word = "written";

}  // namespace

void begin_stoppable_run(const char* again) {
    stick_written = false;
    again_word = again;
}

bool stick_was_written() {
    return stick_written;
}

void note_stick_written() {
    stick_written = true;
}

Result stop_if_requested() {
    if (!run::run_inputs.stop_requested.load(std::memory_order_relaxed))
        return Result::Success;
    if (stick_written) {
        return fail("stopped on request: the stick was left partly written and must be ",
                    again_word, " again");
    }
    return fail("stopped on request before anything was written: the stick is as it was");
}

}  // namespace engine
