#include "engine/engine_workspace.h"

namespace engine {

EngineWorkspace workspace;

}  // namespace engine
