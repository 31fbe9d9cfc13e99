#include "sim/sim_backing_file.h"

#include <cstring>
#include <vector>

#include "text/utf8_to_utf16.h"

namespace sim {
namespace {

const sys::CallTable& binding() {
    return sys::default_calls();
}

OVERLAPPED at_offset(uint64_t offset) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ov;
}

std::string windows_error(const char* what, const std::string& path, DWORD error) {
    return std::string(what) + " " + path + " (Windows error " + std::to_string(error) + ")";
}

// Windows fills a file that grows with zeros on disk unless it is marked
// sparse; Wine and the host binding leave a hole without being asked, and
// there the request may fail harmlessly.
void mark_sparse(HANDLE file) {
#ifdef _WIN32
    DWORD returned = 0;
    (void)binding().DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned,
                                    nullptr);
#else
    (void)file;
#endif
}

}  // namespace

bool BackingFile::open(const std::string& path, uint64_t size_bytes, std::string& error) {
    close();
    std::vector<WCHAR> wide(path.size() + 1);
    const text::Utf16Conversion converted =
        text::utf8_to_utf16(path.data(), path.size(), wide.data(), wide.size());
    if (path.empty() || converted.invalid || converted.cut) {
        error = "not a usable file name: " + path;
        return false;
    }
    HANDLE file = binding().CreateFileW(wide.data(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = windows_error("cannot open", path, binding().GetLastError());
        return false;
    }
    handle_ = file;
    path_ = path;
    mark_sparse(file);
    LARGE_INTEGER size{};
    DWORD failure = 0;
    if (!binding().GetFileSizeEx(file, &size)) {
        failure = binding().GetLastError();
    } else if (static_cast<uint64_t>(size.QuadPart) < size_bytes) {
        // Writing the last byte extends the file; everything before it that
        // was never written stays a hole.
        const uint8_t zero = 0;
        (void)write(size_bytes - 1, &zero, 1, failure);
    }
    if (failure != 0) {
        error = windows_error("cannot extend", path, failure);
        close();
        return false;
    }
    return true;
}

void BackingFile::close() {
    if (handle_ != nullptr)
        (void)binding().CloseHandle(handle_);
    handle_ = nullptr;
    path_.clear();
}

bool BackingFile::read(uint64_t offset, uint8_t* bytes, DWORD count, DWORD& error) const {
    DWORD total = 0;
    while (total < count) {
        OVERLAPPED ov = at_offset(offset + total);
        DWORD moved = 0;
        if (!binding().ReadFile(handle_, bytes + total, count - total, &moved, &ov)) {
            const DWORD failure = binding().GetLastError();
            if (failure == ERROR_HANDLE_EOF)
                break;
            error = failure;
            return false;
        }
        if (moved == 0)
            break;
        total += moved;
    }
    memset(bytes + total, 0, count - total);
    return true;
}

bool BackingFile::write(uint64_t offset, const uint8_t* bytes, DWORD count, DWORD& error) const {
    DWORD total = 0;
    while (total < count) {
        OVERLAPPED ov = at_offset(offset + total);
        DWORD moved = 0;
        if (!binding().WriteFile(handle_, bytes + total, count - total, &moved, &ov)) {
            error = binding().GetLastError();
            return false;
        }
        if (moved == 0) {
            error = ERROR_GEN_FAILURE;
            return false;
        }
        total += moved;
    }
    return true;
}

}  // namespace sim
