// The start of the update check, a step of the window's start-up in an
// instance without administrator rights, and the host that the warning names.
#include "app/self_update/update_check.h"
#include "app/self_update/update_leftovers.h"
#include "app/update_hooks.h"
#include "app/window/app_state.h"
#include "app/window/palette.h"
#include "app/window/window_controls.h"
#include "app/window/window_texts.h"
#include "release/release_site.h"

namespace app {
namespace {

// The running executable's path must leave room for the names that an
// update appends to it.
constexpr DWORD EXE_PATH_LIMIT_UNITS = 4032;

void give_up_mutex(HANDLE mutex) {
    (void)sys::ReleaseMutex(mutex);
    (void)sys::CloseHandle(mutex);
}

// Another instance that owns the mutex is checking or installing: only one
// instance at a time may replace the executable. An abandoned mutex (its
// owner ended without releasing it) is ours all the same.
HANDLE take_update_mutex() {
    HANDLE mutex = sys::CreateMutexW(nullptr, FALSE, UPDATE_MUTEX_NAME);
    if (mutex == nullptr)
        return nullptr;
    const DWORD wait = sys::WaitForSingleObject(mutex, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        (void)sys::CloseHandle(mutex);
        return nullptr;
    }
    return mutex;
}

// The running executable's path and identity, into the context.
bool read_running_executable(UpdateContext& context) {
    WidePath& path = context.exe_path;
    const DWORD length =
        sys::GetModuleFileNameW(nullptr, path.units, static_cast<DWORD>(WIDE_PATH_UNITS));
    if (length < 1 || length >= EXE_PATH_LIMIT_UNITS)
        return false;
    path.length = length;
    path.units[length] = 0;
    context.exe_identity = read_file_identity(path.units);
    return context.exe_identity.valid;
}

}  // namespace

void start_update_check() {
    HANDLE mutex = take_update_mutex();
    if (mutex == nullptr)
        return;
    UpdateContext& context = app_state.update.emplace();
    context.update_mutex = mutex;
    if (!read_running_executable(context)) {
        clear_update_context();
        give_up_mutex(mutex);
        return;
    }
    remove_update_leftovers(context.exe_path, context.exe_identity);
    app_state.update_check_running = true;
    update_action_enabled();
    set_status(STATUS_CHECKING_UPDATES, COLOR_MUTED);
    HANDLE thread = sys::CreateThread(nullptr, 0, update_check_thread, nullptr, 0, nullptr);
    if (thread != nullptr) {
        (void)sys::CloseHandle(thread);
        return;
    }
    give_up_mutex(mutex);
    clear_update_context();
    app_state.update_check_running = false;
    update_action_enabled();
    set_status(STATUS_ADMIN_REQUIRED, COLOR_MUTED);
}

const char* update_host_name() {
    return release::DOWNLOAD_HOST;
}

}  // namespace app
