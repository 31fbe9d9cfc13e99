#include "app/write_run/write_progress_posts.h"

#include "app/app_messages.h"
#include "app/window/app_state.h"

namespace app {

void post_write_progress(void* context, engine::RunStage, uint64_t done_bytes,
                         uint64_t total_bytes) {
    WriteProgressPosts& posts = *static_cast<WriteProgressPosts*>(context);
    if (total_bytes == 0)
        return;
    const uint64_t percent = engine::progress_percent(done_bytes, total_bytes);
    // The engine's done / total never falls; a percentage is posted once.
    if (percent <= posts.last_percent)
        return;
    posts.last_percent = percent;
    (void)sys::PostMessageW(app_state.hwnd_main, APP_MSG_WRITE_PROGRESS, percent, 0);
}

}  // namespace app
