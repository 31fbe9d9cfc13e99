// A simulated stick whose bytes live in a sparse file: what goes through the
// seam lands in the file at the same offset, never-written places read as
// zeros, the machine's rules and faults hold as for a stick in memory, and
// the file is closed when its drive goes.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "discovery/disk_probe.h"
#include "fixtures/temp_file.h"
#include "sim/sim_machine.h"

#ifndef _WIN32
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#endif

namespace {

constexpr uint64_t STICK_BYTES = 8000000000ull;  // 8 GB
constexpr uint32_t STICK = 2;

alignas(4096) uint8_t out_buffer[16384];
alignas(4096) uint8_t in_buffer[16384];

// `count` bytes of the file at `offset`, read beside the machine.
fixtures::Bytes file_bytes(const std::string& path, uint64_t offset, size_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    fixtures::Bytes bytes(count, 0xEE);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    if (static_cast<size_t>(in.gcount()) != count)
        bytes.clear();
    return bytes;
}

uint64_t file_size(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return static_cast<uint64_t>(in.tellg());
}

// Whether this process still holds the file open: Windows (and Wine) refuse
// an exclusive open while another handle shares it; on the host, the
// process's descriptors are listed in /proc.
bool held_open(const std::string& path) {
#ifdef _WIN32
    const fixtures::WideString wide = fixtures::widen(path);
    HANDLE h = sys::default_calls().CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return sys::default_calls().GetLastError() == 32;
    (void)sys::default_calls().CloseHandle(h);
    return false;
#else
    char target[PATH_MAX];
    if (realpath(path.c_str(), target) == nullptr)
        return false;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        if (std::filesystem::read_symlink(fd.path(), ignored) == target)
            return true;
    }
    return false;
#endif
}

class FileBackedStick : public ::testing::Test {
  protected:
    void SetUp() override {
        stick = &machine.add_stick({STICK, "Tundra", "Flash", "SN0001", STICK_BYTES});
        std::string error;
        ASSERT_TRUE(machine.keep_in_file(*stick, file.narrow(), error)) << error;
    }

    HANDLE open_stick() {
        const discovery::DrivePath path = discovery::physical_drive_path(STICK);
        return sys::CreateFileW(path.text, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_NO_BUFFERING, nullptr);
    }

    // One positioned transfer through the seam; the bytes moved, or -1 with
    // the Windows error in `error`.
    int64_t transfer(HANDLE h, bool writing, void* buffer, DWORD count, uint64_t offset,
                     DWORD* error = nullptr) {
        OVERLAPPED ov{};
        ov.Offset = static_cast<DWORD>(offset);
        ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD done = 0;
        const BOOL ok = writing ? sys::WriteFile(h, buffer, count, &done, &ov)
                                : sys::ReadFile(h, buffer, count, &done, &ov);
        if (!ok && error != nullptr)
            *error = sys::GetLastError();
        return ok ? static_cast<int64_t>(done) : -1;
    }

    // The file is declared first so that it outlives the machine that
    // holds it open.
    fixtures::TempFile file{"file-backed-stick.img", fixtures::Bytes{}};
    sim::Machine machine;
    sim::Drive* stick = nullptr;
};

TEST_F(FileBackedStick, WritesLandInTheFileAtTheirOffsetAndTheRestIsAHole) {
    const uint64_t offset = 5000000000ull + 4096;  // past 4 GiB: both offset words matter
    for (size_t i = 0; i < 8192; ++i)
        out_buffer[i] = static_cast<uint8_t>(i * 13 + 1);
    HANDLE h = open_stick();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_EQ(transfer(h, true, out_buffer, 8192, offset), 8192);

    memset(in_buffer, 0xEE, sizeof in_buffer);
    ASSERT_EQ(transfer(h, false, in_buffer, 16384, offset - 4096), 16384);
    EXPECT_EQ(fixtures::Bytes(in_buffer, in_buffer + 4096), fixtures::Bytes(4096, 0));
    EXPECT_EQ(memcmp(in_buffer + 4096, out_buffer, 8192), 0);
    EXPECT_EQ(fixtures::Bytes(in_buffer + 12288, in_buffer + 16384), fixtures::Bytes(4096, 0));
    memset(in_buffer, 0xEE, 4096);
    ASSERT_EQ(transfer(h, false, in_buffer, 4096, STICK_BYTES - 4096), 4096);
    EXPECT_EQ(fixtures::Bytes(in_buffer, in_buffer + 4096), fixtures::Bytes(4096, 0));
    EXPECT_TRUE(sys::CloseHandle(h));

    EXPECT_EQ(file_bytes(file.narrow(), offset, 8192),
              fixtures::Bytes(out_buffer, out_buffer + 8192));
    EXPECT_EQ(file_bytes(file.narrow(), offset - 512, 512), fixtures::Bytes(512, 0));
    EXPECT_EQ(file_size(file.narrow()), STICK_BYTES);
    ASSERT_EQ(machine.writes().size(), 1u);
    EXPECT_EQ(machine.writes()[0].offset, offset);
    EXPECT_EQ(machine.writes()[0].length, 8192u);
    EXPECT_TRUE(stick->contents.empty()) << "the bytes went to the file, not to memory";
#ifndef _WIN32
    struct stat info;
    ASSERT_EQ(stat(file.narrow().c_str(), &info), 0);
    EXPECT_LT(static_cast<uint64_t>(info.st_blocks) * 512, 1u << 20) << "the file is sparse";
#endif
}

TEST_F(FileBackedStick, AnExistingFileKeepsItsBytesAndGrowsToTheStick) {
    fixtures::TempFile existing("file-backed-existing.img", fixtures::Bytes(4096, 0x5A));
    sim::Drive& other = machine.add_stick({3, "Tundra", "Flash", "SN0003", 1ull << 30});
    std::string error;
    ASSERT_TRUE(machine.keep_in_file(other, existing.narrow(), error)) << error;
    EXPECT_EQ(file_size(existing.narrow()), 1ull << 30);

    const discovery::DrivePath path = discovery::physical_drive_path(3);
    HANDLE h = sys::CreateFileW(path.text, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_EQ(transfer(h, false, in_buffer, 8192, 0), 8192);
    EXPECT_EQ(fixtures::Bytes(in_buffer, in_buffer + 4096), fixtures::Bytes(4096, 0x5A));
    EXPECT_EQ(fixtures::Bytes(in_buffer + 4096, in_buffer + 8192), fixtures::Bytes(4096, 0));
    EXPECT_TRUE(sys::CloseHandle(h));
    machine.remove_drive(3);  // lets the file go before it is deleted
}

TEST_F(FileBackedStick, RulesAndFaultsHoldAsInMemory) {
    HANDLE h = open_stick();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    memset(out_buffer, 0xA5, sizeof out_buffer);
    DWORD error = 0;
    EXPECT_EQ(transfer(h, true, out_buffer, 4096, 100, &error), -1);
    EXPECT_EQ(error, ERROR_INVALID_PARAMETER) << "an unaligned unbuffered write";
    EXPECT_EQ(transfer(h, true, out_buffer + 512, 4096, 0, &error), -1);
    EXPECT_EQ(error, ERROR_INVALID_PARAMETER) << "a buffer off a 4096 boundary";
    EXPECT_EQ(transfer(h, true, out_buffer, 4096, STICK_BYTES - 512, &error), -1);
    EXPECT_EQ(error, ERROR_SECTOR_NOT_FOUND) << "a write past the stick's end";
    EXPECT_EQ(file_bytes(file.narrow(), 0, 4096), fixtures::Bytes(4096, 0));
    EXPECT_TRUE(machine.writes().empty());

    stick->drop_writes = true;
    EXPECT_EQ(transfer(h, true, out_buffer, 4096, 0), 4096);
    EXPECT_EQ(file_bytes(file.narrow(), 0, 4096), fixtures::Bytes(4096, 0)) << "dropped";
    stick->drop_writes = false;

    stick->flip_after_first_write = {1000000, 2000000};
    stick->short_transfer_at = 8192;
    EXPECT_EQ(transfer(h, true, out_buffer, 4096, 8192), 3584) << "one sector short";
    EXPECT_EQ(file_bytes(file.narrow(), 8192, 4096)[3583], 0xA5);
    EXPECT_EQ(file_bytes(file.narrow(), 8192, 4096)[3584], 0x00) << "the last sector never went";
    EXPECT_EQ(file_bytes(file.narrow(), 1000000, 1)[0], 0xFF);
    EXPECT_EQ(file_bytes(file.narrow(), 2000000, 1)[0], 0xFF);
    EXPECT_EQ(machine.writes().size(), 2u);
    EXPECT_TRUE(sys::CloseHandle(h));
    EXPECT_EQ(machine.open_handle_count(), 0u) << "the file is not one of the program's handles";
}

TEST(FileBackedStickLifetime, TheFileClosesWithItsDriveOrItsMachine) {
    fixtures::TempFile file("file-backed-lifetime.img", fixtures::Bytes{});
    const sim::StickSpec spec{STICK, "Tundra", "Flash", "SN0001", 1u << 20};
    std::string error;
    {
        sim::Machine machine;
        ASSERT_TRUE(machine.keep_in_file(machine.add_stick(spec), file.narrow(), error)) << error;
        EXPECT_TRUE(held_open(file.narrow()));
        machine.remove_drive(STICK);
        EXPECT_FALSE(held_open(file.narrow())) << "removed";

        ASSERT_TRUE(machine.keep_in_file(machine.add_stick(spec), file.narrow(), error)) << error;
        machine.add_stick(spec);
        EXPECT_FALSE(held_open(file.narrow())) << "replaced by another drive";

        ASSERT_TRUE(machine.keep_in_file(machine.add_stick(spec), file.narrow(), error)) << error;
        EXPECT_TRUE(held_open(file.narrow()));
    }
    EXPECT_FALSE(held_open(file.narrow())) << "the machine ended";
}

TEST_F(FileBackedStick, AFileThatCannotBeOpenedIsRefused) {
    const std::string path = file.narrow() + "-missing-folder/stick.img";
    sim::Drive& other = machine.add_stick({3});
    std::string error;
    EXPECT_FALSE(machine.keep_in_file(other, path, error));
    EXPECT_NE(error.find("cannot open " + path + " (Windows error "), std::string::npos) << error;
    EXPECT_FALSE(other.file.is_open());
}

}  // namespace
