#include "engine/engine_workspace.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

bool aligned(const void* p) { return reinterpret_cast<uintptr_t>(p) % 4096 == 0; }

TEST(EngineWorkspace, TransferBuffersSitOn4096ByteBoundaries) {
    for (size_t i = 0; i < engine::MAX_SLOTS; ++i) {
        EXPECT_TRUE(aligned(engine::workspace.image_slots[i])) << i;
        EXPECT_TRUE(aligned(engine::workspace.stick_slots[i])) << i;
    }
    EXPECT_TRUE(aligned(run::buffers.bounce));
    EXPECT_EQ(sizeof run::buffers.bounce, 270336u);
    EXPECT_EQ(sizeof engine::workspace.image_hash_chunk, 262144u);
    EXPECT_EQ(sizeof run::buffers.failure_reason, 1024u);
    EXPECT_EQ(sizeof run::buffers.report, 8192u);
    EXPECT_EQ(sizeof engine::workspace.stick_slots[0], 4194304u);
    EXPECT_EQ(sizeof engine::workspace.changed_places / sizeof engine::workspace.changed_places[0],
              262144u);
}

}  // namespace
