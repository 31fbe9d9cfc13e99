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

// The same pass, handing each side's pieces to the digests given (see
// hash_lane.h), which the caller begins and ends.
Result compare_and_hash(const TransferContext& context, bool record, uint8_t image_digests,
                        uint8_t stick_digests, uint64_t& differing_bytes);

Result record_changed_place(uint64_t offset, uint32_t count, uint32_t chunk_bytes);

// What the compare checks of the image on its way: with `expected_sha256`,
// the digest the whole image file of `image_size` bytes must have. Its reads
// of the range feed that digest, and the file's bytes outside the range are
// read and hashed in the same sweep, so every byte the run will write is
// one the check saw. `judged` says afterwards whether the verdict was
// given: the check held, or the run failed with it.
struct ImageCheck {
    const uint8_t* expected_sha256 = nullptr;
    uint64_t image_size = 0;
    bool judged = false;
};

// The compare (or, with `full`, every chunk as a place and the range read
// for its digest), the image's check, and the range's digest line. The
// digest reported is left in `range_sha256`. A wrong image fails here, with
// nothing written and nothing said about its bytes.
Result compare_or_take_all(const TransferContext& context, bool full, PlanKind kind,
                           int64_t start_count, ImageCheck& check, uint8_t range_sha256[32]);

// The dry run's listing of differing runs.
void report_differing_runs();

}  // namespace engine
