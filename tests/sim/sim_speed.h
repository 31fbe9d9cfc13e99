// The speed of a simulated drive, on the simulated machine's virtual clock.
//
// The model, deliberately simple so that a test can work a run's timing out
// by hand:
//   - A drive serves at most `servers` transfers at once. A transfer takes
//     the server that is free first (the lowest numbered among equals) from
//     the moment it is issued or that server is free, whichever is later, and
//     spends `latency_ns` there on its command.
//   - Its bytes then cross the drive's one data channel, in the order the
//     transfers were issued, at the bandwidth of its direction:
//     ceil(bytes x 10^9 / bytes_per_second) nanoseconds, starting when its
//     command is done or the channel is free, whichever is later.
//   - It ends when its bytes have crossed; its server is free again then.
// So one server gives latency + bytes / bandwidth per transfer, one after
// the other; two or more hide the latency of a transfer behind the bytes of
// the one before it, and the drive's limit is its bandwidth. A bandwidth of
// 0 moves bytes in no time.
//
// The clock counts nanoseconds and moves only when the program waits: for a
// transfer (to its end), in Sleep, or in a synchronous transfer. The work of
// the program itself (hashing, comparing, reading the image file) takes no
// virtual time: the model measures how well the program keeps the drive busy.
#pragma once

#include <cstdint>

namespace sim {

constexpr uint64_t CLOCK_TICKS_PER_SECOND = 1000000000;  // the counter's frequency
constexpr uint32_t MAX_SERVERS = 8;

struct DriveSpeed {
    uint64_t read_bytes_per_second = 0;
    uint64_t write_bytes_per_second = 0;
    uint64_t latency_ns = 0;
    uint32_t servers = 1;  // 1 to MAX_SERVERS; outside that, 1

    // A drive without any speed ends its transfers when they are waited for,
    // in the order the machine's completion order picks.
    bool is_set() const {
        return read_bytes_per_second != 0 || write_bytes_per_second != 0 || latency_ns != 0;
    }
};

// When the drive's servers and data channel are next free.
struct DriveSchedule {
    uint64_t channel_free_ns = 0;
    uint64_t server_free_ns[MAX_SERVERS] = {};
};

// Nanoseconds for `bytes` at `bytes_per_second`, rounded up; 0 when the
// bandwidth is 0.
uint64_t crossing_ns(uint64_t bytes, uint64_t bytes_per_second);

// Books a transfer issued at `now_ns` and gives the time it ends.
uint64_t book_transfer(const DriveSpeed& speed, DriveSchedule& schedule, uint64_t now_ns,
                       uint64_t bytes, bool writing);

}  // namespace sim
