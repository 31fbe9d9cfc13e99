// Writing the changed places and proving them by reading back.
#pragma once

#include <cstdint>

#include "engine/transfer.h"
#include "engine/write_plan.h"

namespace engine {

Result write_changed_places(const TransferContext& context);

// Reads every written place back and compares it with the image.
Result verify_written_places(const TransferContext& context);

// Step 14: the write (or the note that nothing needed writing), the place
// check and, with `read_back_all`, the whole range read back.
// `fixed_range_sha256`, when not null, is the image range's digest and the
// image cannot change during the run: a read-back that finds every byte
// equal then shows it as the stick's digest instead of hashing the stick.
Result write_and_verify(const TransferContext& context, bool read_back_all,
                        const uint8_t* fixed_range_sha256);

// The run's last line; `wifi_kept` when saved networks were carried over and
// read back as written.
void report_closing_line(PlanKind kind, int64_t start_count, bool wifi_kept);

}  // namespace engine
