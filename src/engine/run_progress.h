// How far a write run is, for the caller's progress observer (run_inputs):
// every transfer on the stick that completes counts its bytes toward the
// stage the run is in.
#pragma once

#include <cstdint>

#include "engine/run_names.h"

namespace engine {

// The bytes the run plans to move once its plan is made: its range read by
// the compare (none with --full), and unless it is a dry run, every byte of
// it written and read back once, and read back whole with `read_back_all`.
struct PlannedBytes {
    uint64_t compare;
    uint64_t write;
    uint64_t read_back_places;
    uint64_t read_back_all;
};
PlannedBytes planned_bytes(uint64_t range_bytes, bool full, bool dry_run, bool read_back_all);

// Starts counting toward the plan's total; nothing is counted outside a run
// that began so.
void begin_progress(const PlannedBytes& planned);

// Once the compare knows what will be written: the total falls to it.
void settle_written_bytes(uint64_t written_bytes);

void enter_stage(RunStage stage);

// A transfer on the stick completed with `bytes`.
void count_progress(uint64_t bytes);

// The run's last notice, at what it has done; counting stops.
void end_progress();

// Counting stops without a last notice (a failed run).
void abandon_progress();

}  // namespace engine
