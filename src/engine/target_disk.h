// Opening the image and the target, and refusing every target that could be
// the wrong disk.
#pragma once

#include <cstdint>

#include "discovery/stick_record.h"
#include "engine/run_names.h"
#include "engine/write_options.h"

namespace engine {

struct TargetDisk {
    HANDLE handle = INVALID_HANDLE_VALUE;
    uint64_t size = 0;
    uint32_t bytes_per_sector = 512;
    uint32_t disk_number = 0;
    bool overlapped = false;
    bool is_disk = false;
};

struct OpenedFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    uint64_t size = 0;
};

// Opens an existing file and learns its size. `what` names it in messages
// ("image" or "target file").
Result open_existing_file(WideText path, bool writable, DWORD share_mode, const char* what,
                          OpenedFile& opened);

// A handle of its own on the file that `file` holds, for reading, found
// through the handle and never by name; `path` only names it in messages.
// It shares writing and deletion with the caller's handle, which must
// itself refuse write sharing to keep the image fixed.
Result reopen_image_file(HANDLE file, WideText path, OpenedFile& opened);

// The one disk whose serial is the options' serial, after the identity and
// safety checks, with the stick's identity report line.
Result find_stick_by_serial(const WriteOptions& options, discovery::StickRecord& found);

// Opens the found stick for the run and proves, by probing it again while
// it is held open, that the handle belongs to it.
Result open_stick(const discovery::StickRecord& stick, const WriteOptions& options,
                  TargetDisk& target);

// The target of the run: the target file when given, else the stick.
Result open_target(const WriteOptions& options, TargetDisk& target);

// Image and target together: whole sectors, and the image fits.
Result check_image_fits(uint64_t image_size, const TargetDisk& target);

// Two records describe the same stick: same place, size, sectors and texts.
bool same_stick(const discovery::StickRecord& a, const discovery::StickRecord& b);

const char* bus_name(uint32_t bus_type);

}  // namespace engine
