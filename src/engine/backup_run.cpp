#include "engine/engine_workspace.h"
#include "engine/image_digest.h"
#include "engine/read_only_runs.h"
#include "engine/run_names.h"
#include "engine/target_disk.h"

namespace engine {
namespace {

// Reads go straight into a slot buffer: 4 MiB, aligned for the unbuffered
// stick handle.
constexpr uint32_t BACKUP_PIECE = SLOT_BUFFER_BYTES;

Result create_backup_file(WideText path, HANDLE& file) {
    file = sys::CreateFileW(path.data, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
    if (file != INVALID_HANDLE_VALUE)
        return Result::Success;
    const DWORD code = sys::GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) {
        return fail(path_text(path), " already exists: a backup never replaces a file");
    }
    return fail("cannot make ", path_text(path), " (Windows error ", code, ")");
}

Result cannot_write(WideText path) {
    return fail("cannot write ", path_text(path), " (Windows error ", sys::GetLastError(), ")");
}

// Every byte of the target, in order, into the file and the digest.
Result copy_whole_target(const TargetDisk& target, HANDLE file, WideText path, uint8_t digest[32]) {
    hash::Sha256& state = workspace.stick_hash;
    hash::sha256_init(state);
    uint8_t* buffer = workspace.stick_slots[0];
    for (uint64_t offset = 0; offset < target.size;) {
        const uint64_t rest = target.size - offset;
        const uint32_t count = rest < BACKUP_PIECE ? static_cast<uint32_t>(rest) : BACKUP_PIECE;
        if (read_exact_at(target.handle, target.overlapped, offset, buffer, count) !=
            Result::Success) {
            return Result::Failed;
        }
        DWORD written = 0;
        if (!sys::WriteFile(file, buffer, count, &written, nullptr))
            return cannot_write(path);
        if (written != count)
            return fail("cannot write ", path_text(path), ": the disk is full");
        hash::sha256_update(state, buffer, count);
        offset += count;
    }
    if (!sys::FlushFileBuffers(file))
        return cannot_write(path);
    if (!hash::sha256_final(state, digest))
        return fail_for_no_digest("the stick");
    return Result::Success;
}

}  // namespace

Result back_up_stick(const WriteOptions& options, WideText out_path) {
    if (out_path.is_none())
        return fail("where to? --out FILE");
    WriteOptions read_only = options;
    read_only.dry_run = true;
    TargetDisk target;
    if (open_target(read_only, target) != Result::Success)
        return Result::Failed;
    HANDLE file = INVALID_HANDLE_VALUE;
    uint8_t digest[32];
    Result result = create_backup_file(out_path, file);
    if (result == Result::Success) {
        result = copy_whole_target(target, file, out_path, digest);
        (void)sys::CloseHandle(file);
        if (result != Result::Success)
            (void)sys::DeleteFileW(out_path.data);
    }
    (void)sys::CloseHandle(target.handle);
    if (result != Result::Success)
        return Result::Failed;
    report("backed up ", target.size, " bytes (", text::Mib{target.size}, " MiB) into ",
           path_text(out_path), ": sha256 ", text::Sha256Hex{digest}, "\n");
    return Result::Success;
}

}  // namespace engine
