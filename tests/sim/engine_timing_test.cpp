// A stick with a speed on the virtual clock: the model's rules on single
// transfers, and a whole engine run whose report lines give the durations
// worked out by hand from those rules (sim_speed.h).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/disk_probe.h"
#include "engine/engine_run.h"
#include "engine/runs/write_stick.h"

namespace {

alignas(4096) uint8_t into[3][1048576];

TEST(SimSpeed, TransfersEndOnTheVirtualClock) {
    sim::Machine machine;
    sim::Drive& stick = machine.add_stick({5});
    stick.contents.assign(4 << 20, 0x3C);
    // 1 MiB crosses in 1048576 x 10^9 / (4 x 10^7) = 26214400 ns.
    stick.speed = {40000000, 8000000, 500000, 2};
    const discovery::DrivePath path = discovery::physical_drive_path(5);
    HANDLE h = sys::CreateFileW(path.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING, nullptr);
    HANDLE events[3];
    OVERLAPPED ov[3] = {};
    for (int i = 0; i < 3; ++i) {
        events[i] = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ov[i].Offset = static_cast<DWORD>(i) << 20;
        ov[i].hEvent = events[i];
        EXPECT_FALSE(sys::ReadFile(h, into[i], 1048576, nullptr, &ov[i]));
    }
    // First: a server from 0, its command until 500000, its bytes until
    // 26714400. Second: the other server, command done at 500000, bytes
    // after the first's, until 52928800. Third: the first server again once
    // free at 26714400, command until 27214400, bytes after the second's,
    // until 79143200.
    DWORD done = 0;
    EXPECT_FALSE(sys::GetOverlappedResult(h, &ov[0], &done, FALSE));
    EXPECT_EQ(sys::GetLastError(), ERROR_IO_INCOMPLETE);
    EXPECT_EQ(sys::WaitForSingleObject(events[1], 20), WAIT_TIMEOUT);
    EXPECT_EQ(machine.now_ns(), 20000000u);
    sys::Sleep(10);  // the clock passes the first one's end: it ends meanwhile
    EXPECT_EQ(sys::WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(into[0][0], 0x3C);
    EXPECT_EQ(into[2][0], 0) << "not ended yet";
    EXPECT_TRUE(sys::GetOverlappedResult(h, &ov[2], &done, TRUE));
    EXPECT_EQ(into[2][0], 0x3C);
    LARGE_INTEGER now{}, frequency{};
    EXPECT_TRUE(sys::QueryPerformanceCounter(&now));
    EXPECT_TRUE(sys::QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(now.QuadPart, 79143200);
    EXPECT_EQ(frequency.QuadPart, 1000000000);
    const std::vector<sim::TransferRecord> transfers = machine.transfers();
    ASSERT_EQ(transfers.size(), 3u);
    EXPECT_EQ(transfers[0].ended_ns, 26714400u);
    EXPECT_EQ(transfers[1].ended_ns, 52928800u);
    EXPECT_EQ(transfers[2].ended_ns, 79143200u);
    EXPECT_LT(transfers[1].ended_step, transfers[2].ended_step);
    for (HANDLE e : events)
        EXPECT_TRUE(sys::CloseHandle(e));
    EXPECT_TRUE(sys::CloseHandle(h));
}

class TimedRun : public fixtures::EngineRunTest {};

struct TimingCase {
    uint32_t queue_depth;
    std::vector<std::string> lines;  // the timed report lines, in order
};

// A 16 MiB image on a 16 MiB stick that differs everywhere: read 10^7 B/s,
// write 2 x 10^6 B/s, 20 ms per transfer, two transfers served at once.
// 1 MiB reads in 104857600 ns and writes in 524288000 ns. With one slot in
// flight every chunk pays latency and bytes: 16 x (latency + bytes). With
// four, the second server's command runs while the first's bytes cross, so
// only the first latency shows: latency + 16 x bytes.
//   depth 1: reads 16 x 124857600 ns = 1.9977216 s, 16777216 B / that = 8.398 MB/s
//            writes 16 x 544288000 ns = 8.708608 s, 1.927 MB/s
//   depth 4: reads 20000000 + 16 x 104857600 = 1.6977216 s, 9.882 MB/s
//            writes 20000000 + 16 x 524288000 = 8.408608 s, 1.995 MB/s
TEST_F(TimedRun, TheReportLinesGiveTheModelsDurations) {
    const TimingCase cases[] = {
        {1,
         {"compared 16.0 MiB in 2.0 s (8.4 MB/s): 16.0 MiB differ, in 16 places\n",
          "wrote 16.0 MiB in 8.7 s (1.9 MB/s)\n", "read back 16.0 MiB in 2.0 s: as written\n",
          "read all 16.0 MiB back in 2.0 s"}},
        {4,
         {"compared 16.0 MiB in 1.7 s (9.9 MB/s): 16.0 MiB differ, in 16 places\n",
          "wrote 16.0 MiB in 8.4 s (2.0 MB/s)\n", "read back 16.0 MiB in 1.7 s: as written\n",
          "read all 16.0 MiB back in 1.7 s"}},
    };
    fixtures::Bytes image_bytes(16 << 20);
    for (size_t i = 0; i < image_bytes.size(); ++i)
        image_bytes[i] = static_cast<uint8_t>(i % 253);
    fixtures::TempFile image("timed.img", image_bytes);
    LARGE_INTEGER frequency{};
    ASSERT_TRUE(sys::QueryPerformanceFrequency(&frequency));
    run::run_inputs.perf_frequency = frequency.QuadPart;
    for (const TimingCase& c : cases) {
        sim::Drive& stick = machine.add_stick({4, "Tundra", "Flash", "RS0004", 16 << 20});
        stick.contents.assign(16 << 20, 0xA5);
        stick.speed = {10000000, 2000000, 20000000, 2};
        engine::WriteOptions options;
        options.image_path = image.wide();
        options.serial = {"RS0004", 6};
        options.queue_depth = c.queue_depth;
        lines.clear();
        ASSERT_EQ(engine::write_stick(options), engine::Result::Success)
            << fixtures::failure_text();
        std::vector<std::string> timed;
        for (const std::string& line : lines) {
            for (const char* start : {"compared ", "wrote ", "read back ", "read all "}) {
                if (line.rfind(start, 0) != 0)
                    continue;
                timed.push_back(start == std::string("read all ") ? line.substr(0, 31) : line);
            }
        }
        EXPECT_EQ(timed, c.lines) << "depth " << c.queue_depth;
        EXPECT_EQ(stick.contents, image_bytes);
    }
}

}  // namespace
