// What the caller provides before a run: the performance counter frequency
// that every reported duration divides by, and the event (manual reset,
// unnamed) that single positioned transfers wait on. The caller closes the
// event after the run. Another thread may ask the run to stop through
// stop_requested (a console's Ctrl+C, the end of the user's session).
#pragma once

#include <atomic>
#include <cstdint>

#include "sys/sys.h"

namespace run {

struct RunInputs {
    int64_t perf_frequency = 0;
    HANDLE disk_io_event = nullptr;
    std::atomic<bool> stop_requested{false};
};

extern RunInputs run_inputs;

}  // namespace run
