// HTTPS GET through WinHTTP in synchronous mode, on worker threads only.
// Nothing here retries or says why it failed: every failure is a zeroed
// result with nothing left open, and each caller shows its own text.
#pragma once

#include <cstdint>

#include "sys/sys.h"
#include "text/text_writer.h"

namespace release {

using text::ByteText;

constexpr uint64_t MAX_READ_BYTES = 65536;  // per WinHttpReadData of http_get_to_buffer
// Every request says it wants the host's current file, not a cache's copy.
constexpr WCHAR NO_CACHE_HEADER[] = U16("Cache-Control: no-cache\r\n");

struct FetchResult {
    uint64_t length = 0;  // bytes placed in the caller's buffer
    bool ok = false;
};

// On success the three handles are open and the caller's, who reads the body
// from request and closes request, connection and session in that order.
struct HttpStream {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    bool ok = false;
};

// A session and connection with the update check's profile.
struct UpdateConnection {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    bool ok = false;
};

// Opens a session and connection to host on port 443 with the update check's
// agent and timeouts. close_update_connection releases both.
UpdateConnection open_update_connection(LPCWSTR host);
void close_update_connection(UpdateConnection& connection);

// Fetches path over connection into buffer. The body must be strictly
// shorter than capacity. deadline is a GetTickCount64 value, tested before
// the request and between reads.
FetchResult http_get_to_buffer(HINTERNET connection, LPCWSTR path, uint8_t* buffer,
                               uint64_t capacity, ULONGLONG deadline);

// Opens its own session, connection and request for host and path (ASCII,
// at most 253 and 1023 bytes), sends the GET and checks for status 200.
HttpStream http_open_get(ByteText host, ByteText path, DWORD receive_timeout_ms);

// The steps of http_open_get apart, for a caller that adds headers of its
// own: the handles opened with its profile, not yet sent; then the GET
// sent with `headers` (the no-cache header and the caller's, each line
// ended by CRLF, NUL-terminated), which returns the status or 0 when no
// answer came.
HttpStream http_open_request(ByteText host, ByteText path, DWORD receive_timeout_ms);
DWORD http_send_get(HINTERNET request, const WCHAR* headers);

// Closes request, connection and session of an open stream, in that order.
void close_http_stream(HttpStream& stream);

}  // namespace release
