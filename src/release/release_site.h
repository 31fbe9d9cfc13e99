// What a build of the installer trusts and talks to: the download host and
// the public key that both manifests must verify with. Both are fixed when
// an executable is linked: the product links release_site_product.cpp (the
// real host and the release key); test executables link the test fixtures'
// site (localhost and the test key), so no test build can ever accept a
// manifest signed with the release key, nor a product build one signed with
// the test key.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sys/windows_api.h"

namespace release {

constexpr size_t SIGNING_KEY_BYTES = 32;

extern const uint8_t RELEASE_SIGNING_KEY[SIGNING_KEY_BYTES];

// The host name as ASCII (with its length) for the worker, and as UTF-16
// for the update check; both NUL-terminated.
extern const char DOWNLOAD_HOST[];
extern const size_t DOWNLOAD_HOST_LENGTH;
extern const WCHAR DOWNLOAD_HOST_W[];

}  // namespace release
