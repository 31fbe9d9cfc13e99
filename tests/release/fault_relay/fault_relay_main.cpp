// The fault relay as a program, for the scripts that drive the installer:
//   fault_relay.exe SECONDS [FAULT ...] [then FAULT]
// FAULT is "reset:N", "stall:N", "end:N" or "none" (N: the host's bytes
// before the cut); the connections take them in order, and every one after
// them takes the fault after "then" (by default none). Prints
// "relay ADDRESS" once it listens, then, when it ends after SECONDS, the
// connections and the host's bytes it passed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fault_relay.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fault_relay SECONDS [FAULT ...] [then FAULT]\n");
        return 2;
    }
    std::vector<fault_relay::Fault> faults;
    fault_relay::Fault then;
    for (int i = 2; i < argc; ++i) {
        const bool is_then = std::string(argv[i]) == "then" && i + 1 < argc;
        fault_relay::Fault fault;
        if (!fault_relay::parse_fault(argv[is_then ? ++i : i], fault)) {
            std::fprintf(stderr, "fault_relay: not a fault: %s\n", argv[i]);
            return 2;
        }
        if (is_then)
            then = fault;
        else
            faults.push_back(fault);
    }
    fault_relay::Relay relay;
    if (!relay.listening()) {
        std::fprintf(stderr, "fault_relay: no free address from 127.0.0.20 to 127.0.0.29\n");
        return 1;
    }
    relay.plan(faults, then);
    std::printf("relay %s\n", relay.address().c_str());
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10) * 1000));
    std::printf("connections %u host-bytes %llu\n", relay.connections(),
                static_cast<unsigned long long>(relay.bytes_from_host()));
    return 0;
}
