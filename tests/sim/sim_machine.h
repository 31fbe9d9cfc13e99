// The simulated machine: stands in for the hardware that neither Linux nor
// Wine has. A test creates one Machine; while it lives it is installed in the
// OS seam. It serves physical drives (descriptor bytes, geometry, contents),
// volumes with their disk extents, the Windows directory and the token's
// elevation; everything else passes through to the build's own binding.
//
// It enforces what real Windows enforces and Wine does not: unbuffered
// transfers must be whole sectors at sector offsets from 4096-aligned
// buffers, or fail with error 87; and a write through a drive handle into
// the extents of a volume that is still mounted fails with error 5 (a
// volume is mounted until a handle locks and then dismounts it, and again
// once that handle lets the lock go). It injects faults into any call, and
// records handles, events, locks, IOCTLs, writes and the order in which
// transfers end and locks are let go, so that a test can assert that
// nothing leaked and that nothing was written where or when it must not be.
//
// Configuration may allocate; the calls themselves do not, so that a test
// can count the allocations of the code under test.
//
// A drive's bytes live in memory (`contents`) or, for sticks of real size,
// in a sparse file (Machine::keep_in_file): every rule, record and fault
// below holds for both.
//
// Overlapped transfers on drives complete later, as on hardware: the call
// checks them and leaves them pending, and their bytes move from (or into)
// the caller's buffer only when they end. A transfer ends when the program
// waits for it (GetOverlappedResult, or WaitForSingleObject on its event),
// when the virtual clock passes its end (drives with a speed, sim_speed.h),
// or when its handle is closed. Transfers in flight may end in another
// order than they were issued: by their end times on a drive with a speed,
// otherwise as the machine's completion order says. A handle opened with
// FILE_FLAG_OVERLAPPED refuses ReadFile, WriteFile and DeviceIoControl
// without an OVERLAPPED (error 87), as Windows documents.
//
// While the machine is installed, QueryPerformanceCounter reads its virtual
// clock (nanoseconds; QueryPerformanceFrequency gives 10^9), so durations
// measured by the program are those of the speed model and nothing else.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/sim_backing_file.h"
#include "sim/sim_speed.h"
#include "sys/sys.h"

namespace sim {

struct Extent {
    uint32_t disk_number;
    uint64_t offset;
    uint64_t length;
};

// Raw STORAGE_DEVICE_DESCRIPTOR bytes in the layout Windows returns: the
// header, then the vendor, product, revision and serial texts, NUL-ended.
std::vector<uint8_t> make_descriptor(uint32_t bus_type, bool removable, const std::string& vendor,
                                     const std::string& product, const std::string& serial);
// Raw DISK_GEOMETRY_EX bytes.
std::vector<uint8_t> make_geometry(uint32_t bytes_per_sector, uint64_t size_bytes);
// Raw VOLUME_DISK_EXTENTS bytes.
std::vector<uint8_t> make_extents(const std::vector<Extent>& extents);

struct Drive {
    uint32_t number = 0;
    std::vector<uint8_t> descriptor;  // what IOCTL_STORAGE_QUERY_PROPERTY returns
    std::vector<uint8_t> geometry;    // what IOCTL_DISK_GET_DRIVE_GEOMETRY_EX returns
    uint32_t bytes_per_sector = 512;  // the sector size transfers are checked against
    uint64_t size_bytes = 0;          // transfers past this fail
    std::vector<uint8_t> contents;    // the first bytes; the rest reads as zeros
    // When open, the drive's bytes live in this file instead of `contents`
    // (which is then not used): it covers the whole drive, so writes
    // anywhere below size_bytes land in it.
    BackingFile file;
    bool deny_access = false;  // opening with access rights fails with error 5
    bool drop_writes = false;  // writes are acknowledged but not stored
    // A transfer that starts at this offset moves one sector less than asked.
    uint64_t short_transfer_at = UINT64_MAX;
    // Transfers that start at these offsets are accepted, move nothing and
    // end with ERROR_GEN_FAILURE.
    std::vector<uint64_t> transfers_failing_at;
    // Bytes that change behind the engine's back after its first write.
    std::vector<uint64_t> flip_after_first_write;
    // Runs once, right after the drive is opened with access rights: a disk
    // that changes or goes away while the engine opens it.
    std::function<void(class Machine&)> after_open_with_access;
    // How fast it is (none by default: transfers take no virtual time), and
    // the machine's booking of it while transfers run.
    DriveSpeed speed;
    DriveSchedule schedule;
};

struct Volume {
    std::u16string path;                // as opened, for example u"\\\\.\\C:"
    std::vector<uint8_t> extents;       // what IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS returns
    DWORD extents_error = 0;            // non-zero: that query fails with it
    unsigned refuse_lock_attempts = 0;  // FSCTL_LOCK_VOLUME fails this many times first
    bool refuse_dismount = false;       // FSCTL_DISMOUNT_VOLUME fails
    bool hidden = false;                // not listed by the volume search
    // Non-zero: opening it with access rights fails with this error (another
    // program holds it without sharing writes); query-only opens succeed.
    DWORD open_error = 0;
    // Where it is mounted, for example u"E:\\": paths under it lie on the
    // volume (GetVolumePathNameW, GetVolumeNameForVolumeMountPointW).
    std::u16string mount_point;
};

// A USB stick as most tests want one.
struct StickSpec {
    uint32_t number;
    std::string vendor = "Tundra";
    std::string product = "Flash";
    std::string serial = "SN0001";
    uint64_t size_bytes = 16000000000ull;
    uint32_t bytes_per_sector = 512;
    uint32_t bus_type = 7;
    bool removable = true;
};

struct IoctlRecord {
    uint32_t code;
    bool on_drive;
    uint32_t drive_number;  // when on_drive
    bool overlapped;        // sent with an OVERLAPPED
    bool waited_for;        // it pended and the program waited for its end
};

// One read or write on a drive, from its issue to its end. Steps count the
// issues and ends of every transfer in one sequence, so that a test can
// tell which came first.
struct TransferRecord {
    uint32_t drive_number;
    uint64_t offset;
    uint32_t count;
    bool writing;
    const void* buffer;
    uint64_t issued_step;
    uint64_t ended_step;  // 0: still in flight
    uint64_t issued_ns;   // on the virtual clock
    uint64_t ended_ns;
};

// Which transfers in flight on a drive without a speed end when the program
// waits for one of them.
enum class CompletionOrder : uint8_t {
    AsWaited,     // only the one waited for
    NewestFirst,  // every one issued after it, newest first, then it
    Shuffled,     // a random choice of the others, in a random order (seeded), then it
};

struct WriteRecord {
    uint32_t drive_number;
    uint64_t offset;
    uint32_t length;
};

constexpr size_t NAME_RECORD_UNITS = 512;

// One call that named a file: CreateFileW (drives and volumes included) or
// DeleteFileW, with what it asked for (DeleteFileW asks for nothing).
struct NameUse {
    std::string call;
    std::u16string path;  // cut at NAME_RECORD_UNITS - 1 units
    DWORD access;
    DWORD share;
    DWORD disposition;
    DWORD flags;
};

// One call of SetThreadExecutionState: which thread (numbered by the
// machine, from 1) asked for what.
struct ExecutionStateCall {
    DWORD thread_id;
    EXECUTION_STATE flags;
};

// One entry of the machine's timeline.
struct Happening {
    enum class Kind : uint8_t { TransferEnded, LockReleased, Flushed };
    Kind kind;
    // TransferEnded: the drive and the transfer's offset; Flushed: the drive
    // whose handle FlushFileBuffers was given.
    uint32_t drive_number;
    uint64_t offset;
    std::u16string volume;  // LockReleased: the volume whose lock was let go
};

#ifdef _WIN32
// What a window answered when the session ended, and how long each message
// took to be answered.
struct SessionEnd {
    bool may_end = false;  // the answer to WM_QUERYENDSESSION
    long long query_ms = 0;
    long long end_ms = 0;
};
#endif

// A reparse point on a folder of the machine (Machine::add_reparse_point).
struct ReparsePoint {
    std::u16string path;
    DWORD tag;
    std::u16string target;  // where a name surrogate leads
};

class Machine {
  public:
    // A machine with Windows in C:\Windows on a volume of disk 0, an
    // elevated token and no drives.
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    Drive& add_drive(uint32_t number);
    Drive& add_stick(const StickSpec& spec);
    Drive& add_system_disk(uint32_t number);  // a SATA disk holding the Windows volume
    // Keeps the drive's bytes in the file at `path` (see BackingFile::open:
    // created or extended sparse to the drive's size_bytes). The file is
    // closed when the drive is removed or replaced, or the machine ends.
    // False with `error` when the file cannot be opened or extended.
    bool keep_in_file(Drive& drive, const std::string& path, std::string& error);
    void remove_drive(uint32_t number);
    Drive* drive(uint32_t number);

    Volume& add_volume(const std::u16string& path, const std::vector<Extent>& extents);
    Volume* volume(const std::u16string& path);
    void set_windows_directory(const std::u16string& directory);  // empty: the query fails
    // Files opened under this folder (a path prefix, letter case ignored)
    // lie on a network share: GetFileInformationByHandleEx answers their
    // FileRemoteProtocolInfo, as a redirector does. Every other file is
    // local, and that query fails for it with error 87, as on Windows
    // (Wine fails it with 120 for every file).
    void add_network_folder(const std::u16string& folder);
    // Makes the folder at `path` (which exists) a reparse point with `tag`,
    // as Windows reports it. A name surrogate (a junction, a symbolic link,
    // a mount point) leads to `target`: a path through it, or naming it
    // without FILE_FLAG_OPEN_REPARSE_POINT (FILE_OPEN_REPARSE_POINT), reaches
    // the folder there instead; opened itself, it is an empty folder whose
    // attributes say REPARSE_POINT with its tag. Any other tag (a cloud
    // placeholder, a deduplicated folder) leads nowhere: the folder is
    // itself, only its attributes say REPARSE_POINT. Separators and letter
    // case do not matter.
    void add_reparse_point(const std::u16string& path, DWORD tag,
                           const std::u16string& target = u"");
    // Another user swapping the folder at `path` for a junction to `target`
    // now. Refused (false), as Windows refuses to rename a folder, while a
    // handle on it is open without FILE_SHARE_DELETE or anything inside it
    // is open.
    bool swap_for_junction(const std::u16string& path, const std::u16string& target);
    // Called after each call that named a file or folder (CreateFileW,
    // CreateDirectoryW, NtCreateFile), with the path it named (for a name
    // in a held folder, the folder's path and the name): what another user
    // could do at that moment.
    void after_each_name(std::function<void(Machine&, const std::u16string&)> watcher);
    const std::vector<ReparsePoint>& reparse_points() const { return reparse_points_; }
    const std::function<void(Machine&, const std::u16string&)>& name_watcher() const {
        return name_watcher_;
    }
    void set_elevated(bool elevated) { elevated_ = elevated; }
    // Overlapped transfers on drives return TRUE at once when set; otherwise
    // FALSE with ERROR_IO_PENDING, as Wine does, and end on the wait, or,
    // when nobody waits for them, when their drive handle is closed.
    void set_complete_at_once(bool at_once) { complete_at_once_ = at_once; }
    void set_completion_order(CompletionOrder order, uint64_t seed = 1);

    // Faults: the named call fails with `error` on its nth use counted from
    // now (1 = the next one), or on every use when nth is 0. For
    // DeviceIoControl, `ioctl` limits the rule to one control code.
    void fail_call(const char* name, DWORD error, unsigned nth = 1, uint32_t ioctl = 0);
    void clear_faults();

    // What happened.
    unsigned uses(const char* name) const;  // calls made through the seam since creation
    void reset_uses();
    size_t open_handle_count() const;  // files, drives, volumes, tokens and events still open
    size_t live_event_count() const;
    size_t held_lock_count() const;
    unsigned max_in_flight() const { return max_in_flight_; }
    std::vector<IoctlRecord> ioctls() const;
    std::vector<WriteRecord> writes() const;        // writes stored, in the order they ended
    std::vector<TransferRecord> transfers() const;  // in the order they were issued
    uint64_t now_ns() const;                        // the virtual clock
    std::vector<std::u16string> volumes_dismounted() const;
    // Transfers ending, drives flushed and locks let go, in the order they
    // happened.
    std::vector<Happening> timeline() const;
    // The flags of every SetThreadExecutionState call, in order; the call
    // itself changes nothing on the machine the tests run on.
    std::vector<EXECUTION_STATE> execution_states() const;
    // Drives and volumes opened while the thread let Windows show its
    // critical-error boxes (SetThreadErrorMode without SEM_FAILCRITICALERRORS).
    unsigned device_opens_with_error_boxes() const;
    // Sleep returns at once; the pauses are added up here (and to the clock).
    uint64_t slept_ms() const;
    bool drive_opened_for_writing(uint32_t number) const;
    std::vector<uint32_t> drives_opened() const;  // every open, query-only included
    std::vector<NameUse> name_uses() const;       // in the order they were made

    // The session. Threads that keep the system from sleeping now (their
    // continuous state holds ES_SYSTEM_REQUIRED), and every call that set a
    // state, in order.
    unsigned threads_keeping_awake() const;
    std::vector<ExecutionStateCall> execution_state_calls() const;
    // The drive of every folder has this many bytes free for the caller
    // (GetDiskFreeSpaceExW); without it the query passes through.
    void set_free_space(uint64_t bytes);
    std::u16string free_space_folder() const;  // the last folder asked about
    // The reason a window gave for blocking the session's end; empty when
    // none is in force. Windows shows it when the user signs out.
    std::u16string shutdown_block_reason() const;
    unsigned shutdown_block_creates() const;
    unsigned shutdown_block_destroys() const;
#ifdef _WIN32
    // The end of the session as Windows sends it to a window: first
    // WM_QUERYENDSESSION with `flags` (ENDSESSION_*) in lParam, then
    // WM_ENDSESSION with the same lParam and wParam set to the query's
    // result: FALSE when this window or, with `another_refuses`, another
    // program said no. Nothing else follows a refusal: when the user ends
    // the session all the same, Windows may end the process without another
    // message.
    SessionEnd end_session(HWND window, LPARAM flags, bool another_refuses = false);
    // The user puts the machine to sleep (lid, power button, Start menu):
    // WM_POWERBROADCAST with PBT_APMSUSPEND and lParam 0, which Windows
    // sends without asking first and waits about two seconds for.
    long long suspend(HWND window);
#endif
    // Console control events as Windows raises them for a process that
    // loads user32 (as both our programs do): Ctrl+C, Ctrl+Break and close
    // reach the handlers installed through the seam, the latest first, each
    // on a new thread until one returns TRUE; sign-out and shut-down
    // (CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT) reach none, since Windows
    // gives those to services only. False when no handler took the event.
    bool console_event(DWORD kind);

    // The names of every call in the seam that can be made to fail.
    static std::vector<std::string> failable_calls();

    // Internal: the machine in force and what its replacement calls read.
    static Machine* current();
    bool elevated() const { return elevated_; }
    bool complete_at_once() const { return complete_at_once_; }
    const std::u16string& windows_directory() const { return windows_directory_; }
    const std::vector<std::u16string>& network_folders() const { return network_folders_; }
    void note_in_flight(unsigned count) {
        if (count > max_in_flight_)
            max_in_flight_ = count;
    }

  private:
    std::u16string windows_directory_;
    std::vector<std::u16string> network_folders_;
    std::vector<ReparsePoint> reparse_points_;
    std::function<void(Machine&, const std::u16string&)> name_watcher_;
    bool elevated_ = true;
    bool complete_at_once_ = false;
    unsigned max_in_flight_ = 0;
};

}  // namespace sim
