#include "tool_keys.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "release/hex_digits.h"
#include "tool_files.h"

namespace tool {

namespace {

constexpr size_t SEED_BYTES = 32;
constexpr size_t KEY_FILE_BYTES = 2 * SEED_BYTES + 1;

// The key file's text, on the stack and wiped when it goes: never in a
// string or a stdio buffer, whose heap memory is freed unwiped.
struct KeyText {
    char bytes[KEY_FILE_BYTES + 1];
    KeyText() { (void)sodium_mlock(bytes, sizeof bytes); }
    ~KeyText() { (void)sodium_munlock(bytes, sizeof bytes); }  // wipes them too
};

// A core dump of a process that holds a secret would hold it too.
void keep_out_of_core_dumps() {
    (void)prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void seed_to_text(const uint8_t (&seed)[SEED_BYTES], KeyText& text) {
    static const char DIGITS[] = "0123456789abcdef";
    for (size_t i = 0; i < SEED_BYTES; ++i) {
        text.bytes[2 * i] = DIGITS[seed[i] >> 4];
        text.bytes[2 * i + 1] = DIGITS[seed[i] & 15];
    }
    text.bytes[2 * SEED_BYTES] = '\n';
}

std::string octal_mode(mode_t mode) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04o", static_cast<unsigned>(mode & 07777));
    return digits;
}

// The whole file into `text`; `length` is what it held, up to one byte
// more than a key file holds.
bool read_key_text(int fd, const std::string& path, KeyText& text, size_t& length,
                   std::string& error) {
    length = 0;
    for (;;) {
        const ssize_t got = read(fd, text.bytes + length, sizeof text.bytes - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            return false;
        }
        length += static_cast<size_t>(got);
        if (got == 0 || length == sizeof text.bytes)
            return true;
    }
}

}  // namespace

KeyPair::KeyPair() {
    keep_out_of_core_dumps();
    // Locking may be refused (a low RLIMIT_MEMLOCK); the key is still wiped.
    (void)sodium_mlock(secret_key, sizeof secret_key);
}

KeyPair::~KeyPair() {
    sodium_memzero(secret_key, sizeof secret_key);
    (void)sodium_munlock(secret_key, sizeof secret_key);
}

bool create_key_file(const std::string& path, KeyPair& keys, std::string& error) {
    crypto_sign_ed25519_keypair(keys.public_key, keys.secret_key);
    uint8_t seed[SEED_BYTES];
    crypto_sign_ed25519_sk_to_seed(seed, keys.secret_key);
    KeyText text;
    seed_to_text(seed, text);
    sodium_memzero(seed, sizeof seed);
    // O_EXCL: a key is never overwritten, since losing it means losing the
    // ability to sign for every installer that trusts it.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot create key file " + path + ": " + std::strerror(errno);
        return false;
    }
    // The key reaches the disk, name included, before anyone sees its public
    // half: a product built with a key whose secret was lost in a crash
    // could never be updated again.
    const bool written =
        write(fd, text.bytes, KEY_FILE_BYTES) == static_cast<ssize_t>(KEY_FILE_BYTES);
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
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    if (info.st_uid != geteuid()) {
        error = "refused: " + path + " belongs to user " + std::to_string(info.st_uid) +
                ", not to the user running this tool (" + std::to_string(geteuid()) +
                "): a key file someone else owns could hold their key";
        close(fd);
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        error = "permissions " + octal_mode(info.st_mode) + " for " + path +
                " are too open: a secret key file must be readable by its owner only (chmod 600 " +
                path + ")";
        close(fd);
        return false;
    }
    KeyText text;
    size_t length = 0;
    const bool read_whole = read_key_text(fd, path, text, length, error);
    close(fd);
    if (!read_whole)
        return false;
    uint8_t seed[SEED_BYTES];
    const bool well_formed = length == KEY_FILE_BYTES && text.bytes[KEY_FILE_BYTES - 1] == '\n' &&
                             release::decode_hex(text.bytes, SEED_BYTES, seed);
    if (!well_formed) {
        sodium_memzero(seed, sizeof seed);
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
