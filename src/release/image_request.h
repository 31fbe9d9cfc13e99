// The image's GET, which may ask for the rest of a file it has begun. A
// broken download goes on from its last byte only when the host still
// serves the very file it began: the request carries that file's validator
// in If-Range, so a changed file comes whole (200) instead of as a range,
// and a 206 is taken only when its Content-Range is exactly the rest.
#pragma once

#include <cstddef>
#include <cstdint>

#include "release/https_fetch.h"

namespace release {

// The first answer's ETag, or its Last-Modified when it has no strong
// ETag: what names that file's version to the host. Length 0 is none.
constexpr size_t VALIDATOR_UNITS = 160;
struct ImageValidator {
    WCHAR units[VALIDATOR_UNITS + 1] = {};
    size_t length = 0;
};

enum class ImageAnswer : uint8_t {
    none,     // no answer: the connection, TLS or a timeout failed
    whole,    // 200: the file from its first byte
    rest,     // 206 with the rest of the same file, from the byte asked for
    refused,  // an answer that is neither (another status, another range)
};

struct ImageResponse {
    HttpStream stream;  // open for whole and rest only
    ImageAnswer answer = ImageAnswer::none;
};

// GET of host/path with http_open_get's profile. With from_byte 0, or
// without a validator, it asks for the whole file. Otherwise it asks for
// "bytes=from_byte-" of a file of total_bytes, under If-Range. A whole
// answer replaces `validator` with its own (none when it has none).
ImageResponse http_open_image_get(ByteText host, ByteText path, DWORD receive_timeout_ms,
                                  uint64_t from_byte, uint64_t total_bytes,
                                  ImageValidator& validator);

}  // namespace release
