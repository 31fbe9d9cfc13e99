// How much of the image goes to the stick, and the refusals that keep a
// stick's data area and boot setup from being destroyed unasked.
#pragma once

#include <cstdint>

#include "engine/run_names.h"
#include "engine/write_options.h"
#include "formats/gpt.h"

namespace engine {

enum PlanKind : uint8_t { PLAN_TUNDRA_ONLY = 0, PLAN_FRESH = 1, PLAN_WHOLE = 2 };

struct WritePlan {
    PlanKind kind = PLAN_WHOLE;
    uint64_t start = 0;
    uint64_t length = 0;  // never 0
};

// Refuses the run when the stick has a partition whose unique GUID the
// options keep.
Result apply_keep_guid_rule(const formats::GptTable& stick_table, const WriteOptions& options);

// The architecture and firmware checks, and with an expected stick, that the
// image is bootable at all.
Result apply_boot_checks(const DiskRegion& image, const DiskRegion& stick,
                         const WriteOptions& options);

Result plan_write(const formats::GptTable& stick_table, const formats::GptTable& image_table,
                  uint64_t image_size, uint32_t bytes_per_sector, bool whole_allowed,
                  WritePlan& plan);

void report_plan(const WritePlan& plan, bool dry_run);

}  // namespace engine
