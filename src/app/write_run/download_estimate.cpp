#include "app/write_run/download_estimate.h"

namespace app {
namespace {

void add_sample(DownloadEstimate& e, ULONGLONG now_ms, uint64_t bytes) {
    if (e.count == ESTIMATE_SAMPLES) {
        for (size_t i = 1; i < ESTIMATE_SAMPLES; ++i)
            e.samples[i - 1] = e.samples[i];
        --e.count;
    }
    e.samples[e.count++] = {now_ms, bytes};
}

// The oldest sample still inside the window before `now_ms`.
const EstimateSample& window_start(const DownloadEstimate& e, ULONGLONG now_ms) {
    size_t first = 0;
    while (first + 1 < e.count && now_ms - e.samples[first].tick_ms > ESTIMATE_WINDOW_MS)
        ++first;
    return e.samples[first];
}

uint64_t difference(uint64_t a, uint64_t b) {
    return a > b ? a - b : b - a;
}

}  // namespace

void estimate_restart(DownloadEstimate& estimate, ULONGLONG now_ms, uint64_t bytes) {
    estimate = {};
    estimate.started_ms = now_ms;
    add_sample(estimate, now_ms, bytes);
}

uint64_t estimate_seconds_left(DownloadEstimate& e, ULONGLONG now_ms, uint64_t bytes,
                               uint64_t total_bytes) {
    if (e.count == 0)
        estimate_restart(e, now_ms, bytes);
    if (now_ms - e.samples[e.count - 1].tick_ms >= ESTIMATE_SAMPLE_MS)
        add_sample(e, now_ms, bytes);
    if (now_ms - e.started_ms < ESTIMATE_FIRST_MS || bytes >= total_bytes)
        return bytes >= total_bytes ? 0 : ESTIMATE_UNKNOWN;
    const EstimateSample& from = window_start(e, now_ms);
    const ULONGLONG span_ms = now_ms - from.tick_ms;
    if (span_ms == 0 || bytes <= from.bytes) {
        e.showing = false;  // nothing moves: no time can be told
        return ESTIMATE_UNKNOWN;
    }
    // Bytes of an image and milliseconds of a window stay far below what
    // the product could overflow.
    const uint64_t per_second = (bytes - from.bytes) * 1000 / span_ms;
    if (per_second == 0) {
        e.showing = false;
        return ESTIMATE_UNKNOWN;
    }
    const uint64_t fresh = (total_bytes - bytes) / per_second;
    if (e.showing) {
        const uint64_t passed_s = (now_ms - e.shown_at_ms) / 1000;
        const uint64_t counted = e.shown_s > passed_s ? e.shown_s - passed_s : 0;
        const uint64_t keep = counted / ESTIMATE_KEEP_FRACTION > ESTIMATE_KEEP_MIN_S
                                  ? counted / ESTIMATE_KEEP_FRACTION
                                  : ESTIMATE_KEEP_MIN_S;
        if (difference(fresh, counted) <= keep)
            return counted;
    }
    e.showing = true;
    e.shown_s = fresh;
    e.shown_at_ms = now_ms;
    return fresh;
}

}  // namespace app
