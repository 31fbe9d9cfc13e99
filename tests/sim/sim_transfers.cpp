// Drive transfers: checked when issued, pending until they end, ending in
// the order the machine chooses or on the virtual clock, and waited for.
#include <algorithm>
#include <cstdint>

#include "sim/sim_state.h"

namespace sim {
namespace detail {

uint64_t offset_of(const OVERLAPPED* ov, const HandleRecord& r) {
    if (ov == nullptr)
        return r.position;
    return (static_cast<uint64_t>(ov->OffsetHigh) << 32) | ov->Offset;
}

// Checks a drive transfer when it is issued, as Windows checks its
// parameters: what fails here fails the call and never pends.
BOOL check_transfer(const HandleRecord& r, bool writing, const void* buffer, DWORD count,
                    uint64_t offset) {
    const Drive* d = find_drive(r.drive_number);
    if (d == nullptr)
        return fail_with(ERROR_DEV_NOT_EXIST);
    if ((r.access & (writing ? GENERIC_WRITE : GENERIC_READ)) == 0) {
        return fail_with(ERROR_ACCESS_DENIED);
    }
    if ((r.flags & FILE_FLAG_NO_BUFFERING) != 0) {
        const uint32_t sector = d->bytes_per_sector == 0 ? 512 : d->bytes_per_sector;
        if (offset % sector != 0 || count % sector != 0 ||
            reinterpret_cast<uintptr_t>(buffer) % 4096 != 0) {
            return fail_with(ERROR_INVALID_PARAMETER);
        }
    }
    if (offset > d->size_bytes || count > d->size_bytes - offset) {
        return fail_with(ERROR_SECTOR_NOT_FOUND);
    }
    if (!writing)
        return TRUE;
    if (touches_mounted_volume(r.drive_number, offset, count))
        return fail_with(ERROR_ACCESS_DENIED);
    // An in-memory drive stores only its first bytes: a write past them is
    // a fault of the test's set-up. A file covers the whole drive.
    const uint64_t stored = d->file.is_open() ? d->size_bytes : d->contents.size();
    if (offset > stored || count > stored - offset)
        return fail_with(ERROR_GEN_FAILURE);
    return TRUE;
}

// Ends a transfer taken off the pending list: its bytes move, and unless
// its handle is being closed (the caller may be gone) its OVERLAPPED and
// event say so.
void end_transfer(PendingTransfer t, bool tell_caller) {
    const DWORD last_error = next.GetLastError();
    move_bytes(t);
    next.SetLastError(last_error);
    if (tell_caller && t.ov != nullptr) {
        t.ov->Internal = t.error;
        t.ov->InternalHigh = t.error == 0 ? t.count : 0;
        if (t.ov->hEvent != nullptr)
            next.SetEvent(t.ov->hEvent);
    }
    if (t.is_ioctl) {
        if (tell_caller && t.record < IOCTL_CAPACITY)
            records.ioctls[t.record].waited_for = true;
        return;
    }
    note_happening(Happening::Kind::TransferEnded, t.drive_number, t.offset, nullptr);
    if (t.record < TRANSFER_CAPACITY) {
        records.transfers[t.record].ended_step = ++records.step;
        // A timed transfer ended on the drive at its booked time, even when
        // nobody looked until later.
        records.transfers[t.record].ended_ns = t.timed ? t.end_ns : records.clock_ns;
    }
}

void end_pending(size_t index, bool tell_caller) {
    const PendingTransfer t = records.pending[index];
    records.pending[index] = records.pending[--records.pending_count];
    end_transfer(t, tell_caller);
}

constexpr size_t NONE = SIZE_MAX;

size_t pending_index_of(const OVERLAPPED* ov) {
    for (size_t i = 0; i < records.pending_count; ++i) {
        if (records.pending[i].ov == ov)
            return i;
    }
    return NONE;
}

bool ends_before(const PendingTransfer& a, const PendingTransfer& b) {
    return a.end_ns != b.end_ns ? a.end_ns < b.end_ns : a.issued_step < b.issued_step;
}

// Ends, in the order of their end times, every timed transfer that the
// clock has reached.
void end_due_transfers() {
    for (;;) {
        size_t first = NONE;
        for (size_t i = 0; i < records.pending_count; ++i) {
            const PendingTransfer& t = records.pending[i];
            if (!t.timed || t.end_ns > records.clock_ns)
                continue;
            if (first == NONE || ends_before(t, records.pending[first]))
                first = i;
        }
        if (first == NONE)
            return;
        end_pending(first, true);
    }
}

void advance_clock_to(uint64_t ns) {
    if (ns > records.clock_ns)
        records.clock_ns = ns;
    end_due_transfers();
}

uint64_t next_random() {  // xorshift64: the same seed gives the same order
    uint64_t x = records.random_state == 0 ? 1 : records.random_state;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    records.random_state = x;
    return x;
}

// The other untimed transfers of the same handle that may end before the
// one waited for, under the machine's completion order; NONE when no more.
size_t next_to_end_first(const PendingTransfer& waited) {
    size_t chosen = NONE;
    size_t candidates = 0;
    for (size_t i = 0; i < records.pending_count; ++i) {
        const PendingTransfer& t = records.pending[i];
        if (t.timed || t.ov == waited.ov || t.handle != waited.handle || t.passed_over)
            continue;
        switch (records.order) {
            case CompletionOrder::AsWaited:
                return NONE;
            case CompletionOrder::NewestFirst:
                if (t.issued_step > waited.issued_step &&
                    (chosen == NONE || t.issued_step > records.pending[chosen].issued_step)) {
                    chosen = i;
                }
                break;
            case CompletionOrder::Shuffled:
                // Each candidate is the one picked with equal chance.
                ++candidates;
                if (next_random() % candidates == 0)
                    chosen = i;
                break;
        }
    }
    return chosen;
}

// The program waits for the pending transfer at `index` until it has ended.
void settle(size_t index) {
    const PendingTransfer waited = records.pending[index];
    if (waited.timed) {
        advance_clock_to(waited.end_ns);
        return;
    }
    for (size_t other = next_to_end_first(waited); other != NONE;
         other = next_to_end_first(waited)) {
        if (records.order == CompletionOrder::Shuffled && next_random() % 2 == 0) {
            records.pending[other].passed_over = true;  // still in flight after this wait
            continue;
        }
        end_pending(other, true);
    }
    for (size_t i = 0; i < records.pending_count; ++i)
        records.pending[i].passed_over = false;
    end_pending(pending_index_of(waited.ov), true);
}

size_t note_issue(const PendingTransfer& t) {
    if (records.transfer_count == TRANSFER_CAPACITY)
        return TRANSFER_CAPACITY;
    records.transfers[records.transfer_count] = {
        t.drive_number, t.offset, t.count,          t.writing, t.buffer,
        t.issued_step,  0,        records.clock_ns, 0};
    return records.transfer_count++;
}

// Puts a transfer on the pending list; false when the list is full.
bool add_pending(const PendingTransfer& t) {
    if (records.pending_count == PENDING_CAPACITY)
        return false;
    records.pending[records.pending_count] = t;
    records.pending[records.pending_count++].event = t.ov == nullptr ? nullptr : t.ov->hEvent;
    if (!t.is_ioctl)
        machine->note_in_flight(static_cast<unsigned>(records.pending_count));
    return true;
}

// A synchronous call, or one made while transfers complete at once: the
// caller waits for it inside the call.
BOOL end_inside_call(HandleRecord& r, PendingTransfer t, LPDWORD done) {
    OVERLAPPED own{};  // a call without an OVERLAPPED learns its end through this one
    const bool has_own = t.ov == nullptr;
    if (has_own)
        t.ov = &own;
    if (!add_pending(t))
        return fail_with(ERROR_NOT_ENOUGH_MEMORY);
    settle(records.pending_count - 1);
    if (has_own || (r.flags & FILE_FLAG_OVERLAPPED) == 0)
        r.position = t.offset + t.count;
    if (done != nullptr)
        *done = static_cast<DWORD>(t.ov->InternalHigh);
    if (t.ov->Internal != 0)
        return fail_with(static_cast<DWORD>(t.ov->Internal));
    return TRUE;
}

BOOL leave_pending(const PendingTransfer& t) {
    if (!add_pending(t))
        return fail_with(ERROR_NOT_ENOUGH_MEMORY);
    t.ov->Internal = STATUS_PENDING_MARK;
    t.ov->InternalHigh = 0;
    return fail_with(ERROR_IO_PENDING);
}

// The time the drive will take, booked on its schedule when it has a speed.
void book(PendingTransfer& t) {
    Drive* d = find_drive(t.drive_number);
    t.timed = d != nullptr && d->speed.is_set();
    t.end_ns = t.timed ? book_transfer(d->speed, d->schedule, records.clock_ns, t.count, t.writing)
                       : records.clock_ns;
}

BOOL drive_io(HandleRecord& r, bool writing, void* buffer, DWORD count, LPDWORD done,
              LPOVERLAPPED ov) {
    const bool overlapped_handle = (r.flags & FILE_FLAG_OVERLAPPED) != 0;
    if (overlapped_handle && ov == nullptr)
        return fail_with(ERROR_INVALID_PARAMETER);
    if (ov != nullptr && ov->hEvent != nullptr)
        next.ResetEvent(ov->hEvent);
    const uint64_t offset = offset_of(ov, r);
    Drive* d = find_drive(r.drive_number);
    // A short transfer moves one sector less than asked.
    if (d != nullptr && offset == d->short_transfer_at && count >= 512)
        count -= 512;
    const bool fails =
        d != nullptr && std::find(d->transfers_failing_at.begin(), d->transfers_failing_at.end(),
                                  offset) != d->transfers_failing_at.end();
    if (!fails && !check_transfer(r, writing, buffer, count, offset))
        return FALSE;
    PendingTransfer t{};
    t.ov = ov;
    t.handle = &r;
    t.drive_number = r.drive_number;
    t.offset = offset;
    t.buffer = static_cast<uint8_t*>(buffer);
    t.count = count;
    t.error = fails ? ERROR_GEN_FAILURE : 0;
    t.writing = writing;
    t.issued_step = ++records.step;
    t.record = note_issue(t);
    book(t);  // a transfer that fails takes its time all the same
    if (fails)
        t.count = 0;
    if (!overlapped_handle || machine->complete_at_once())
        return end_inside_call(r, t, done);
    return leave_pending(t);
}

BOOL WINAPI sim_ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    HandleRecord* r = record_of(h);
    if (r == nullptr || r->kind != Kind::drive)
        return next.ReadFile(h, buffer, count, done, ov);
    return drive_io(*r, false, buffer, count, done, ov);
}

BOOL WINAPI sim_WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    HandleRecord* r = record_of(h);
    if (r == nullptr || r->kind != Kind::drive)
        return next.WriteFile(h, buffer, count, done, ov);
    return drive_io(*r, true, const_cast<void*>(buffer), count, done, ov);
}

BOOL WINAPI sim_GetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD done, BOOL wait) {
    HandleRecord* r = record_of(h);
    if (r == nullptr || r->kind != Kind::drive)
        return next.GetOverlappedResult(h, ov, done, wait);
    const size_t index = pending_index_of(ov);
    if (index != NONE) {
        const PendingTransfer& t = records.pending[index];
        // Without waiting, a timed transfer is done only once the clock has
        // reached its end; an untimed one is done whenever it is asked for.
        if (!wait && t.timed && t.end_ns > records.clock_ns)
            return fail_with(ERROR_IO_INCOMPLETE);
        settle(index);
    }
    *done = static_cast<DWORD>(ov->InternalHigh);
    return ov->Internal == 0 ? TRUE : fail_with(static_cast<DWORD>(ov->Internal));
}

// A wait on the event of a pending transfer is a wait for that transfer
// (the one that ends first, when several share the event). False when the
// wait's time runs out before it ends.
static bool end_transfer_waited_for(HANDLE h, DWORD timeout_ms) {
    size_t first = NONE;
    for (size_t i = 0; i < records.pending_count; ++i) {
        const PendingTransfer& t = records.pending[i];
        if (t.event == nullptr || t.event != h)
            continue;
        if (first == NONE || ends_before(t, records.pending[first]))
            first = i;
    }
    if (first != NONE) {
        const PendingTransfer& t = records.pending[first];
        const uint64_t timeout_ns = uint64_t{timeout_ms} * (CLOCK_TICKS_PER_SECOND / 1000);
        if (t.timed && timeout_ms != INFINITE && records.clock_ns + timeout_ns < t.end_ns) {
            advance_clock_to(records.clock_ns + timeout_ns);
            return false;
        }
        settle(first);
    }
    return true;
}

// The binding's own wait comes after, outside the machine's turn: the
// event may be one that another thread sets through the machine.
DWORD WINAPI sim_WaitForSingleObject(HANDLE h, DWORD timeout_ms) {
    {
        std::lock_guard<std::recursive_mutex> turn(calls_turn);
        if (!end_transfer_waited_for(h, timeout_ms))
            return WAIT_TIMEOUT;
    }
    return next.WaitForSingleObject(h, timeout_ms);
}

// Transfers nobody waited for still end: at the latest, the device finishes
// them when their handle is closed.
void end_transfers_of(const HandleRecord& drive_handle) {
    for (;;) {
        size_t first = NONE;
        for (size_t i = 0; i < records.pending_count; ++i) {
            const PendingTransfer& t = records.pending[i];
            if (t.handle != &drive_handle)
                continue;
            if (first == NONE || t.issued_step < records.pending[first].issued_step)
                first = i;
        }
        if (first == NONE)
            return;
        end_pending(first, false);
    }
}

// Time passes for the program but not for the test: pauses are added up.
uint64_t slept_total_ms = 0;
void WINAPI sim_Sleep(DWORD ms) {
    slept_total_ms += ms;
    advance_clock_to(records.clock_ns + uint64_t{ms} * (CLOCK_TICKS_PER_SECOND / 1000));
}

BOOL WINAPI sim_QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = static_cast<LONGLONG>(records.clock_ns);
    return TRUE;
}

BOOL WINAPI sim_QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = static_cast<LONGLONG>(CLOCK_TICKS_PER_SECOND);
    return TRUE;
}

}  // namespace detail
}  // namespace sim
