#include "run/run_buffers.h"

#include "run/run_inputs.h"

namespace run {

RunBuffers buffers;
RunInputs run_inputs;

}  // namespace run
