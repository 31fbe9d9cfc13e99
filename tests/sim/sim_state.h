// What the pieces of the simulated machine share: the recorded state, kept
// in one static object of fixed capacities (the replacement calls never
// allocate), and the helpers more than one piece uses. Only the machine's
// own files include this; tests use sim_machine.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>

#include "sim/sim_machine.h"

namespace sim {
namespace detail {

enum CallIndex : unsigned {
#define SYS_CALL(ret, name, fail_value, params, args) CALL_##name,
#define SYS_PLAIN(ret, name, params, args) CALL_##name,
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
    CALL_COUNT
};

extern const char* const CALL_NAMES[CALL_COUNT];
extern const bool CALL_FAILABLE[CALL_COUNT];
int call_index(const char* name);

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
    bool on_network = false;  // a file under one of the machine's network folders
    // Files and folders: the path the program reached it by (a held
    // folder's path and a name, for an open by handle), the sharing it
    // allowed, and the tag of the reparse point it opened itself (0: none).
    WCHAR path[NAME_RECORD_UNITS] = {};
    DWORD share = 0;
    DWORD reparse_tag = 0;
};

struct NameRecord {
    unsigned call;
    WCHAR path[NAME_RECORD_UNITS];
    DWORD access;
    DWORD share;
    DWORD disposition;
    DWORD flags;
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
constexpr size_t NAME_CAPACITY = 1024;
constexpr ULONG_PTR STATUS_PENDING_MARK = 0x103;  // Internal of an OVERLAPPED in flight
constexpr uintptr_t SIM_HANDLE_BASE = 0x5A000000;

// A drive transfer (or control request) that has not ended yet.
struct PendingTransfer {
    OVERLAPPED* ov;
    // The OVERLAPPED's event as issued: a wait looks for it without reading
    // an OVERLAPPED whose owner may have given up on it.
    HANDLE event;
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

// One thread's continuous execution state (SetThreadExecutionState).
struct ThreadExecutionState {
    DWORD thread_id;
    EXECUTION_STATE state;
};
constexpr size_t EXECUTION_THREAD_CAPACITY = 32;
constexpr size_t EXECUTION_CALL_CAPACITY = 1024;
constexpr size_t BLOCK_REASON_UNITS = 128;
constexpr size_t CONSOLE_HANDLER_CAPACITY = 8;

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
    NameRecord names[NAME_CAPACITY];
    size_t name_count;
    bool names_dropped;  // more than NAME_CAPACITY: name_uses() refuses to answer
    uint64_t step;
    uint64_t clock_ns;
    CompletionOrder order;
    uint64_t random_state;
    // The session: what keeps the system awake and the session from ending.
    ThreadExecutionState execution_states[EXECUTION_THREAD_CAPACITY];
    ExecutionStateCall execution_calls[EXECUTION_CALL_CAPACITY];
    size_t execution_call_count;
    bool free_space_set;
    uint64_t free_space_bytes;
    WCHAR free_space_folder[BLOCK_REASON_UNITS];  // the last folder asked about, cut to fit
    const void* shutdown_block_window;            // null: no block
    WCHAR shutdown_block_reason[BLOCK_REASON_UNITS];
    unsigned shutdown_block_creates;
    unsigned shutdown_block_destroys;
    // The console's handlers, in the order they were added.
    PHANDLER_ROUTINE console_handlers[CONSOLE_HANDLER_CAPACITY];
    size_t console_handler_count;
};

extern Records records;
// A run may call through the seam from two threads (its hashing thread
// waits and signals beside the transfers): the machine's records are one
// object, so its calls take turns here. A wait that the binding serves
// (an event no transfer uses, a thread) waits outside its turn.
extern std::recursive_mutex calls_turn;
extern thread_local DWORD thread_error_mode;
extern Machine* machine;
extern std::list<Drive>* drive_list;
extern std::list<Volume>* volume_list;
extern sys::CallTable next;  // the binding's calls, below the simulation
extern uint64_t slept_total_ms;

// ---- records ----------------------------------------------------------------

HandleRecord* record_of(HANDLE h);
HandleRecord* new_record(Kind kind, HANDLE real);
BOOL fail_with(DWORD error);
// Counts a use of the call and tells whether a fault rule fails it.
bool should_fail(unsigned call, uint32_t ioctl, DWORD& error);
Drive* find_drive(uint32_t number);
void note_open(uint32_t drive_number, bool for_writing);
void note_happening(Happening::Kind kind, uint32_t drive_number, uint64_t offset,
                    const Volume* volume);
void note_device_open();
// Writes down a call that named a file (see NameUse).
void note_name(unsigned call, LPCWSTR path, DWORD access, DWORD share, DWORD disposition,
               DWORD flags);
bool under_network_folder(LPCWSTR path);

// ---- reparse points -------------------------------------------------------

// Where a path leads through the machine's reparse points: into `out`
// (NAME_RECORD_UNITS units), with the tag of the one it ends on when it is
// opened itself (`open_last_itself`, FILE_FLAG_OPEN_REPARSE_POINT), or that
// is not a link.
void resolve_path(const WCHAR* path, bool open_last_itself, WCHAR* out, DWORD& tag);
// Tells the test's watcher, if any, which path a call just reached.
void after_name(const WCHAR* path);
void keep_path(HandleRecord& r, const WCHAR* path, DWORD share, DWORD tag);
#ifdef _WIN32
// What a redirector answers for FileRemoteProtocolInfo.
BOOL remote_protocol_info(const HandleRecord& r, LPVOID info, DWORD size);
#endif

// ---- volumes ----------------------------------------------------------------

Volume* find_volume(const WCHAR* path);
// The volume's place in the machine's list; HANDLE_CAPACITY when it has none.
size_t volume_order(const Volume* v);
bool touches_mounted_volume(uint32_t drive_number, uint64_t offset, uint64_t count);
void let_lock_go(const HandleRecord& r);

// ---- drive bytes and transfers ----------------------------------------------

// Moves the bytes of a transfer that ends now; a failure of the drive's
// file becomes the transfer's error.
void move_bytes(PendingTransfer& t);
// A call the caller waits for inside it, or one that is left pending.
BOOL end_inside_call(HandleRecord& r, PendingTransfer t, LPDWORD done);
BOOL leave_pending(const PendingTransfer& t);
void end_transfers_of(const HandleRecord& drive_handle);

// ---- the replacement calls ----------------------------------------------------

HANDLE WINAPI sim_CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                              DWORD disposition, DWORD flags, HANDLE template_file);
BOOL WINAPI sim_CloseHandle(HANDLE h);
BOOL WINAPI sim_DeleteFileW(LPCWSTR path);
HANDLE WINAPI sim_ReOpenFile(HANDLE original, DWORD access, DWORD share, DWORD flags);
BOOL WINAPI sim_GetFileInformationByHandleEx(HANDLE h, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                             DWORD size);
BOOL WINAPI sim_CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES sa);
NTSTATUS WINAPI sim_NtCreateFile(PHANDLE h, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                 PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation,
                                 ULONG file_attributes, ULONG share, ULONG disposition,
                                 ULONG options, PVOID ea, ULONG ea_length);
HANDLE WINAPI sim_CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL manual_reset, BOOL initial_state,
                               LPCWSTR name);
BOOL WINAPI sim_DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                                DWORD out_size, LPDWORD returned, LPOVERLAPPED ov);
BOOL WINAPI sim_ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov);
BOOL WINAPI sim_WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov);
BOOL WINAPI sim_GetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD done, BOOL wait);
DWORD WINAPI sim_WaitForSingleObject(HANDLE h, DWORD timeout_ms);
BOOL WINAPI sim_GetFileSizeEx(HANDLE h, PLARGE_INTEGER size);
BOOL WINAPI sim_FlushFileBuffers(HANDLE h);
HANDLE WINAPI sim_FindFirstVolumeW(LPWSTR name, DWORD capacity);
BOOL WINAPI sim_GetVolumePathNameW(LPCWSTR path, LPWSTR mount_point, DWORD capacity);
BOOL WINAPI sim_GetVolumeNameForVolumeMountPointW(LPCWSTR mount_point, LPWSTR name, DWORD capacity);
EXECUTION_STATE WINAPI sim_SetThreadExecutionState(EXECUTION_STATE flags);
BOOL WINAPI sim_FindNextVolumeW(HANDLE search, LPWSTR name, DWORD capacity);
BOOL WINAPI sim_FindVolumeClose(HANDLE search);
void WINAPI sim_Sleep(DWORD ms);
BOOL WINAPI sim_QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL WINAPI sim_QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL WINAPI sim_SetThreadErrorMode(DWORD mode, LPDWORD previous);
BOOL WINAPI sim_GetDiskFreeSpaceExW(LPCWSTR folder, PULARGE_INTEGER free_to_caller,
                                    PULARGE_INTEGER total, PULARGE_INTEGER free_total);
BOOL WINAPI sim_SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add);
#ifdef _WIN32
BOOL WINAPI sim_ShutdownBlockReasonCreate(HWND hwnd, LPCWSTR reason);
BOOL WINAPI sim_ShutdownBlockReasonDestroy(HWND hwnd);
#endif
UINT WINAPI sim_GetWindowsDirectoryW(LPWSTR buffer, UINT capacity);
BOOL WINAPI sim_OpenProcessToken(HANDLE, DWORD, PHANDLE token);
BOOL WINAPI sim_GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID info,
                                    DWORD size, PDWORD returned);

// Puts the fault layer and the replacement calls into the seam.
void install();

}  // namespace detail
}  // namespace sim
