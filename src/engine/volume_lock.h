// Locking and dismounting every volume that lies on the stick, so that no
// mounted file system writes to it, or refuses raw writes, during the run.
#pragma once

#include <cstdint>

#include "engine/run_names.h"

namespace engine {

constexpr uint32_t LOCK_ATTEMPTS = 20;
constexpr uint32_t LOCK_PAUSE_MS = 100;
constexpr uint32_t VOLUME_NAME_CAPACITY = 260;

// Keeps the handles (and so the locks) in the workspace. On failure, every
// lock taken so far has been released.
Result lock_and_dismount(uint32_t disk_number);

// For a run that only reads the stick: locks every volume of the disk
// without dismounting it. Taking the lock makes Windows write out what it
// still holds for the volume, and holding it keeps every other program
// from writing to the volume while the stick is read. The same retries and
// failures as lock_and_dismount.
Result lock_for_reading(uint32_t disk_number);

// Whether the volume of that name (\\?\Volume{...}, no trailing
// backslash) lies on the disk, asked without opening it for access.
bool volume_on_disk(const WCHAR* name, uint32_t disk_number);

// Closes every kept volume handle, in the order they were locked.
void release_volumes();

}  // namespace engine
