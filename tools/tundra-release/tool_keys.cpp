#include "tool_keys.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "release/hex_digits.h"
#include "tool_files.h"

namespace tool {

namespace {

constexpr size_t SEED_BYTES = 32;
constexpr size_t KEY_FILE_BYTES = 2 * SEED_BYTES + 1;

}  // namespace

bool create_key_file(const std::string& path, KeyPair& keys, std::string& error) {
    crypto_sign_ed25519_keypair(keys.public_key, keys.secret_key);
    uint8_t seed[SEED_BYTES];
    crypto_sign_ed25519_sk_to_seed(seed, keys.secret_key);
    const std::string text = to_hex(seed, SEED_BYTES) + "\n";
    sodium_memzero(seed, sizeof seed);
    // O_EXCL: a key is never overwritten, since losing it means losing the
    // ability to sign for every installer that trusts it.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        error = "cannot create key file " + path + ": " + std::strerror(errno);
        return false;
    }
    // The key reaches the disk, name included, before anyone sees its public
    // half: a product built with a key whose secret was lost in a crash
    // could never be updated again.
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool flushed = written && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!flushed || !closed) {
        error = "cannot write key file " + path + ": " + std::strerror(errno);
        unlink(path.c_str());
        return false;
    }
    return flush_folder(folder_of(path), error);
}

bool read_key_file(const std::string& path, KeyPair& keys, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!read_small_file(path, KEY_FILE_BYTES, bytes, error))
        return false;
    uint8_t seed[SEED_BYTES];
    const bool well_formed =
        bytes.size() == KEY_FILE_BYTES && bytes.back() == '\n' &&
        release::decode_hex(reinterpret_cast<const char*>(bytes.data()), SEED_BYTES, seed);
    if (!well_formed) {
        error = path + " is not a key file (64 hexadecimal digits and a line feed)";
        return false;
    }
    crypto_sign_ed25519_seed_keypair(keys.public_key, keys.secret_key, seed);
    sodium_memzero(seed, sizeof seed);
    return true;
}

bool parse_public_key(const std::string& hex, uint8_t (&key)[32], std::string& error) {
    if (hex.size() != 64 || !release::decode_hex(hex.data(), 32, key)) {
        error = "a public key is 64 hexadecimal digits, not \"" + hex + "\"";
        return false;
    }
    return true;
}

}  // namespace tool
