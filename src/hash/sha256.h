// The one SHA-256 of the whole program: the image while it downloads and in
// the engine, the stick on read-back, backups, manifests and the publisher's
// tool all hash through it. It stands on the platform's own well-kept
// implementation, which uses the processor's SHA instructions where it has
// them: Windows' CNG in the Windows build, OpenSSL's libcrypto on the host.
// Nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hash {

constexpr size_t SHA256_BYTES = 32;
// Room for the platform's own state: CNG's hash object on Windows,
// libcrypto's context on the host. Checked where each is made.
constexpr size_t SHA256_STATE_BYTES = 1024;

// A digest in progress, in the caller's storage. On Windows it keeps the
// reusable hash it made on first use and serves every later message with
// it, so that a run makes nothing: keep it where it lives for the whole
// process (static storage), and never copy it.
struct Sha256 {
    Sha256() = default;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void* platform_hash = nullptr;  // Windows: the reusable hash, made on first use
    bool failed = false;            // a step failed since init: final says so
    bool unfinished = false;        // bytes went in since the last final
    alignas(16) unsigned char storage[SHA256_STATE_BYTES];
};

// Starts a new message; whatever the state held before is dropped.
void sha256_init(Sha256& state);

// Adds bytes to the message. A failure is kept for sha256_final to report.
void sha256_update(Sha256& state, const void* bytes, size_t length);

// The digest of everything added since init. False, with the digest zeroed,
// when any step failed. The state is then ready for the next init.
[[nodiscard]] bool sha256_final(Sha256& state, uint8_t digest[SHA256_BYTES]);

// The digest of one message in one call.
[[nodiscard]] bool sha256(const void* bytes, size_t length, uint8_t digest[SHA256_BYTES]);

}  // namespace hash
