#include "release/https_url.h"

#include <cstring>

namespace release {

namespace {

constexpr char SCHEME[] = "https://";
constexpr size_t SCHEME_BYTES = sizeof(SCHEME) - 1;

bool is_host_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

bool is_path_byte(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x21 && u <= 0x7E && c != '#' && c != '\\';
}

bool all_bytes(ByteText bytes, bool (*allowed)(char)) {
    for (size_t i = 0; i < bytes.length; ++i) {
        if (!allowed(bytes.data[i]))
            return false;
    }
    return true;
}

}  // namespace

UrlParts parse_https_url(ByteText url) {
    if (url.length < SCHEME_BYTES || url.length > MAX_URL_BYTES)
        return {};
    if (std::memcmp(url.data, SCHEME, SCHEME_BYTES) != 0)
        return {};
    const char* host = url.data + SCHEME_BYTES;
    const size_t rest = url.length - SCHEME_BYTES;
    const void* slash = rest == 0 ? nullptr : std::memchr(host, '/', rest);
    if (slash == nullptr)
        return {};
    const size_t host_length = static_cast<size_t>(static_cast<const char*>(slash) - host);
    if (host_length < 1 || host_length > MAX_HOST_BYTES)
        return {};
    const ByteText host_part{host, host_length};
    const ByteText path_part{host + host_length, rest - host_length};
    if (!all_bytes(host_part, is_host_byte) || !all_bytes(path_part, is_path_byte))
        return {};
    return {host_part, path_part, true};
}

}  // namespace release
