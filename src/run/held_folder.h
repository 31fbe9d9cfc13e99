// A folder that a run writes into, reached by handle. An elevated run that
// writes into a folder another user can change (C:\stick-logs, Downloads,
// a share) must not look at a path and then use it again by name: between
// the two, a level can be swapped for a junction, and what is made below it
// lands wherever the junction points. So the path is walked from its root
// one level at a time: each level is opened (or made) by its name in the
// level above, which is held open, never through a junction, symbolic link
// or mount point, and held without delete sharing, so that it can be
// neither renamed nor deleted until the run lets it go. Files are then made
// by their names in the held folder.
//
// Only name surrogates count as links: a OneDrive placeholder, a
// deduplicated or a compressed folder is a reparse point too, but an
// ordinary folder all the same.
#pragma once

#include <cstdint>

#include "run/result.h"
#include "run/wide_text.h"
#include "sys/sys.h"

namespace run {

// The most levels a walk holds, the root included.
constexpr uint32_t HELD_LEVEL_CAPACITY = 128;
// Room for a whole path, in UTF-16 units, its NUL included.
constexpr uint64_t HELD_PATH_CAPACITY = 4096;

struct HeldFolder {
    HANDLE levels[HELD_LEVEL_CAPACITY];
    uint32_t count = 0;

    // The folder the walk ended in.
    HANDLE folder() const { return levels[count - 1]; }
};

enum class MissingLevels : uint8_t { Refuse, Make };

struct FolderWalk {
    MissingLevels missing = MissingLevels::Refuse;
    // What folders made on the way are made with (nullptr: Windows' default).
    LPSECURITY_ATTRIBUTES made_with = nullptr;
    // How a refusal to go through a link ends, for example "no logs are
    // written through it".
    const char* refusal = "nothing is written through it";
};

// A junction, a symbolic link, a mount point: a reparse point that stands
// for another name. What IsReparseTagNameSurrogate tells.
bool is_name_surrogate(DWORD tag);
// What FileAttributeTagInfo says of a link: a reparse point whose tag is a
// name surrogate.
bool is_link(const FILE_ATTRIBUTE_TAG_INFO& info);

// How many units at the start of a path name a place that is never made:
// a drive ("C:"), a share ("\\server\share"), and their "\\?\" forms.
uint64_t path_root_length(WideText path);

// Whether the path names a device rather than a file or folder on a file
// system: "\\.\" paths (disks, volumes, pipes), "\\?\GLOBALROOT\", and a
// reserved name such as NUL, CON, COM1 or LPT1 at any level, with or
// without an extension.
bool names_a_device(WideText path);

// The path made whole (GetFullPathNameW), walked from its root: every level
// held, missing ones made when `walk` says so. Fails with the level that is
// a link or no folder ("{level} is a junction or link, or not a folder:
// {refusal}"), that could not be made or opened, or with "a path is too
// long". Nothing is held after a failure.
Result hold_folder(WideText path, const FolderWalk& walk, HeldFolder& held);

// One more level, `name` in the held folder; `path` is the whole path of
// the new level, for messages.
Result hold_subfolder(HeldFolder& held, WideText path, const WCHAR* name, uint32_t name_length,
                      const FolderWalk& walk);

// Makes a new file `name` in the held folder, for `access` (SYNCHRONIZE is
// added: the handle reads and writes synchronously): never over a file that
// is there, never through a link at the name. Gives the file, or
// INVALID_HANDLE_VALUE with the Windows error in `error` (ERROR_ALREADY_EXISTS
// when the name is taken).
HANDLE create_new_file(const HeldFolder& held, const WCHAR* name, uint32_t name_length,
                       ACCESS_MASK access, LPSECURITY_ATTRIBUTES security, DWORD& error);

// Closes every level, the deepest first.
void let_go(HeldFolder& held);

}  // namespace run
