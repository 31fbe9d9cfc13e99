#include "cli/run_guards.h"

#include "cli/session_window.h"
#include "run/run_inputs.h"

namespace cli {
namespace {

// Set once the run has returned; a closing console waits for it.
HANDLE run_over_event = nullptr;

// Runs on a thread of its own that Windows starts for the event. Ctrl+C and
// Ctrl+Break leave the process running: the run stops at its next piece
// and the tool exits with its reason. After a close Windows ends the
// process as soon as this returns, so it returns only once the run has let
// go of the stick, or after a bounded wait. Sign-out and shut-down never
// come here (the tool loads user32): the session window takes them.
BOOL WINAPI ask_run_to_stop(DWORD kind) {
    run::run_inputs.stop_requested.store(true);
    if (kind == CTRL_CLOSE_EVENT && run_over_event != nullptr)
        (void)sys::WaitForSingleObject(run_over_event, CLOSE_WAIT_MS);
    return TRUE;
}

}  // namespace

RunGuards::RunGuards() {
    (void)sys::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    run::run_inputs.stop_requested.store(false);
    run::run_inputs.machine_slept.store(false);
    run_over_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    handler_installed_ = sys::SetConsoleCtrlHandler(ask_run_to_stop, TRUE) != FALSE;
    open_session_window(run_over_event);
}

void RunGuards::run_over() {
    if (run_over_event != nullptr)
        (void)sys::SetEvent(run_over_event);
}

RunGuards::~RunGuards() {
    run_over();
    close_session_window();
    if (handler_installed_)
        (void)sys::SetConsoleCtrlHandler(ask_run_to_stop, FALSE);
    if (run_over_event != nullptr)
        (void)sys::CloseHandle(run_over_event);
    run_over_event = nullptr;
    (void)sys::SetThreadExecutionState(ES_CONTINUOUS);
}

}  // namespace cli
