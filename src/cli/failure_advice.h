// The next step after a failure that a user often meets: a missing file, a
// folder where a file belongs, a read-only or full disk, a file in use.
#pragma once

#include "cli/tool_request.h"
#include "text/text_writer.h"

namespace cli {

// One line (without its line end) that says what to do about `reason`, in
// a static buffer valid until the next call; empty when there is no common
// next step for it.
text::ByteText next_step(text::ByteText reason, const ToolRequest& request);

}  // namespace cli
