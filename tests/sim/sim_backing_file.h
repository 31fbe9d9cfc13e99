// The bytes of a simulated drive kept in a file, so that a stick of many GB
// costs only what was written to it: the file is extended sparse (holes
// read as zeros) and transfers land in it at their own offsets.
//
// It speaks to the build's own binding (sys::default_calls()), not to the
// table in force: the file is the simulated hardware, not something the code
// under test opened, so the machine's faults, use counts and handle records
// never see it. Its transfers do not allocate.
#pragma once

#include <cstdint>
#include <string>

#include "sys/sys.h"

namespace sim {

class BackingFile {
  public:
    BackingFile() = default;
    ~BackingFile() { close(); }
    BackingFile(const BackingFile&) = delete;
    BackingFile& operator=(const BackingFile&) = delete;

    // Opens the file at `path` (UTF-8; a POSIX path in the host build, a
    // Windows path such as Z:\tmp\stick.img in the Windows build), creating
    // it when missing, and extends it to `size_bytes` when it is shorter,
    // without writing the bytes in between. A longer file stays as it is;
    // only its first `size_bytes` are the drive's. False with `error` when
    // the file cannot be opened or extended.
    bool open(const std::string& path, uint64_t size_bytes, std::string& error);
    void close();
    bool is_open() const { return handle_ != nullptr; }
    const std::string& path() const { return path_; }

    // Positioned transfers of `count` bytes. Bytes past the file's end read
    // as zeros. False with the binding's Windows error in `error`.
    bool read(uint64_t offset, uint8_t* bytes, DWORD count, DWORD& error) const;
    bool write(uint64_t offset, const uint8_t* bytes, DWORD count, DWORD& error) const;

  private:
    HANDLE handle_ = nullptr;
    std::string path_;
};

}  // namespace sim
