// File helpers of the release tool. The tool runs on the publisher's
// machine, not in the installer, so it may allocate freely; every failure
// comes back as a message for the user.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

// Reads a whole file of at most max_bytes. On failure returns false and
// sets error to a sentence naming the file.
bool read_small_file(const std::string& path, size_t max_bytes, std::vector<uint8_t>& bytes,
                     std::string& error);

// Size and SHA-256 of a file of any size, read in pieces.
bool hash_file(const std::string& path, uint64_t& size, uint8_t (&sha256)[32], std::string& error);

// Writes bytes to path through a temporary file beside it and a rename, so
// that a host serving the folder never shows a half-written file.
bool write_file_atomically(const std::string& path, const uint8_t* bytes, size_t length,
                           std::string& error);

// Copies a file of any size the same way.
bool copy_file_atomically(const std::string& from, const std::string& to, std::string& error);

// Creates a folder and its parents as needed.
bool make_folders(const std::string& path, std::string& error);

std::string to_hex(const uint8_t* bytes, size_t length);

}  // namespace tool
