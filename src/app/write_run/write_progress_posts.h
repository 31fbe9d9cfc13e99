// The engine's progress as the window takes it: APP_MSG_WRITE_PROGRESS with
// the whole percentage, posted only when it rises, as the download's is.
#pragma once

#include <cstdint>

#include "engine/run_names.h"

namespace app {

// What the posts of one run remember; a new run starts from a new one.
struct WriteProgressPosts {
    uint64_t last_percent = 0;
};

// The engine's progress observer; `context` is a WriteProgressPosts.
void post_write_progress(void* context, engine::RunStage stage, uint64_t done_bytes,
                         uint64_t total_bytes);

}  // namespace app
