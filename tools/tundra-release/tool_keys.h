// Key files of the release tool. A secret key file holds the 32-byte
// Ed25519 seed as 64 hexadecimal digits and a line feed, readable by its
// owner only; the public key is derived from it whenever it is needed.
#pragma once

#include <cstdint>
#include <string>

namespace tool {

// The secret half is wiped when the pair goes, and the pair is never
// copied, so that no copy of it outlives its use. Its pages are locked in
// memory (never swapped to disk), and a process that holds one writes no
// core dump.
struct KeyPair {
    uint8_t public_key[32];
    uint8_t secret_key[64];  // libsodium's form: seed and public key

    KeyPair();
    KeyPair(const KeyPair&) = delete;
    KeyPair& operator=(const KeyPair&) = delete;
    ~KeyPair();
};

// Makes a new key pair and writes its seed to a new file (never over an
// existing one) with owner-only permissions, flushed to the disk with the
// folder's entry before it returns.
bool create_key_file(const std::string& path, KeyPair& keys, std::string& error);

// Refuses a file that anyone but its owner may read or write, as ssh does
// with its private keys: a secret that others can read is no longer secret;
// and a file that belongs to another user than the one running the tool,
// who could have put a key of theirs in its place.
bool read_key_file(const std::string& path, KeyPair& keys, std::string& error);

// A public key given as 64 hexadecimal digits, either case.
bool parse_public_key(const std::string& hex, uint8_t (&key)[32], std::string& error);

}  // namespace tool
