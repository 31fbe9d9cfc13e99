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
// The read-back always hashes the stick; `known_range_sha256`, when not
// null, is the image range's digest from before the write (the checked
// digest, or the compare's), and the stick's must then be the same.
Result write_and_verify(const TransferContext& context, bool read_back_all,
                        const uint8_t* known_range_sha256);

// The run's last line; `wifi_kept` when saved networks were carried over and
// read back as written.
void report_closing_line(PlanKind kind, int64_t start_count, bool wifi_kept);

}  // namespace engine
