// How long the rest of a download will take, for the window's text. The
// rate is a moving average over the last several seconds, so that one slow
// second does not turn "6 min" into "40 min"; nothing is said until the
// transfer has run for a few seconds; and a shown estimate counts down by
// itself and is replaced only when the line's rate has really changed, so
// that it does not flicker between neighbouring values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sys/sys.h"

namespace app {

constexpr uint64_t ESTIMATE_UNKNOWN = UINT64_MAX;
constexpr ULONGLONG ESTIMATE_WINDOW_MS = 10000;  // the rate over the last 10 s
constexpr ULONGLONG ESTIMATE_FIRST_MS = 5000;    // said only after 5 s of transfer
constexpr size_t ESTIMATE_SAMPLES = 16;          // at most one a second is kept
constexpr ULONGLONG ESTIMATE_SAMPLE_MS = 1000;
// A new estimate replaces the shown one only when it differs by more than
// a fifth, and by more than 20 s: within that, the shown one counts down.
constexpr uint64_t ESTIMATE_KEEP_FRACTION = 5;
constexpr uint64_t ESTIMATE_KEEP_MIN_S = 20;

struct EstimateSample {
    ULONGLONG tick_ms;
    uint64_t bytes;
};

struct DownloadEstimate {
    EstimateSample samples[ESTIMATE_SAMPLES];
    size_t count = 0;  // the newest is samples[count - 1]
    ULONGLONG started_ms = 0;
    bool showing = false;
    uint64_t shown_s = 0;
    ULONGLONG shown_at_ms = 0;
};

// A transfer (re)starts: what came before says nothing of the new one.
void estimate_restart(DownloadEstimate& estimate, ULONGLONG now_ms, uint64_t bytes);

// Notes the bytes received so far and returns the seconds left to receive
// `total_bytes`, or ESTIMATE_UNKNOWN while it cannot be told.
uint64_t estimate_seconds_left(DownloadEstimate& estimate, ULONGLONG now_ms, uint64_t bytes,
                               uint64_t total_bytes);

}  // namespace app
