#include "engine/logs/log_copy.h"
#include "engine/runs/read_only_runs.h"
#include "engine/stop_request.h"
#include "engine/target_disk.h"
#include "engine/volume_lock.h"

namespace engine {

Result copy_stick_logs(const WriteOptions& options) {
    if (options.logs_dir.is_none())
        return fail("which folder? --logs DIR");
    begin_stoppable_run();
    WriteOptions read_only = options;
    read_only.dry_run = true;
    TargetDisk target;
    if (open_target(read_only, target) != Result::Success)
        return Result::Failed;
    // The stick's volumes stay locked (not dismounted) while the logs are
    // read: Windows writes out what it still holds for them first, and
    // nothing writes to them until the copy is done.
    Result result = target.is_disk ? lock_for_reading(target.disk_number) : Result::Success;
    if (result == Result::Success)
        result = stop_if_requested();
    uint32_t skipped = 0;
    if (result == Result::Success)
        result = copy_logs(target, options.logs_dir, skipped);
    if (result == Result::Success && skipped > 0)
        result = fail_for_skipped_logs(skipped);
    release_volumes();
    (void)sys::CloseHandle(target.handle);
    return end_stoppable_run(result);
}

}  // namespace engine
