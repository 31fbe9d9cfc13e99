// A TCP relay in front of the local download host that breaks connections
// on purpose, as real networks do: it listens on a loopback address of its
// own, port 443 (127.0.0.20 to 127.0.0.29, the first that is free; the
// host's certificate names them), passes each connection's bytes to the
// host at 127.0.0.1:443 and back, and can reset a connection, stall it or
// end it after a given count of the host's bytes. It relays TLS as bytes:
// it never sees the requests, only how much went each way.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fault_relay {

enum class Cut : uint8_t {
    none,       // passes everything
    reset,      // a TCP reset to the client
    stall,      // sends nothing more and waits until the client gives up
    end_short,  // closes the connection in order, as if the body had ended
};

struct Fault {
    Cut cut = Cut::none;
    uint64_t after_bytes = 0;  // of the host's bytes to the client
};

class Relay {
  public:
    Relay();
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    bool listening() const { return listener_ != ~uintptr_t{0}; }
    const std::string& address() const { return address_; }

    // The next connections take these faults in order; after them, each
    // takes `then` (by default none).
    void plan(const std::vector<Fault>& faults, Fault then = {});

    unsigned connections() const { return connections_; }
    uint64_t bytes_from_host() const { return bytes_from_host_; }

  private:
    Fault next_fault();
    void accept_loop();
    void relay(uintptr_t client, Fault fault);

    uintptr_t listener_ = ~uintptr_t{0};
    std::string address_;
    std::atomic<bool> stopping_{false};
    std::atomic<unsigned> connections_{0};
    std::atomic<uint64_t> bytes_from_host_{0};
    std::mutex lock_;
    std::vector<Fault> planned_;
    Fault then_;
    std::thread acceptor_;
    std::vector<std::thread> workers_;
};

// "reset:N", "stall:N", "end:N" or "none", as the command line takes it.
bool parse_fault(const std::string& text, Fault& fault);

}  // namespace fault_relay
