// Comparing the plan's range on image and stick in 64 KiB pieces, the list
// of places that differ, and the dry-run listing of them.
#pragma once

#include <cstdint>

#include "engine/transfer.h"
#include "engine/write_plan.h"

namespace engine {

constexpr uint32_t COMPARE_PIECE = 65536;
constexpr uint64_t PROGRESS_STEP = 67108864;
constexpr uint32_t DRY_RUN_LISTED_RUNS = 64;

// Reads the whole range from both sides and compares it piece by piece; with
// `record`, fills the changed places list. Each side is hashed only when a
// place for its digest is given: a digest the caller already knows is not
// computed again.
Result compare_range(const TransferContext& context, bool record, uint8_t* image_sha256,
                     uint8_t* stick_sha256, uint64_t& differing_bytes);

Result record_changed_place(uint64_t offset, uint32_t count, uint32_t chunk_bytes);

// The compare (or, with `full`, every chunk as a place) and the range's
// digest line. `known_sha256`, when not null, is the range's digest learnt
// before the compare (the whole image's checked digest): the image side is
// then not hashed. The digest reported is left in `range_sha256`.
Result compare_or_take_all(const TransferContext& context, bool full, PlanKind kind,
                           int64_t start_count, const uint8_t* known_sha256,
                           uint8_t range_sha256[32]);

// The dry run's listing of differing runs.
void report_differing_runs();

}  // namespace engine
