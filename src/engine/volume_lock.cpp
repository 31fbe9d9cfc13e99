#include "engine/volume_lock.h"

#include "discovery/disk_probe.h"
#include "discovery/error_boxes_off.h"
#include "engine/engine_workspace.h"
#include "engine/run_names.h"
#include "engine/stop_request.h"

namespace engine {
namespace {

// A volume lies on the disk when one of its extents, read whole from the
// answer, names the disk.
bool lies_on_disk(HANDLE volume, uint32_t disk_number) {
    alignas(8) uint8_t extents[discovery::EXTENTS_BUFFER_BYTES];
    DWORD returned = 0;
    if (disk_number >= 64 ||
        !sys::DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents,
                              sizeof extents, &returned, nullptr)) {
        return false;
    }
    const uint32_t held = returned < sizeof extents ? returned : sizeof extents;
    return (discovery::extents_disk_mask(extents, held) >> disk_number & 1) != 0;
}

bool control(HANDLE volume, DWORD code) {
    DWORD returned = 0;
    return sys::DeviceIoControl(volume, code, nullptr, 0, nullptr, 0, &returned, nullptr) != FALSE;
}

Result fail_to_lock(const WideText& name) {
    return fail("cannot lock ", path_text(name),
                ": close what has the stick open (Explorer windows on it) and try again");
}

// Locks, dismounts when asked, and keeps one volume of the stick.
Result take_volume(HANDLE volume, const WideText& name, bool dismount) {
    uint32_t attempt = 0;
    while (!control(volume, FSCTL_LOCK_VOLUME)) {
        // Another program may hold the volume for a moment: give it time,
        // unless the run has been asked to stop.
        sys::Sleep(LOCK_PAUSE_MS);
        if (++attempt == LOCK_ATTEMPTS || stop_if_requested() != Result::Success) {
            (void)sys::CloseHandle(volume);
            return attempt == LOCK_ATTEMPTS ? fail_to_lock(name) : Result::Failed;
        }
    }
    if (dismount && !control(volume, FSCTL_DISMOUNT_VOLUME)) {
        (void)sys::CloseHandle(volume);
        return fail("cannot dismount ", path_text(name), "; nothing written");
    }
    if (workspace.locked_volume_count == MAX_LOCKED_VOLUMES) {
        (void)sys::CloseHandle(volume);
        return fail("the stick has more volumes than tundra-stick handles");
    }
    workspace.locked_volumes[workspace.locked_volume_count++] = volume;
    report(dismount ? "locked and dismounted " : "locked ", path_text(name), "\n");
    return Result::Success;
}

HANDLE open_volume(const WCHAR* name, DWORD access) {
    return sys::CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
}

// Takes one listed volume when it lies on the disk. Once it is known to be
// on the stick, a volume that cannot be opened for locking stops the run:
// it stays mounted, and Windows would refuse the writes into it half-way.
Result visit_volume(WCHAR* name, uint32_t disk_number, bool dismount) {
    uint64_t length = 0;
    while (length < VOLUME_NAME_CAPACITY && name[length] != 0) ++length;
    if (length == VOLUME_NAME_CAPACITY) return Result::Success;  // no terminator: not a name
    if (length > 0 && name[length - 1] == U16('\\')) name[--length] = 0;
    if (!volume_on_disk(name, disk_number)) return Result::Success;
    const WideText wide{name, length};
    HANDLE volume = open_volume(name, GENERIC_READ | GENERIC_WRITE);
    if (volume == INVALID_HANDLE_VALUE) return fail_to_lock(wide);
    return take_volume(volume, wide, dismount);
}

Result lock_volumes(uint32_t disk_number, bool dismount) {
    const discovery::ErrorBoxesOff quiet;  // the search opens every volume, empty slots too
    WCHAR name[VOLUME_NAME_CAPACITY];
    HANDLE search = sys::FindFirstVolumeW(name, VOLUME_NAME_CAPACITY);
    if (search == INVALID_HANDLE_VALUE) return Result::Success;
    Result result = Result::Success;
    do {
        result = visit_volume(name, disk_number, dismount);
    } while (result == Result::Success && sys::FindNextVolumeW(search, name, VOLUME_NAME_CAPACITY));
    (void)sys::FindVolumeClose(search);
    if (result != Result::Success) release_volumes();
    return result;
}

}  // namespace

// Asked through a handle without access rights: that open succeeds even
// while another program holds the volume without sharing writes, so such a
// volume is not mistaken for one of another disk. A volume that cannot be
// asked is not counted as the disk's.
bool volume_on_disk(const WCHAR* name, uint32_t disk_number) {
    HANDLE query = open_volume(name, 0);
    if (query == INVALID_HANDLE_VALUE)
        return false;
    const bool on_disk = lies_on_disk(query, disk_number);
    (void)sys::CloseHandle(query);  // a query handle: nothing is lost if closing fails
    return on_disk;
}

Result lock_and_dismount(uint32_t disk_number) {
    return lock_volumes(disk_number, true);
}

Result lock_for_reading(uint32_t disk_number) {
    return lock_volumes(disk_number, false);
}

void release_volumes() {
    for (uint64_t i = 0; i < workspace.locked_volume_count; ++i) {
        (void)sys::CloseHandle(workspace.locked_volumes[i]);
    }
    workspace.locked_volume_count = 0;
}

}  // namespace engine
