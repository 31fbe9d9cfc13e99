// Fuzzes parse_https_url: whatever it accepts must be a host and a path that
// lie inside the URL, made only of the bytes each may hold.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "release/https_url.h"

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

bool host_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* url = reinterpret_cast<const char*>(data);
    const release::UrlParts parts = release::parse_https_url({url, size});
    if (!parts.ok) {
        require(parts.host.data == nullptr && parts.path.data == nullptr);
        return 0;
    }
    require(size <= release::MAX_URL_BYTES && std::memcmp(url, "https://", 8) == 0);
    require(parts.host.data == url + 8);
    require(parts.host.length >= 1 && parts.host.length <= release::MAX_HOST_BYTES);
    require(parts.path.data == parts.host.data + parts.host.length);
    require(parts.path.data + parts.path.length == url + size);
    require(parts.path.length >= 1 && parts.path.data[0] == '/');
    for (size_t i = 0; i < parts.host.length; ++i)
        require(host_byte(parts.host.data[i]));
    for (size_t i = 0; i < parts.path.length; ++i) {
        const unsigned char c = static_cast<unsigned char>(parts.path.data[i]);
        require(c > 0x20 && c < 0x7F && c != '#' && c != '\\');
    }
    return 0;
}
