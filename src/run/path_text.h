// The UTF-8 form of a UTF-16 path, for messages.
#pragma once

#include "run/wide_text.h"
#include "text/text_writer.h"

namespace run {

// Converts into the run's path text buffer (valid until the next
// call). A path that is not valid UTF-16 is shown as a fixed text instead; a
// path whose UTF-8 form is longer than the buffer is cut at a whole
// character.
text::ByteText path_text(WideText path);

}  // namespace run
