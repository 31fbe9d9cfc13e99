// What the caller provides before a run: the performance counter frequency
// that every reported duration divides by, and the event (manual reset,
// unnamed) that single positioned transfers wait on. The caller closes the
// event after the run. Another thread may ask the run to stop through
// stop_requested (a console's Ctrl+C, the end of the user's session, the
// machine going to sleep).
// A front end that shows how far a write is gives a progress observer.
#pragma once

#include <atomic>
#include <cstdint>

#include "sys/sys.h"

namespace run {

// The part of a write that moves bytes on the stick: the compare reads it,
// the write writes the changed places, the read-back reads them and then
// the whole range again. A backup reads the whole stick.
enum class RunStage : uint8_t { Compare, Write, ReadBack, Backup };

// Often enough for a percentage of any stick to move smoothly, rarely
// enough that the observer costs nothing beside the transfers.
constexpr uint64_t PROGRESS_NOTICE_BYTES = 4194304;

// Called on the run's own thread, at most once every PROGRESS_NOTICE_BYTES
// of progress and once more at the end, with the bytes done of the run's
// total (what the compare, the write and the read-back move together).
// Before the compare has found what differs, the total counts every byte as
// to be written; it then falls to what will be, and never grows again, so
// that done / total only rises. A successful write ends with done equal to
// total. Never called when none is given.
using ProgressObserver = void (*)(void* context, RunStage stage, uint64_t done_bytes,
                                  uint64_t total_bytes);

// The whole percentage an observer's notice stands for, at most 100.
// No overflow: the bytes of a run stay far below 2^64 / 100.
constexpr uint64_t progress_percent(uint64_t done_bytes, uint64_t total_bytes) {
    return done_bytes >= total_bytes ? 100 : done_bytes * 100 / total_bytes;
}

struct RunInputs {
    int64_t perf_frequency = 0;
    HANDLE disk_io_event = nullptr;
    std::atomic<bool> stop_requested{false};
    // Set with stop_requested when the machine goes to sleep during the run:
    // a transfer in flight may then fail on waking with a device error that
    // says nothing of the cause, and the run's reason says it in words.
    std::atomic<bool> machine_slept{false};
    ProgressObserver progress_observer = nullptr;
    void* progress_context = nullptr;
    // The stick tool's texts where they differ from the desktop's: the tool
    // says what the user typed (--sha256) and what the run will do, where the
    // window has its own fixed texts. Set by the tool before a run.
    bool stick_tool_texts = false;
};

extern RunInputs run_inputs;

}  // namespace run
