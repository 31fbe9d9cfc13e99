#include "engine/compare.h"

#include <cstring>

#include "engine/clock.h"
#include "engine/engine_workspace.h"
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

// Starts the stick's read of chunk k into its slot, then reads the image's
// bytes of the same chunk while the stick works.
Result issue_chunk(const TransferContext& context, uint64_t k) {
    const uint32_t slot = static_cast<uint32_t>(k % context.queue_depth);
    const Chunk chunk = chunk_at(context, k);
    if (start_transfer(context, slot, Direction::Read, chunk.offset, workspace.stick_slots[slot],
                       chunk.length) != Result::Success) {
        return Result::Failed;
    }
    return read_exact_at(context.image, false, chunk.offset, workspace.image_slots[slot],
                         chunk.length);
}

Result compare_chunk(const TransferContext& context, uint32_t slot, Chunk chunk, bool record,
                     uint64_t& differing_bytes) {
    for (uint32_t at = 0; at < chunk.length; at += COMPARE_PIECE) {
        const uint32_t piece =
            chunk.length - at < COMPARE_PIECE ? chunk.length - at : COMPARE_PIECE;
        if (memcmp(workspace.image_slots[slot] + at, workspace.stick_slots[slot] + at, piece) ==
            0) {
            continue;
        }
        differing_bytes += piece;
        if (record && record_changed_place(chunk.offset + at, piece, context.chunk_bytes) !=
                          Result::Success) {
            return Result::Failed;
        }
    }
    return Result::Success;
}

// Hashes the range from the image alone, in 4 MiB pieces.
Result hash_image_range(const TransferContext& context, uint8_t digest[32]) {
    hash::Sha256& state = workspace.image_hash;
    hash::sha256_init(state);
    for (uint64_t done = 0; done < context.length;) {
        if (stop_if_requested() != Result::Success)
            return Result::Failed;
        const uint64_t rest = context.length - done;
        const uint32_t piece =
            static_cast<uint32_t>(rest < SLOT_BUFFER_BYTES ? rest : SLOT_BUFFER_BYTES);
        if (read_exact_at(context.image, false, context.start + done, workspace.image_slots[0],
                          piece) != Result::Success) {
            return Result::Failed;
        }
        hash::sha256_update(state, workspace.image_slots[0], piece);
        done += piece;
    }
    if (!hash::sha256_final(state, digest))
        return fail_for_no_digest("the image");
    return Result::Success;
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

Result compare_range(const TransferContext& context, bool record, uint8_t* image_sha256,
                     uint8_t* stick_sha256, uint64_t& differing_bytes) {
    hash::Sha256& image_state = workspace.image_hash;
    hash::Sha256& stick_state = workspace.stick_hash;
    if (image_sha256 != nullptr)
        hash::sha256_init(image_state);
    if (stick_sha256 != nullptr)
        hash::sha256_init(stick_state);
    differing_bytes = 0;
    const uint64_t chunks = (context.length + context.chunk_bytes - 1) / context.chunk_bytes;
    uint64_t issued = 0;
    for (; issued < context.queue_depth && issued < chunks; ++issued) {
        if (issue_chunk(context, issued) != Result::Success)
            return Result::Failed;
    }
    uint64_t next_mark = PROGRESS_STEP;
    for (uint64_t k = 0; k < chunks; ++k) {
        const uint32_t slot = static_cast<uint32_t>(k % context.queue_depth);
        const Chunk chunk = chunk_at(context, k);
        // A stop leaves the reads in flight to the run's release, which
        // waits for every one of them.
        if (stop_if_requested() != Result::Success ||
            finish_transfer(context, slot) != Result::Success)
            return Result::Failed;
        if (image_sha256 != nullptr) {
            hash::sha256_update(image_state, workspace.image_slots[slot], chunk.length);
        }
        if (stick_sha256 != nullptr) {
            hash::sha256_update(stick_state, workspace.stick_slots[slot], chunk.length);
        }
        if (compare_chunk(context, slot, chunk, record, differing_bytes) != Result::Success) {
            return Result::Failed;
        }
        if (issued < chunks) {
            if (issue_chunk(context, issued) != Result::Success)
                return Result::Failed;
            ++issued;
        }
        const uint64_t done = k * context.chunk_bytes + chunk.length;
        if (done >= next_mark && done < context.length) {
            // Only the compare records places; the read-back runs without.
            report(record ? "  compared " : "  read back ", text::Mib{done, 0}, " of ",
                   text::Mib{context.length, 0}, " MiB\n");
            next_mark += PROGRESS_STEP;
        }
    }
    if (image_sha256 != nullptr && !hash::sha256_final(image_state, image_sha256))
        return fail_for_no_digest("the image");
    if (stick_sha256 != nullptr && !hash::sha256_final(stick_state, stick_sha256))
        return fail_for_no_digest("the stick");
    return Result::Success;
}

Result compare_or_take_all(const TransferContext& context, bool full, PlanKind kind,
                           int64_t start_count, const uint8_t* known_sha256,
                           uint8_t range_sha256[32]) {
    uint8_t* const hash_into = known_sha256 == nullptr ? range_sha256 : nullptr;
    if (known_sha256 != nullptr)
        memcpy(range_sha256, known_sha256, 32);
    if (!full) {
        uint64_t differing = 0;
        if (compare_range(context, true, hash_into, nullptr, differing) != Result::Success) {
            return Result::Failed;
        }
        const double seconds = seconds_since(start_count);
        report("compared ", text::Mib{context.length}, " MiB in ", text::Seconds{seconds}, " s (",
               text::MbPerSecond{context.length, seconds}, " MB/s): ", text::Mib{differing},
               " MiB differ, in ", workspace.changed_place_count, " places\n");
    } else {
        for (uint64_t offset = context.start; offset - context.start < context.length;
             offset += context.chunk_bytes) {
            const uint64_t rest = context.start + context.length - offset;
            const uint32_t count =
                static_cast<uint32_t>(rest < context.chunk_bytes ? rest : context.chunk_bytes);
            if (record_changed_place(offset, count, context.chunk_bytes) != Result::Success) {
                return Result::Failed;
            }
        }
        if (hash_into != nullptr && hash_image_range(context, hash_into) != Result::Success) {
            return Result::Failed;
        }
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
