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
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool closed = close(fd) == 0;
    if (!written || !closed) {
        error = "cannot write key file " + path;
        unlink(path.c_str());
        return false;
    }
    return true;
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

std::string public_key_constant(const uint8_t (&key)[32]) {
    std::string out = "const uint8_t RELEASE_SIGNING_KEY[SIGNING_KEY_BYTES] = {";
    for (size_t i = 0; i < 32; ++i) {
        out += i % 8 == 0 ? "\n    " : " ";
        out += "0x" + to_hex(key + i, 1) + ",";
    }
    return out + "\n};\n";
}

}  // namespace tool
