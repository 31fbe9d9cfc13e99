// Which probed disks may be offered as USB sticks, and the list of them.
#pragma once

#include "discovery/stick_record.h"

namespace discovery {

bool is_candidate_stick(const ProbeResult& probe, uint64_t system_mask);

// The data side of Refresh: clears the list and the choice, then, only in an
// elevated process whose system disk is known, probes disks 0 to 63 and keeps
// every candidate in ascending disk order.
void build_stick_list(StickList& list, bool is_elevated);

// The elevation test: the process token says it is elevated. A query that
// fails counts as not elevated.
bool query_is_elevated();

}  // namespace discovery
