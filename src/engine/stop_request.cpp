#include "engine/stop_request.h"

#include "run/run_inputs.h"

namespace engine {
namespace {

// Whether this run has started a write to the stick, and whether every
// write it planned has been stored.
bool stick_written = false;
bool all_written = false;
const char* again_word = "written";

Result fail_for_sleep() {
    if (stick_written) {
        return fail(
            "the computer went to sleep during the write: the stick was left partly written and "
            "must be ", again_word, " again");
    }
    return fail("the computer went to sleep before anything was written: the stick is as it was");
}

}  // namespace

void begin_stoppable_run(const char* again) {
    stick_written = false;
    all_written = false;
    again_word = again;
}

bool stick_was_written() {
    return stick_written;
}

void note_stick_written() {
    stick_written = true;
}

void note_all_written() {
    all_written = true;
}

Result stop_if_requested() {
    if (!run::run_inputs.stop_requested.load(std::memory_order_relaxed))
        return Result::Success;
    if (run::run_inputs.machine_slept.load(std::memory_order_relaxed))
        return fail_for_sleep();
    // Only the proof was left: the stick holds the image's bytes unless it
    // failed to store them, and a second run finds nothing to write and
    // reads it all back.
    if (all_written) {
        return fail(
            "stopped on request after every byte was written, before the read-back ended: the "
            "stick holds what was written, but it was not verified; ",
            run::run_inputs.stick_tool_texts
                ? "run the same command again, without --full, to verify it: it writes nothing "
                  "where the stick holds the image"
                : "write it again to verify it (only what differs is written)");
    }
    if (stick_written) {
        return fail("stopped on request: the stick was left partly written and must be ",
                    again_word, " again");
    }
    return fail("stopped on request before anything was written: the stick is as it was");
}

Result end_stoppable_run(Result result) {
    if (result == Result::Success || !run::run_inputs.machine_slept.load())
        return result;
    return fail_for_sleep();
}

}  // namespace engine
