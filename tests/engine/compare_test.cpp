// The changed places list and the dry run's listing of it.
#include "engine/compare.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_workspace.h"
#include "fixtures/sim_disk.h"

namespace {

using engine::workspace;

struct Place {
    uint64_t offset;
    uint32_t length;
    bool operator==(const Place&) const = default;
};

std::vector<Place> places() {
    std::vector<Place> out;
    for (uint64_t i = 0; i < workspace.changed_place_count; ++i) {
        out.push_back({workspace.changed_places[i].offset, workspace.changed_places[i].length});
    }
    return out;
}

constexpr uint32_t MIB = 1048576;
constexpr uint32_t PIECE = 65536;

TEST(ChangedPlaces, NeighboursJoinUpToAChunk) {
    const struct {
        const char* name;
        std::vector<uint64_t> pieces;  // offsets of differing 64 KiB pieces
        std::vector<Place> expected;
    } cases[] = {
        {"two neighbours in one chunk", {PIECE, 2 * PIECE}, {{PIECE, 2 * PIECE}}},
        {"a gap keeps them apart", {0, 2 * PIECE}, {{0, PIECE}, {2 * PIECE, PIECE}}},
        {"across a chunk boundary, joined", {MIB - PIECE, MIB}, {{MIB - PIECE, 2 * PIECE}}},
        {"more than a chunk splits",
         [] {
             std::vector<uint64_t> all;
             for (uint64_t p = 0; p < 20; ++p) all.push_back(p * PIECE);
             return all;
         }(),
         {{0, MIB}, {MIB, 4 * PIECE}}},
    };
    for (const auto& c : cases) {
        workspace.changed_place_count = 0;
        for (uint64_t offset : c.pieces) {
            ASSERT_EQ(engine::record_changed_place(offset, PIECE, MIB), engine::Result::Success);
        }
        EXPECT_EQ(places(), c.expected) << c.name;
    }
}

TEST(ChangedPlaces, TheListHasRoomFor262144Places) {
    workspace.changed_place_count = 0;
    for (uint64_t i = 0; i < engine::MAX_CHANGED_PLACES; ++i) {
        ASSERT_EQ(engine::record_changed_place(i * 2 * PIECE, PIECE, MIB), engine::Result::Success);
    }
    EXPECT_EQ(engine::record_changed_place(1ull << 40, PIECE, MIB), engine::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(), "too many changed places to list: use --full");
    // Joining onto the last place still works when the list is full.
    EXPECT_EQ(engine::record_changed_place((engine::MAX_CHANGED_PLACES - 1) * 2 * PIECE + PIECE,
                                           PIECE, MIB),
              engine::Result::Success);
}

std::vector<std::string> listed(uint64_t runs, bool touching) {
    workspace.changed_place_count = 0;
    for (uint64_t i = 0; i < runs; ++i) {
        workspace.changed_places[workspace.changed_place_count++] = {i * 2 * MIB, MIB};
        if (touching) workspace.changed_places[workspace.changed_place_count++] = {i * 2 * MIB + MIB, MIB};
    }
    std::vector<std::string> lines;
    engine::set_report_observer(
        [](const char* l, size_t n, void* c) { static_cast<std::vector<std::string>*>(c)->emplace_back(l, n); },
        &lines);
    engine::report_differing_runs();
    engine::set_report_observer(nullptr, nullptr);
    return lines;
}

TEST(DryRunListing, SixtyFourRunsAtMost) {
    EXPECT_TRUE(listed(0, false).empty());
    const std::vector<std::string> exactly = listed(64, false);
    ASSERT_EQ(exactly.size(), 64u);
    EXPECT_EQ(exactly[0], "  differs: 0.00-1.00 MiB (1.00 MiB)\n");
    EXPECT_EQ(exactly[63], "  differs: 126.00-127.00 MiB (1.00 MiB)\n");
    const std::vector<std::string> more = listed(65, false);
    ASSERT_EQ(more.size(), 65u);
    EXPECT_EQ(more[64], "  (and more)\n");
    // Places that touch are one run, longer than a chunk.
    EXPECT_EQ(listed(1, true), std::vector<std::string>{"  differs: 0.00-2.00 MiB (2.00 MiB)\n"});
}

}  // namespace
