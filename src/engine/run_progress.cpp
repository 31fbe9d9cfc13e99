#include "engine/run_progress.h"

namespace engine {
namespace {

struct Progress {
    bool counting = false;
    RunStage stage = RunStage::Compare;
    PlannedBytes planned{};
    uint64_t total = 0;
    uint64_t done = 0;
    uint64_t noticed = 0;  // `done` at the last notice
    bool any_notice = false;
};
Progress progress;

void notify() {
    progress.noticed = progress.done;
    progress.any_notice = true;
    run::run_inputs.progress_observer(run::run_inputs.progress_context, progress.stage,
                                      progress.done, progress.total);
}

uint64_t total_of(const PlannedBytes& planned) {
    return planned.compare + planned.write + planned.read_back_places + planned.read_back_all;
}

}  // namespace

PlannedBytes planned_bytes(uint64_t range_bytes, bool full, bool dry_run, bool read_back_all) {
    const uint64_t compared = full ? 0 : range_bytes;
    if (dry_run)
        return {compared, 0, 0, 0};
    return {compared, range_bytes, range_bytes, read_back_all ? range_bytes : 0};
}

void begin_progress(const PlannedBytes& planned) {
    progress = {};
    progress.counting = run::run_inputs.progress_observer != nullptr;
    progress.planned = planned;
    progress.total = total_of(planned);
}

void settle_written_bytes(uint64_t written_bytes) {
    // Only ever down: the plan counted every byte of the range as written.
    if (written_bytes > progress.planned.write)
        return;
    progress.planned.write = written_bytes;
    progress.planned.read_back_places = progress.planned.read_back_places == 0 ? 0 : written_bytes;
    progress.total = total_of(progress.planned);
}

void enter_stage(RunStage stage) {
    progress.stage = stage;
}

void count_progress(uint64_t bytes) {
    if (!progress.counting)
        return;
    progress.done += bytes;
    if (progress.done - progress.noticed >= run::PROGRESS_NOTICE_BYTES)
        notify();
}

void end_progress() {
    if (progress.counting && (!progress.any_notice || progress.noticed != progress.done))
        notify();
    progress.counting = false;
}

void abandon_progress() {
    progress.counting = false;
}

}  // namespace engine
