// SHA-256 from OpenSSL's libcrypto, for the host build. Its SHA256_* calls
// work on a context in our storage and allocate nothing, where the EVP
// interface would allocate a context for every message; they run the same
// assembly as EVP, with the SHA instructions where the processor has them.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <cstring>

#include "hash/sha256.h"

namespace hash {
namespace {

static_assert(sizeof(SHA256_CTX) <= SHA256_STATE_BYTES);
static_assert(SHA256_DIGEST_LENGTH == SHA256_BYTES);

SHA256_CTX& context(Sha256& state) {
    return *reinterpret_cast<SHA256_CTX*>(state.storage);
}

}  // namespace

void sha256_init(Sha256& state) {
    state.failed = SHA256_Init(&context(state)) != 1;
    state.unfinished = true;
}

void sha256_update(Sha256& state, const void* bytes, size_t length) {
    if (state.failed || length == 0)
        return;
    state.failed = SHA256_Update(&context(state), bytes, length) != 1;
}

bool sha256_final(Sha256& state, uint8_t digest[SHA256_BYTES]) {
    const bool ok = !state.failed && state.unfinished && SHA256_Final(digest, &context(state)) == 1;
    if (!ok)
        memset(digest, 0, SHA256_BYTES);
    state.unfinished = false;
    state.failed = false;
    return ok;
}

bool sha256(const void* bytes, size_t length, uint8_t digest[SHA256_BYTES]) {
    SHA256_CTX one;
    const bool ok = SHA256_Init(&one) == 1 &&
                    (length == 0 || SHA256_Update(&one, bytes, length) == 1) &&
                    SHA256_Final(digest, &one) == 1;
    if (!ok)
        memset(digest, 0, SHA256_BYTES);
    return ok;
}

}  // namespace hash
