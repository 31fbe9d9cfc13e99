// Probing physical disks: the device path of a disk number, the record of
// one disk, and the mask of the disks that hold the running Windows.
#pragma once

#include <cstdint>

#include "discovery/stick_record.h"
#include "sys/sys.h"

namespace discovery {

constexpr uint32_t DESCRIPTOR_BUFFER_BYTES = 1024;
constexpr uint32_t GEOMETRY_BUFFER_BYTES = 256;
constexpr uint32_t EXTENTS_BUFFER_BYTES = 1024;

struct DrivePath {
    WCHAR text[40];  // "\\.\PhysicalDriveN", NUL-terminated
};

DrivePath physical_drive_path(uint32_t disk_number);

// Opens the disk without access rights and reads its descriptor and
// geometry; absent when the disk cannot be opened. A failed query leaves its
// fields at their defaults.
ProbeResult probe_disk(uint32_t disk_number);

// Fills `text` (cap bytes at most) from a descriptor field and returns its
// length: empty for offset 0 or an offset at or past the limit, cut at the
// first NUL or the limit, spaces trimmed at both ends, unprintable bytes
// shown as "?".
uint64_t read_descriptor_text(const uint8_t* descriptor, uint32_t limit, uint32_t offset,
                              char* text, uint64_t cap);

// Bit n set when disk n holds part of the Windows directory's volume; 0 when
// that cannot be told.
uint64_t system_disk_mask();

// Bit n set for every disk n (below 64) named by a whole DISK_EXTENT entry of
// an IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS answer of `returned` bytes.
uint64_t extents_disk_mask(const uint8_t* extents, uint32_t returned);

}  // namespace discovery
