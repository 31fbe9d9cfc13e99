// Windows error numbers in the stick tool's texts, with words beside them:
// a number alone tells a user nothing, least of all on Linux. The words are
// the system's own for the number (the Windows message text on Windows, the
// C library's on the host build), so they read as the user's system says
// them elsewhere.
#pragma once

#include "sys/sys.h"
#include "text/text_writer.h"

namespace cli {

// The system's words for `code`, without the closing period and line end,
// in a static buffer valid until the next call; empty when it has none.
text::ByteText system_words(DWORD code);

// `line` with every "(Windows error N)" made "(Windows error N: words)", in
// a static buffer valid until the next call. Text that does not fit is cut
// at a whole character.
text::ByteText with_error_words(text::ByteText line);

// The first Windows error number in `line`; false when it names none.
bool first_error_code(text::ByteText line, DWORD& code);

}  // namespace cli
