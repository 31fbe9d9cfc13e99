// The simulated machine holds the engine to the rules of real Windows, so
// its own rules need to hold: unbuffered transfer alignment, access rights,
// overlapped completion, locks and the leak records.
#include "sim/sim_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "discovery/disk_probe.h"

namespace {

alignas(4096) uint8_t aligned_buffer[3 * 4096];

class SimMachine : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Drive& stick = machine.add_stick({2});
        stick.contents.assign(1 << 20, 0);
        for (size_t i = 0; i < stick.contents.size(); ++i) {
            stick.contents[i] = static_cast<uint8_t>(i * 7);
        }
    }

    HANDLE open_stick(DWORD access, DWORD flags) {
        const discovery::DrivePath path = discovery::physical_drive_path(2);
        return sys::CreateFileW(path.text, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    }

    sim::Machine machine;
};

struct TransferCase {
    const char* name;
    uint64_t offset;
    DWORD count;
    size_t buffer_shift;
    DWORD expected_error;  // 0: the read succeeds
};

TEST_F(SimMachine, UnbufferedTransfersMustBeWholeAlignedSectors) {
    const TransferCase cases[] = {
        {"aligned", 512, 1024, 0, 0},
        {"offset inside a sector", 100, 512, 0, ERROR_INVALID_PARAMETER},
        {"part of a sector", 512, 100, 0, ERROR_INVALID_PARAMETER},
        {"buffer off a 4096 boundary", 0, 512, 512, ERROR_INVALID_PARAMETER},
        {"past the end of the disk", 16000000000ull, 512, 0, ERROR_SECTOR_NOT_FOUND},
    };
    HANDLE stick = open_stick(GENERIC_READ, FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(stick, INVALID_HANDLE_VALUE);
    for (const TransferCase& c : cases) {
        OVERLAPPED ov{};
        ov.Offset = static_cast<DWORD>(c.offset);
        ov.OffsetHigh = static_cast<DWORD>(c.offset >> 32);
        DWORD done = 0;
        const BOOL ok = sys::ReadFile(stick, aligned_buffer + c.buffer_shift, c.count, &done, &ov);
        if (c.expected_error == 0) {
            EXPECT_TRUE(ok) << c.name;
            EXPECT_EQ(done, c.count) << c.name;
            EXPECT_EQ(aligned_buffer[0], static_cast<uint8_t>(512 * 7)) << c.name;
        } else {
            EXPECT_FALSE(ok) << c.name;
            EXPECT_EQ(sys::GetLastError(), c.expected_error) << c.name;
        }
    }
    EXPECT_TRUE(sys::CloseHandle(stick));
    EXPECT_EQ(machine.open_handle_count(), 0u);
}

TEST_F(SimMachine, OverlappedTransfersPendUntilCollected) {
    HANDLE stick =
        open_stick(GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING);
    HANDLE event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(stick, INVALID_HANDLE_VALUE);
    OVERLAPPED first{}, second{};
    first.hEvent = second.hEvent = event;
    second.Offset = 4096;
    memset(aligned_buffer, 0xAB, 4096);
    EXPECT_FALSE(sys::WriteFile(stick, aligned_buffer, 4096, nullptr, &first));
    EXPECT_EQ(sys::GetLastError(), ERROR_IO_PENDING);
    EXPECT_FALSE(sys::ReadFile(stick, aligned_buffer + 4096, 4096, nullptr, &second));
    EXPECT_EQ(machine.max_in_flight(), 2u);
    DWORD done = 0;
    EXPECT_TRUE(sys::GetOverlappedResult(stick, &first, &done, TRUE));
    EXPECT_EQ(done, 4096u);
    EXPECT_TRUE(sys::GetOverlappedResult(stick, &second, &done, TRUE));
    EXPECT_EQ(machine.drive(2)->contents[100], 0xAB);
    ASSERT_EQ(machine.writes().size(), 1u);
    EXPECT_EQ(machine.writes()[0].offset, 0u);
    EXPECT_TRUE(machine.drive_opened_for_writing(2));

    EXPECT_EQ(machine.live_event_count(), 1u);
    EXPECT_TRUE(sys::CloseHandle(event));
    EXPECT_TRUE(sys::CloseHandle(stick));
    EXPECT_EQ(machine.live_event_count(), 0u);
}

TEST_F(SimMachine, AccessRightsFollowTheHandleAndTheToken) {
    HANDLE query = open_stick(0, 0);
    ASSERT_NE(query, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_FALSE(sys::ReadFile(query, aligned_buffer, 512, &done, nullptr));
    EXPECT_EQ(sys::GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(sys::CloseHandle(query));

    machine.set_elevated(false);
    EXPECT_EQ(open_stick(GENERIC_READ, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sys::GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(machine.drive_opened_for_writing(2));
}

TEST_F(SimMachine, VolumeLocksAreHeldUntilUnlockOrClose) {
    machine.add_volume(u"\\\\.\\E:", {{2, 1048576, 1048576}}).refuse_lock_attempts = 1;
    HANDLE volume =
        sys::CreateFileW(U16("\\\\.\\E:"), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_FALSE(
        sys::DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &done, nullptr));
    EXPECT_TRUE(
        sys::DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &done, nullptr));
    EXPECT_EQ(machine.held_lock_count(), 1u);
    EXPECT_TRUE(sys::CloseHandle(volume));
    EXPECT_EQ(machine.held_lock_count(), 0u);
    EXPECT_EQ(machine.ioctls().size(), 2u);
}

bool write_sector(HANDLE stick, uint64_t offset) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset);
    DWORD done = 0;
    return sys::WriteFile(stick, aligned_buffer, 512, &done, &ov) != FALSE;
}

bool volume_control(HANDLE volume, DWORD code) {
    DWORD done = 0;
    return sys::DeviceIoControl(volume, code, nullptr, 0, nullptr, 0, &done, nullptr) != FALSE;
}

TEST_F(SimMachine, RawWritesIntoAMountedVolumeAreRefused) {
    machine.add_volume(u"\\.\E:", {{2, 65536, 65536}});
    HANDLE stick = open_stick(GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_NE(stick, INVALID_HANDLE_VALUE);
    const auto refused = [&](uint64_t offset) {
        return !write_sector(stick, offset) && sys::GetLastError() == ERROR_ACCESS_DENIED;
    };
    // Outside every volume (the partition table), writes go through; inside
    // the mounted one, at its first and last sector, they do not.
    EXPECT_TRUE(write_sector(stick, 0));
    EXPECT_TRUE(write_sector(stick, 131072));
    EXPECT_TRUE(refused(65536));
    EXPECT_TRUE(refused(131072 - 512));

    HANDLE volume =
        sys::CreateFileW(U16("\\.\E:"), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(volume_control(volume, FSCTL_DISMOUNT_VOLUME));
    EXPECT_TRUE(refused(65536)) << "dismounted without a lock: mounted again at once";
    EXPECT_TRUE(volume_control(volume, FSCTL_LOCK_VOLUME));
    EXPECT_TRUE(refused(65536)) << "locked but not dismounted";
    EXPECT_TRUE(volume_control(volume, FSCTL_DISMOUNT_VOLUME));
    EXPECT_TRUE(write_sector(stick, 65536));
    EXPECT_TRUE(sys::CloseHandle(volume));
    EXPECT_TRUE(refused(65536)) << "the lock let go: Windows mounts it again";
    EXPECT_EQ(machine.writes().size(), 3u);
    EXPECT_TRUE(sys::CloseHandle(stick));
}

TEST_F(SimMachine, TransfersEndOnTheWaitOrWhenTheirHandleCloses) {
    machine.drive(2)->transfers_failing_at = {4096};
    HANDLE stick = open_stick(GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
    HANDLE event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov[3] = {};
    for (int i = 0; i < 3; ++i) {
        ov[i].Offset = static_cast<DWORD>(i * 4096);
        ov[i].hEvent = event;
        EXPECT_FALSE(sys::WriteFile(stick, aligned_buffer, 512, nullptr, &ov[i]));
        EXPECT_EQ(sys::GetLastError(), ERROR_IO_PENDING);
    }
    DWORD done = 0;
    EXPECT_FALSE(sys::GetOverlappedResult(stick, &ov[1], &done, TRUE));
    EXPECT_EQ(sys::GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(sys::GetOverlappedResult(stick, &ov[0], &done, TRUE));
    EXPECT_TRUE(sys::CloseHandle(stick));  // nobody waited for the third
    const std::vector<sim::Happening> timeline = machine.timeline();
    ASSERT_EQ(timeline.size(), 3u);
    EXPECT_EQ(timeline[0].offset, 4096u);
    EXPECT_EQ(timeline[1].offset, 0u);
    EXPECT_EQ(timeline[2].offset, 8192u);
    EXPECT_EQ(machine.writes().size(), 2u) << "the failed transfer stored nothing";
    EXPECT_TRUE(sys::CloseHandle(event));
}

TEST_F(SimMachine, FaultsFireOnTheNthUseOrAlways) {
    machine.fail_call("DeviceIoControl", ERROR_GEN_FAILURE, 2, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX);
    EXPECT_EQ(discovery::probe_disk(2)->size_bytes, 16000000000ull);  // first geometry query
    EXPECT_EQ(discovery::probe_disk(2)->size_bytes, 0u);              // second one fails
    EXPECT_EQ(discovery::probe_disk(2)->size_bytes, 16000000000ull);  // a rule fires once
    machine.fail_call("CreateFileW", ERROR_ACCESS_DENIED, 0);
    EXPECT_FALSE(discovery::probe_disk(2).has_value());
    EXPECT_FALSE(discovery::probe_disk(2).has_value());
    machine.clear_faults();
    EXPECT_TRUE(discovery::probe_disk(2).has_value());
    EXPECT_EQ(machine.open_handle_count(), 0u);
}

}  // namespace

// What keeps the system awake belongs to each thread, as on Windows: a call
// without ES_CONTINUOUS only nudges the idle timer and changes nothing, and
// another thread's state is its own.
TEST(SimSession, ExecutionStateIsKeptPerThread) {
    sim::Machine machine;
    EXPECT_EQ(machine.threads_keeping_awake(), 0u);
    EXPECT_NE(sys::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), 0u);
    EXPECT_EQ(machine.threads_keeping_awake(), 1u);
    EXPECT_NE(sys::SetThreadExecutionState(ES_SYSTEM_REQUIRED), 0u);
    EXPECT_EQ(machine.threads_keeping_awake(), 1u);
    std::thread other([] {
        (void)sys::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        (void)sys::SetThreadExecutionState(ES_CONTINUOUS);
    });
    other.join();
    EXPECT_EQ(machine.threads_keeping_awake(), 1u);
    EXPECT_NE(sys::SetThreadExecutionState(ES_CONTINUOUS), 0u);
    EXPECT_EQ(machine.threads_keeping_awake(), 0u);
    const std::vector<sim::ExecutionStateCall> calls = machine.execution_state_calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].thread_id, calls[4].thread_id);
    EXPECT_NE(calls[0].thread_id, calls[2].thread_id);

    machine.fail_call("SetThreadExecutionState", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(sys::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), 0u);
    EXPECT_EQ(machine.threads_keeping_awake(), 0u);
}

TEST(SimSession, FreeSpaceIsTheMachinesWhenSet) {
    sim::Machine machine;
    ULARGE_INTEGER free_bytes{};
    machine.set_free_space(123456789);
    ASSERT_TRUE(sys::GetDiskFreeSpaceExW(U16("C:\\Temp\\"), &free_bytes, nullptr, nullptr));
    EXPECT_EQ(free_bytes.QuadPart, 123456789u);
    EXPECT_EQ(machine.free_space_folder(), u"C:\\Temp\\");
}
