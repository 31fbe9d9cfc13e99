// Installing a verified update, on the window thread: the new build is
// written beside the running executable, the two swap places by two
// renames, and the new copy is started while this one ends. No rename ever
// replaces an existing file: each fails rather than overwrite. Whatever step
// fails, the running build goes back to its own path whenever that path is
// empty, or stays under its previous-file name where it cannot; nothing is
// ever overwritten. Each rename and delete outlasts a scanner's brief hold.
#include "app/file_identity.h"
#include "app/self_update/held_file_retry.h"
#include "app/self_update/update_paths.h"
#include "app/update_hooks.h"
#include "app/window/app_state.h"

namespace app {
namespace {

// The two paths of one installation; static, as every buffer on this path.
struct InstallPaths {
    WidePath new_file;
    WidePath previous_file;
};
InstallPaths paths;

bool move(LPCWSTR from, LPCWSTR to) {
    return retry_while_held(
        [from, to] { return sys::MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH) != FALSE; });
}

// A failure is left alone: the next start removes what is left over.
void remove_file(LPCWSTR path) {
    (void)retry_while_held([path] { return sys::DeleteFileW(path) != FALSE; });
}

bool make_path(const char* mark, WidePath& out) {
    return path_beside(app_state.update->exe_path, mark, sys::GetCurrentProcessId(),
                       sys::GetTickCount64(), out);
}

// Writes the verified bytes to a file that did not exist, in one call, and
// flushes them to the disk. A file that was created goes again on failure.
bool write_new_build(LPCWSTR path) {
    HANDLE file = sys::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD length = static_cast<DWORD>(app_state.update_length);
    DWORD written = 0;
    const bool whole = sys::WriteFile(file, app_state.update_buffer, length, &written, nullptr) &&
                       written == length;
    const bool flushed = whole && sys::FlushFileBuffers(file);
    (void)sys::CloseHandle(file);
    if (!flushed)
        remove_file(path);
    return flushed;
}

// The file at the executable's path is still the one that was started: it
// was not replaced (by another installer, a browser, the user) meanwhile.
bool still_the_running_build() {
    const UpdateContext& context = *app_state.update;
    const FileIdentity now = read_file_identity(context.exe_path.units);
    return is_same_file(now, context.exe_identity);
}

// The new copy runs: the previous build goes (where the system allows it
// while it still runs), the check ends and so does this instance.
void end_for_the_new_copy(LPCWSTR previous) {
    delete_posix(previous);
    const HANDLE mutex = app_state.update->update_mutex;
    (void)sys::ReleaseMutex(mutex);
    (void)sys::CloseHandle(mutex);
    clear_update_context();
    app_state.update_check_running = false;
    (void)sys::DestroyWindow(app_state.hwnd_main);
}

}  // namespace

InstallOutcome install_update() {
    static_assert(UPDATE_BUFFER_BYTES <= MAXDWORD, "the update is written in one call");
    const WidePath& exe = app_state.update->exe_path;
    if (exe.length == 0)  // a context without a path has nothing to replace
        return InstallOutcome::gave_up;
    const LPCWSTR new_file = paths.new_file.units;
    const LPCWSTR previous = paths.previous_file.units;
    if (!make_path(NEW_FILE_MARK, paths.new_file) || !write_new_build(new_file))
        return InstallOutcome::gave_up;
    if (!make_path(PREVIOUS_FILE_MARK, paths.previous_file) || !still_the_running_build() ||
        !move(exe.units, previous)) {
        remove_file(new_file);
        return InstallOutcome::gave_up;
    }
    if (!move(new_file, exe.units)) {
        (void)move(previous, exe.units);  // the running build back in its place
        remove_file(new_file);
        return InstallOutcome::gave_up;
    }
    const HINSTANCE started = sys::ShellExecuteW(app_state.hwnd_main, U16("open"), exe.units,
                                                 nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(started) > 32) {
        end_for_the_new_copy(previous);
        return InstallOutcome::relaunched;
    }
    // Not started: the new build steps aside again and the running one
    // returns. The new build may be gone already (a scanner quarantined it,
    // which is often why it did not start): the running one returns all the
    // same. Where the new build could not step aside, the move back fails
    // rather than overwrite it, and the new build stays.
    (void)move(exe.units, new_file);
    (void)move(previous, exe.units);
    remove_file(new_file);
    return InstallOutcome::gave_up;
}

}  // namespace app
