// The product's site: its download host and the release public key, both
// given when the product is built (cmake/release_site.cmake). The matching
// private key is held by whoever publishes releases, never in this
// repository.
#include "release/release_site.h"

#ifndef TUNDRA_PRODUCT_DOWNLOAD_HOST
#error "the product's download host is set by cmake/release_site.cmake"
#endif

namespace release {

#ifdef TUNDRA_PRODUCT_RELEASE_KEY
const uint8_t RELEASE_SIGNING_KEY[SIGNING_KEY_BYTES] = {TUNDRA_PRODUCT_RELEASE_KEY};
#else
// Built without a key: zeros are no valid Ed25519 public key (the crypto
// library refuses such a small-order point), so no manifest verifies and
// this build accepts no release and no update. The build said so loudly.
const uint8_t RELEASE_SIGNING_KEY[SIGNING_KEY_BYTES] = {};
#endif

const char DOWNLOAD_HOST[] = TUNDRA_PRODUCT_DOWNLOAD_HOST;
const size_t DOWNLOAD_HOST_LENGTH = sizeof(DOWNLOAD_HOST) - 1;
const WCHAR DOWNLOAD_HOST_W[] = U16_OF(TUNDRA_PRODUCT_DOWNLOAD_HOST);

}  // namespace release
