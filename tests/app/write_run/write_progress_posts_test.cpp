// The worker's posts of the engine's progress: one per whole percentage,
// rising, whatever the engine's notices were.
#include "app/write_run/write_progress_posts.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/app_messages.h"

namespace {

std::vector<WPARAM> posted;

BOOL WINAPI record_post(HWND, UINT message, WPARAM wparam, LPARAM lparam) {
    EXPECT_EQ(message, app::APP_MSG_WRITE_PROGRESS);
    EXPECT_EQ(lparam, 0);
    posted.push_back(wparam);
    return TRUE;
}

struct Notice {
    uint64_t done, total;
};

TEST(WriteProgressPosts, OnePostPerRisingWholePercentage) {
    const struct {
        const char* name;
        std::vector<Notice> notices;
        std::vector<WPARAM> posts;
    } cases[] = {
        {"below one percent, then the end",
         {{4, 1000}, {8, 1000}, {12, 1000}, {1000, 1000}},
         {1, 100}},
        {"notices within one percentage", {{10, 1000}, {15, 1000}, {19, 1000}}, {1}},
        {"the total falls once the compare is done",
         {{50, 200}, {60, 100}, {100, 100}},
         {25, 60, 100}},
        {"no total", {{0, 0}, {5, 0}}, {}},
    };
    const auto saved = sys::calls.PostMessageW;
    sys::calls.PostMessageW = record_post;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        posted.clear();
        app::WriteProgressPosts posts;
        for (const Notice& n : c.notices)
            app::post_write_progress(&posts, engine::RunStage::Write, n.done, n.total);
        EXPECT_EQ(posted, c.posts);
    }
    sys::calls.PostMessageW = saved;
}

}  // namespace
