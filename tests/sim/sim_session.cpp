// The session on the simulated machine: what keeps the system awake
// (SetThreadExecutionState, per thread, as Windows keeps it), the free space
// of the drive that holds a folder, and the reason a window gives for
// blocking the end of the session. None of it reaches the real system.
#include <atomic>
#include <cstring>

#include "sim/sim_state.h"

namespace sim {
namespace detail {
namespace {

// Each thread's number, from 1, on both builds.
DWORD this_thread_number() {
    static std::atomic<DWORD> threads_seen{0};
    thread_local const DWORD number = ++threads_seen;
    return number;
}

ThreadExecutionState* state_of_thread(DWORD thread_id) {
    ThreadExecutionState* free_slot = nullptr;
    for (ThreadExecutionState& s : records.execution_states) {
        if (s.thread_id == thread_id)
            return &s;
        if (s.thread_id == 0 && free_slot == nullptr)
            free_slot = &s;
    }
    if (free_slot != nullptr)
        free_slot->thread_id = thread_id;
    return free_slot;
}

void copy_units(WCHAR* to, LPCWSTR from) {
    size_t i = 0;
    for (; from != nullptr && from[i] != 0 && i + 1 < BLOCK_REASON_UNITS; ++i)
        to[i] = from[i];
    to[i] = 0;
}

}  // namespace

// Without ES_CONTINUOUS the flags only reset the idle timer once; with it
// they replace the thread's state until the next such call.
EXECUTION_STATE WINAPI sim_SetThreadExecutionState(EXECUTION_STATE flags) {
    const DWORD thread_id = this_thread_number();
    if (records.execution_call_count < EXECUTION_CALL_CAPACITY)
        records.execution_calls[records.execution_call_count++] = {thread_id, flags};
    ThreadExecutionState* s = state_of_thread(thread_id);
    if (s == nullptr)
        return fail_with(ERROR_NOT_ENOUGH_MEMORY);
    const EXECUTION_STATE previous = s->state | ES_CONTINUOUS;
    if ((flags & ES_CONTINUOUS) != 0)
        s->state = flags;
    return previous;
}

BOOL WINAPI sim_GetDiskFreeSpaceExW(LPCWSTR folder, PULARGE_INTEGER free_to_caller,
                                    PULARGE_INTEGER total, PULARGE_INTEGER free_total) {
    copy_units(records.free_space_folder, folder);
    if (!records.free_space_set)
        return next.GetDiskFreeSpaceExW(folder, free_to_caller, total, free_total);
    if (free_to_caller != nullptr)
        free_to_caller->QuadPart = records.free_space_bytes;
    if (total != nullptr)
        total->QuadPart = records.free_space_bytes * 2;
    if (free_total != nullptr)
        free_total->QuadPart = records.free_space_bytes;
    return TRUE;
}

#ifdef _WIN32
// Windows keeps one reason for each window of the calling process; a second
// create replaces it.
BOOL WINAPI sim_ShutdownBlockReasonCreate(HWND hwnd, LPCWSTR reason) {
    if (hwnd == nullptr || reason == nullptr)
        return fail_with(ERROR_INVALID_PARAMETER);
    ++records.shutdown_block_creates;
    records.shutdown_block_window = hwnd;
    copy_units(records.shutdown_block_reason, reason);
    return TRUE;
}

BOOL WINAPI sim_ShutdownBlockReasonDestroy(HWND hwnd) {
    ++records.shutdown_block_destroys;
    if (hwnd == nullptr || records.shutdown_block_window != hwnd)
        return fail_with(ERROR_INVALID_PARAMETER);
    records.shutdown_block_window = nullptr;
    records.shutdown_block_reason[0] = 0;
    return TRUE;
}
#endif

}  // namespace detail

using namespace detail;

unsigned Machine::threads_keeping_awake() const {
    unsigned count = 0;
    for (const ThreadExecutionState& s : records.execution_states)
        count += s.thread_id != 0 && (s.state & ES_SYSTEM_REQUIRED) != 0 ? 1 : 0;
    return count;
}

std::vector<ExecutionStateCall> Machine::execution_state_calls() const {
    return {records.execution_calls, records.execution_calls + records.execution_call_count};
}

void Machine::set_free_space(uint64_t bytes) {
    records.free_space_set = true;
    records.free_space_bytes = bytes;
}

std::u16string Machine::free_space_folder() const {
    return std::u16string(reinterpret_cast<const char16_t*>(records.free_space_folder));
}

std::u16string Machine::shutdown_block_reason() const {
    if (records.shutdown_block_window == nullptr)
        return {};
    return std::u16string(reinterpret_cast<const char16_t*>(records.shutdown_block_reason));
}

unsigned Machine::shutdown_block_creates() const {
    return records.shutdown_block_creates;
}

unsigned Machine::shutdown_block_destroys() const {
    return records.shutdown_block_destroys;
}

}  // namespace sim
