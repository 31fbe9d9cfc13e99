// What the simulated machine records: the call names and their use counts,
// the fault rules, the open handles, and what the program did.
#include <cstring>

#include "sim/sim_state.h"

namespace sim {
namespace detail {

// ---- call indices and names, from the seam's list -------------------------

const char* const CALL_NAMES[CALL_COUNT] = {
#define SYS_CALL(ret, name, fail_value, params, args) #name,
#define SYS_PLAIN(ret, name, params, args) #name,
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
};

const bool CALL_FAILABLE[CALL_COUNT] = {
#define SYS_CALL(ret, name, fail_value, params, args) true,
#define SYS_PLAIN(ret, name, params, args) false,
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
};

int call_index(const char* name) {
    for (unsigned i = 0; i < CALL_COUNT; ++i) {
        if (strcmp(CALL_NAMES[i], name) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

Records records;
thread_local DWORD thread_error_mode = 0;
Machine* machine = nullptr;
std::list<Drive>* drive_list = nullptr;
std::list<Volume>* volume_list = nullptr;
sys::CallTable next;

HANDLE sim_handle_of(size_t slot) {
    return reinterpret_cast<HANDLE>(SIM_HANDLE_BASE + slot * 4);
}

HandleRecord* record_of(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE)
        return nullptr;
    for (HandleRecord& r : records.handles) {
        if (r.kind != Kind::none && r.handle == h)
            return &r;
    }
    return nullptr;
}

HandleRecord* new_record(Kind kind, HANDLE real) {
    for (size_t slot = 0; slot < HANDLE_CAPACITY; ++slot) {
        HandleRecord& r = records.handles[slot];
        if (r.kind != Kind::none)
            continue;
        r = HandleRecord{};
        r.kind = kind;
        r.handle = real != nullptr ? real : sim_handle_of(slot);
        return &r;
    }
    return nullptr;
}

BOOL fail_with(DWORD error) {
    next.SetLastError(error);
    return FALSE;
}

bool should_fail(unsigned call, uint32_t ioctl, DWORD& error) {
    ++records.uses[call];
    for (FaultRule& rule : records.faults) {
        if (!rule.active || rule.call != call)
            continue;
        if (rule.ioctl != 0 && rule.ioctl != ioctl)
            continue;
        ++rule.seen;
        if (rule.nth == 0 || rule.seen == rule.nth) {
            if (rule.nth != 0)
                rule.active = false;
            error = rule.error;
            return true;
        }
    }
    return false;
}

Drive* find_drive(uint32_t number) {
    for (Drive& d : *drive_list) {
        if (d.number == number)
            return &d;
    }
    return nullptr;
}

void note_open(uint32_t drive_number, bool for_writing) {
    if (records.opened_count == OPENED_CAPACITY)
        return;
    records.opened[records.opened_count] = drive_number;
    records.opened_for_writing[records.opened_count] = for_writing;
    ++records.opened_count;
}

void note_happening(Happening::Kind kind, uint32_t drive_number, uint64_t offset,
                    const Volume* volume) {
    if (records.timeline_count == TIMELINE_CAPACITY)
        return;
    records.timeline[records.timeline_count++] = {kind, drive_number, offset, volume};
}

void note_device_open() {
    if ((thread_error_mode & SEM_FAILCRITICALERRORS) == 0)
        ++records.device_opens_with_error_boxes;
}

}  // namespace detail
}  // namespace sim
