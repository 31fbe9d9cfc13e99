#include "run/disk_region.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"
#include "run/path_text.h"

namespace {

fixtures::Bytes pattern(size_t size) {
    fixtures::Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + i / 256);
    return bytes;
}

struct ReadSeen {
    uint64_t offset;
    DWORD count;
};
std::vector<ReadSeen> reads_seen;
decltype(sys::calls.ReadFile) inner_read = nullptr;

BOOL WINAPI recording_read(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    if (ov != nullptr)
        reads_seen.push_back({(uint64_t{ov->OffsetHigh} << 32) | ov->Offset, count});
    return inner_read(h, buffer, count, done, ov);
}

class DiskRegionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        inner_read = sys::calls.ReadFile;
        sys::calls.ReadFile = recording_read;
        reads_seen.clear();
    }
    void TearDown() override {
        sys::calls.ReadFile = inner_read;
        EXPECT_EQ(machine.open_handle_count(), 0u);
    }
    sim::Machine machine;
};

TEST_F(DiskRegionTest, ReadsAreWidenedToWholeSectors) {
    const fixtures::Bytes bytes = pattern(1 << 20);
    fixtures::SimDisk disk(machine, bytes);
    uint8_t out[10];
    ASSERT_EQ(run::read_at(disk.region(), 1000, out, 10), run::Result::Success);
    EXPECT_EQ(fixtures::Bytes(out, out + 10),
              fixtures::Bytes(bytes.begin() + 1000, bytes.begin() + 1010));
    ASSERT_EQ(reads_seen.size(), 1u);
    EXPECT_EQ(reads_seen[0].offset, 512u);
    EXPECT_EQ(reads_seen[0].count, 512u);

    // A partition region: offsets count from its first byte.
    run::DiskRegion partition = disk.region();
    partition.first = 4096;
    ASSERT_EQ(run::read_at(partition, 3, out, 2), run::Result::Success);
    EXPECT_EQ(out[0], bytes[4099]);
}

TEST_F(DiskRegionTest, EndAndSpanLimits) {
    fixtures::SimDisk disk(machine, pattern(1 << 20));
    static uint8_t out[270336 + 1024];
    const run::DiskRegion& region = disk.region();
    EXPECT_EQ(run::read_at(region, (1 << 20) - 10, out, 10), run::Result::Success);
    EXPECT_EQ(run::read_at(region, (1 << 20) - 10, out, 11), run::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(), "a read past the end (11 bytes at 1048566)");
    EXPECT_EQ(run::read_at(region, 0, out, 270336), run::Result::Success);
    EXPECT_EQ(run::read_at(region, 1, out, 270335), run::Result::Success);  // same span
    EXPECT_EQ(run::read_at(region, 1, out, 270336), run::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(), "a read of 270848 bytes is too large");
    EXPECT_EQ(run::read_at(region, UINT64_MAX - 5, out, 10), run::Result::Failed);
    EXPECT_EQ(fixtures::failure_text().rfind("a read past the end", 0), 0u);

    fixtures::TempFile file("span", pattern(300000));
    HANDLE h = sys::CreateFileW(file.wide().data, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const run::DiskRegion bytes_region{h, 0, 300000, 1, false};
    EXPECT_EQ(run::read_at(bytes_region, 7, out, 270336), run::Result::Success);
    EXPECT_EQ(out[0], pattern(8)[7]);
    EXPECT_EQ(run::read_at(bytes_region, 7, out, 270337), run::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(), "a read of 270337 bytes is too large");
    EXPECT_TRUE(sys::CloseHandle(h));
}

TEST_F(DiskRegionTest, ExactReadsAcceptBothCompletionsAndReportShortOrFailedOnes) {
    fixtures::SimDisk disk(machine, pattern(1 << 20));
    alignas(4096) static uint8_t out[4096];
    for (bool at_once : {false, true}) {
        machine.set_complete_at_once(at_once);
        ASSERT_EQ(run::read_exact_at(disk.region().handle, true, 4096, out, 512),
                  run::Result::Success)
            << at_once;
        EXPECT_EQ(out[0], pattern(4097)[4096]);
    }
    machine.fail_call("ReadFile", ERROR_GEN_FAILURE);
    EXPECT_EQ(run::read_exact_at(disk.region().handle, true, 512, out, 512), run::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(), "a read at 512 failed (Windows error 31)");
    machine.fail_call("GetOverlappedResult", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(run::read_exact_at(disk.region().handle, true, 1024, out, 512), run::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(), "a read at 1024 failed (Windows error 87)");

    fixtures::TempFile file("short", pattern(1000));
    HANDLE h = sys::CreateFileW(file.wide().data, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(run::read_exact_at(h, false, 512, out, 1024), run::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(), "a read at 512 returned 488 of 1024 bytes");
    EXPECT_TRUE(sys::CloseHandle(h));
}

std::string shown(const std::vector<WCHAR>& units) {
    const text::ByteText t = run::path_text({units.data(), units.size()});
    return std::string(t.data, t.length);
}

TEST(PathText, Utf16ToUtf8) {
    EXPECT_EQ(shown({'C', ':', '\\', 'a'}), "C:\\a");
    EXPECT_EQ(shown({0x00E9, 0x20AC}), "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(shown({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(shown({'a', 0xD83D}), "(a path that is not UTF-16)");
    EXPECT_EQ(shown({0xDE00, 'a'}), "(a path that is not UTF-16)");
    EXPECT_EQ(shown({0xD83D, 'a'}), "(a path that is not UTF-16)");
    // Longer than the buffer: cut at a whole character, and still checked.
    std::vector<WCHAR> long_path(600, 0x00E9);
    EXPECT_EQ(shown(long_path).size(), 1024u);
    long_path.push_back(0xDC00);
    EXPECT_EQ(shown(long_path), "(a path that is not UTF-16)");
}

}  // namespace
