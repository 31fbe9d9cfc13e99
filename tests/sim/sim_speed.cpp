#include "sim/sim_speed.h"

namespace sim {

uint64_t crossing_ns(uint64_t bytes, uint64_t bytes_per_second) {
    if (bytes_per_second == 0)
        return 0;
    // bytes x 10^9 stays below 2^64 for any transfer of up to 4 GiB.
    const unsigned __int128 scaled = static_cast<unsigned __int128>(bytes) * CLOCK_TICKS_PER_SECOND;
    return static_cast<uint64_t>((scaled + bytes_per_second - 1) / bytes_per_second);
}

uint64_t book_transfer(const DriveSpeed& speed, DriveSchedule& schedule, uint64_t now_ns,
                       uint64_t bytes, bool writing) {
    const uint32_t servers = speed.servers >= 1 && speed.servers <= MAX_SERVERS ? speed.servers : 1;
    uint32_t server = 0;
    for (uint32_t s = 1; s < servers; ++s) {
        if (schedule.server_free_ns[s] < schedule.server_free_ns[server])
            server = s;
    }
    const uint64_t command_start =
        now_ns > schedule.server_free_ns[server] ? now_ns : schedule.server_free_ns[server];
    const uint64_t command_end = command_start + speed.latency_ns;
    const uint64_t data_start =
        command_end > schedule.channel_free_ns ? command_end : schedule.channel_free_ns;
    const uint64_t end = data_start + crossing_ns(bytes, writing ? speed.write_bytes_per_second
                                                                 : speed.read_bytes_per_second);
    schedule.channel_free_ns = end;
    schedule.server_free_ns[server] = end;
    return end;
}

}  // namespace sim
