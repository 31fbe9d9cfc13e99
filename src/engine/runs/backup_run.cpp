#include "engine/engine_workspace.h"
#include "engine/image_digest.h"
#include "engine/run_names.h"
#include "engine/run_progress.h"
#include "engine/runs/read_only_runs.h"
#include "engine/stop_request.h"
#include "engine/target_disk.h"
#include "engine/volume_lock.h"
#include "run/held_folder.h"
#include "run/owner_only_security.h"

namespace engine {
namespace {

// Reads go straight into a slot buffer: 4 MiB, aligned for the unbuffered
// stick handle.
constexpr uint32_t BACKUP_PIECE = SLOT_BUFFER_BYTES;
constexpr DWORD MOUNT_POINT_CAPACITY = 4097;

// --out made whole, and the folder and the name in it.
struct OutPath {
    WideText whole;
    WideText folder;
    const WCHAR* name;
    uint32_t name_length;
};
WCHAR whole_out[run::HELD_PATH_CAPACITY];
WCHAR out_folder[run::HELD_PATH_CAPACITY];

bool is_separator(WCHAR unit) {
    return unit == U16('\\') || unit == U16('/');
}

// A backup is a file on a file system: never a device (NUL, CON), a disk or
// a volume, which a raw write would overwrite. A relative --out is made
// whole first, so that every check below sees the place it names.
Result resolve_out(WideText out, OutPath& path) {
    if (run::names_a_device(out)) {
        return fail("--out ", path_text(out),
                    " names a device, not a file on a file system: name a new file");
    }
    const DWORD length =
        sys::GetFullPathNameW(out.data, run::HELD_PATH_CAPACITY, whole_out, nullptr);
    if (length == 0) {
        return fail("cannot tell where --out ", path_text(out), " is (Windows error ",
                    sys::GetLastError(), ")");
    }
    if (length >= run::HELD_PATH_CAPACITY)
        return fail("a path is too long");
    uint32_t folder_end = length;
    while (folder_end > 0 && !is_separator(whole_out[folder_end - 1]))
        --folder_end;
    if (folder_end == 0 || folder_end == length)
        return fail("--out ", path_text(out), " names a folder: name a new file");
    for (uint32_t i = 0; i < folder_end; ++i)
        out_folder[i] = whole_out[i];
    out_folder[folder_end] = 0;
    path = {{whole_out, length}, {out_folder, folder_end}, whole_out + folder_end,
            length - folder_end};
    return Result::Success;
}

// The file is made by its name in its folder, held by handle from its root
// up: no level may be a link, and none can become one while the stick is
// read. Owner-only: it holds the stick's saved networks, among the rest.
Result create_backup_file(const OutPath& path, run::HeldFolder& folder, HANDLE& file) {
    const run::FolderWalk walk{run::MissingLevels::Refuse, nullptr, "no backup is made through it"};
    if (run::hold_folder(path.folder, walk, folder) != Result::Success)
        return Result::Failed;
    DWORD code = ERROR_SUCCESS;
    // DELETE, so that a failed backup is removed through this handle.
    file = run::create_new_file(folder, path.name, path.name_length, GENERIC_WRITE | DELETE,
                                run::owner_only_security(), code);
    if (file != INVALID_HANDLE_VALUE)
        return Result::Success;
    const WideText whole = path.whole;
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) {
        return fail(path_text(whole), " already exists: a backup never replaces a file");
    }
    return fail("cannot make ", path_text(whole), " (Windows error ", code, ")");
}

// Removes the file this run created, through its handle, and closes it.
// Never by name: the folder may be one that another user can change, and
// the name may by now lead to some other file.
void discard_output(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    (void)sys::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                          sizeof disposition);
    (void)sys::CloseHandle(file);
}

// A full disk is the common way a backup fails: the reason says how much
// room the whole stick takes.
Result cannot_write(WideText path, uint64_t needed_bytes) {
    const DWORD code = sys::GetLastError();
    if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL) {
        return fail("cannot write ", path_text(path), " (Windows error ", code,
                    "): the disk is full; the backup needs ", text::Mib{needed_bytes},
                    " MiB, the whole stick");
    }
    return fail("cannot write ", path_text(path), " (Windows error ", code, ")");
}

// The reason of a backup whose file was made and then removed: so that the
// user knows no partial file is left to be taken for a backup.
Result say_file_removed(WideText path) {
    static char reason[run::FAILURE_REASON_CAPACITY];
    const text::ByteText so_far = failure_reason();
    for (size_t i = 0; i < so_far.length; ++i)
        reason[i] = so_far.data[i];
    return fail(text::ByteText{reason, so_far.length}, "; the partial backup ", path_text(path),
                " was removed");
}

// Every byte of the target, in order, into the file and the digest.
Result copy_whole_target(const TargetDisk& target, HANDLE file, WideText path, uint8_t digest[32]) {
    hash::Sha256& state = workspace.stick_hash;
    hash::sha256_init(state);
    uint8_t* buffer = workspace.stick_slots[0];
    for (uint64_t offset = 0; offset < target.size;) {
        const uint64_t rest = target.size - offset;
        const uint32_t count = rest < BACKUP_PIECE ? static_cast<uint32_t>(rest) : BACKUP_PIECE;
        if (run::run_inputs.stop_requested.load(std::memory_order_relaxed))
            return fail("stopped on request: the stick is as it was");
        if (read_exact_at(target.handle, target.overlapped, offset, buffer, count) !=
            Result::Success) {
            return Result::Failed;
        }
        DWORD written = 0;
        if (!sys::WriteFile(file, buffer, count, &written, nullptr))
            return cannot_write(path, target.size);
        if (written != count) {
            return fail("cannot write ", path_text(path), ": the disk is full; the backup needs ",
                        text::Mib{target.size}, " MiB, the whole stick");
        }
        hash::sha256_update(state, buffer, count);
        count_progress(count);
        offset += count;
    }
    if (!sys::FlushFileBuffers(file))
        return cannot_write(path, target.size);
    if (!hash::sha256_final(state, digest))
        return fail_for_no_digest("the stick");
    return Result::Success;
}

// A share has no volume name here; it is never the stick.
bool is_share(const WCHAR* mount_point) {
    return is_separator(mount_point[0]) && is_separator(mount_point[1]) &&
           mount_point[2] != U16('?') && mount_point[2] != U16('.');
}

// A backup on the stick it copies would change the stick while it is read,
// and could never hold what the stick held. Asked before the stick's
// volumes are locked: a locked volume answers no one else. When Windows
// cannot say which volume the path is on, no backup is made: nothing then
// says it is not the stick.
Result refuse_out_on_stick(WideText out_path, uint32_t disk_number) {
    static WCHAR mount_point[MOUNT_POINT_CAPACITY];
    WCHAR volume[VOLUME_NAME_CAPACITY];
    if (!sys::GetVolumePathNameW(out_path.data, mount_point, MOUNT_POINT_CAPACITY)) {
        return fail("cannot tell which disk --out ", path_text(out_path), " is on (Windows error ",
                    sys::GetLastError(), "), so it might be the stick: no backup is made");
    }
    if (!sys::GetVolumeNameForVolumeMountPointW(mount_point, volume, VOLUME_NAME_CAPACITY)) {
        if (is_share(mount_point))
            return Result::Success;
        return fail("cannot tell which disk --out ", path_text(out_path), " is on (Windows error ",
                    sys::GetLastError(), "), so it might be the stick: no backup is made");
    }
    volume[VOLUME_NAME_CAPACITY - 1] = 0;
    uint32_t length = 0;
    while (volume[length] != 0)
        ++length;
    if (length > 0 && volume[length - 1] == U16('\\'))
        volume[length - 1] = 0;
    if (!volume_on_disk(volume, disk_number))
        return Result::Success;
    return fail("--out ", path_text(out_path),
                " is on the stick being backed up: put the backup on another disk");
}

// The stick's volumes are locked without being dismounted while it is read
// (the lock makes Windows write out what it still holds for them, and keeps
// every other program from writing to them), and released afterwards.
Result lock_stick_for_reading(const TargetDisk& target, WideText out_path) {
    if (!target.is_disk)
        return Result::Success;
    if (refuse_out_on_stick(out_path, target.disk_number) != Result::Success)
        return Result::Failed;
    return lock_for_reading(target.disk_number);
}

}  // namespace

Result back_up_stick(const WriteOptions& options, WideText out_path) {
    if (out_path.is_none())
        return fail("where to? --out FILE");
    begin_stoppable_run();
    WriteOptions read_only = options;
    read_only.dry_run = true;
    TargetDisk target;
    if (open_target(read_only, target) != Result::Success)
        return Result::Failed;
    HANDLE file = INVALID_HANDLE_VALUE;
    uint8_t digest[32];
    OutPath out{};
    static run::HeldFolder folder;
    Result result = resolve_out(out_path, out);
    if (result == Result::Success)
        result = lock_stick_for_reading(target, out.whole);
    if (result == Result::Success)
        result = create_backup_file(out, folder, file);
    if (result == Result::Success) {
        begin_progress({target.size, 0, 0, 0});
        enter_stage(RunStage::Backup);
        result = copy_whole_target(target, file, out.whole, digest);
        if (result == Result::Success) {
            end_progress();
            (void)sys::CloseHandle(file);
        } else {
            abandon_progress();
            discard_output(file);
            (void)say_file_removed(out_path);
        }
    }
    run::let_go(folder);
    release_volumes();
    (void)sys::CloseHandle(target.handle);
    if (result != Result::Success)
        return end_stoppable_run(Result::Failed);
    report("backed up ", target.size, " bytes (", text::Mib{target.size}, " MiB) into ",
           path_text(out.whole), ": sha256 ", text::Sha256Hex{digest}, "\n");
    return Result::Success;
}

}  // namespace engine
