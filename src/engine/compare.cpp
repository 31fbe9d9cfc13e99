#include "engine/compare.h"

#include <cstring>

#include "engine/clock.h"
#include "engine/engine_workspace.h"
#include "engine/hash_lane.h"
#include "engine/image_digest.h"
#include "engine/run_names.h"
#include "engine/stop_request.h"
#include "engine/write_options.h"

namespace engine {
namespace {

struct Chunk {
    uint64_t offset;
    uint32_t length;
};

Chunk chunk_at(const TransferContext& context, uint64_t k) {
    const uint64_t from = k * context.chunk_bytes;
    const uint64_t rest = context.length - from;
    return {context.start + from,
            static_cast<uint32_t>(rest < context.chunk_bytes ? rest : context.chunk_bytes)};
}

// A slot's two buffers take turns. One holds the stick's bytes of the
// slot's chunk, the other the image's. A buffer handed to a digest stays
// untouched until it is hashed: when the stick's bytes went to a digest,
// the slot's next stick read goes into the other buffer, so that it starts
// as soon as the compare is done; the image's bytes, read on this thread,
// wait for the hash instead.
struct SlotSides {
    bool stick_in_first;  // the stick's bytes in stick_slots, the image's in image_slots
    bool image_read;      // the image's bytes of the slot's chunk are in
};
SlotSides sides[MAX_SLOTS];

uint8_t* stick_side(uint32_t slot) {
    return sides[slot].stick_in_first ? workspace.stick_slots[slot] : workspace.image_slots[slot];
}

uint8_t* image_side(uint32_t slot) {
    return sides[slot].stick_in_first ? workspace.image_slots[slot] : workspace.stick_slots[slot];
}

uint32_t slot_of(const TransferContext& context, uint64_t k) {
    return static_cast<uint32_t>(k % context.queue_depth);
}

Result read_image_side(const TransferContext& context, uint64_t k) {
    const uint32_t slot = slot_of(context, k);
    const Chunk chunk = chunk_at(context, k);
    await_buffer(image_side(slot));
    if (read_exact_at(context.image, false, chunk.offset, image_side(slot), chunk.length) !=
        Result::Success) {
        return Result::Failed;
    }
    sides[slot].image_read = true;
    return Result::Success;
}

// Starts the stick's read of chunk k into its slot, then reads the image's
// bytes of the same chunk while the stick works, unless a digest still
// reads the buffer they go into: then they are read before the compare.
Result issue_chunk(const TransferContext& context, uint64_t k) {
    const uint32_t slot = slot_of(context, k);
    const Chunk chunk = chunk_at(context, k);
    sides[slot].image_read = false;
    await_buffer(stick_side(slot));
    if (start_transfer(context, slot, Direction::Read, chunk.offset, stick_side(slot),
                       chunk.length) != Result::Success) {
        return Result::Failed;
    }
    if (!buffer_hashed(image_side(slot)))
        return Result::Success;
    return read_image_side(context, k);
}

// The sides of a slot whose chunk is compared and handed to its digests,
// before its next chunk is issued.
void turn_sides(uint32_t slot, uint8_t image_digests, uint8_t stick_digests) {
    if (stick_digests != 0 && image_digests == 0)
        sides[slot].stick_in_first = !sides[slot].stick_in_first;
}

Result compare_chunk(const TransferContext& context, uint32_t slot, Chunk chunk, bool record,
                     uint64_t& differing_bytes) {
    const uint8_t* const image = image_side(slot);
    const uint8_t* const stick = stick_side(slot);
    for (uint32_t at = 0; at < chunk.length; at += COMPARE_PIECE) {
        const uint32_t piece =
            chunk.length - at < COMPARE_PIECE ? chunk.length - at : COMPARE_PIECE;
        if (memcmp(image + at, stick + at, piece) == 0)
            continue;
        differing_bytes += piece;
        if (record && record_changed_place(chunk.offset + at, piece, context.chunk_bytes) !=
                          Result::Success) {
            return Result::Failed;
        }
    }
    return Result::Success;
}

void report_compare_progress(const TransferContext& context, bool record, uint64_t done,
                             uint64_t& next_mark) {
    if (done >= next_mark && done < context.length) {
        // Only the compare records places; the read-back runs without.
        report(record ? "  compared " : "  read back ", text::Mib{done, 0}, " of ",
               text::Mib{context.length, 0}, " MiB\n");
        next_mark += PROGRESS_STEP;
    }
}

// The range's digest, and with a check the whole file's: the range's own
// when the range is the file, else one of its own that the image's bytes
// before and after the range go into as well, in the same sweep.
struct SweepDigests {
    uint8_t image_side;
    uint8_t file_only;  // DIGEST_FILE when the file's digest is not the range's
};

SweepDigests sweep_digests(const TransferContext& context, const ImageCheck& check) {
    if (check.expected_sha256 == nullptr)
        return {DIGEST_RANGE, 0};
    if (context.start == 0 && context.length == check.image_size)
        return {DIGEST_RANGE, 0};
    return {DIGEST_RANGE | DIGEST_FILE, DIGEST_FILE};
}

// The check's verdict, once every byte of the file is in its digest.
Result judge_image(ImageCheck& check, uint8_t file_only, const uint8_t range_sha256[32]) {
    if (check.expected_sha256 == nullptr)
        return Result::Success;
    uint8_t file_sha256[32];
    if (file_only != 0 && !end_digest(DIGEST_FILE, file_sha256))
        return fail_for_no_digest("the image");
    check.judged = true;
    return judge_image_digest(file_only != 0 ? file_sha256 : range_sha256, check.expected_sha256);
}

Result take_all(const TransferContext& context, uint8_t digests) {
    for (uint64_t offset = context.start; offset - context.start < context.length;
         offset += context.chunk_bytes) {
        const uint64_t rest = context.start + context.length - offset;
        const uint32_t count =
            static_cast<uint32_t>(rest < context.chunk_bytes ? rest : context.chunk_bytes);
        if (record_changed_place(offset, count, context.chunk_bytes) != Result::Success)
            return Result::Failed;
    }
    return hash_image_span(context, context.start, context.start + context.length, digests);
}

}  // namespace

Result record_changed_place(uint64_t offset, uint32_t count, uint32_t chunk_bytes) {
    uint64_t& places = workspace.changed_place_count;
    if (places > 0) {
        ChangedPlace& last = workspace.changed_places[places - 1];
        if (last.offset + last.length == offset && uint64_t{last.length} + count <= chunk_bytes) {
            last.length += count;
            return Result::Success;
        }
    }
    if (places == MAX_CHANGED_PLACES)
        return fail("too many changed places to list: use --full");
    workspace.changed_places[places++] = {offset, count};
    return Result::Success;
}

Result compare_and_hash(const TransferContext& context, bool record, uint8_t image_digests,
                        uint8_t stick_digests, uint64_t& differing_bytes) {
    differing_bytes = 0;
    for (SlotSides& slot : sides)
        slot = {true, false};
    const uint64_t chunks = (context.length + context.chunk_bytes - 1) / context.chunk_bytes;
    uint64_t issued = 0;
    for (; issued < context.queue_depth && issued < chunks; ++issued) {
        if (issue_chunk(context, issued) != Result::Success)
            return Result::Failed;
    }
    uint64_t next_mark = PROGRESS_STEP;
    for (uint64_t k = 0; k < chunks; ++k) {
        const uint32_t slot = slot_of(context, k);
        const Chunk chunk = chunk_at(context, k);
        // A stop leaves the reads in flight to the run's release, which
        // waits for every one of them, and for the hashing thread.
        if (stop_if_requested() != Result::Success ||
            finish_transfer(context, slot) != Result::Success ||
            (!sides[slot].image_read && read_image_side(context, k) != Result::Success)) {
            return Result::Failed;
        }
        if (image_digests != 0)
            hash_buffer(image_side(slot), chunk.length, image_digests);
        if (stick_digests != 0)
            hash_buffer(stick_side(slot), chunk.length, stick_digests);
        if (compare_chunk(context, slot, chunk, record, differing_bytes) != Result::Success)
            return Result::Failed;
        if (issued < chunks) {
            turn_sides(slot, image_digests, stick_digests);
            if (issue_chunk(context, issued) != Result::Success)
                return Result::Failed;
            ++issued;
        }
        report_compare_progress(context, record, k * context.chunk_bytes + chunk.length, next_mark);
    }
    return Result::Success;
}

Result compare_range(const TransferContext& context, bool record, uint8_t* image_sha256,
                     uint8_t* stick_sha256, uint64_t& differing_bytes) {
    const uint8_t image_digests = image_sha256 != nullptr ? DIGEST_RANGE : 0;
    const uint8_t stick_digests = stick_sha256 != nullptr ? DIGEST_STICK : 0;
    begin_digests(image_digests | stick_digests);
    if (compare_and_hash(context, record, image_digests, stick_digests, differing_bytes) !=
        Result::Success) {
        return Result::Failed;
    }
    if (image_sha256 != nullptr && !end_digest(DIGEST_RANGE, image_sha256))
        return fail_for_no_digest("the image");
    if (stick_sha256 != nullptr && !end_digest(DIGEST_STICK, stick_sha256))
        return fail_for_no_digest("the stick");
    return Result::Success;
}

Result compare_or_take_all(const TransferContext& context, bool full, PlanKind kind,
                           int64_t start_count, ImageCheck& check, uint8_t range_sha256[32]) {
    const SweepDigests digests = sweep_digests(context, check);
    begin_digests(digests.image_side);
    if (digests.file_only != 0 &&
        hash_image_span(context, 0, context.start, digests.file_only) != Result::Success) {
        return Result::Failed;
    }
    uint64_t differing = 0;
    const Result swept = full ? take_all(context, digests.image_side)
                              : compare_and_hash(context, true, digests.image_side, 0, differing);
    if (swept != Result::Success)
        return Result::Failed;
    if (!end_digest(DIGEST_RANGE, range_sha256))
        return fail_for_no_digest("the image");
    const double seconds = seconds_since(start_count);
    if (digests.file_only != 0 &&
        hash_image_span(context, context.start + context.length, check.image_size,
                        digests.file_only) != Result::Success) {
        return Result::Failed;
    }
    // Nothing is said of an image that is not the one expected.
    if (judge_image(check, digests.file_only, range_sha256) != Result::Success)
        return Result::Failed;
    if (!full) {
        report("compared ", text::Mib{context.length}, " MiB in ", text::Seconds{seconds}, " s (",
               text::MbPerSecond{context.length, seconds}, " MB/s): ", text::Mib{differing},
               " MiB differ, in ", workspace.changed_place_count, " places\n");
    } else {
        report("--full: writing all ", text::Mib{context.length}, " MiB\n");
    }
    report(kind == PLAN_TUNDRA_ONLY ? "the image's TUNDRA partition:" : "image", " sha256 ",
           text::Sha256Hex{range_sha256}, "\n");
    return Result::Success;
}

void report_differing_runs() {
    const uint64_t places = workspace.changed_place_count;
    uint32_t listed = 0;
    for (uint64_t i = 0; i < places;) {
        const uint64_t first = workspace.changed_places[i].offset;
        uint64_t end = first + workspace.changed_places[i].length;
        for (++i; i < places && workspace.changed_places[i].offset == end; ++i) {
            end += workspace.changed_places[i].length;
        }
        if (listed == DRY_RUN_LISTED_RUNS) {
            report("  (and more)\n");
            return;
        }
        report("  differs: ", text::Mib{first, 2}, "-", text::Mib{end, 2}, " MiB (",
               text::Mib{end - first, 2}, " MiB)\n");
        ++listed;
    }
}

}  // namespace engine
