// What Windows sends a program when the session ends, the machine goes to
// sleep or the console is told something, in the orders and with the
// parameters that Microsoft documents (docs/session-and-sleep.md), so that
// tests do not send what Windows never would.
#include <chrono>
#include <thread>

#include "sim/sim_state.h"

namespace sim {
namespace detail {

// Windows never installs anything here: the handlers are kept for
// Machine::console_event.
BOOL WINAPI sim_SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
    if (routine == nullptr)
        return TRUE;  // the Ctrl+C attribute; nothing to keep
    PHANDLER_ROUTINE* list = records.console_handlers;
    size_t& count = records.console_handler_count;
    if (add) {
        if (count == CONSOLE_HANDLER_CAPACITY)
            return fail_with(ERROR_NOT_ENOUGH_MEMORY);
        list[count++] = routine;
        return TRUE;
    }
    for (size_t i = count; i-- > 0;) {
        if (list[i] == routine) {
            for (size_t j = i; j + 1 < count; ++j)
                list[j] = list[j + 1];
            --count;
            return TRUE;
        }
    }
    return fail_with(ERROR_INVALID_PARAMETER);
}

}  // namespace detail

using namespace detail;

bool Machine::console_event(DWORD kind) {
    // A process that loads user32 or gdi32 counts as a Windows application:
    // it gets no sign-out or shut-down event, only the session's messages.
    if (kind == CTRL_LOGOFF_EVENT || kind == CTRL_SHUTDOWN_EVENT)
        return false;
    PHANDLER_ROUTINE handlers[CONSOLE_HANDLER_CAPACITY];
    const size_t count = records.console_handler_count;
    for (size_t i = 0; i < count; ++i)
        handlers[i] = records.console_handlers[i];
    bool taken = false;
    // Windows runs the handlers on a thread it starts in the process.
    std::thread raised([&] {
        for (size_t i = count; i-- > 0 && !taken;)
            taken = handlers[i](kind) != FALSE;
    });
    raised.join();
    return taken;
}

#ifdef _WIN32
namespace {

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

SessionEnd Machine::end_session(HWND window, LPARAM flags, bool another_refuses) {
    SessionEnd end;
    Clock::time_point start = Clock::now();
    end.may_end = SendMessageW(window, WM_QUERYENDSESSION, 0, flags) != FALSE;
    end.query_ms = ms_since(start);
    start = Clock::now();
    const bool ending = end.may_end && !another_refuses;
    SendMessageW(window, WM_ENDSESSION, ending ? TRUE : FALSE, flags);
    end.end_ms = ms_since(start);
    return end;
}

long long Machine::suspend(HWND window) {
    const Clock::time_point start = Clock::now();
    SendMessageW(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    return ms_since(start);
}
#endif

}  // namespace sim
