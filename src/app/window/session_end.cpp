#include "app/window/session_end.h"

#include "app/app_messages.h"
#include "app/window/app_state.h"
#include "run/run_inputs.h"

namespace app {
namespace {

// Short slices, so that a result posted between two looks is seen soon.
constexpr DWORD WAIT_SLICE_MS = 100;

bool write_result_posted() {
    MSG msg{};
    return sys::PeekMessageW(&msg, app_state.hwnd_main, APP_MSG_WRITE_RESULT, APP_MSG_WRITE_RESULT,
                             PM_NOREMOVE) != FALSE;
}

// The worker posts its result only after it has let the stick go and
// deleted its file. The result stays in the queue: the session is ending
// and nobody will read it.
void wait_for_write_result() {
    const ULONGLONG deadline = sys::GetTickCount64() + END_SESSION_WAIT_MS;
    for (;;) {
        if (write_result_posted())
            return;
        const ULONGLONG now = sys::GetTickCount64();
        if (now >= deadline)
            return;
        const ULONGLONG left = deadline - now;
        const DWORD slice = left < WAIT_SLICE_MS ? static_cast<DWORD>(left) : WAIT_SLICE_MS;
        (void)sys::MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_POSTMESSAGE);
    }
}

}  // namespace

void block_session_end() {
    (void)sys::ShutdownBlockReasonCreate(app_state.hwnd_main, SHUTDOWN_BLOCK_REASON);
}

void allow_session_end() {
    (void)sys::ShutdownBlockReasonDestroy(app_state.hwnd_main);
}

bool session_may_end(LPARAM flags) {
    if (!app_state.is_busy)
        return true;
    if ((flags & ENDSESSION_CRITICAL) == 0)
        return false;
    // Windows ends the process whatever the answer: the answer waits until
    // the stick is let go.
    end_session(true);
    return true;
}

void machine_suspending() {
    if (!app_state.is_busy)
        return;
    run::run_inputs.machine_slept = true;
    run::run_inputs.stop_requested = true;
}

void end_session(bool ending) {
    if (!ending || !app_state.is_busy)
        return;
    run::run_inputs.stop_requested = true;
    wait_for_write_result();
}

}  // namespace app
