// The product's site: the real download host and the release public key.
// The matching private key is held by whoever publishes releases, never in
// this repository; tundra-release keygen printed the constant below.
#include "release/release_site.h"

namespace release {

const uint8_t RELEASE_SIGNING_KEY[SIGNING_KEY_BYTES] = {
    0x13, 0x15, 0xa5, 0xff, 0xc3, 0x53, 0xc7, 0x99, 0x81, 0x58, 0x30, 0x07, 0x42, 0x91, 0xbd, 0xf8,
    0x8c, 0xf7, 0xb7, 0x89, 0xd3, 0xbb, 0x99, 0x6c, 0xa8, 0xfe, 0x7c, 0x4d, 0x9c, 0xa5, 0xfe, 0x90,
};

const char DOWNLOAD_HOST[] = "downloads.tundra-os.org";
const size_t DOWNLOAD_HOST_LENGTH = sizeof(DOWNLOAD_HOST) - 1;
const WCHAR DOWNLOAD_HOST_W[] = U16("downloads.tundra-os.org");

}  // namespace release
