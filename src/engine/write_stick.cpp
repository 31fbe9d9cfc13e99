#include "engine/write_stick.h"

namespace engine {
namespace {

// What a run holds, acquired in this order: the image handle, the target
// handle, the volume locks, the transfer slots' events. Released in reverse
// by release_run whatever way the run ends.
struct RunHoldings {
    HANDLE image = INVALID_HANDLE_VALUE;
    HANDLE target = INVALID_HANDLE_VALUE;
    uint64_t slot_events_made = 0;
};

// Steps of the run that this build does not have yet stop the run here,
// before anything has been opened or written, and say so plainly.
Result not_built(const char* step) {
    return fail("this build of the engine cannot ", step, " yet; nothing was written");
}

Result run_steps(const WriteOptions& options, RunHoldings& held) {
    (void)held;
    if (options.image_path.is_none()) return fail("which image? --image FILE");
    // Next: open and hash the image, open and vet the target, read the GPTs,
    // apply the boot checks, plan, lock, compare and write, read back.
    return not_built("open the image");
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
    close_if_open(held.target);
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
