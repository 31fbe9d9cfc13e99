#include "release/https_fetch.h"

#include "release/https_url.h"
#include "release/installer_release.h"

namespace release {

namespace {

constexpr WCHAR STREAM_AGENT[] = U16("Tundra USB Installer");
// "Tundra USB Installer release 5": the update check names this build's
// release, which is how the release tool recognises an installer's release.
constexpr WCHAR UPDATE_AGENT[] =
    U16("Tundra USB Installer release ") U16_OF(TUNDRA_INSTALLER_RELEASE_TEXT);

constexpr bool agent_names_this_release() {
    size_t i = 0;
    for (; RELEASE_AGENT_PREFIX[i] != 0; ++i) {
        if (UPDATE_AGENT[i] != static_cast<WCHAR>(RELEASE_AGENT_PREFIX[i]))
            return false;
    }
    uint32_t number = 0;
    for (; UPDATE_AGENT[i] != 0; ++i)
        number = number * 10 + static_cast<uint32_t>(UPDATE_AGENT[i] - '0');
    return number == INSTALLER_RELEASE;
}
static_assert(agent_names_this_release(), "the update agent names this build's release");

constexpr INTERNET_PORT HTTPS_PORT = 443;

// The update check's timeouts, in ms: resolve, connect, send, receive.
constexpr int UPDATE_TIMEOUTS_MS[4] = {2500, 3000, 3000, 3500};
// http_open_get's fixed timeouts; the receive timeout is the caller's.
constexpr int STREAM_RESOLVE_MS = 3000;
constexpr int STREAM_CONNECT_MS = 4000;
constexpr int STREAM_SEND_MS = 5000;

bool set_dword_option(HINTERNET h, DWORD option, DWORD value) {
    return sys::WinHttpSetOption(h, option, &value, sizeof value) != FALSE;
}

// WinHttpSetTimeouts leaves the wait for the response headers unbounded in
// Wine (and at 90 s on Windows), and Wine also waits that long for the TLS
// handshake: a server that accepts and then stalls would hold the worker
// for ever. This option bounds both waits with the receive timeout.
bool bound_response_wait(HINTERNET h, DWORD receive_timeout_ms) {
    return set_dword_option(h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, receive_timeout_ms);
}

HINTERNET open_session(LPCWSTR agent) {
    return sys::WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0);
}

HINTERNET open_get_request(HINTERNET connection, LPCWSTR path) {
    return sys::WinHttpOpenRequest(connection, U16("GET"), path, nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
}

bool never_redirect(HINTERNET request) {
    return set_dword_option(request, WINHTTP_OPTION_REDIRECT_POLICY,
                            WINHTTP_OPTION_REDIRECT_POLICY_NEVER);
}

// Sends the GET with `headers` and waits for the response; its status, or 0
// when there is none.
DWORD send_get(HINTERNET request, const WCHAR* headers) {
    if (!sys::WinHttpSendRequest(request, headers, static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA,
                                 0, 0, 0)) {
        return 0;
    }
    if (!sys::WinHttpReceiveResponse(request, nullptr))
        return 0;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!sys::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                  WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                  WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return status;
}

// Never follow redirects, send the GET with the no-cache header, and accept
// only status 200.
bool send_and_check_status(HINTERNET request) {
    return never_redirect(request) && send_get(request, NO_CACHE_HEADER) == 200;
}

// Reads the body until a zero read; fails when it fills the whole buffer,
// when a read fails, or when the deadline has passed before a read.
FetchResult read_body(HINTERNET request, uint8_t* buffer, uint64_t capacity, ULONGLONG deadline) {
    uint64_t received = 0;
    for (;;) {
        if (sys::GetTickCount64() > deadline)
            return {};
        const uint64_t room = capacity - received;
        const DWORD ask = static_cast<DWORD>(room < MAX_READ_BYTES ? room : MAX_READ_BYTES);
        DWORD got = 0;
        if (!sys::WinHttpReadData(request, buffer + received, ask, &got))
            return {};
        if (got == 0)
            return {received, true};
        if (got > ask)
            return {};  // a misbehaving layer below must not move us past the buffer
        received += got;
        if (received >= capacity)
            return {};
    }
}

// Zero-extends each byte: host and path are ASCII, and anything else is
// passed on unchanged rather than decoded.
void widen(ByteText from, WCHAR* to) {
    for (size_t i = 0; i < from.length; ++i) {
        to[i] = static_cast<WCHAR>(static_cast<unsigned char>(from.data[i]));
    }
    to[from.length] = 0;
}

}  // namespace

UpdateConnection open_update_connection(LPCWSTR host) {
    UpdateConnection result;
    result.session = open_session(UPDATE_AGENT);
    if (result.session == nullptr)
        return {};
    const int* t = UPDATE_TIMEOUTS_MS;
    if (!sys::WinHttpSetTimeouts(result.session, t[0], t[1], t[2], t[3]) ||
        !bound_response_wait(result.session, static_cast<DWORD>(t[3]))) {
        sys::WinHttpCloseHandle(result.session);
        return {};
    }
    result.connection = sys::WinHttpConnect(result.session, host, HTTPS_PORT, 0);
    if (result.connection == nullptr) {
        sys::WinHttpCloseHandle(result.session);
        return {};
    }
    result.ok = true;
    return result;
}

void close_update_connection(UpdateConnection& connection) {
    if (connection.connection != nullptr)
        sys::WinHttpCloseHandle(connection.connection);
    if (connection.session != nullptr)
        sys::WinHttpCloseHandle(connection.session);
    connection = {};
}

FetchResult http_get_to_buffer(HINTERNET connection, LPCWSTR path, uint8_t* buffer,
                               uint64_t capacity, ULONGLONG deadline) {
    if (sys::GetTickCount64() > deadline)
        return {};
    HINTERNET request = open_get_request(connection, path);
    if (request == nullptr)
        return {};
    FetchResult result;
    // The capacity is tested only after the request was sent, so that a
    // caller's zero capacity behaves like any other refused body.
    if (send_and_check_status(request) && capacity > 0) {
        result = read_body(request, buffer, capacity, deadline);
    }
    sys::WinHttpCloseHandle(request);
    return result;
}

HttpStream http_open_request(ByteText host, ByteText path, DWORD receive_timeout_ms) {
    if (host.length > MAX_HOST_BYTES || path.length > MAX_PATH_BYTES)
        return {};
    WCHAR wide_host[MAX_HOST_BYTES + 1];
    WCHAR wide_path[MAX_PATH_BYTES + 1];
    widen(host, wide_host);
    widen(path, wide_path);
    HttpStream s;
    s.session = open_session(STREAM_AGENT);
    if (s.session == nullptr)
        return {};
    s.connection = sys::WinHttpConnect(s.session, wide_host, HTTPS_PORT, 0);
    if (s.connection == nullptr) {
        sys::WinHttpCloseHandle(s.session);
        return {};
    }
    s.request = open_get_request(s.connection, wide_path);
    if (s.request == nullptr) {
        sys::WinHttpCloseHandle(s.connection);
        sys::WinHttpCloseHandle(s.session);
        return {};
    }
    // Windows decodes gzip when it can; Wine cannot, and nothing depends on it.
    set_dword_option(s.request, WINHTTP_OPTION_DECOMPRESSION, WINHTTP_DECOMPRESSION_FLAG_GZIP);
    const int receive_ms = static_cast<int>(receive_timeout_ms);
    s.ok = sys::WinHttpSetTimeouts(s.request, STREAM_RESOLVE_MS, STREAM_CONNECT_MS, STREAM_SEND_MS,
                                   receive_ms) &&
           bound_response_wait(s.request, receive_timeout_ms) && never_redirect(s.request);
    if (s.ok)
        return s;
    close_http_stream(s);
    return {};
}

DWORD http_send_get(HINTERNET request, const WCHAR* headers) {
    return send_get(request, headers);
}

HttpStream http_open_get(ByteText host, ByteText path, DWORD receive_timeout_ms) {
    HttpStream s = http_open_request(host, path, receive_timeout_ms);
    if (!s.ok || send_get(s.request, NO_CACHE_HEADER) == 200)
        return s;
    close_http_stream(s);
    return {};
}

void close_http_stream(HttpStream& stream) {
    if (stream.request != nullptr)
        sys::WinHttpCloseHandle(stream.request);
    if (stream.connection != nullptr)
        sys::WinHttpCloseHandle(stream.connection);
    if (stream.session != nullptr)
        sys::WinHttpCloseHandle(stream.session);
    stream = {};
}

}  // namespace release
