#include "engine/write_stick.h"

#include "engine/disk_region.h"
#include "engine/image_digest.h"
#include "engine/path_text.h"
#include "engine/target_disk.h"
#include "engine/write_plan.h"
#include "formats/gpt.h"

namespace engine {
namespace {

// What a run holds, acquired in this order: the image handle, the target
// handle, the volume locks, the transfer slots' events. Released in reverse
// by release_run whatever way the run ends.
struct RunHoldings {
    HANDLE image = INVALID_HANDLE_VALUE;
    TargetDisk target;
    uint64_t slot_events_made = 0;
};

// Partition tables of the run: static, since each is several KiB.
formats::GptTable stick_table;
formats::GptTable image_table;

// Steps of the run that this build does not have yet stop the run here,
// before anything is locked or written, and say so plainly.
Result not_built(const char* step) {
    return fail("this build of the engine cannot ", step, " yet; nothing was written");
}

Result open_image(const WriteOptions& options, RunHoldings& held, uint64_t& image_size) {
    const DWORD share = options.has_expected_sha256 ? FILE_SHARE_READ
                                                    : FILE_SHARE_READ | FILE_SHARE_WRITE;
    OpenedFile image;
    if (open_existing_file(options.image_path, false, share, "image", image) != Result::Success) {
        return Result::Failed;
    }
    held.image = image.handle;
    image_size = image.size;
    report("image: ", path_text(options.image_path), ", ", text::Mib{image_size}, " MiB\n");
    if (image_size == 0) return fail("the image is empty");
    return Result::Success;
}

// A table that cannot be read counts as empty for planning.
void read_table_for_planning(const DiskRegion& region, formats::GptTable& table) {
    if (formats::read_gpt(region, table) != Result::Success) table.count = 0;
}

Result run_steps(const WriteOptions& options, RunHoldings& held) {
    if (options.image_path.is_none()) return fail("which image? --image FILE");
    uint64_t image_size = 0;
    if (open_image(options, held, image_size) != Result::Success) return Result::Failed;
    const DiskRegion image{held.image, 0, image_size, 1, false};
    if (options.has_expected_sha256 &&
        check_image_digest(image, options.expected_sha256) != Result::Success) {
        return Result::Failed;
    }
    if (open_target(options, held.target) != Result::Success) return Result::Failed;
    if (check_image_fits(image_size, held.target) != Result::Success) return Result::Failed;
    const TargetDisk& target = held.target;
    const DiskRegion stick{target.handle, 0, target.size,
                           target.is_disk ? target.bytes_per_sector : 1u, true};

    read_table_for_planning(stick, stick_table);
    if (apply_keep_guid_rule(stick_table, options) != Result::Success) return Result::Failed;
    if (apply_boot_checks(image, stick, options) != Result::Success) return Result::Failed;
    read_table_for_planning(image, image_table);
    WritePlan plan;
    const bool whole_allowed = options.fresh || options.other_machine;
    if (plan_write(stick_table, image_table, image_size, target.bytes_per_sector, whole_allowed,
                   plan) != Result::Success) {
        return Result::Failed;
    }
    report_plan(plan, options.dry_run);
    // Next: lock and dismount the stick's volumes, compare and write the
    // changed places, read everything back, list the partitions.
    return not_built("lock the stick's volumes or compare and write");
}

void close_if_open(HANDLE& handle) {
    if (handle != INVALID_HANDLE_VALUE) (void)sys::CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

void release_run(RunHoldings& held) {
    for (uint64_t i = 0; i < held.slot_events_made; ++i) {
        (void)sys::CloseHandle(workspace.slots[i].event);
        workspace.slots[i].event = nullptr;
    }
    held.slot_events_made = 0;
    close_if_open(held.target.handle);
    close_if_open(held.image);
}

}  // namespace

Result write_stick(const WriteOptions& options) {
    RunHoldings held;
    const Result result = run_steps(options, held);
    release_run(held);
    return result;
}

}  // namespace engine
