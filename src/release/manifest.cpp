#include "release/manifest.h"

#include <sodium.h>

#include <cstring>

#include "hash/sha256.h"
#include "release/hex_digits.h"
#include "release/https_url.h"
#include "release/manifest_fields.h"

namespace release {

namespace {

// sodium_init is cheap after its first call and safe from any thread; the
// verification and hash functions only need it to have run once.
bool crypto_ready() {
    return sodium_init() >= 0;
}

bool is_version_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

bool version_is_valid(ByteText line) {
    if (line.length < 1 || line.length > MAX_VERSION_BYTES)
        return false;
    for (size_t i = 0; i < line.length; ++i) {
        if (!is_version_byte(line.data[i]))
            return false;
    }
    return true;
}

bool decode_digest(ByteText line, uint8_t (&out)[SHA256_BYTES]) {
    return line.length == 2 * SHA256_BYTES && decode_hex(line.data, SHA256_BYTES, out);
}

bool image_size_is_valid(uint64_t size) {
    return size >= MIN_IMAGE_BYTES && size <= MAX_IMAGE_BYTES && size % IMAGE_SIZE_UNIT == 0;
}

}  // namespace

std::optional<ByteText> verify_signed_text_with_key(ByteText body,
                                                    const uint8_t (&key)[SIGNING_KEY_BYTES]) {
    const size_t n = body.length;
    if (n < MIN_SIGNED_BODY_BYTES)
        return std::nullopt;
    if (body.data[n - SIGNATURE_LINE_BYTES - 1] != '\n' || body.data[n - 1] != '\n') {
        return std::nullopt;
    }
    uint8_t signature[SIGNATURE_BYTES];
    if (!decode_hex(body.data + n - SIGNATURE_LINE_BYTES, SIGNATURE_BYTES, signature)) {
        return std::nullopt;
    }
    if (!crypto_ready())
        return std::nullopt;
    const size_t message_length = n - SIGNATURE_LINE_BYTES;  // the text and its last line feed
    const auto* message = reinterpret_cast<const unsigned char*>(body.data);
    if (crypto_sign_ed25519_verify_detached(signature, message, message_length, key) != 0) {
        return std::nullopt;
    }
    return ByteText{body.data, message_length - 1};
}

std::optional<UpdateManifest> parse_update_manifest(ByteText text) {
    LineCursor lines(text);
    ByteText line;
    if (!lines.next(line) || !line_is(line, UPDATE_MANIFEST_KIND))
        return std::nullopt;
    if (!lines.next(line) || !line_is(line, UPDATE_ARCHITECTURE))
        return std::nullopt;
    UpdateManifest manifest;
    if (!lines.next(line))
        return std::nullopt;
    const std::optional<uint64_t> release = parse_decimal(line, UINT32_MAX);
    if (!release)
        return std::nullopt;
    manifest.release = static_cast<uint32_t>(*release);
    if (!lines.next(line))
        return std::nullopt;
    const std::optional<uint64_t> size = parse_decimal(line, UINT64_MAX);
    if (!size || *size < 1 || *size > MAX_EXE_BYTES)
        return std::nullopt;
    manifest.exe_size = *size;
    ByteText digest;
    if (!lines.next(digest) || digest.length != 2 * SHA256_BYTES)
        return std::nullopt;
    if (lines.next(line))
        return std::nullopt;
    if (!decode_digest(digest, manifest.exe_sha256))
        return std::nullopt;
    return manifest;
}

std::optional<ReleaseManifest> parse_release_manifest(ByteText text) {
    LineCursor lines(text);
    ByteText line;
    if (!lines.next(line) || !line_is(line, RELEASE_MANIFEST_KIND))
        return std::nullopt;
    if (!lines.next(line) || !line_is(line, RELEASE_PRODUCT))
        return std::nullopt;
    ReleaseManifest manifest;
    if (!lines.next(manifest.version) || !version_is_valid(manifest.version))
        return std::nullopt;
    if (!lines.next(line))
        return std::nullopt;
    const std::optional<uint64_t> size = parse_decimal(line, UINT64_MAX);
    if (!size || !image_size_is_valid(*size))
        return std::nullopt;
    manifest.image_size = *size;
    if (!lines.next(line) || !decode_digest(line, manifest.image_sha256))
        return std::nullopt;
    if (!lines.next(manifest.image_url))
        return std::nullopt;
    if (lines.next(line))
        return std::nullopt;
    if (!parse_https_url(manifest.image_url).ok)
        return std::nullopt;
    return manifest;
}

bool sha256_matches(const uint8_t* bytes, uint64_t length, uint64_t expected_size,
                    const uint8_t (&expected_sha256)[SHA256_BYTES]) {
    if (length != expected_size)
        return false;
    uint8_t digest[SHA256_BYTES];
    return hash::sha256(bytes, length, digest) &&
           std::memcmp(digest, expected_sha256, SHA256_BYTES) == 0;
}

}  // namespace release
