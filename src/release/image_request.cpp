#include "release/image_request.h"

#include "release/content_range.h"

namespace release {
namespace {

// The no-cache header, the range and the validator, each with its CRLF.
constexpr size_t HEADER_UNITS = 64 + 48 + 16 + VALIDATOR_UNITS;
constexpr size_t CONTENT_RANGE_UNITS = 96;

void append(WCHAR* to, size_t& at, const WCHAR* units) {
    for (size_t i = 0; units[i] != 0 && at < HEADER_UNITS; ++i)
        to[at++] = units[i];
}

void append_number(WCHAR* to, size_t& at, uint64_t value) {
    WCHAR digits[21];
    size_t count = 0;
    do {
        digits[count++] = static_cast<WCHAR>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0 && at < HEADER_UNITS)
        to[at++] = digits[--count];
}

// "Cache-Control: no-cache\r\nRange: bytes=N-\r\nIf-Range: V\r\n".
void compose_resume_headers(WCHAR (&headers)[HEADER_UNITS + 1], uint64_t from_byte,
                            const ImageValidator& validator) {
    static_assert(sizeof NO_CACHE_HEADER / sizeof(WCHAR) + 20 + 13 + 12 + VALIDATOR_UNITS <
                  HEADER_UNITS);
    size_t at = 0;
    append(headers, at, NO_CACHE_HEADER);
    append(headers, at, U16("Range: bytes="));
    append_number(headers, at, from_byte);
    append(headers, at, U16("-\r\nIf-Range: "));
    append(headers, at, validator.units);
    append(headers, at, U16("\r\n"));
    headers[at] = 0;
}

// A header's value as the host sent it, when it is printable ASCII and
// fits: it goes back into our own request, where a line break would start
// a header of the host's choosing.
bool read_header(HINTERNET request, DWORD query, WCHAR* units, size_t capacity, size_t& length) {
    DWORD bytes = static_cast<DWORD>(capacity * sizeof(WCHAR));
    length = 0;
    if (!sys::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, units, &bytes,
                                  WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    const size_t count = bytes / sizeof(WCHAR);
    if (count == 0 || count >= capacity)
        return false;
    for (size_t i = 0; i < count; ++i) {
        if (units[i] < 0x20 || units[i] > 0x7E)
            return false;
    }
    units[count] = 0;
    length = count;
    return true;
}

// A weak ETag ("W/...") cannot stand in If-Range: the host would send the
// whole file every time. Last-Modified can.
void read_validator(HINTERNET request, ImageValidator& validator) {
    size_t length = 0;
    if (read_header(request, WINHTTP_QUERY_ETAG, validator.units, VALIDATOR_UNITS + 1, length) &&
        validator.units[0] == '"') {
        validator.length = length;
        return;
    }
    if (read_header(request, WINHTTP_QUERY_LAST_MODIFIED, validator.units, VALIDATOR_UNITS + 1,
                    length)) {
        validator.length = length;
        return;
    }
    validator = {};
}

bool continues(HINTERNET request, uint64_t from_byte, uint64_t total_bytes) {
    WCHAR units[CONTENT_RANGE_UNITS];
    size_t length = 0;
    if (!read_header(request, WINHTTP_QUERY_CONTENT_RANGE, units, CONTENT_RANGE_UNITS, length))
        return false;
    char ascii[CONTENT_RANGE_UNITS];
    for (size_t i = 0; i < length; ++i)
        ascii[i] = static_cast<char>(units[i]);
    return content_range_continues({ascii, length}, from_byte, total_bytes);
}

ImageAnswer judge(DWORD status, HINTERNET request, bool resuming, uint64_t from_byte,
                  uint64_t total_bytes) {
    if (status == 0)
        return ImageAnswer::none;
    if (status == 200)
        return ImageAnswer::whole;
    if (resuming && status == 206 && continues(request, from_byte, total_bytes))
        return ImageAnswer::rest;
    return ImageAnswer::refused;
}

}  // namespace

ImageResponse http_open_image_get(ByteText host, ByteText path, DWORD receive_timeout_ms,
                                  uint64_t from_byte, uint64_t total_bytes,
                                  ImageValidator& validator) {
    ImageResponse response;
    response.stream = http_open_request(host, path, receive_timeout_ms);
    if (!response.stream.ok)
        return response;
    const bool resuming = from_byte != 0 && validator.length != 0;
    WCHAR headers[HEADER_UNITS + 1];
    if (resuming)
        compose_resume_headers(headers, from_byte, validator);
    const DWORD status =
        http_send_get(response.stream.request, resuming ? headers : NO_CACHE_HEADER);
    response.answer = judge(status, response.stream.request, resuming, from_byte, total_bytes);
    if (response.answer == ImageAnswer::whole)
        read_validator(response.stream.request, validator);
    if (response.answer != ImageAnswer::whole && response.answer != ImageAnswer::rest)
        close_http_stream(response.stream);
    return response;
}

}  // namespace release
