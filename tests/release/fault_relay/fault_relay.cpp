#include "fault_relay.h"

#include <winsock2.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace fault_relay {
namespace {

constexpr int FIRST_ADDRESS = 20;
constexpr int LAST_ADDRESS = 29;
constexpr long TICK_US = 100000;  // how often a loop looks at whether to stop
constexpr size_t PIECE_BYTES = 65536;

SOCKET as_socket(uintptr_t s) {
    return static_cast<SOCKET>(s);
}

sockaddr_in loopback(int last_byte) {
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = htons(443);
    where.sin_addr.s_addr = htonl(0x7F000000u | static_cast<unsigned>(last_byte));
    return where;
}

// Whether `s` has bytes (or an end) to read within one tick.
bool readable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tick = {0, TICK_US};
    return select(0, &set, nullptr, nullptr, &tick) > 0;
}

bool send_all(SOCKET s, const char* bytes, int count) {
    while (count > 0) {
        const int sent = send(s, bytes, count, 0);
        if (sent <= 0)
            return false;
        bytes += sent;
        count -= sent;
    }
    return true;
}

// Moves what `from` has to `to`, at most `limit` bytes; false at its end.
bool pass_some(SOCKET from, SOCKET to, uint64_t limit, uint64_t& moved) {
    static thread_local char piece[PIECE_BYTES];
    const int ask = static_cast<int>(limit < PIECE_BYTES ? limit : PIECE_BYTES);
    const int got = recv(from, piece, ask, 0);
    if (got <= 0)
        return false;
    moved = static_cast<uint64_t>(got);
    return send_all(to, piece, got);
}

void reset(SOCKET s) {
    linger now = {1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now), sizeof now);
    closesocket(s);
}

}  // namespace

bool parse_fault(const std::string& text, Fault& fault) {
    const size_t colon = text.find(':');
    const std::string kind = text.substr(0, colon);
    fault = {};
    if (kind == "none")
        return colon == std::string::npos;
    if (colon == std::string::npos)
        return false;
    char* end = nullptr;
    fault.after_bytes = std::strtoull(text.c_str() + colon + 1, &end, 10);
    if (end == nullptr || *end != 0)
        return false;
    if (kind == "reset")
        fault.cut = Cut::reset;
    else if (kind == "stall")
        fault.cut = Cut::stall;
    else if (kind == "end")
        fault.cut = Cut::end_short;
    else
        return false;
    return true;
}

Relay::Relay() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return;
    for (int last = FIRST_ADDRESS; last <= LAST_ADDRESS; ++last) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET)
            return;
        const sockaddr_in where = loopback(last);
        if (bind(s, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0 &&
            listen(s, 16) == 0) {
            listener_ = static_cast<uintptr_t>(s);
            address_ = "127.0.0." + std::to_string(last);
            break;
        }
        closesocket(s);
    }
    if (listening())
        acceptor_ = std::thread([this] { accept_loop(); });
}

Relay::~Relay() {
    stopping_ = true;
    if (acceptor_.joinable())
        acceptor_.join();
    for (std::thread& worker : workers_)
        worker.join();
    if (listening())
        closesocket(as_socket(listener_));
    WSACleanup();
}

void Relay::plan(const std::vector<Fault>& faults, Fault then) {
    std::lock_guard<std::mutex> guard(lock_);
    planned_ = faults;
    then_ = then;
}

Fault Relay::next_fault() {
    std::lock_guard<std::mutex> guard(lock_);
    if (planned_.empty())
        return then_;
    const Fault fault = planned_.front();
    planned_.erase(planned_.begin());
    return fault;
}

void Relay::accept_loop() {
    while (!stopping_) {
        if (!readable(as_socket(listener_)))
            continue;
        SOCKET client = accept(as_socket(listener_), nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        ++connections_;
        const Fault fault = next_fault();
        std::lock_guard<std::mutex> guard(lock_);
        workers_.emplace_back([this, client, fault] { relay(client, fault); });
    }
}

// One connection, both ways, in one thread: the host's bytes are counted
// so that the cut falls exactly after `after_bytes` of them.
void Relay::relay(uintptr_t client_handle, Fault fault) {
    const SOCKET client = as_socket(client_handle);
    const SOCKET host = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const sockaddr_in where = loopback(1);
    if (host == INVALID_SOCKET ||
        connect(host, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        closesocket(client);
        if (host != INVALID_SOCKET)
            closesocket(host);
        return;
    }
    uint64_t to_client = 0;
    bool open = true;
    bool stalled = false;
    while (open && !stopping_) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(client, &set);
        if (!stalled)
            FD_SET(host, &set);
        timeval tick = {0, TICK_US};
        if (select(0, &set, nullptr, nullptr, &tick) <= 0)
            continue;
        uint64_t moved = 0;
        if (FD_ISSET(client, &set)) {
            // While stalled, the client's bytes are read and dropped until
            // it gives up and closes.
            open = stalled ? recv(client, reinterpret_cast<char*>(&moved), 1, 0) > 0
                           : pass_some(client, host, PIECE_BYTES, moved);
        }
        if (open && !stalled && FD_ISSET(host, &set)) {
            const uint64_t limit =
                fault.cut == Cut::none ? PIECE_BYTES : fault.after_bytes - to_client;
            open = limit > 0 && pass_some(host, client, limit, moved);
            if (open) {
                to_client += moved;
                bytes_from_host_ += moved;
            }
        }
        if (open && fault.cut != Cut::none && to_client >= fault.after_bytes) {
            if (fault.cut == Cut::reset) {
                reset(client);
                closesocket(host);
                return;
            }
            if (fault.cut == Cut::end_short)
                break;
            stalled = true;
        }
    }
    shutdown(client, SD_BOTH);
    closesocket(client);
    closesocket(host);
}

}  // namespace fault_relay
