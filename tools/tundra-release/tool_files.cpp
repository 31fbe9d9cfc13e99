#include "tool_files.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tool {

namespace {

constexpr size_t PIECE_BYTES = 1 << 20;

std::string reason(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
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
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    size = 0;
    size_t got = 0;
    while ((got = std::fread(piece.data(), 1, piece.size(), file)) > 0) {
        crypto_hash_sha256_update(&state, piece.data(), got);
        size += got;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = reason("cannot read", path);
        return false;
    }
    crypto_hash_sha256_final(&state, sha256);
    return true;
}

namespace {

// Opens path + ".partial" for writing, owner read-write and everyone read.
FILE* open_partial(const std::string& path, std::string& error) {
    const std::string partial = path + ".partial";
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        error = reason("cannot create", partial);
        return nullptr;
    }
    return fdopen(fd, "wb");
}

bool finish_partial(FILE* file, const std::string& path, bool written, std::string& error) {
    const std::string partial = path + ".partial";
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = reason("cannot write", partial);
        unlink(partial.c_str());
        return false;
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        error = reason("cannot rename to", path);
        unlink(partial.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool write_file_atomically(const std::string& path, const uint8_t* bytes, size_t length,
                           std::string& error) {
    FILE* file = open_partial(path, error);
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes, 1, length, file) == length;
    return finish_partial(file, path, written, error);
}

bool copy_file_atomically(const std::string& from, const std::string& to, std::string& error) {
    FILE* source = std::fopen(from.c_str(), "rb");
    if (source == nullptr) {
        error = reason("cannot open", from);
        return false;
    }
    FILE* file = open_partial(to, error);
    if (file == nullptr) {
        std::fclose(source);
        return false;
    }
    std::vector<uint8_t> piece(PIECE_BYTES);
    bool written = true;
    size_t got = 0;
    while (written && (got = std::fread(piece.data(), 1, piece.size(), source)) > 0) {
        written = std::fwrite(piece.data(), 1, got, file) == got;
    }
    const bool read_failed = std::ferror(source) != 0;
    std::fclose(source);
    if (read_failed) {
        std::fclose(file);
        unlink((to + ".partial").c_str());
        error = "cannot read " + from;
        return false;
    }
    return finish_partial(file, to, written, error);
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
