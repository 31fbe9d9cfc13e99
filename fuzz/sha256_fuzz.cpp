// The SHA-256 module against libsodium's: the message is the input after
// its first byte, fed to the module in pieces whose lengths come from the
// message's own bytes (scaled by the first byte), and through the one-call
// form; any digest that differs from libsodium's aborts.
#include <sodium.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hash/sha256.h"

namespace {
hash::Sha256 state;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const unsigned scale = data[0] % 8;
    const uint8_t* message = data + 1;
    const size_t length = size - 1;

    uint8_t expected[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(expected, message, length);

    hash::sha256_init(state);
    for (size_t at = 0; at < length;) {
        const size_t wanted = (size_t{message[at]} << scale) + 1;
        const size_t piece = wanted < length - at ? wanted : length - at;
        hash::sha256_update(state, message + at, piece);
        at += piece;
    }
    uint8_t streamed[hash::SHA256_BYTES];
    uint8_t whole[hash::SHA256_BYTES];
    if (!hash::sha256_final(state, streamed) || !hash::sha256(message, length, whole))
        std::abort();
    if (std::memcmp(streamed, expected, sizeof expected) != 0 ||
        std::memcmp(whole, expected, sizeof expected) != 0) {
        std::abort();
    }
    return 0;
}
