// SHA-256 from Windows' CNG, for the Windows build. bcrypt.dll is loaded from
// System32 through the seam, as every DLL that Windows does not always take
// from there. The algorithm is opened once for the process; each state makes
// one reusable hash, in its own storage, on first use and keeps it, so that
// hashing a message makes nothing.
#include <atomic>
#include <cstring>

#include "hash/sha256.h"
#include "sys/sys.h"

namespace hash {
namespace {

// BCryptHashData takes a ULONG length: longer inputs go in pieces.
constexpr size_t MAX_PIECE_BYTES = 0x40000000;

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

std::atomic<BCRYPT_ALG_HANDLE> opened_algorithm{nullptr};

// The SHA-256 provider, opened on first use. A failed open is tried again
// at the next use; two threads that open it at once keep one of the two.
BCRYPT_ALG_HANDLE algorithm() {
    BCRYPT_ALG_HANDLE current = opened_algorithm.load();
    if (current != nullptr)
        return current;
    BCRYPT_ALG_HANDLE fresh = nullptr;
    if (!succeeded(sys::BCryptOpenAlgorithmProvider(&fresh, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_HASH_REUSABLE_FLAG))) {
        return nullptr;
    }
    DWORD object_bytes = 0;
    ULONG got = 0;
    if (!succeeded(sys::BCryptGetProperty(fresh, BCRYPT_OBJECT_LENGTH,
                                          reinterpret_cast<PUCHAR>(&object_bytes),
                                          sizeof object_bytes, &got, 0)) ||
        object_bytes > SHA256_STATE_BYTES) {
        (void)sys::BCryptCloseAlgorithmProvider(fresh, 0);
        return nullptr;
    }
    if (!opened_algorithm.compare_exchange_strong(current, fresh)) {
        (void)sys::BCryptCloseAlgorithmProvider(fresh, 0);
        return current;
    }
    return fresh;
}

BCRYPT_HASH_HANDLE handle_of(const Sha256& state) {
    return static_cast<BCRYPT_HASH_HANDLE>(state.platform_hash);
}

bool make_hash(Sha256& state) {
    const BCRYPT_ALG_HANDLE provider = algorithm();
    BCRYPT_HASH_HANDLE made = nullptr;
    if (provider == nullptr ||
        !succeeded(sys::BCryptCreateHash(provider, &made, state.storage, SHA256_STATE_BYTES,
                                         nullptr, 0, BCRYPT_HASH_REUSABLE_FLAG))) {
        return false;
    }
    state.platform_hash = made;
    return true;
}

// Ends what the hash holds, so that it starts the next message empty; a hash
// that cannot be ended is given up and made anew at the next init.
bool finish_into(Sha256& state, uint8_t digest[SHA256_BYTES]) {
    if (succeeded(sys::BCryptFinishHash(handle_of(state), digest, SHA256_BYTES, 0)))
        return true;
    (void)sys::BCryptDestroyHash(handle_of(state));
    state.platform_hash = nullptr;
    return false;
}

}  // namespace

void sha256_init(Sha256& state) {
    if (state.platform_hash != nullptr && state.unfinished) {
        uint8_t dropped[SHA256_BYTES];
        (void)finish_into(state, dropped);
    }
    state.failed = state.platform_hash == nullptr && !make_hash(state);
    state.unfinished = !state.failed;
}

void sha256_update(Sha256& state, const void* bytes, size_t length) {
    const auto* next = static_cast<const uint8_t*>(bytes);
    while (!state.failed && length > 0) {
        const size_t piece = length < MAX_PIECE_BYTES ? length : MAX_PIECE_BYTES;
        state.failed = !succeeded(sys::BCryptHashData(handle_of(state), const_cast<PUCHAR>(next),
                                                      static_cast<ULONG>(piece), 0));
        next += piece;
        length -= piece;
    }
}

bool sha256_final(Sha256& state, uint8_t digest[SHA256_BYTES]) {
    bool ok = !state.failed && state.unfinished;
    if (state.platform_hash != nullptr && state.unfinished)
        ok = finish_into(state, digest) && ok;
    if (!ok)
        memset(digest, 0, SHA256_BYTES);
    state.unfinished = false;
    state.failed = false;
    return ok;
}

bool sha256(const void* bytes, size_t length, uint8_t digest[SHA256_BYTES]) {
    const BCRYPT_ALG_HANDLE provider = algorithm();
    const bool ok = provider != nullptr && length <= ULONG_MAX &&
                    succeeded(sys::BCryptHash(provider, nullptr, 0,
                                              static_cast<PUCHAR>(const_cast<void*>(bytes)),
                                              static_cast<ULONG>(length), digest, SHA256_BYTES));
    if (!ok)
        memset(digest, 0, SHA256_BYTES);
    return ok;
}

}  // namespace hash
