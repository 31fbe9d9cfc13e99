// Durations of the run, from the performance counter and the frequency the
// caller stored.
#pragma once

#include <cstdint>

#include "engine/write_options.h"
#include "text/number_format.h"

namespace engine {

inline int64_t counter_now() {
    LARGE_INTEGER now{};
    // A counter that cannot be read gives 0: durations then show as 0.0 s,
    // never as a failure of the run.
    if (!sys::QueryPerformanceCounter(&now)) return 0;
    return now.QuadPart;
}

inline double seconds_since(int64_t start_count) {
    return text::seconds_between(start_count, counter_now(), run::run_inputs.perf_frequency);
}

}  // namespace engine
