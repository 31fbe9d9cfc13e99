#include "tool_files.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hash/sha256.h"

namespace tool {

namespace {

constexpr size_t PIECE_BYTES = 1 << 20;

std::string reason(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool write_all(int fd, const uint8_t* bytes, size_t length) {
    while (length > 0) {
        const ssize_t done = write(fd, bytes, length);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        length -= static_cast<size_t>(done);
    }
    return true;
}

// A temporary file beside its final path, under a name no one else uses:
// ".NAME.tmp-" and random hex digits, created exclusively.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& final_path) : final_(final_path) {}
    ~TemporaryFile() {
        if (fd_ >= 0)
            close(fd_);
        if (!temp_.empty())
            unlink(temp_.c_str());
    }

    bool create(std::string& error) {
        const std::string folder = folder_of(final_);
        const std::string name = final_.substr(final_.rfind('/') + 1);
        for (int attempt = 0; attempt < 8; ++attempt) {
            uint8_t random[8];
            randombytes_buf(random, sizeof random);
            const std::string candidate =
                folder + "/." + name + ".tmp-" + to_hex(random, sizeof random);
            fd_ = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd_ >= 0) {
                temp_ = candidate;
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        error = reason("cannot create a temporary file for", final_);
        return false;
    }

    bool write(const uint8_t* bytes, size_t length, std::string& error) {
        if (write_all(fd_, bytes, length))
            return true;
        error = reason("cannot write", temp_);
        return false;
    }

    // The bytes reach the disk, then the name; the rename makes the file
    // appear whole, and the folder's flush keeps the rename.
    bool commit(std::string& error) {
        const std::string folder = folder_of(final_);
        if (fsync(fd_) != 0) {
            error = reason("cannot flush", temp_);
            return false;
        }
        const int closed = close(fd_);
        fd_ = -1;
        if (closed != 0) {
            error = reason("cannot write", temp_);
            return false;
        }
        if (!flush_folder(folder, error))
            return false;
        if (std::rename(temp_.c_str(), final_.c_str()) != 0) {
            error = reason("cannot rename to", final_);
            return false;
        }
        temp_.clear();
        return flush_folder(folder, error);
    }

  private:
    std::string final_;
    std::string temp_;
    int fd_ = -1;
};

}  // namespace

bool read_small_file(const std::string& path, size_t max_bytes, std::vector<uint8_t>& bytes,
                     std::string& error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = reason("cannot open", path);
        return false;
    }
    bytes.assign(max_bytes + 1, 0);
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = reason("cannot read", path);
        return false;
    }
    if (got > max_bytes) {
        error = path + " is larger than " + std::to_string(max_bytes) + " bytes";
        return false;
    }
    bytes.resize(got);
    return true;
}

bool hash_file(const std::string& path, uint64_t& size, uint8_t (&sha256)[32], std::string& error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = reason("cannot open", path);
        return false;
    }
    std::vector<uint8_t> piece(PIECE_BYTES);
    static hash::Sha256 state;
    hash::sha256_init(state);
    size = 0;
    size_t got = 0;
    while ((got = std::fread(piece.data(), 1, piece.size(), file)) > 0) {
        hash::sha256_update(state, piece.data(), got);
        size += got;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = reason("cannot read", path);
        return false;
    }
    if (!hash::sha256_final(state, sha256)) {
        error = reason("cannot hash", path);
        return false;
    }
    return true;
}

bool file_exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool write_file_durably(const std::string& path, const uint8_t* bytes, size_t length,
                        std::string& error) {
    TemporaryFile file(path);
    return file.create(error) && file.write(bytes, length, error) && file.commit(error);
}

namespace {

// Copies `from` into the temporary file, feeding each piece to the digest.
bool copy_into(const std::string& from, TemporaryFile& file, hash::Sha256& state,
               uint64_t& copied, std::string& error) {
    FILE* source = std::fopen(from.c_str(), "rb");
    if (source == nullptr) {
        error = reason("cannot open", from);
        return false;
    }
    bool ok = file.create(error);
    std::vector<uint8_t> piece(PIECE_BYTES);
    size_t got = 0;
    copied = 0;
    while (ok && (got = std::fread(piece.data(), 1, piece.size(), source)) > 0) {
        hash::sha256_update(state, piece.data(), got);
        copied += got;
        ok = file.write(piece.data(), got, error);
    }
    if (ok && std::ferror(source) != 0) {
        error = reason("cannot read", from);
        ok = false;
    }
    std::fclose(source);
    return ok;
}

}  // namespace

bool copy_file_checked(const std::string& from, const std::string& to, uint64_t size,
                       const uint8_t (&sha256)[32], std::string& error) {
    TemporaryFile file(to);
    static hash::Sha256 state;
    hash::sha256_init(state);
    uint64_t copied = 0;
    if (!copy_into(from, file, state, copied, error))
        return false;
    uint8_t digest[32];
    if (!hash::sha256_final(state, digest)) {
        error = reason("cannot hash", from);
        return false;
    }
    if (copied != size || std::memcmp(digest, sha256, sizeof digest) != 0) {
        error = "refused: " + from +
                " changed while it was being published (its bytes no longer have the size and "
                "SHA-256 that its manifest states); nothing was placed at " +
                to;
        return false;
    }
    return file.commit(error);
}

FolderLock::~FolderLock() {
    if (fd_ >= 0)
        close(fd_);
}

bool FolderLock::take(const std::string& folder, std::string& error) {
    const std::string path = folder + "/.tundra-release.lock";
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
        error = reason("cannot open the lock file", path);
        return false;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0)
        return true;
    if (errno != EWOULDBLOCK) {
        error = reason("cannot lock", path);
        return false;
    }
    std::fprintf(stderr, "tundra-release: waiting for another publish into %s to end\n",
                 folder.c_str());
    while (flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = reason("cannot lock", path);
            return false;
        }
    }
    return true;
}

bool flush_folder(const std::string& folder, std::string& error) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = reason("cannot open folder", folder);
        return false;
    }
    const bool flushed = fsync(fd) == 0;
    if (!flushed)
        error = reason("cannot flush folder", folder);
    close(fd);
    return flushed;
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool make_folders(const std::string& path, std::string& error) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            error = reason("cannot create folder", prefix);
            return false;
        }
        if (slash == std::string::npos)
            return true;
    }
}

std::string to_hex(const uint8_t* bytes, size_t length) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += DIGITS[bytes[i] >> 4];
        out += DIGITS[bytes[i] & 15];
    }
    return out;
}

}  // namespace tool
