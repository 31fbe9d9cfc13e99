#include "cli/run_guards.h"
#include "cli/session_window.h"
#include "run/run_inputs.h"

namespace cli {
namespace {

// How long the owner waits for the window's thread to start or to end.
constexpr DWORD THREAD_WAIT_MS = 5000;

struct SessionWindow {
    HANDLE run_over = nullptr;
    HANDLE ready = nullptr;
    HANDLE thread = nullptr;
    HWND hwnd = nullptr;
};
SessionWindow session;

// After a yes to the query the session ends: Windows may end the process
// once this returns, so it returns only when the run has let the stick go,
// or when the wait runs out.
void stop_for_session_end() {
    run::run_inputs.stop_requested.store(true);
    if (session.run_over != nullptr)
        (void)sys::WaitForSingleObject(session.run_over, CLOSE_WAIT_MS);
}

// Windows gives about two seconds here and then suspends the machine with
// the transfers where they are: the run stops at its next piece, which may
// only come after the machine wakes up.
void stop_for_sleep() {
    run::run_inputs.machine_slept.store(true);
    run::run_inputs.stop_requested.store(true);
}

LRESULT CALLBACK session_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wparam != FALSE)
                stop_for_session_end();
            return 0;
        case WM_POWERBROADCAST:
            if (wparam == PBT_APMSUSPEND)
                stop_for_sleep();
            return TRUE;
        case WM_CLOSE:
            (void)sys::ShutdownBlockReasonDestroy(hwnd);
            (void)sys::DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            sys::PostQuitMessage(0);
            return 0;
        default:
            return sys::DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

// A top-level window (a message-only one gets no broadcasts), never shown.
HWND make_hidden_window() {
    const HINSTANCE instance = sys::GetModuleHandleW(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = session_procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = SESSION_WINDOW_CLASS;
    if (sys::RegisterClassW(&window_class) == 0 &&
        sys::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    return sys::CreateWindowExW(0, SESSION_WINDOW_CLASS, U16("tundra-stick"), WS_OVERLAPPED, 0, 0,
                                0, 0, nullptr, nullptr, instance, nullptr);
}

// The block reason belongs to the thread that made the window, which also
// answers its messages for as long as the run lasts.
DWORD WINAPI session_thread(LPVOID) {
    session.hwnd = make_hidden_window();
    if (session.hwnd != nullptr)
        (void)sys::ShutdownBlockReasonCreate(session.hwnd, SESSION_BLOCK_REASON);
    (void)sys::SetEvent(session.ready);
    if (session.hwnd == nullptr)
        return 1;
    MSG msg{};
    while (sys::GetMessageW(&msg, nullptr, 0, 0) > 0)
        (void)sys::DispatchMessageW(&msg);
    return 0;
}

}  // namespace

void open_session_window(HANDLE run_over) {
    session = {};
    session.run_over = run_over;
    session.ready = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (session.ready == nullptr)
        return;
    session.thread = sys::CreateThread(nullptr, 0, session_thread, nullptr, 0, nullptr);
    if (session.thread != nullptr)
        (void)sys::WaitForSingleObject(session.ready, THREAD_WAIT_MS);
    (void)sys::CloseHandle(session.ready);
    session.ready = nullptr;
}

void close_session_window() {
    if (session.thread == nullptr)
        return;
    if (session.hwnd != nullptr)
        (void)sys::PostMessageW(session.hwnd, WM_CLOSE, 0, 0);
    (void)sys::WaitForSingleObject(session.thread, THREAD_WAIT_MS);
    (void)sys::CloseHandle(session.thread);
    session = {};
}

}  // namespace cli
