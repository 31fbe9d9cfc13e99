#include "engine/runs/write_stick.h"

#include "engine/clock.h"
#include "engine/compare.h"
#include "engine/hash_lane.h"
#include "engine/image_digest.h"
#include "engine/logs/log_copy.h"
#include "engine/run_names.h"
#include "engine/run_progress.h"
#include "engine/saved_wifi.h"
#include "engine/stop_request.h"
#include "engine/table_reread.h"
#include "engine/target_disk.h"
#include "engine/transfer.h"
#include "engine/volume_lock.h"
#include "engine/write_places.h"
#include "engine/write_plan.h"
#include "formats/gpt.h"

namespace engine {
namespace {

// What a run holds, acquired in this order: the image handle, the target
// handle, the volume locks, the transfer slots' events, the hashing thread,
// and the saved Wi-Fi networks in memory. Released by release_run whatever
// way the run ends.
struct RunHoldings {
    HANDLE image = INVALID_HANDLE_VALUE;
    uint64_t image_size = 0;
    // The image's digest is to be checked and its verdict is not in yet.
    bool image_unjudged = false;
    TargetDisk target;
    uint64_t slot_events_made = 0;
    TransferContext transfer;
    bool transfers_may_be_in_flight = false;
    bool saved_wifi_read = false;
};

// Partition tables of the run: static, since each is several KiB.
formats::GptTable stick_table;
formats::GptTable image_table;

Result open_image(const WriteOptions& options, RunHoldings& held, uint64_t& image_size) {
    const DWORD share =
        options.has_expected_sha256 ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    OpenedFile image;
    const Result opened =
        options.image_file != nullptr
            ? reopen_image_file(options.image_file, options.image_path, image)
            : open_existing_file(options.image_path, false, share, "image", image);
    if (opened != Result::Success)
        return Result::Failed;
    held.image = image.handle;
    image_size = image.size;
    report("image: ", path_text(options.image_path), ", ", text::Mib{image_size}, " MiB\n");
    if (image_size == 0)
        return fail("the image is empty");
    return Result::Success;
}

// The whole target: reads on a disk are widened to its sectors; the region
// is marked overlapped even for a target file opened without it, since
// Windows then completes each read inside ReadFile.
DiskRegion stick_region(const TargetDisk& target) {
    return {target.handle, 0, target.size, target.is_disk ? target.bytes_per_sector : 1u, true};
}

// A table that cannot be read counts as empty for planning.
void read_table_for_planning(const DiskRegion& region, formats::GptTable& table) {
    if (formats::read_gpt(region, table) != Result::Success)
        table.count = 0;
}

Result plan_run(const WriteOptions& options, RunHoldings& held, uint64_t image_size,
                WritePlan& plan) {
    const TargetDisk& target = held.target;
    const DiskRegion image{held.image, 0, image_size, 1, false};
    const DiskRegion stick = stick_region(target);
    read_table_for_planning(stick, stick_table);
    if (apply_keep_guid_rule(stick_table, options) != Result::Success)
        return Result::Failed;
    if (apply_boot_checks(image, stick, options) != Result::Success)
        return Result::Failed;
    read_table_for_planning(image, image_table);
    const bool whole_allowed = options.fresh || options.other_machine;
    if (plan_write(stick_table, image_table, image_size, target.bytes_per_sector, whole_allowed,
                   plan) != Result::Success) {
        return Result::Failed;
    }
    report_plan(plan, options.dry_run);
    return Result::Success;
}

// Steps 8 to 10: everything that must hold before the first byte is
// compared or written.
Result prepare_stick(const WriteOptions& options, RunHoldings& held) {
    const TargetDisk& target = held.target;
    if (stop_if_requested() != Result::Success)
        return Result::Failed;
    if (target.is_disk && !options.dry_run &&
        lock_and_dismount(target.disk_number) != Result::Success) {
        return Result::Failed;
    }
    if (stop_if_requested() != Result::Success)
        return Result::Failed;
    if (!options.logs_dir.is_none() &&
        copy_logs_first(target, options.logs_dir, "written") != Result::Success) {
        return Result::Failed;
    }
    if (!options.has_expected_stick) {
        held.saved_wifi_read = true;
        read_saved_wifi(stick_region(target));
        if (saved_wifi.length > 0) {
            report("the stick's saved Wi-Fi networks (TUNDRA\\WIFI.KEY) ",
                   options.dry_run ? "would be" : "will be", " carried over\n");
        }
    }
    return Result::Success;
}

// Step 15: the networks read before the write go into the new image's file.
Result carry_wifi_over(const TargetDisk& target, bool& kept) {
    kept = false;
    if (saved_wifi.length == 0)
        return Result::Success;
    if (write_saved_wifi(stick_region(target), target.handle, target.bytes_per_sector, kept) !=
        Result::Success) {
        return Result::Failed;
    }
    if (kept)
        report("carried over the saved Wi-Fi networks (TUNDRA\\WIFI.KEY, read back as written)\n");
    return Result::Success;
}

// The byte at `lba` of a table counted in 512-byte sectors, or UINT64_MAX
// past any disk.
uint64_t lba_offset(uint64_t lba) {
    return lba > UINT64_MAX / formats::GPT_SECTOR_BYTES ? UINT64_MAX
                                                        : lba * formats::GPT_SECTOR_BYTES;
}

// Where the image keeps its partition tables: the protective MBR and the
// primary GPT before its first partition, the backup GPT after its last.
// The usual 34 sectors at the start and 33 at the end always count, so that
// an image whose table could not be read still has them written last.
void mark_table_spans(const formats::GptTable& table, uint64_t image_size,
                      TransferContext& context) {
    constexpr uint64_t PRIMARY_BYTES = 34 * formats::GPT_SECTOR_BYTES;
    constexpr uint64_t BACKUP_BYTES = 33 * formats::GPT_SECTOR_BYTES;
    uint64_t head_end = PRIMARY_BYTES;
    uint64_t tail_start = image_size > BACKUP_BYTES ? image_size - BACKUP_BYTES : 0;
    if (table.count > 0) {
        uint64_t first = UINT64_MAX;
        uint64_t last = 0;
        for (uint32_t i = 0; i < table.count; ++i) {
            const formats::GptEntry& entry = table.entries[i];
            first = entry.first_lba < first ? entry.first_lba : first;
            last = entry.last_lba > last ? entry.last_lba : last;
        }
        const uint64_t partitions_start = lba_offset(first);
        const uint64_t partitions_end = lba_offset(last == UINT64_MAX ? last : last + 1);
        head_end = partitions_start > head_end ? partitions_start : head_end;
        tail_start = partitions_end < tail_start ? partitions_end : tail_start;
    }
    context.table_head_end = head_end;
    context.table_tail_start = tail_start;
}

// Steps 11 to 18: compare, write, read back, and the closing lines.
Result transfer_and_verify(const WriteOptions& options, RunHoldings& held, const WritePlan& plan,
                           uint64_t image_size) {
    if (prepare_slots(options.queue_depth, held.slot_events_made) != Result::Success) {
        return Result::Failed;
    }
    start_hash_lane();
    const int64_t start_count = counter_now();
    workspace.changed_place_count = 0;
    begin_progress(
        planned_bytes(plan.length, options.full, options.dry_run, options.read_back_all));
    enter_stage(RunStage::Compare);
    held.transfer = {held.target.handle, held.image,          plan.start,
                     plan.length,        options.chunk_bytes, options.queue_depth};
    mark_table_spans(image_table, image_size, held.transfer);
    held.transfers_may_be_in_flight = true;
    ImageCheck check{options.has_expected_sha256 ? options.expected_sha256 : nullptr, image_size};
    uint8_t range_sha256[32];
    const Result compared = compare_or_take_all(held.transfer, options.full, plan.kind, start_count,
                                                check, range_sha256);
    held.image_unjudged = held.image_unjudged && !check.judged;
    if (compared != Result::Success)
        return Result::Failed;
    if (options.dry_run) {
        report_differing_runs();
        report("--dry-run: nothing written\n");
        end_progress();
        return Result::Success;
    }
    const uint8_t* const fixed = image_is_fixed(options) ? range_sha256 : nullptr;
    if (write_and_verify(held.transfer, options.read_back_all, fixed) != Result::Success) {
        return Result::Failed;
    }
    held.transfers_may_be_in_flight = false;
    const TargetDisk& target = held.target;
    bool wifi_kept = false;
    if (carry_wifi_over(target, wifi_kept) != Result::Success)
        return Result::Failed;
    // Step 16: Windows reads the new partition table.
    if (target.is_disk)
        ask_windows_to_reread_the_table(target.handle);
    const DiskRegion stick = stick_region(target);
    if (formats::list_partitions(stick) != Result::Success)
        return Result::Failed;
    end_progress();
    report_closing_line(plan.kind, start_count, wifi_kept);
    return Result::Success;
}

Result run_steps(const WriteOptions& options, RunHoldings& held) {
    if (options.image_path.is_none())
        return fail("which image? --image FILE");
    uint64_t& image_size = held.image_size;
    if (open_image(options, held, image_size) != Result::Success)
        return Result::Failed;
    // The image is checked by the compare's own reads of it (compare.h),
    // after the plan and before anything is written.
    held.image_unjudged = options.has_expected_sha256;
    if (open_target(options, held.target) != Result::Success)
        return Result::Failed;
    if (check_image_fits(image_size, held.target) != Result::Success)
        return Result::Failed;
    WritePlan plan;
    if (plan_run(options, held, image_size, plan) != Result::Success)
        return Result::Failed;
    if (prepare_stick(options, held) != Result::Success)
        return Result::Failed;
    return transfer_and_verify(options, held, plan, image_size);
}

void close_if_open(HANDLE& handle) {
    if (handle != INVALID_HANDLE_VALUE)
        (void)sys::CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

// A run that failed before the image's verdict reports a wrong image as
// such, as a check ahead of everything else would have; a stop asked for
// is not held up by reading the whole image.
void recheck_unjudged_image(const WriteOptions& options, RunHoldings& held, Result result) {
    if (result == Result::Success || !held.image_unjudged ||
        run::run_inputs.stop_requested.load(std::memory_order_relaxed)) {
        return;
    }
    const DiskRegion image{held.image, 0, held.image_size, 1, false};
    recheck_image_after_failure(image, options.expected_sha256);
}

void release_run(const WriteOptions& options, RunHoldings& held, Result result) {
    // A transfer still in flight may be writing from a slot's buffer: wait
    // for every one before anything is let go. The first failure here
    // replaces the reason. The hashing thread may still read a slot's
    // buffer: it ends before them too.
    if (held.transfers_may_be_in_flight)
        (void)drain_transfers(held.transfer);
    held.transfers_may_be_in_flight = false;
    stop_hash_lane();
    abandon_progress();
    for (uint64_t i = 0; i < held.slot_events_made; ++i) {
        (void)sys::CloseHandle(workspace.slots[i].event);
        workspace.slots[i].event = nullptr;
    }
    held.slot_events_made = 0;
    // The networks' keys do not outlive the run, whatever its result.
    if (held.saved_wifi_read)
        wipe_saved_wifi();
    held.saved_wifi_read = false;
    release_volumes();
    close_if_open(held.target.handle);
    recheck_unjudged_image(options, held, result);
    close_if_open(held.image);
}

}  // namespace

Result write_stick(const WriteOptions& options) {
    begin_stoppable_run();
    RunHoldings held;
    const Result result = run_steps(options, held);
    release_run(options, held, result);
    return end_stoppable_run(result);
}

}  // namespace engine
