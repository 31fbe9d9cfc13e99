// What earlier updates left beside the executable. The running build cannot
// be deleted while it runs (Windows maps its image, and the POSIX delete
// that would allow it is NTFS-only), so each update may leave an
// "{exe name}.tundra-previous-{pid}-{tick}" file behind, and an update cut
// short a ".tundra-new-" one. The instance that holds the update mutex, and
// so is the only one that may touch these names, removes them at its start.
#pragma once

#include "app/file_identity.h"
#include "app/wide_path.h"

namespace app {

// Deletes the files beside `exe_path` named exactly as an update names its
// files, and nothing else: each through a handle opened on the file itself
// (never through a link or junction), and only when that handle shows a
// plain file with one name, on the executable's volume, that is not the
// running executable. A file that cannot go now stays for the next start.
void remove_update_leftovers(const WidePath& exe_path, const FileIdentity& exe_identity);

// Whether `name` is `exe_name` (compared without regard to ASCII case, as
// Windows compares names) followed by ".tundra-previous-" or
// ".tundra-new-", a process id and a tick count in lower-case hexadecimal
// joined by "-". Both texts are NUL-terminated.
bool is_update_leftover_name(const WCHAR* name, const WCHAR* exe_name);

}  // namespace app
