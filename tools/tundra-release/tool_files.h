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

// Whether a file (of any kind) exists at path.
bool file_exists(const std::string& path);

// Writes bytes to path so that a host serving the folder, or a machine that
// loses power, never shows a half-written file: through a temporary file of
// a unique name beside it, created exclusively; the file and its folder are
// flushed to the disk before the rename, and the folder again after it. On
// failure the temporary file is removed and path is as it was.
bool write_file_durably(const std::string& path, const uint8_t* bytes, size_t length,
                        std::string& error);

// Copies a file of any size the same way, hashing the bytes as they are copied, and renames
// the copy into place only when they have the given size and SHA-256: what
// lands on the host is what was checked, even if the source changes after
// its check.
bool copy_file_checked(const std::string& from, const std::string& to, uint64_t size,
                       const uint8_t (&sha256)[32], std::string& error);

// An exclusive lock on a lock file in a folder, held while the object
// lives: one publish into a host folder at a time. A publish that finds
// another running says so and waits for it.
class FolderLock {
  public:
    FolderLock() = default;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock();
    bool take(const std::string& folder, std::string& error);

  private:
    int fd_ = -1;
};

// Flushes a folder's entries (new names, renames) to the disk.
bool flush_folder(const std::string& folder, std::string& error);

// The folder part of a path ("." for a bare name).
std::string folder_of(const std::string& path);

// Creates a folder and its parents as needed.
bool make_folders(const std::string& path, std::string& error);

std::string to_hex(const uint8_t* bytes, size_t length);

}  // namespace tool
