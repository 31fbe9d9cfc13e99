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

// The folder the download host serves, held by a descriptor from the
// moment it is opened: every path under it is walked from that descriptor
// one name at a time (openat, mkdirat, renameat), never through a symbolic
// link, so that nobody who can write in the folder can send a publish's
// files elsewhere.
class HostFolder {
  public:
    HostFolder() = default;
    HostFolder(const HostFolder&) = delete;
    HostFolder& operator=(const HostFolder&) = delete;
    ~HostFolder();
    // Makes the folder if needed (the publisher names it) and holds it.
    bool open(const std::string& folder, std::string& error);
    // A folder under it ("install/releases", or "." for itself), made when
    // missing if `make`: a descriptor for the caller to close, or -1.
    int open_folder(const std::string& relative, bool make, std::string& error) const;
    // A file under it, opened for reading: a descriptor, or -1.
    int open_file(const std::string& relative, std::string& error) const;
    // Whether anything is at a path under it (a link counts).
    bool has(const std::string& relative) const;
    // Removes the temporary files that a publish killed half-way left.
    void remove_stale_temporary_files() const;
    std::string shown(const std::string& relative) const { return folder_ + "/" + relative; }
    const std::string& path() const { return folder_; }

  private:
    std::string folder_;
    int fd_ = -1;
};

// Writes bytes to path so that a host serving the folder, or a machine that
// loses power, never shows a half-written file: through a temporary file of
// a unique name beside it, created exclusively; the file and its folder are
// flushed to the disk before the rename, and the folder again after it. On
// failure the temporary file is removed and path is as it was.
bool write_file_durably(const std::string& path, const uint8_t* bytes, size_t length,
                        std::string& error);
// The same at a path under the host folder.
bool write_file_durably(const HostFolder& host, const std::string& relative, const uint8_t* bytes,
                        size_t length, std::string& error);

// Copies a file of any size the same way, hashing the bytes as they are copied, and renames
// the copy into place only when they have the given size and SHA-256: what
// lands on the host is what was checked, even if the source changes after
// its check.
bool copy_file_checked(const std::string& from, const HostFolder& host, const std::string& relative,
                       uint64_t size, const uint8_t (&sha256)[32], std::string& error);

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
