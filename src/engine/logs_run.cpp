#include "engine/log_copy.h"
#include "engine/read_only_runs.h"
#include "engine/target_disk.h"

namespace engine {

Result copy_stick_logs(const WriteOptions& options) {
    if (options.logs_dir.is_none())
        return fail("which folder? --logs DIR");
    WriteOptions read_only = options;
    read_only.dry_run = true;
    TargetDisk target;
    if (open_target(read_only, target) != Result::Success)
        return Result::Failed;
    uint32_t skipped = 0;
    Result result = copy_logs(target, options.logs_dir, skipped);
    if (result == Result::Success && skipped > 0)
        result = fail_for_skipped_logs(skipped);
    (void)sys::CloseHandle(target.handle);
    return result;
}

}  // namespace engine
