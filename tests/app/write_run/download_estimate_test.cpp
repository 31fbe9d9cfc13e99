// The time left of a download: said only once it can be told, steady while
// the line is, and changed when the line really changes.
#include "app/write_run/download_estimate.h"

#include <gtest/gtest.h>

#include "app/write_run/retry_policy.h"

namespace {

using app::DownloadEstimate;
using app::estimate_seconds_left;
using app::ESTIMATE_UNKNOWN;

constexpr uint64_t MB = 1000000;
constexpr uint64_t TOTAL = 3100 * MB;

// Feeds a line of `mb_per_s` for `seconds`, a sample every 250 ms; the
// last estimate.
uint64_t run_line(DownloadEstimate& e, ULONGLONG& now, uint64_t& bytes, uint64_t mb_per_s,
                  int seconds, uint64_t* lowest = nullptr, uint64_t* highest = nullptr) {
    uint64_t left = ESTIMATE_UNKNOWN;
    for (int quarter = 0; quarter < seconds * 4; ++quarter) {
        now += 250;
        bytes += mb_per_s * MB / 4;
        left = estimate_seconds_left(e, now, bytes, TOTAL);
        if (lowest != nullptr && left != ESTIMATE_UNKNOWN && left < *lowest)
            *lowest = left;
        if (highest != nullptr && left != ESTIMATE_UNKNOWN && left > *highest)
            *highest = left;
    }
    return left;
}

TEST(DownloadEstimateTest, NothingIsSaidInTheFirstSeconds) {
    DownloadEstimate e;
    ULONGLONG now = 1000000;
    uint64_t bytes = 0;
    app::estimate_restart(e, now, bytes);
    EXPECT_EQ(run_line(e, now, bytes, 5, 4), ESTIMATE_UNKNOWN);
    EXPECT_NE(run_line(e, now, bytes, 5, 2), ESTIMATE_UNKNOWN);
}

TEST(DownloadEstimateTest, ASteadyLineCountsDownWithoutJumps) {
    DownloadEstimate e;
    ULONGLONG now = 0;
    uint64_t bytes = 0;
    app::estimate_restart(e, now, bytes);
    run_line(e, now, bytes, 5, 10);
    // 5 MB/s with 3050 MB to go: about 610 s.
    const uint64_t left = estimate_seconds_left(e, now, bytes, TOTAL);
    EXPECT_NEAR(static_cast<double>(left), (TOTAL - bytes) / (5.0 * MB), 30.0);
    uint64_t previous = left;
    for (int second = 0; second < 60; ++second) {
        const uint64_t next = run_line(e, now, bytes, 5, 1);
        EXPECT_LE(next, previous);
        EXPECT_GE(next + 3, previous) << "jumped at second " << second;
        previous = next;
    }
}

// A line that wavers around its rate (every other second at half and at
// one and a half) does not make the estimate wander with it.
TEST(DownloadEstimateTest, AWaveringLineKeepsItsEstimate) {
    DownloadEstimate e;
    ULONGLONG now = 0;
    uint64_t bytes = 0;
    app::estimate_restart(e, now, bytes);
    run_line(e, now, bytes, 4, 12);
    const uint64_t start = estimate_seconds_left(e, now, bytes, TOTAL);
    uint64_t lowest = UINT64_MAX, highest = 0;
    for (int second = 0; second < 40; ++second)
        run_line(e, now, bytes, second % 2 == 0 ? 2 : 6, 1, &lowest, &highest);
    // It counts down by the 40 s that passed, and no more than that moves it.
    EXPECT_LE(highest, start);
    EXPECT_GE(lowest + 45 + start / 5, start);
}

// A real change of the line shows: the rate halves, the time doubles, and
// a line that stops leaves no time at all to tell.
TEST(DownloadEstimateTest, ARealChangeOfTheLineShows) {
    DownloadEstimate e;
    ULONGLONG now = 0;
    uint64_t bytes = 0;
    app::estimate_restart(e, now, bytes);
    const uint64_t fast = run_line(e, now, bytes, 8, 15);
    const uint64_t slow = run_line(e, now, bytes, 2, 15);
    EXPECT_GT(slow, fast * 3);
    EXPECT_EQ(run_line(e, now, bytes, 0, 12), ESTIMATE_UNKNOWN);
}

TEST(RetryPolicyTest, PausesGrowToHalfAMinuteAndStay) {
    const DWORD expected[] = {1, 2, 4, 8, 15, 30, 30, 30};
    for (uint32_t failures = 1; failures <= 8; ++failures)
        EXPECT_EQ(app::retry_pause_s(failures), expected[failures - 1]) << failures;
    // Several attempts fit in the stall limit before it gives up.
    ULONGLONG paused_ms = 0;
    uint32_t attempts = 0;
    while (paused_ms < app::STALL_LIMIT_MS)
        paused_ms += app::retry_pause_s(++attempts) * 1000ull;
    EXPECT_GE(attempts, 10u);
}

}  // namespace
