// Splits an image URL into host and path, refusing anything but a plain
// HTTPS URL made of a host name and a path.
#pragma once

#include <cstddef>

#include "text/text_writer.h"

namespace release {

using text::ByteText;

constexpr size_t MAX_URL_BYTES = 1023;
constexpr size_t MAX_HOST_BYTES = 253;
constexpr size_t MAX_PATH_BYTES = 1023;

// host and path are slices of the caller's URL; path starts with the "/"
// that ends the host and keeps any query. On failure every field is zero.
struct UrlParts {
    ByteText host;
    ByteText path;
    bool ok = false;
};

// Only "https://" in lower case, a host of letters, digits, "-" and "."
// (so no port, user information, brackets or escapes), and a path of
// printable ASCII without space, "#" or "\".
UrlParts parse_https_url(ByteText url);

}  // namespace release
