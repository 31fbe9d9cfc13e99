// A run can be asked to stop from another thread (a console's Ctrl+C, the
// end of the user's session) through run::run_inputs.stop_requested. The
// engine looks at it only where it can stop cleanly: between pieces, from
// where the usual release of a failed run waits for every transfer in
// flight, lets the locks go and closes the handles in order.
#pragma once

#include "engine/run_names.h"

namespace engine {

// Each run starts with the stick untouched by it. `again` says what a stick
// left partly written needs done to it again ("written", "restored").
void begin_stoppable_run(const char* again = "written");

// Called when the run starts its first write to the stick: from then on a
// stop leaves the stick neither as it was nor the image.
void note_stick_written();

// Called once every write of the run has been stored (flushed): a stop
// from then on interrupts only the read-back.
void note_all_written();

// Whether this run has started a write to the stick.
bool stick_was_written();

// Fails with the stop text when a stop has been asked for, and succeeds
// otherwise.
Result stop_if_requested();

// The run has released everything and ends with `result`. A run that failed
// after the machine went to sleep gets the sleep's text as its reason,
// whatever failed first on waking.
Result end_stoppable_run(Result result);

}  // namespace engine
