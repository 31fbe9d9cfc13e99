#include "tool_files.h"

#include <dirent.h>
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

// A temporary file beside its final name in a folder held by descriptor,
// under a name no one else uses: ".NAME.tmp-" and random hex digits,
// created exclusively and never through a link.
class TemporaryFile {
  public:
    TemporaryFile(int folder, const std::string& name, const std::string& shown)
        : folder_(folder), name_(name), shown_(shown) {}
    ~TemporaryFile() {
        if (fd_ >= 0)
            close(fd_);
        if (!temp_.empty())
            unlinkat(folder_, temp_.c_str(), 0);
    }

    bool create(std::string& error) {
        for (int attempt = 0; attempt < 8; ++attempt) {
            uint8_t random[8];
            randombytes_buf(random, sizeof random);
            const std::string candidate = "." + name_ + ".tmp-" + to_hex(random, sizeof random);
            fd_ = openat(folder_, candidate.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd_ >= 0) {
                temp_ = candidate;
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        error = reason("cannot create a temporary file for", shown_);
        return false;
    }

    bool write(const uint8_t* bytes, size_t length, std::string& error) {
        if (write_all(fd_, bytes, length))
            return true;
        error = reason("cannot write a temporary file for", shown_);
        return false;
    }

    // The bytes reach the disk, then the name; the rename makes the file
    // appear whole, and the folder's flush keeps the rename. The rename
    // replaces the name itself, a link there included, never its target.
    bool commit(std::string& error) {
        if (fsync(fd_) != 0) {
            error = reason("cannot flush", shown_);
            return false;
        }
        const int closed = close(fd_);
        fd_ = -1;
        if (closed != 0) {
            error = reason("cannot write", shown_);
            return false;
        }
        if (fsync(folder_) != 0) {
            error = reason("cannot flush the folder of", shown_);
            return false;
        }
        if (renameat(folder_, temp_.c_str(), folder_, name_.c_str()) != 0) {
            error = reason("cannot rename to", shown_);
            return false;
        }
        temp_.clear();
        if (fsync(folder_) != 0) {
            error = reason("cannot flush the folder of", shown_);
            return false;
        }
        return true;
    }

  private:
    int folder_;
    std::string name_;
    std::string shown_;
    std::string temp_;
    int fd_ = -1;
};

std::string name_of(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// A name that a publish's temporary file has: ".NAME.tmp-" and 16 hex digits.
bool is_temporary_name(const std::string& name) {
    const size_t mark = name.rfind(".tmp-");
    if (name.size() < 2 || name[0] != '.' || mark == std::string::npos || mark < 2 ||
        name.size() - mark != 5 + 16) {
        return false;
    }
    for (size_t i = mark + 5; i < name.size(); ++i) {
        if (std::strchr("0123456789abcdef", name[i]) == nullptr)
            return false;
    }
    return true;
}

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
    const std::string folder = folder_of(path);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = reason("cannot open folder", folder);
        return false;
    }
    bool written = false;
    {
        TemporaryFile file(fd, name_of(path), path);
        written = file.create(error) && file.write(bytes, length, error) && file.commit(error);
    }
    close(fd);
    return written;
}

bool write_file_durably(const HostFolder& host, const std::string& relative, const uint8_t* bytes,
                        size_t length, std::string& error) {
    const int fd = host.open_folder(folder_of(relative), true, error);
    if (fd < 0)
        return false;
    bool written = false;
    {
        TemporaryFile file(fd, name_of(relative), host.shown(relative));
        written = file.create(error) && file.write(bytes, length, error) && file.commit(error);
    }
    close(fd);
    return written;
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

bool copy_file_checked(const std::string& from, const HostFolder& host, const std::string& relative,
                       uint64_t size, const uint8_t (&sha256)[32], std::string& error) {
    const std::string to = host.shown(relative);
    const int folder = host.open_folder(folder_of(relative), true, error);
    if (folder < 0)
        return false;
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{folder};
    TemporaryFile file(folder, name_of(relative), to);
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

HostFolder::~HostFolder() {
    if (fd_ >= 0)
        close(fd_);
}

bool HostFolder::open(const std::string& folder, std::string& error) {
    folder_ = folder;
    if (!make_folders(folder, error))
        return false;
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        error = reason("cannot open folder", folder);
        return false;
    }
    return true;
}

int HostFolder::open_folder(const std::string& relative, bool make, std::string& error) const {
    int at = dup(fd_);
    size_t start = 0;
    while (at >= 0 && relative != "." && start < relative.size()) {
        size_t slash = relative.find('/', start);
        if (slash == std::string::npos)
            slash = relative.size();
        const std::string name = relative.substr(start, slash - start);
        const std::string shown_level = shown(relative.substr(0, slash));
        if (name.empty() || name == "." || name == "..") {
            error = "refused: " + shown_level + " is not a plain folder name";
            close(at);
            return -1;
        }
        if (make && mkdirat(at, name.c_str(), 0755) != 0 && errno != EEXIST) {
            error = reason("cannot create folder", shown_level);
            close(at);
            return -1;
        }
        const int next = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            error = errno == ELOOP || errno == ENOTDIR
                        ? "refused: " + shown_level +
                              " is a symbolic link or not a folder; nothing is written through it"
                        : reason("cannot open folder", shown_level);
            close(at);
            return -1;
        }
        close(at);
        at = next;
        start = slash + 1;
    }
    if (at < 0)
        error = reason("cannot open folder", folder_);
    return at;
}

int HostFolder::open_file(const std::string& relative, std::string& error) const {
    const int folder = open_folder(folder_of(relative), false, error);
    if (folder < 0)
        return -1;
    const int fd = openat(folder, name_of(relative).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ELOOP ? "refused: " + shown(relative) + " is a symbolic link"
                               : reason("cannot open", shown(relative));
    }
    close(folder);
    return fd;
}

bool HostFolder::has(const std::string& relative) const {
    std::string ignored;
    const int folder = open_folder(folder_of(relative), false, ignored);
    if (folder < 0)
        return errno != ENOENT;  // a link or a file in a folder's place is something there
    struct stat info;
    const bool there =
        fstatat(folder, name_of(relative).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    close(folder);
    return there;
}

namespace {

// Removes the temporary files in a folder and the folders below it, never
// going through a link; `shown` names the folder in messages.
void remove_temporary_files(int folder, const std::string& shown, int depth) {
    const int listed = dup(folder);
    DIR* listing = listed >= 0 ? fdopendir(listed) : nullptr;
    if (listing == nullptr) {
        if (listed >= 0)
            close(listed);
        return;
    }
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info;
        if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(info.st_mode) && depth < 16) {
            const int below =
                openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (below >= 0) {
                remove_temporary_files(below, shown + "/" + name, depth + 1);
                close(below);
            }
        } else if (S_ISREG(info.st_mode) && is_temporary_name(name) &&
                   unlinkat(folder, name.c_str(), 0) == 0) {
            std::printf("removed %s/%s, left by a publish that did not end\n", shown.c_str(),
                        name.c_str());
        }
    }
    closedir(listing);
}

}  // namespace

void HostFolder::remove_stale_temporary_files() const {
    remove_temporary_files(fd_, folder_, 0);
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
