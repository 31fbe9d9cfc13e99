// Room for the image on the drive of the temporary folder. A download that
// cannot fit is refused before its first byte is asked for, and one that
// fills the drive on the way says so: neither is a network fault, and
// telling the user to check the connection would send them the wrong way.
#pragma once

#include <cstdint>

#include "sys/sys.h"
#include "text/text_writer.h"

namespace app {

// Where the text is composed; it stays below what the window's failure
// dialog shows whole.
constexpr size_t NO_ROOM_TEXT_BYTES = 1000;

// True when the drive of the temporary folder has at least `image_bytes`
// free for this user. Also true when the free space cannot be read: the
// download then finds out as it writes (see is_disk_full_error).
bool temp_drive_has_room(uint64_t image_bytes);

// Whether a failed write failed because the drive is full.
bool is_disk_full_error(DWORD error);

// "There is not enough free space to download Tundra: it needs 2.1 GB in
// C:\...\Temp\. Free up space on that drive and try again." The size is
// rounded up, so that it never promises that less would do; a folder too
// long for the text is named "the temporary folder". Composed in a static
// buffer, valid until the next call.
text::ByteText no_room_text(uint64_t image_bytes);

}  // namespace app
