#include "fetch_test_support.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace fetch_test {

std::string host_file(const std::string& relative) {
    return std::string(TUNDRA_DOWNLOAD_HOST_DIR) + "/" + relative;
}

std::vector<uint8_t> read_host_file(const std::string& relative) {
    std::vector<uint8_t> bytes;
    FILE* file = std::fopen(host_file(relative).c_str(), "rb");
    if (file == nullptr)
        return bytes;
    uint8_t piece[65536];
    size_t got = 0;
    while ((got = std::fread(piece, 1, sizeof piece, file)) > 0) {
        bytes.insert(bytes.end(), piece, piece + got);
    }
    std::fclose(file);
    return bytes;
}

const std::string& process_mark() {
    // Wine hands the same process ids out again within one run of the
    // tests, and the host's access log outlives every test process: the
    // moment the process made its first mark tells it from an earlier one.
    static const std::string mark = [] {
        FILETIME now{};
        GetSystemTimePreciseAsFileTime(&now);
        const uint64_t ticks =
            (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        return std::to_string(GetCurrentProcessId()) + "-" + std::to_string(ticks);
    }();
    return mark;
}

std::string own_request(const std::string& request_uri) {
    static int made = 0;
    const char joint = request_uri.find('?') == std::string::npos ? '?' : '&';
    return request_uri + joint + "test=" + process_mark() + "-" + std::to_string(++made);
}

std::wstring wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

namespace {

size_t lines_starting(const std::string& prefix) {
    const std::vector<uint8_t> log = read_host_file("logs/access.log");
    const std::string text(log.begin(), log.end());
    // The prefix must start a line and end at a space or at the line's end.
    size_t count = 0;
    for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
        const size_t end = at + prefix.size();
        const bool starts_line = at == 0 || text[at - 1] == '\n';
        const bool ends_field = end < text.size() && (text[end] == ' ' || text[end] == '\n');
        if (starts_line && ends_field)
            ++count;
    }
    return count;
}

bool log_has_line_starting(const std::string& prefix) {
    return lines_starting(prefix) > 0;
}

}  // namespace

bool access_log_shows(const std::string& request_uri) {
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (log_has_line_starting(request_uri))
            return true;
        Sleep(10);
    }
    return false;
}

size_t access_log_count(const std::string& request_uri) {
    (void)access_log_shows_before_marker(request_uri);
    return lines_starting(request_uri);
}

bool access_log_shows_before_marker(const std::string& request_uri) {
    static int markers = 0;
    const std::string marker =
        "/test/empty?marker=" + process_mark() + "-" + std::to_string(++markers);
    const std::wstring wide(marker.begin(), marker.end());
    uint8_t buffer[16];
    if (!get(wide.c_str(), buffer, sizeof buffer).ok || !access_log_shows(marker)) {
        ADD_FAILURE_AT(__FILE__, __LINE__);
    }
    return log_has_line_starting(request_uri);
}

// ---- the recorder ---------------------------------------------------------

namespace {

struct Records {
    std::mutex lock;
    sys::CallTable below;
    int open_handles = 0;
    unsigned opens = 0, connects = 0, requests = 0, closes = 0, reads = 0, sends = 0;
    std::vector<WinHttpRecorder::Timeouts> timeouts;
    std::vector<WinHttpRecorder::Option> options;
    std::vector<std::wstring> agents;
};
Records* records = nullptr;

HINTERNET WINAPI rec_open(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) {
    HINTERNET h = records->below.WinHttpOpen(agent, access, proxy, bypass, flags);
    std::lock_guard<std::mutex> guard(records->lock);
    ++records->opens;
    records->agents.push_back(agent);
    if (h != nullptr)
        ++records->open_handles;
    return h;
}
HINTERNET WINAPI rec_connect(HINTERNET s, LPCWSTR server, INTERNET_PORT port, DWORD reserved) {
    HINTERNET h = records->below.WinHttpConnect(s, server, port, reserved);
    std::lock_guard<std::mutex> guard(records->lock);
    ++records->connects;
    if (h != nullptr)
        ++records->open_handles;
    return h;
}
HINTERNET WINAPI rec_request(HINTERNET c, LPCWSTR verb, LPCWSTR path, LPCWSTR version,
                             LPCWSTR referrer, LPCWSTR* accept, DWORD flags) {
    HINTERNET h =
        records->below.WinHttpOpenRequest(c, verb, path, version, referrer, accept, flags);
    std::lock_guard<std::mutex> guard(records->lock);
    ++records->requests;
    if (h != nullptr)
        ++records->open_handles;
    return h;
}
BOOL WINAPI rec_close(HINTERNET h) {
    const BOOL closed = records->below.WinHttpCloseHandle(h);
    std::lock_guard<std::mutex> guard(records->lock);
    ++records->closes;
    if (closed)
        --records->open_handles;
    return closed;
}
BOOL WINAPI rec_timeouts(HINTERNET h, int a, int b, int c, int d) {
    {
        std::lock_guard<std::mutex> guard(records->lock);
        records->timeouts.push_back({h, {a, b, c, d}});
    }
    return records->below.WinHttpSetTimeouts(h, a, b, c, d);
}
BOOL WINAPI rec_option(HINTERNET h, DWORD option, LPVOID buffer, DWORD length) {
    {
        std::lock_guard<std::mutex> guard(records->lock);
        const DWORD value = length == sizeof(DWORD) ? *static_cast<DWORD*>(buffer) : 0;
        records->options.push_back({h, option, value});
    }
    return records->below.WinHttpSetOption(h, option, buffer, length);
}
BOOL WINAPI rec_read(HINTERNET h, LPVOID buffer, DWORD count, LPDWORD done) {
    {
        std::lock_guard<std::mutex> guard(records->lock);
        ++records->reads;
    }
    return records->below.WinHttpReadData(h, buffer, count, done);
}
BOOL WINAPI rec_send(HINTERNET h, LPCWSTR headers, DWORD length, LPVOID optional,
                     DWORD optional_length, DWORD total, DWORD_PTR context) {
    {
        std::lock_guard<std::mutex> guard(records->lock);
        ++records->sends;
    }
    return records->below.WinHttpSendRequest(h, headers, length, optional, optional_length, total,
                                             context);
}

}  // namespace

WinHttpRecorder::WinHttpRecorder() {
    records = new Records;
    records->below = sys::calls;
    sys::calls.WinHttpOpen = rec_open;
    sys::calls.WinHttpConnect = rec_connect;
    sys::calls.WinHttpOpenRequest = rec_request;
    sys::calls.WinHttpCloseHandle = rec_close;
    sys::calls.WinHttpSetTimeouts = rec_timeouts;
    sys::calls.WinHttpSetOption = rec_option;
    sys::calls.WinHttpReadData = rec_read;
    sys::calls.WinHttpSendRequest = rec_send;
}

WinHttpRecorder::~WinHttpRecorder() {
    sys::calls = records->below;
    delete records;
    records = nullptr;
}

int WinHttpRecorder::open_handles() const {
    return records->open_handles;
}

unsigned WinHttpRecorder::calls(const char* name) const {
    const std::string n = name;
    if (n == "WinHttpOpen")
        return records->opens;
    if (n == "WinHttpConnect")
        return records->connects;
    if (n == "WinHttpOpenRequest")
        return records->requests;
    if (n == "WinHttpCloseHandle")
        return records->closes;
    if (n == "WinHttpReadData")
        return records->reads;
    if (n == "WinHttpSendRequest")
        return records->sends;
    ADD_FAILURE() << "not recorded: " << name;
    return 0;
}

std::vector<WinHttpRecorder::Timeouts> WinHttpRecorder::timeouts() const {
    return records->timeouts;
}
std::vector<WinHttpRecorder::Option> WinHttpRecorder::options() const {
    return records->options;
}
std::vector<std::wstring> WinHttpRecorder::agents() const {
    return records->agents;
}

// ---- the silent server ----------------------------------------------------

SilentServer::SilentServer(const char* address) : socket_(~uintptr_t{0}) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return;
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = htons(443);
    where.sin_addr.s_addr = inet_addr(address);
    // Connections complete in the listen queue without accept: the client's
    // TLS hello is then never answered.
    if (bind(s, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(s, 8) != 0) {
        closesocket(s);
        return;
    }
    socket_ = s;
}

SilentServer::~SilentServer() {
    if (listening())
        closesocket(static_cast<SOCKET>(socket_));
    WSACleanup();
}

release::FetchResult get(const wchar_t* path, uint8_t* buffer, uint64_t capacity,
                         ULONGLONG deadline_in_ms) {
    LocalUpdateConnection local;
    if (!local.connection.ok)
        return {};
    return release::http_get_to_buffer(local.connection.connection, path, buffer, capacity,
                                       sys::GetTickCount64() + deadline_in_ms);
}

text::ByteText view(const char* s) {
    return {s, std::strlen(s)};
}

}  // namespace fetch_test
