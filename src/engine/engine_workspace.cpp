#include "engine/engine_workspace.h"

#include "engine/write_options.h"

namespace engine {

EngineWorkspace workspace;
EngineInputs engine_inputs;

}  // namespace engine
