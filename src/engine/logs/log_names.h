// The name a log file gets on the computer, made from its 8.3 name on the
// stick, and whether that name is safe to create in the logs folder.
//
// Windows reads FAT short names in the OEM code page, so the bytes are
// taken as that code page's characters, one for one. The stick is not
// trusted:
// so a crafted directory entry could name "..", a path with separators, an
// alternate data stream ("A:B"), or a device ("NUL.TXT"). Such a name must
// never become a path; see docs/decisions.md for what happens to the file.
#pragma once

#include <cstdint>

#include "sys/sys.h"
#include "text/text_writer.h"

namespace engine {

// Eight name characters and three extension characters with the spaces
// left out, and the dot: at most 12; room for a number that tells two
// copies of one name apart (" (99)").
struct LogName {
    WCHAR units[20];
    uint32_t length = 0;
};

LogName log_file_name(const char name11[11]);

// The name with " (n)" before its extension, n from 2 on: the n-th copy of
// a name that is taken already.
LogName numbered_name(const LogName& name, uint32_t n);

enum class NameProblem : uint8_t {
    None,
    Empty,
    EndsWithDot,    // ".", ".." and "LOG." (Windows drops trailing dots)
    ForbiddenByte,  // separators, ":", wildcards, quotes, pipes, control bytes
    DeviceName,     // CON, PRN, AUX, NUL, COM0-9, LPT0-9 (and ¹²³), CONIN$, CONOUT$
};

NameProblem name_problem(const LogName& name);

// What is wrong, for the warning line.
const char* name_problem_text(NameProblem problem);

// The name in messages: UTF-8, control characters as "?" so that no stick
// can drive the console.
void put_piece(text::TextWriter& out, const LogName& name);

}  // namespace engine
