#include "sim/sim_machine.h"

#include <algorithm>
#include <cstring>
#include <list>

namespace sim {
namespace {

// ---- call indices and names, from the seam's list -------------------------

enum CallIndex : unsigned {
#define SYS_CALL(ret, name, fail_value, params, args) CALL_##name,
#define SYS_PLAIN(ret, name, params, args) CALL_##name,
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
    CALL_COUNT
};

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

// ---- recorded state (fixed capacities: the calls never allocate) ----------

enum class Kind { none, drive, volume, token, file, event, search };

struct HandleRecord {
    Kind kind = Kind::none;
    HANDLE handle = nullptr;
    uint32_t drive_number = 0;
    Volume* volume = nullptr;
    DWORD access = 0;
    DWORD flags = 0;
    uint64_t position = 0;  // a file pointer, or a volume search's next index
};

struct FaultRule {
    bool active = false;
    unsigned call = 0;
    DWORD error = 0;
    unsigned nth = 0;
    unsigned seen = 0;
    uint32_t ioctl = 0;
};

constexpr size_t HANDLE_CAPACITY = 512;
constexpr size_t FAULT_CAPACITY = 32;
constexpr size_t IOCTL_CAPACITY = 4096;
constexpr size_t WRITE_CAPACITY = 65536;
constexpr size_t PENDING_CAPACITY = 64;
constexpr size_t TIMELINE_CAPACITY = 65536;
constexpr size_t OPENED_CAPACITY = 4096;
constexpr size_t TRANSFER_CAPACITY = 65536;
constexpr ULONG_PTR STATUS_PENDING_MARK = 0x103;  // Internal of an OVERLAPPED in flight
constexpr uintptr_t SIM_HANDLE_BASE = 0x5A000000;

// A drive transfer (or control request) that has not ended yet.
struct PendingTransfer {
    OVERLAPPED* ov;
    const HandleRecord* handle;
    uint32_t drive_number;
    uint64_t offset;
    uint8_t* buffer;
    DWORD count;  // bytes it moves; for a control request, the bytes it returned
    DWORD error;  // what it ends with; 0 for success
    bool writing;
    bool is_ioctl;
    bool timed;        // its drive has a speed: it ends at end_ns
    bool passed_over;  // left in flight by the wait in progress
    uint64_t end_ns;
    uint64_t issued_step;
    // Its entry in Records::transfers (for a control request, in
    // Records::ioctls); past the end when it has none.
    size_t record;
};

struct TimelineEntry {
    Happening::Kind kind;
    uint32_t drive_number;
    uint64_t offset;
    const Volume* volume;
};

struct Records {
    HandleRecord handles[HANDLE_CAPACITY];
    FaultRule faults[FAULT_CAPACITY];
    unsigned uses[CALL_COUNT];
    IoctlRecord ioctls[IOCTL_CAPACITY];
    size_t ioctl_count;
    WriteRecord writes[WRITE_CAPACITY];
    size_t write_count;
    PendingTransfer pending[PENDING_CAPACITY];
    size_t pending_count;
    uint32_t opened[OPENED_CAPACITY];
    bool opened_for_writing[OPENED_CAPACITY];
    size_t opened_count;
    HandleRecord* lock_holders[HANDLE_CAPACITY];  // by volume order; see held_lock_count
    const Volume* dismounted[HANDLE_CAPACITY];
    size_t dismounted_count;
    // By volume order: the lock holder that dismounted the volume. It stays
    // unmounted while that same handle holds the lock.
    const HandleRecord* dismounted_under[HANDLE_CAPACITY];
    TimelineEntry timeline[TIMELINE_CAPACITY];
    size_t timeline_count;
    unsigned device_opens_with_error_boxes;
    TransferRecord transfers[TRANSFER_CAPACITY];
    size_t transfer_count;
    uint64_t step;
    uint64_t clock_ns;
    CompletionOrder order;
    uint64_t random_state;
};

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

Volume* find_volume(const WCHAR* path) {
    for (Volume& v : *volume_list) {
        size_t i = 0;
        while (i < v.path.size() && path[i] != 0 && static_cast<char16_t>(path[i]) == v.path[i]) {
            ++i;
        }
        if (i == v.path.size() && path[i] == 0)
            return &v;
    }
    return nullptr;
}

// "\\.\PhysicalDriveN" gives N; anything else gives false.
bool parse_drive_path(const WCHAR* path, uint32_t& number) {
    static const char PREFIX[] = "\\\\.\\PhysicalDrive";
    size_t i = 0;
    for (; PREFIX[i] != 0; ++i) {
        if (path[i] == 0)
            return false;
        WCHAR c = path[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<WCHAR>(c - 32);
        char p = PREFIX[i];
        if (p >= 'a' && p <= 'z')
            p = static_cast<char>(p - 32);
        if (c != static_cast<WCHAR>(p))
            return false;
    }
    if (path[i] == 0)
        return false;
    uint64_t value = 0;
    for (; path[i] != 0; ++i) {
        if (path[i] < '0' || path[i] > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(path[i] - '0');
        if (value > 0xFFFFFFFFull)
            return false;
    }
    number = static_cast<uint32_t>(value);
    return true;
}

bool is_device_path(const WCHAR* path) {
    return path[0] == '\\' && path[1] == '\\' && (path[2] == '.' || path[2] == '?') &&
           path[3] == '\\';
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

size_t volume_order(const Volume* v) {
    size_t i = 0;
    for (const Volume& each : *volume_list) {
        if (&each == v)
            return i;
        ++i;
    }
    return HANDLE_CAPACITY;
}

// A volume is mounted unless the handle that holds its lock dismounted it.
bool is_mounted(const Volume& v) {
    const size_t order = volume_order(&v);
    if (order >= HANDLE_CAPACITY)
        return true;
    const HandleRecord* holder = records.lock_holders[order];
    return holder == nullptr || records.dismounted_under[order] != holder;
}

uint64_t load_u64_at(const std::vector<uint8_t>& bytes, size_t at) {
    uint64_t value;
    memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// Windows refuses raw writes into a mounted volume: true when the bytes
// touch an extent of one on this drive.
bool touches_mounted_volume(uint32_t drive_number, uint64_t offset, uint64_t count) {
    for (const Volume& v : *volume_list) {
        if (!is_mounted(v) || v.extents.size() < 8)
            continue;
        uint32_t extent_count;
        memcpy(&extent_count, v.extents.data(), sizeof extent_count);
        for (size_t i = 0; i < extent_count && 8 + 24 * (i + 1) <= v.extents.size(); ++i) {
            const size_t at = 8 + 24 * i;
            uint32_t disk;
            memcpy(&disk, v.extents.data() + at, sizeof disk);
            const uint64_t start = load_u64_at(v.extents, at + 8);
            const uint64_t length = load_u64_at(v.extents, at + 16);
            if (disk == drive_number && offset < start + length && start < offset + count) {
                return true;
            }
        }
    }
    return false;
}

void let_lock_go(const HandleRecord& r) {
    size_t order = 0;
    for (HandleRecord*& holder : records.lock_holders) {
        if (holder == &r) {
            holder = nullptr;  // the volume is mounted again
            records.dismounted_under[order] = nullptr;
            note_happening(Happening::Kind::LockReleased, 0, 0, r.volume);
        }
        ++order;
    }
}

// ---- the replacement calls ------------------------------------------------

HANDLE WINAPI sim_CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                              DWORD disposition, DWORD flags, HANDLE template_file) {
    uint32_t number = 0;
    if (parse_drive_path(path, number)) {
        Drive* d = find_drive(number);
        if (d == nullptr) {
            next.SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (access != 0 && (!machine->elevated() || d->deny_access)) {
            next.SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        HandleRecord* r = new_record(Kind::drive, nullptr);
        if (r == nullptr) {
            next.SetLastError(ERROR_TOO_MANY_OPEN_FILES);
            return INVALID_HANDLE_VALUE;
        }
        r->drive_number = number;
        r->access = access;
        r->flags = flags;
        note_open(number, (access & GENERIC_WRITE) != 0);
        note_device_open();
        if (access != 0 && d->after_open_with_access) {
            const auto change = std::move(d->after_open_with_access);
            d->after_open_with_access = nullptr;
            change(*machine);  // may remove or replace the drive: d is not used after this
        }
        return r->handle;
    }
    if (Volume* v = find_volume(path)) {
        note_device_open();
        if (access != 0 && v->open_error != 0) {
            next.SetLastError(v->open_error);
            return INVALID_HANDLE_VALUE;
        }
        HandleRecord* r = new_record(Kind::volume, nullptr);
        if (r == nullptr) {
            next.SetLastError(ERROR_TOO_MANY_OPEN_FILES);
            return INVALID_HANDLE_VALUE;
        }
        r->volume = v;
        r->access = access;
        r->flags = flags;
        return r->handle;
    }
    if (is_device_path(path)) {
        next.SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = next.CreateFileW(path, access, share, sa, disposition, flags, template_file);
    if (h != INVALID_HANDLE_VALUE) {
        HandleRecord* r = new_record(Kind::file, h);
        if (r != nullptr)
            r->access = access;
    }
    return h;
}

void end_transfers_of(const HandleRecord& drive_handle);

BOOL WINAPI sim_CloseHandle(HANDLE h) {
    HandleRecord* r = record_of(h);
    if (r == nullptr)
        return next.CloseHandle(h);
    BOOL closed = TRUE;
    if (r->kind == Kind::file || r->kind == Kind::event)
        closed = next.CloseHandle(h);
    if (r->kind == Kind::volume)
        let_lock_go(*r);  // closing a volume handle ends its lock
    if (r->kind == Kind::drive)
        end_transfers_of(*r);
    *r = HandleRecord{};
    return closed;
}

HANDLE WINAPI sim_CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL manual_reset, BOOL initial_state,
                               LPCWSTR name) {
    HANDLE h = next.CreateEventW(sa, manual_reset, initial_state, name);
    if (h != nullptr)
        new_record(Kind::event, h);
    return h;
}

BOOL copy_out(const std::vector<uint8_t>& bytes, LPVOID out, DWORD out_size, LPDWORD returned) {
    const DWORD count = bytes.size() < out_size ? static_cast<DWORD>(bytes.size()) : out_size;
    if (count > 0)
        memcpy(out, bytes.data(), count);
    if (returned != nullptr)
        *returned = count;
    return TRUE;
}

// Gives the record's index, or IOCTL_CAPACITY when the list is full.
size_t note_ioctl(DWORD code, const HandleRecord& r, const OVERLAPPED* ov) {
    if (records.ioctl_count == IOCTL_CAPACITY)
        return IOCTL_CAPACITY;
    records.ioctls[records.ioctl_count] = {code, r.kind == Kind::drive, r.drive_number,
                                           ov != nullptr, false};
    return records.ioctl_count++;
}

BOOL volume_ioctl(HandleRecord& r, DWORD code, LPVOID out, DWORD out_size, LPDWORD returned) {
    Volume& v = *r.volume;
    const size_t order = volume_order(&v);
    if (order >= HANDLE_CAPACITY)
        return fail_with(ERROR_INVALID_HANDLE);
    HandleRecord*& holder = records.lock_holders[order];
    switch (code) {
        case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
            if (v.extents_error != 0)
                return fail_with(v.extents_error);
            if (out_size < v.extents.size())
                return fail_with(ERROR_MORE_DATA);
            return copy_out(v.extents, out, out_size, returned);
        case FSCTL_LOCK_VOLUME:
            if (holder != nullptr && holder != &r)
                return fail_with(ERROR_ACCESS_DENIED);
            if (v.refuse_lock_attempts > 0) {
                --v.refuse_lock_attempts;
                return fail_with(ERROR_ACCESS_DENIED);
            }
            holder = &r;
            return TRUE;
        case FSCTL_UNLOCK_VOLUME:
            if (holder != &r)
                return fail_with(ERROR_NOT_SUPPORTED);
            let_lock_go(r);
            return TRUE;
        case FSCTL_DISMOUNT_VOLUME:
            if (v.refuse_dismount)
                return fail_with(ERROR_ACCESS_DENIED);
            if (holder == &r)
                records.dismounted_under[order] = &r;
            if (records.dismounted_count < HANDLE_CAPACITY) {
                records.dismounted[records.dismounted_count++] = &v;
            }
            return TRUE;
        default:
            return fail_with(ERROR_INVALID_FUNCTION);
    }
}

BOOL drive_ioctl(HandleRecord& r, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                 LPDWORD returned) {
    Drive* d = find_drive(r.drive_number);
    if (d == nullptr)
        return fail_with(ERROR_DEV_NOT_EXIST);
    switch (code) {
        case IOCTL_STORAGE_QUERY_PROPERTY: {
            uint8_t zeros[12] = {};
            if (in == nullptr || in_size < 12 || memcmp(in, zeros, 8) != 0) {
                return fail_with(ERROR_INVALID_PARAMETER);
            }
            return copy_out(d->descriptor, out, out_size, returned);
        }
        case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX:
            if (out_size < d->geometry.size() && out_size < 32) {
                return fail_with(ERROR_INSUFFICIENT_BUFFER);
            }
            return copy_out(d->geometry, out, out_size, returned);
        case IOCTL_DISK_UPDATE_PROPERTIES:
            if (returned != nullptr)
                *returned = 0;
            return TRUE;
        default:
            return fail_with(ERROR_INVALID_FUNCTION);
    }
}

uint64_t offset_of(const OVERLAPPED* ov, const HandleRecord& r) {
    if (ov == nullptr)
        return r.position;
    return (static_cast<uint64_t>(ov->OffsetHigh) << 32) | ov->Offset;
}

// The drive's storage: its file when it has one, otherwise `contents`.
BOOL store_bytes(Drive& d, const uint8_t* bytes, DWORD count, uint64_t offset) {
    if (d.file.is_open()) {
        DWORD error = 0;
        if (!d.file.write(offset, bytes, count, error))
            return fail_with(error);
        return TRUE;
    }
    memcpy(d.contents.data() + offset, bytes, count);
    return TRUE;
}

BOOL load_bytes(const Drive& d, uint8_t* bytes, DWORD count, uint64_t offset) {
    if (d.file.is_open()) {
        DWORD error = 0;
        if (!d.file.read(offset, bytes, count, error))
            return fail_with(error);
        return TRUE;
    }
    const uint64_t stored = d.contents.size();
    const uint64_t from_contents =
        offset >= stored ? 0 : std::min<uint64_t>(count, stored - offset);
    if (from_contents > 0)
        memcpy(bytes, d.contents.data() + offset, from_contents);
    memset(bytes + from_contents, 0, count - from_contents);
    return TRUE;
}

// Bytes that change behind the engine's back, once, after its first write.
void flip_after_first_write(Drive& d) {
    const uint64_t stored = d.file.is_open() ? d.size_bytes : d.contents.size();
    for (uint64_t at : d.flip_after_first_write) {
        if (at >= stored)
            continue;
        uint8_t byte = 0;
        if (!load_bytes(d, &byte, 1, at))
            continue;
        byte ^= 0xFF;
        (void)store_bytes(d, &byte, 1, at);
    }
    d.flip_after_first_write.clear();
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

// Moves the bytes of a transfer that ends now; a failure of the drive's
// file becomes the transfer's error.
void move_bytes(PendingTransfer& t) {
    if (t.is_ioctl || t.error != 0)
        return;
    Drive* d = find_drive(t.drive_number);
    if (d == nullptr) {
        t.error = ERROR_DEV_NOT_EXIST;
        return;
    }
    if (!t.writing) {
        if (!load_bytes(*d, t.buffer, t.count, t.offset))
            t.error = next.GetLastError();
        return;
    }
    if (!d->drop_writes && !store_bytes(*d, t.buffer, t.count, t.offset)) {
        t.error = next.GetLastError();
        return;
    }
    if (records.write_count < WRITE_CAPACITY) {
        records.writes[records.write_count++] = {t.drive_number, t.offset, t.count};
    }
    flip_after_first_write(*d);
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
    records.pending[records.pending_count++] = t;
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
// (the one that ends first, when several share the event).
DWORD WINAPI sim_WaitForSingleObject(HANDLE h, DWORD timeout_ms) {
    size_t first = NONE;
    for (size_t i = 0; i < records.pending_count; ++i) {
        const PendingTransfer& t = records.pending[i];
        if (t.ov == nullptr || t.ov->hEvent != h)
            continue;
        if (first == NONE || ends_before(t, records.pending[first]))
            first = i;
    }
    if (first != NONE) {
        const PendingTransfer& t = records.pending[first];
        const uint64_t timeout_ns = uint64_t{timeout_ms} * (CLOCK_TICKS_PER_SECOND / 1000);
        if (t.timed && timeout_ms != INFINITE && records.clock_ns + timeout_ns < t.end_ns) {
            advance_clock_to(records.clock_ns + timeout_ns);
            return WAIT_TIMEOUT;
        }
        settle(first);
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

// A control request on an overlapped drive handle does its work when it is
// made, then pends like a transfer until it is waited for.
BOOL WINAPI sim_DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                                DWORD out_size, LPDWORD returned, LPOVERLAPPED ov) {
    HandleRecord* r = record_of(h);
    if (r == nullptr || r->kind == Kind::file || r->kind == Kind::event) {
        return next.DeviceIoControl(h, code, in, in_size, out, out_size, returned, ov);
    }
    const size_t noted = note_ioctl(code, *r, ov);
    const bool overlapped_handle = (r->flags & FILE_FLAG_OVERLAPPED) != 0;
    if (overlapped_handle && ov == nullptr)
        return fail_with(ERROR_INVALID_PARAMETER);
    if (r->kind == Kind::volume)
        return volume_ioctl(*r, code, out, out_size, returned);
    if (r->kind != Kind::drive)
        return fail_with(ERROR_INVALID_HANDLE);
    if (ov != nullptr && ov->hEvent != nullptr)
        next.ResetEvent(ov->hEvent);
    DWORD got = 0;
    if (!drive_ioctl(*r, code, in, in_size, out, out_size, &got))
        return FALSE;
    if (returned != nullptr)
        *returned = got;
    if (!overlapped_handle)
        return TRUE;
    PendingTransfer t{};
    t.ov = ov;
    t.handle = r;
    t.drive_number = r->drive_number;
    t.count = got;
    t.is_ioctl = true;
    t.issued_step = ++records.step;
    t.end_ns = records.clock_ns;
    t.record = noted;
    if (machine->complete_at_once())
        return end_inside_call(*r, t, returned);
    return leave_pending(t);
}

BOOL WINAPI sim_GetFileSizeEx(HANDLE h, PLARGE_INTEGER size) {
    HandleRecord* r = record_of(h);
    if (r == nullptr || r->kind == Kind::file)
        return next.GetFileSizeEx(h, size);
    return fail_with(ERROR_INVALID_FUNCTION);
}

BOOL WINAPI sim_FlushFileBuffers(HANDLE h) {
    HandleRecord* r = record_of(h);
    if (r == nullptr || r->kind == Kind::file)
        return next.FlushFileBuffers(h);
    return TRUE;
}

// Writes the listed volume at `index` (with its trailing backslash, as
// Windows names volumes in a search) and moves past it.
BOOL volume_name_at(HandleRecord& search, LPWSTR name, DWORD capacity) {
    size_t index = 0;
    for (const Volume& v : *volume_list) {
        if (v.hidden)
            continue;
        if (index++ < search.position)
            continue;
        if (v.path.size() + 2 > capacity)
            return fail_with(ERROR_MORE_DATA);
        for (size_t i = 0; i < v.path.size(); ++i)
            name[i] = static_cast<WCHAR>(v.path[i]);
        name[v.path.size()] = U16('\\');
        name[v.path.size() + 1] = 0;
        ++search.position;
        return TRUE;
    }
    return fail_with(ERROR_NO_MORE_FILES);
}

HANDLE WINAPI sim_FindFirstVolumeW(LPWSTR name, DWORD capacity) {
    HandleRecord* r = new_record(Kind::search, nullptr);
    if (r == nullptr) {
        next.SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    if (!volume_name_at(*r, name, capacity)) {
        const DWORD error = next.GetLastError();
        *r = HandleRecord{};
        next.SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return r->handle;
}

BOOL WINAPI sim_FindNextVolumeW(HANDLE search, LPWSTR name, DWORD capacity) {
    HandleRecord* r = record_of(search);
    if (r == nullptr || r->kind != Kind::search)
        return fail_with(ERROR_INVALID_HANDLE);
    return volume_name_at(*r, name, capacity);
}

BOOL WINAPI sim_FindVolumeClose(HANDLE search) {
    HandleRecord* r = record_of(search);
    if (r == nullptr || r->kind != Kind::search)
        return fail_with(ERROR_INVALID_HANDLE);
    *r = HandleRecord{};
    return TRUE;
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

BOOL WINAPI sim_SetThreadErrorMode(DWORD mode, LPDWORD previous) {
    if (previous != nullptr)
        *previous = thread_error_mode;
    thread_error_mode = mode;
    return TRUE;
}

UINT WINAPI sim_GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) {
    const std::u16string& dir = machine->windows_directory();
    if (dir.empty())
        return fail_with(ERROR_PATH_NOT_FOUND);
    if (capacity <= dir.size())
        return static_cast<UINT>(dir.size() + 1);
    for (size_t i = 0; i < dir.size(); ++i)
        buffer[i] = static_cast<WCHAR>(dir[i]);
    buffer[dir.size()] = 0;
    return static_cast<UINT>(dir.size());
}

BOOL WINAPI sim_OpenProcessToken(HANDLE, DWORD, PHANDLE token) {
    HandleRecord* r = new_record(Kind::token, nullptr);
    if (r == nullptr)
        return fail_with(ERROR_TOO_MANY_OPEN_FILES);
    *token = r->handle;
    return TRUE;
}

BOOL WINAPI sim_GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID info,
                                    DWORD size, PDWORD returned) {
    HandleRecord* r = record_of(token);
    if (r == nullptr || r->kind != Kind::token)
        return fail_with(ERROR_INVALID_HANDLE);
    if (kind != TokenElevation)
        return fail_with(ERROR_INVALID_PARAMETER);
    if (returned != nullptr)
        *returned = sizeof(TOKEN_ELEVATION);
    if (size < sizeof(TOKEN_ELEVATION))
        return fail_with(ERROR_INSUFFICIENT_BUFFER);
    TOKEN_ELEVATION elevation{};
    elevation.TokenIsElevated = machine->elevated() ? 1 : 0;
    memcpy(info, &elevation, sizeof elevation);
    return TRUE;
}

// ---- fault layer: every failable call checks the rules first --------------

sys::CallTable layer;  // what the fault layer calls: the sim's call or the binding's

#define SYS_CALL(ret, name, fail_value, params, args) \
    ret WINAPI fault_##name params {                  \
        DWORD error = 0;                              \
        if (should_fail(CALL_##name, 0, error)) {     \
            next.SetLastError(error);                 \
            return fail_value;                        \
        }                                             \
        return layer.name args;                       \
    }
#define SYS_PLAIN(ret, name, params, args) \
    ret WINAPI fault_##name params {       \
        ++records.uses[CALL_##name];       \
        return layer.name args;            \
    }
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN

// DeviceIoControl faults can be limited to one control code.
BOOL WINAPI fault_DeviceIoControl_by_code(HANDLE h, DWORD code, LPVOID in, DWORD in_size,
                                          LPVOID out, DWORD out_size, LPDWORD returned,
                                          LPOVERLAPPED ov) {
    DWORD error = 0;
    if (should_fail(CALL_DeviceIoControl, code, error))
        return fail_with(error);
    return layer.DeviceIoControl(h, code, in, in_size, out, out_size, returned, ov);
}

// A handle whose close "fails" is gone all the same: Windows gives no way to
// retry, so the record goes too and only the result says it failed.
BOOL WINAPI fault_CloseHandle_after_close(HANDLE h) {
    DWORD error = 0;
    const bool fails = should_fail(CALL_CloseHandle, 0, error);
    const BOOL closed = layer.CloseHandle(h);
    if (fails)
        return fail_with(error);
    return closed;
}

BOOL WINAPI fault_FindVolumeClose_after_close(HANDLE search) {
    DWORD error = 0;
    const bool fails = should_fail(CALL_FindVolumeClose, 0, error);
    const BOOL closed = layer.FindVolumeClose(search);
    if (fails)
        return fail_with(error);
    return closed;
}

void install() {
    next = sys::default_calls();
    layer = next;
    layer.CreateFileW = sim_CreateFileW;
    layer.CloseHandle = sim_CloseHandle;
    layer.CreateEventW = sim_CreateEventW;
    layer.DeviceIoControl = sim_DeviceIoControl;
    layer.ReadFile = sim_ReadFile;
    layer.WriteFile = sim_WriteFile;
    layer.GetOverlappedResult = sim_GetOverlappedResult;
    layer.GetFileSizeEx = sim_GetFileSizeEx;
    layer.FlushFileBuffers = sim_FlushFileBuffers;
    layer.GetWindowsDirectoryW = sim_GetWindowsDirectoryW;
    layer.FindFirstVolumeW = sim_FindFirstVolumeW;
    layer.FindNextVolumeW = sim_FindNextVolumeW;
    layer.FindVolumeClose = sim_FindVolumeClose;
    layer.Sleep = sim_Sleep;
    layer.QueryPerformanceCounter = sim_QueryPerformanceCounter;
    layer.QueryPerformanceFrequency = sim_QueryPerformanceFrequency;
    layer.WaitForSingleObject = sim_WaitForSingleObject;
    layer.SetThreadErrorMode = sim_SetThreadErrorMode;
    layer.OpenProcessToken = sim_OpenProcessToken;
    layer.GetTokenInformation = sim_GetTokenInformation;
    sys::CallTable faults = {
#define SYS_CALL(ret, name, fail_value, params, args) fault_##name,
#define SYS_PLAIN(ret, name, params, args) fault_##name,
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
    };
    faults.DeviceIoControl = fault_DeviceIoControl_by_code;
    faults.CloseHandle = fault_CloseHandle_after_close;
    faults.FindVolumeClose = fault_FindVolumeClose_after_close;
    sys::calls = faults;
}

void put_u32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    memcpy(bytes.data() + at, &value, sizeof value);
}

void put_u64(std::vector<uint8_t>& bytes, size_t at, uint64_t value) {
    memcpy(bytes.data() + at, &value, sizeof value);
}

}  // namespace

// ---- descriptor builders --------------------------------------------------

std::vector<uint8_t> make_descriptor(uint32_t bus_type, bool removable, const std::string& vendor,
                                     const std::string& product, const std::string& serial) {
    constexpr size_t HEADER = 40;
    std::vector<uint8_t> bytes(HEADER, 0);
    auto append_text = [&bytes](const std::string& text) -> uint32_t {
        const uint32_t at = static_cast<uint32_t>(bytes.size());
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
        return at;
    };
    const uint32_t vendor_at = append_text(vendor);
    const uint32_t product_at = append_text(product);
    const uint32_t revision_at = append_text("1.00");
    const uint32_t serial_at = append_text(serial);
    put_u32(bytes, 0, HEADER);                               // Version
    put_u32(bytes, 4, static_cast<uint32_t>(bytes.size()));  // Size
    bytes[10] = removable ? 1 : 0;                           // RemovableMedia
    put_u32(bytes, 12, vendor_at);
    put_u32(bytes, 16, product_at);
    put_u32(bytes, 20, revision_at);
    put_u32(bytes, 24, serial_at);
    put_u32(bytes, 28, bus_type);
    return bytes;
}

std::vector<uint8_t> make_geometry(uint32_t bytes_per_sector, uint64_t size_bytes) {
    std::vector<uint8_t> bytes(40, 0);
    const uint64_t sectors_per_cylinder = 255ull * 63;
    const uint64_t sector = bytes_per_sector == 0 ? 1 : bytes_per_sector;
    put_u64(bytes, 0, size_bytes / sector / sectors_per_cylinder);  // Cylinders
    put_u32(bytes, 8, 11);                                          // RemovableMedia type
    put_u32(bytes, 12, 255);
    put_u32(bytes, 16, 63);
    put_u32(bytes, 20, bytes_per_sector);
    put_u64(bytes, 24, size_bytes);
    return bytes;
}

std::vector<uint8_t> make_extents(const std::vector<Extent>& extents) {
    std::vector<uint8_t> bytes(8 + 24 * extents.size(), 0);
    put_u32(bytes, 0, static_cast<uint32_t>(extents.size()));
    for (size_t i = 0; i < extents.size(); ++i) {
        put_u32(bytes, 8 + 24 * i, extents[i].disk_number);
        put_u64(bytes, 8 + 24 * i + 8, extents[i].offset);
        put_u64(bytes, 8 + 24 * i + 16, extents[i].length);
    }
    return bytes;
}

// ---- the machine ----------------------------------------------------------

namespace {
std::list<Drive> drive_storage;
std::list<Volume> volume_storage;
}  // namespace

Machine::Machine() {
    if (machine != nullptr)
        abort();  // one machine at a time: the seam has one table
    machine = this;
    drive_storage.clear();
    volume_storage.clear();
    drive_list = &drive_storage;
    volume_list = &volume_storage;
    memset(static_cast<void*>(&records), 0, sizeof records);  // all-zero is the empty state
    slept_total_ms = 0;
    thread_error_mode = 0;
    windows_directory_ = u"C:\\Windows";
    add_volume(u"\\\\.\\C:", {{0, 1048576, 64ull << 30}});
    install();
}

Machine::~Machine() {
    drive_storage.clear();  // closes the drives' files
    volume_storage.clear();
    sys::restore_default_calls();
    machine = nullptr;
    drive_list = nullptr;
    volume_list = nullptr;
}

Machine* Machine::current() {
    return machine;
}

Drive& Machine::add_drive(uint32_t number) {
    remove_drive(number);
    drive_storage.emplace_back();
    Drive& d = drive_storage.back();
    d.number = number;
    return d;
}

Drive& Machine::add_stick(const StickSpec& spec) {
    Drive& d = add_drive(spec.number);
    d.descriptor =
        make_descriptor(spec.bus_type, spec.removable, spec.vendor, spec.product, spec.serial);
    d.geometry = make_geometry(spec.bytes_per_sector, spec.size_bytes);
    d.bytes_per_sector = spec.bytes_per_sector;
    d.size_bytes = spec.size_bytes;
    return d;
}

Drive& Machine::add_system_disk(uint32_t number) {
    StickSpec spec{number};
    spec.vendor = "ATA";
    spec.product = "System SSD";
    spec.serial = "SYS" + std::to_string(number);
    spec.size_bytes = 512110190592ull;
    spec.bus_type = 11;  // SATA
    spec.removable = false;
    Drive& d = add_stick(spec);
    if (Volume* v = volume(u"\\\\.\\C:"))
        v->extents = make_extents({{number, 1048576, 1ull << 36}});
    return d;
}

bool Machine::keep_in_file(Drive& drive, const std::string& path, std::string& error) {
    return drive.file.open(path, drive.size_bytes, error);
}

void Machine::remove_drive(uint32_t number) {
    drive_storage.remove_if([number](const Drive& d) { return d.number == number; });
}

Drive* Machine::drive(uint32_t number) {
    return find_drive(number);
}

Volume& Machine::add_volume(const std::u16string& path, const std::vector<Extent>& extents) {
    volume_storage.emplace_back();
    Volume& v = volume_storage.back();
    v.path = path;
    v.extents = make_extents(extents);
    return v;
}

Volume* Machine::volume(const std::u16string& path) {
    for (Volume& v : volume_storage) {
        if (v.path == path)
            return &v;
    }
    return nullptr;
}

void Machine::set_windows_directory(const std::u16string& directory) {
    windows_directory_ = directory;
}

void Machine::fail_call(const char* name, DWORD error, unsigned nth, uint32_t ioctl) {
    const int index = call_index(name);
    if (index < 0 || !CALL_FAILABLE[index])
        abort();  // a typo in a test must not pass silently
    for (FaultRule& rule : records.faults) {
        if (rule.active)
            continue;
        rule = FaultRule{true, static_cast<unsigned>(index), error, nth, 0, ioctl};
        return;
    }
    abort();
}

void Machine::clear_faults() {
    for (FaultRule& rule : records.faults)
        rule = FaultRule{};
}

unsigned Machine::uses(const char* name) const {
    const int index = call_index(name);
    if (index < 0)
        abort();
    return records.uses[index];
}

void Machine::reset_uses() {
    memset(records.uses, 0, sizeof records.uses);
}

size_t Machine::open_handle_count() const {
    size_t count = 0;
    for (const HandleRecord& r : records.handles)
        count += r.kind != Kind::none ? 1 : 0;
    return count;
}

size_t Machine::live_event_count() const {
    size_t count = 0;
    for (const HandleRecord& r : records.handles)
        count += r.kind == Kind::event ? 1 : 0;
    return count;
}

size_t Machine::held_lock_count() const {
    size_t count = 0;
    for (const HandleRecord* holder : records.lock_holders)
        count += holder != nullptr ? 1 : 0;
    return count;
}

void Machine::set_completion_order(CompletionOrder order, uint64_t seed) {
    records.order = order;
    records.random_state = seed == 0 ? 1 : seed;
}

std::vector<TransferRecord> Machine::transfers() const {
    return {records.transfers, records.transfers + records.transfer_count};
}

uint64_t Machine::now_ns() const {
    return records.clock_ns;
}

std::vector<IoctlRecord> Machine::ioctls() const {
    return {records.ioctls, records.ioctls + records.ioctl_count};
}

uint64_t Machine::slept_ms() const {
    return slept_total_ms;
}

std::vector<std::u16string> Machine::volumes_dismounted() const {
    std::vector<std::u16string> paths;
    for (size_t i = 0; i < records.dismounted_count; ++i)
        paths.push_back(records.dismounted[i]->path);
    return paths;
}

std::vector<Happening> Machine::timeline() const {
    std::vector<Happening> happenings;
    for (size_t i = 0; i < records.timeline_count; ++i) {
        const TimelineEntry& e = records.timeline[i];
        happenings.push_back({e.kind, e.drive_number, e.offset,
                              e.volume != nullptr ? e.volume->path : std::u16string()});
    }
    return happenings;
}

unsigned Machine::device_opens_with_error_boxes() const {
    return records.device_opens_with_error_boxes;
}

std::vector<WriteRecord> Machine::writes() const {
    return {records.writes, records.writes + records.write_count};
}

bool Machine::drive_opened_for_writing(uint32_t number) const {
    for (size_t i = 0; i < records.opened_count; ++i) {
        if (records.opened[i] == number && records.opened_for_writing[i])
            return true;
    }
    return false;
}

std::vector<uint32_t> Machine::drives_opened() const {
    return {records.opened, records.opened + records.opened_count};
}

std::vector<std::string> Machine::failable_calls() {
    std::vector<std::string> names;
    for (unsigned i = 0; i < CALL_COUNT; ++i) {
        if (CALL_FAILABLE[i])
            names.emplace_back(CALL_NAMES[i]);
    }
    return names;
}

}  // namespace sim
