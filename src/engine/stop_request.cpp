#include "engine/stop_request.h"

#include "run/run_inputs.h"

namespace engine {
namespace {

// Whether this run has started a write to the stick.
bool stick_written = false;

Result fail_for_sleep() {
    if (stick_written) {
        return fail(
            "the computer went to sleep during the write: the stick was left partly written and "
            "must be written again");
    }
    return fail("the computer went to sleep before anything was written: the stick is as it was");
}

}  // namespace

void begin_stoppable_run() {
    stick_written = false;
}

void note_stick_written() {
    stick_written = true;
}

Result stop_if_requested() {
    if (!run::run_inputs.stop_requested.load(std::memory_order_relaxed))
        return Result::Success;
    if (run::run_inputs.machine_slept.load(std::memory_order_relaxed))
        return fail_for_sleep();
    if (stick_written) {
        return fail(
            "stopped on request: the stick was left partly written and must be written again");
    }
    return fail("stopped on request before anything was written: the stick is as it was");
}

Result end_stoppable_run(Result result) {
    if (result == Result::Success || !run::run_inputs.machine_slept.load())
        return result;
    return fail_for_sleep();
}

}  // namespace engine
