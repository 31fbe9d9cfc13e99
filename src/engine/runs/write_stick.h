// The engine's entry: writes an image onto a stick (or a file standing in
// for one) and proves by reading back that it holds the image.
#pragma once

#include "engine/run_names.h"
#include "engine/write_options.h"

namespace engine {

// Blocking; one run at a time. Before the call, run_inputs holds the
// performance counter frequency and the disk I/O event. After Failed, the
// failure reason says why. No handle, lock or event outlives the call.
Result write_stick(const WriteOptions& options);

}  // namespace engine
