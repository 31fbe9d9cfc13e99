// The two signed manifests: the release manifest that names the current
// Tundra image and the update manifest that announces the current installer
// build. Both are lines of text followed by one line holding the Ed25519
// signature of those lines in hex. Everything here works in place over the
// caller's body buffer: no copies, no allocation, and the records' slices
// point into that buffer, which must outlive them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "release/release_site.h"
#include "text/text_writer.h"

namespace release {

using text::ByteText;

constexpr size_t SIGNATURE_BYTES = 64;
constexpr size_t SIGNATURE_LINE_BYTES = 2 * SIGNATURE_BYTES + 1;    // digits and line feed
constexpr size_t MIN_SIGNED_BODY_BYTES = SIGNATURE_LINE_BYTES + 1;  // one empty signed line
constexpr size_t MAX_UPDATE_MANIFEST_BYTES = 511;
constexpr size_t MAX_RELEASE_MANIFEST_BYTES = 1599;
constexpr size_t SHA256_BYTES = 32;
constexpr size_t MAX_VERSION_BYTES = 48;
constexpr uint64_t MAX_EXE_BYTES = 8388608;  // 8 MiB
constexpr uint64_t MIN_IMAGE_BYTES = 4096;
constexpr uint64_t MAX_IMAGE_BYTES = 17179869184ull;  // 16 GiB
constexpr uint64_t IMAGE_SIZE_UNIT = 512;

constexpr char UPDATE_MANIFEST_KIND[] = "RX4-TUNDRA-INSTALLER-UPDATE-1";
constexpr char UPDATE_ARCHITECTURE[] = "x64";
constexpr char RELEASE_MANIFEST_KIND[] = "RX4-TUNDRA-IMAGE-1";
constexpr char RELEASE_PRODUCT[] = "tundra";

struct UpdateManifest {
    uint32_t release = 0;
    uint64_t exe_size = 0;
    uint8_t exe_sha256[SHA256_BYTES] = {};
};

struct ReleaseManifest {
    ByteText version;
    uint64_t image_size = 0;
    uint8_t image_sha256[SHA256_BYTES] = {};
    ByteText image_url;
};

// Checks the framing and the signature with RELEASE_SIGNING_KEY. Gives the
// signed text without its final line feed, ready to be split into lines.
std::optional<ByteText> verify_signed_text(ByteText body);

// The same with a key of the caller's (the release tool checks manifests
// against any key it is given).
std::optional<ByteText> verify_signed_text_with_key(ByteText body,
                                                    const uint8_t (&key)[SIGNING_KEY_BYTES]);

// Parse the text that verify_signed_text returned.
std::optional<UpdateManifest> parse_update_manifest(ByteText text);
std::optional<ReleaseManifest> parse_release_manifest(ByteText text);

// True when length equals expected_size and the bytes' SHA-256 is
// expected_sha256; the hash is only computed when the sizes agree.
bool sha256_matches(const uint8_t* bytes, uint64_t length, uint64_t expected_size,
                    const uint8_t (&expected_sha256)[SHA256_BYTES]);

}  // namespace release
