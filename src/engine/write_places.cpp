#include "engine/write_places.h"

#include <cstring>

#include "engine/clock.h"
#include "engine/compare.h"
#include "engine/engine_workspace.h"
#include "engine/run_names.h"
#include "engine/run_progress.h"
#include "engine/stop_request.h"

namespace engine {
namespace {

uint64_t written_bytes() {
    uint64_t total = 0;
    for (uint64_t i = 0; i < workspace.changed_place_count; ++i) {
        total += workspace.changed_places[i].length;
    }
    return total;
}

Result issue_read_back(const TransferContext& context, uint64_t i) {
    const uint32_t slot = static_cast<uint32_t>(i % context.queue_depth);
    const ChangedPlace& place = workspace.changed_places[i];
    return start_transfer(context, slot, Direction::Read, place.offset, workspace.stick_slots[slot],
                          place.length);
}

// Every stick byte of the range is compared with the image byte read beside
// it in this same pass, and hashed as it is read: the digest printed is the
// stick's own. Equal bytes prove only that the stick holds what the image
// gave this pass; an image that gave other bytes to its digest check (a file
// server that serves each read as it likes, a file changed under the run)
// would pass that test, so when the range's digest is known it must also be
// the stick's.
Result read_back_whole_range(const TransferContext& context, const uint8_t* known_range_sha256) {
    const int64_t started = counter_now();
    uint8_t stick_digest[32];
    uint64_t differing = 0;
    if (compare_range(context, false, nullptr, stick_digest, differing) != Result::Success) {
        return Result::Failed;
    }
    if (differing != 0) {
        return fail("after writing, ", differing,
                    " bytes of the stick still differ from the image");
    }
    if (known_range_sha256 != nullptr && memcmp(stick_digest, known_range_sha256, 32) != 0) {
        return fail("after writing, the stick's sha256 ", text::Sha256Hex{stick_digest},
                    " is not the image's checked sha256 ", text::Sha256Hex{known_range_sha256},
                    ": the image changed during the run");
    }
    report("read all ", text::Mib{context.length}, " MiB back in ",
           text::Seconds{seconds_since(started)}, " s: stick sha256 ",
           text::Sha256Hex{stick_digest}, "\n");
    return Result::Success;
}

// Whether the place holds part of a partition table of the image.
bool holds_table(const TransferContext& context, const ChangedPlace& place) {
    const uint64_t tail = context.table_tail_start;
    return place.offset < context.table_head_end || place.offset >= tail ||
           place.length > tail - place.offset;
}

// Writes the places that hold a table (or those that do not), in list
// order. `issued` counts the writes of the whole run, so that each slot is
// reused in turn and its buffer refilled only once its previous write is
// done.
Result write_places_of_kind(const TransferContext& context, bool tables, uint64_t& issued) {
    for (uint64_t i = 0; i < workspace.changed_place_count; ++i) {
        const ChangedPlace& place = workspace.changed_places[i];
        if (holds_table(context, place) != tables)
            continue;
        const uint32_t slot = static_cast<uint32_t>(issued % context.queue_depth);
        // A stop leaves the writes in flight to the run's release, which
        // waits for every one of them.
        if (stop_if_requested() != Result::Success ||
            finish_transfer(context, slot) != Result::Success ||
            read_exact_at(context.image, false, place.offset, workspace.image_slots[slot],
                          place.length) != Result::Success ||
            start_transfer(context, slot, Direction::Write, place.offset,
                           workspace.image_slots[slot], place.length) != Result::Success) {
            return Result::Failed;
        }
        ++issued;
    }
    return Result::Success;
}

// Waits for every write in flight, then has the stick store them.
Result end_writes(const TransferContext& context) {
    if (drain_transfers(context) != Result::Success)
        return Result::Failed;
    if (!sys::FlushFileBuffers(context.stick)) {
        return fail("the stick did not take the writes (Windows error ", sys::GetLastError(), ")");
    }
    return Result::Success;
}

}  // namespace

Result write_changed_places(const TransferContext& context) {
    // Windows mounts the volumes of a partition table it notices and may
    // write into them at once; the new tables therefore reach the stick only
    // once every other place is written and flushed, so that nothing Windows
    // does for them can meet a write still to come.
    uint64_t issued = 0;
    if (write_places_of_kind(context, false, issued) != Result::Success)
        return Result::Failed;
    if (issued == workspace.changed_place_count)
        return end_writes(context);
    if (issued > 0 && end_writes(context) != Result::Success)
        return Result::Failed;
    if (write_places_of_kind(context, true, issued) != Result::Success)
        return Result::Failed;
    return end_writes(context);
}

Result verify_written_places(const TransferContext& context) {
    const uint64_t places = workspace.changed_place_count;
    uint64_t issued = 0;
    for (; issued < context.queue_depth && issued < places; ++issued) {
        if (issue_read_back(context, issued) != Result::Success)
            return Result::Failed;
    }
    for (uint64_t i = 0; i < places; ++i) {
        const uint32_t slot = static_cast<uint32_t>(i % context.queue_depth);
        const ChangedPlace& place = workspace.changed_places[i];
        if (stop_if_requested() != Result::Success ||
            finish_transfer(context, slot) != Result::Success ||
            read_exact_at(context.image, false, place.offset, workspace.image_slots[slot],
                          place.length) != Result::Success) {
            return Result::Failed;
        }
        if (memcmp(workspace.image_slots[slot], workspace.stick_slots[slot], place.length) != 0) {
            return fail("the stick reads back differently from what was written at ", place.offset,
                        " (", place.length, " bytes): it may be failing");
        }
        if (issued < places) {
            if (issue_read_back(context, issued) != Result::Success)
                return Result::Failed;
            ++issued;
        }
    }
    return Result::Success;
}

Result write_and_verify(const TransferContext& context, bool read_back_all,
                        const uint8_t* known_range_sha256) {
    const uint64_t written = written_bytes();
    settle_written_bytes(written);
    if (written == 0) {
        report("the stick already holds this image: nothing written\n");
    } else {
        const int64_t write_start = counter_now();
        enter_stage(RunStage::Write);
        if (write_changed_places(context) != Result::Success)
            return Result::Failed;
        note_all_written();
        const int64_t write_end = counter_now();
        const double seconds =
            text::seconds_between(write_start, write_end, run::run_inputs.perf_frequency);
        report("wrote ", text::Mib{written}, " MiB in ", text::Seconds{seconds}, " s (",
               text::MbPerSecond{written, seconds}, " MB/s)\n");
        enter_stage(RunStage::ReadBack);
        if (verify_written_places(context) != Result::Success)
            return Result::Failed;
        report("read back ", text::Mib{written}, " MiB in ",
               text::Seconds{seconds_since(write_end)}, " s: as written\n");
    }
    enter_stage(RunStage::ReadBack);
    if (read_back_all)
        return read_back_whole_range(context, known_range_sha256);
    return Result::Success;
}

void report_closing_line(PlanKind kind, int64_t start_count, bool wifi_kept) {
    report("done in ", text::Seconds{seconds_since(start_count)}, " s: the stick holds ",
           kind == PLAN_TUNDRA_ONLY
               ? "the image's TUNDRA partition (every byte compared), its data area as it was"
               : "the image (every byte of its range compared)",
           wifi_kept ? ", with its saved Wi-Fi networks kept in TUNDRA\\WIFI.KEY\n" : "\n");
}

}  // namespace engine
