// Fuzzes the signed-manifest path: the framing check on raw bytes, and both
// parsers on texts that pass it. Raw fuzzed bytes almost never carry a valid
// signature, so each input is also signed here with the test key and fed
// through verify_signed_text, which must accept it, to the parsers.
#include <sodium.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "release/https_url.h"
#include "release/manifest.h"
#include "test_signing.h"

namespace {

using release::ByteText;

unsigned char secret_key[64];

bool inside(ByteText part, ByteText whole) {
    return part.data >= whole.data && part.length <= whole.length &&
           static_cast<size_t>(part.data - whole.data) <= whole.length - part.length;
}

void require(bool condition) {
    if (!condition)
        std::abort();
}

void check_parsers(ByteText text) {
    const auto update = release::parse_update_manifest(text);
    const auto image = release::parse_release_manifest(text);
    require(!(update && image));  // the first line tells the kinds apart
    if (update) {
        require(update->exe_size >= 1 && update->exe_size <= release::MAX_EXE_BYTES);
    }
    if (image) {
        require(inside(image->version, text) && inside(image->image_url, text));
        require(image->version.length >= 1 && image->version.length <= release::MAX_VERSION_BYTES);
        require(image->image_size >= release::MIN_IMAGE_BYTES &&
                image->image_size <= release::MAX_IMAGE_BYTES && image->image_size % 512 == 0);
        require(release::parse_https_url(image->image_url).ok);
    }
}

// body = data, a line feed, the signature of both in hex, a line feed.
size_t sign_into(const uint8_t* data, size_t size, char* body) {
    std::memcpy(body, data, size);
    body[size] = '\n';
    unsigned char signature[64];
    crypto_sign_ed25519_detached(signature, nullptr, reinterpret_cast<unsigned char*>(body),
                                 size + 1, secret_key);
    // Upper or lower case digits, chosen by the input, so both are fuzzed.
    const char* digits = size > 0 && (data[0] & 1) ? "0123456789ABCDEF" : "0123456789abcdef";
    for (size_t i = 0; i < 64; ++i) {
        body[size + 1 + 2 * i] = digits[signature[i] >> 4];
        body[size + 2 + 2 * i] = digits[signature[i] & 15];
    }
    body[size + 129] = '\n';
    return size + 130;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    require(sodium_init() >= 0);
    unsigned char seed[32];
    unsigned char public_key[32];
    for (size_t i = 0; i < 32; ++i) {
        char pair[3] = {test_signing::TEST_SEED_HEX[2 * i], test_signing::TEST_SEED_HEX[2 * i + 1],
                        0};
        seed[i] = static_cast<unsigned char>(std::strtoul(pair, nullptr, 16));
    }
    crypto_sign_ed25519_seed_keypair(public_key, secret_key, seed);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteText raw{reinterpret_cast<const char*>(data), size};
    if (const auto text = release::verify_signed_text(raw))
        check_parsers(*text);

    static char body[release::MAX_RELEASE_MANIFEST_BYTES + 1];
    if (size + release::MIN_SIGNED_BODY_BYTES > release::MAX_RELEASE_MANIFEST_BYTES)
        return 0;
    const size_t length = sign_into(data, size, body);
    const auto text = release::verify_signed_text({body, length});
    require(text.has_value() && text->data == body && text->length == size);
    check_parsers(*text);
    return 0;
}
