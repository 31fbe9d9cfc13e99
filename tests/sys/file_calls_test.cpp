// Files, positioned transfers and events through the build's own binding:
// the host's POSIX stand-in must behave as Windows does for what the engine
// relies on, and the Windows build checks the same against the real calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sys/sys.h"

namespace {

std::basic_string<WCHAR> temp_file_path(const char* name) {
    WCHAR dir[MAX_PATH];
    const DWORD length = sys::GetTempPathW(MAX_PATH, dir);
    std::basic_string<WCHAR> path(dir, length);
    path += U16("tundra-sys-test-");
    for (const char* c = name; *c != 0; ++c) path += static_cast<WCHAR>(*c);
    return path;
}

class FileCalls : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = temp_file_path(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { (void)sys::DeleteFileW(path_.c_str()); }

    HANDLE create(DWORD flags) {
        return sys::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_ALWAYS, flags, nullptr);
    }

    std::basic_string<WCHAR> path_;
};

// Waits for an overlapped transfer the way the engine does: a pending start
// is as good as one that completed at once.
bool finish(HANDLE h, BOOL started, OVERLAPPED& ov, DWORD& done) {
    if (!started && sys::GetLastError() != ERROR_IO_PENDING) return false;
    return sys::GetOverlappedResult(h, &ov, &done, TRUE) != FALSE;
}

TEST_F(FileCalls, PositionedOverlappedTransfersRoundTrip) {
    HANDLE file = create(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);

    const char payload[] = "tundra";
    OVERLAPPED ov{};
    ov.Offset = 4096;
    ov.hEvent = event;
    DWORD done = 0;
    ASSERT_TRUE(finish(file, sys::WriteFile(file, payload, 6, nullptr, &ov), ov, done));
    EXPECT_EQ(done, 6u);

    LARGE_INTEGER size{};
    ASSERT_TRUE(sys::GetFileSizeEx(file, &size));
    EXPECT_EQ(size.QuadPart, 4102);

    char back[6] = {};
    OVERLAPPED read_ov{};
    read_ov.Offset = 4096;
    read_ov.hEvent = event;
    ASSERT_TRUE(finish(file, sys::ReadFile(file, back, 6, nullptr, &read_ov), read_ov, done));
    EXPECT_EQ(done, 6u);
    EXPECT_EQ(memcmp(back, payload, 6), 0);
    EXPECT_EQ(sys::WaitForSingleObject(event, 0), WAIT_OBJECT_0);

    // A positioned read that starts at the end fails rather than reading 0 bytes.
    OVERLAPPED end_ov{};
    end_ov.Offset = 4102;
    end_ov.hEvent = event;
    const BOOL started = sys::ReadFile(file, back, 6, nullptr, &end_ov);
    EXPECT_FALSE(finish(file, started, end_ov, done));
    EXPECT_EQ(sys::GetLastError(), ERROR_HANDLE_EOF);

    EXPECT_TRUE(sys::CloseHandle(event));
    EXPECT_TRUE(sys::CloseHandle(file));
}

TEST_F(FileCalls, OpeningAMissingFileFails) {
    HANDLE file = sys::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sys::GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(EventCalls, ManualResetEventStaysSignalledUntilReset) {
    HANDLE event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(sys::WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(sys::SetEvent(event));
    EXPECT_EQ(sys::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(sys::WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(sys::ResetEvent(event));
    EXPECT_EQ(sys::WaitForSingleObject(event, 10), WAIT_TIMEOUT);
    EXPECT_TRUE(sys::CloseHandle(event));
}

TEST(TimeCalls, PerformanceCounterAdvances) {
    LARGE_INTEGER frequency{}, first{}, second{};
    ASSERT_TRUE(sys::QueryPerformanceFrequency(&frequency));
    EXPECT_GT(frequency.QuadPart, 0);
    ASSERT_TRUE(sys::QueryPerformanceCounter(&first));
    sys::Sleep(2);
    ASSERT_TRUE(sys::QueryPerformanceCounter(&second));
    EXPECT_GT(second.QuadPart, first.QuadPart);
}

}  // namespace

// The host stand-in reads the free space of the folder's file system.
TEST(FileSystemCalls, FreeSpaceOfTheTemporaryFolder) {
    WCHAR folder[4096];
    ASSERT_GT(sys::GetTempPathW(4096, folder), 0u);
    ULARGE_INTEGER free_to_caller{}, total{}, free_total{};
    ASSERT_TRUE(sys::GetDiskFreeSpaceExW(folder, &free_to_caller, &total, &free_total));
    EXPECT_GT(total.QuadPart, 0u);
    EXPECT_LE(free_to_caller.QuadPart, total.QuadPart);
    EXPECT_LE(free_total.QuadPart, total.QuadPart);
    EXPECT_FALSE(
        sys::GetDiskFreeSpaceExW(U16("/no/such/folder/here/"), &free_to_caller, nullptr, nullptr));
}
