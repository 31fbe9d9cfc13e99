#include "engine/target_disk.h"

#include <cstring>

#include "discovery/disk_probe.h"
#include "engine/run_names.h"

namespace engine {
namespace {

using discovery::StickRecord;

bool ascii_equal_ignoring_case(const char* a, const char* b, uint64_t length) {
    for (uint64_t i = 0; i < length; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool has_serial(const StickRecord& r, text::ByteText serial) {
    return r.serial_len == serial.length && ascii_equal_ignoring_case(r.serial, serial.data, r.serial_len);
}

// An empty text is always contained.
bool contains_ignoring_case(const char* haystack, uint64_t length, text::ByteText needle) {
    if (needle.length > length) return false;
    for (uint64_t at = 0; at + needle.length <= length; ++at) {
        if (ascii_equal_ignoring_case(haystack + at, needle.data, needle.length)) return true;
    }
    return false;
}

// size <= max_gb x 10^9 without letting the product overflow.
bool within_max_gb(uint64_t size_bytes, uint64_t max_gb) {
    constexpr uint64_t GB = 1000000000ull;
    if (max_gb > UINT64_MAX / GB) return true;
    return size_bytes <= max_gb * GB;
}

bool is_sector_size(uint32_t bytes) { return bytes >= 1 && bytes <= 4096 && (bytes & (bytes - 1)) == 0; }

text::ByteText vendor_of(const StickRecord& r) { return {r.vendor, r.vendor_len}; }
text::ByteText product_of(const StickRecord& r) { return {r.product, r.product_len}; }

Result vet_stick(const StickRecord& r, const WriteOptions& options) {
    const uint32_t n = r.disk_number;
    if (r.bus_type != discovery::BUS_TYPE_USB) {
        return fail("disk ", n, " (serial ", options.serial, ") is on ", bus_name(r.bus_type),
                    ", not USB: not a stick");
    }
    const uint64_t mask = discovery::system_disk_mask();
    const bool on_system_disk = n < 64 && (mask & (uint64_t{1} << n)) != 0;
    if (on_system_disk) return fail("disk ", n, " is the disk Windows runs from");
    if (r.size_bytes == 0 || !within_max_gb(r.size_bytes, options.max_gb)) {
        return fail("disk ", n, " says it holds ", text::Gb{r.size_bytes}, " GB, more than --max-gb ",
                    options.max_gb, " (a fake-capacity stick says it holds more than it does)");
    }
    if (!options.required_model.is_none() &&
        !contains_ignoring_case(r.product, r.product_len, options.required_model)) {
        return fail("disk ", n, " is a ", vendor_of(r), " ", product_of(r), ", not a ",
                    options.required_model);
    }
    if (options.has_expected_stick &&
        (mask == 0 || on_system_disk || !same_stick(r, options.expected_stick))) {
        return fail("Windows could not verify the selected USB drive. Refresh and choose it again.");
    }
    return Result::Success;
}

}  // namespace

const char* bus_name(uint32_t bus_type) {
    switch (bus_type) {
        case 1: return "SCSI";
        case 3: return "ATA";
        case 7: return "USB";
        case 8: return "RAID";
        case 10: return "SAS";
        case 11: return "SATA";
        case 12: return "SD";
        case 13: return "MMC";
        case 14: return "virtual";
        case 15: return "VHD";
        case 17: return "NVMe";
        default: return "other";
    }
}

bool same_stick(const StickRecord& a, const StickRecord& b) {
    return a.disk_number == b.disk_number && a.bytes_per_sector == b.bytes_per_sector &&
           a.size_bytes == b.size_bytes && a.bus_type == discovery::BUS_TYPE_USB &&
           b.bus_type == discovery::BUS_TYPE_USB && a.serial_len == b.serial_len &&
           a.vendor_len == b.vendor_len && a.product_len == b.product_len &&
           memcmp(a.serial, b.serial, a.serial_len) == 0 &&
           memcmp(a.vendor, b.vendor, a.vendor_len) == 0 &&
           memcmp(a.product, b.product, a.product_len) == 0;
}

Result open_existing_file(WideText path, bool writable, DWORD share_mode, const char* what,
                          OpenedFile& opened) {
    const DWORD access = writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    const DWORD share = writable ? FILE_SHARE_READ : share_mode;
    const DWORD flags = writable ? FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED
                                 : FILE_FLAG_SEQUENTIAL_SCAN;
    HANDLE h = sys::CreateFileW(path.data, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = sys::GetLastError();
        return fail("cannot open the ", what, " ", path_text(path), " (Windows error ", code, ")");
    }
    LARGE_INTEGER size{};
    if (!sys::GetFileSizeEx(h, &size)) {
        (void)sys::CloseHandle(h);
        return fail("cannot tell the ", what, "'s size");
    }
    opened.handle = h;
    opened.size = static_cast<uint64_t>(size.QuadPart);
    return Result::Success;
}

Result reopen_image_file(HANDLE file, WideText path, OpenedFile& opened) {
    HANDLE h =
        sys::ReOpenFile(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        FILE_FLAG_SEQUENTIAL_SCAN);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = sys::GetLastError();
        return fail("cannot open the image ", path_text(path), " (Windows error ", code, ")");
    }
    LARGE_INTEGER size{};
    if (!sys::GetFileSizeEx(h, &size)) {
        (void)sys::CloseHandle(h);
        return fail("cannot tell the image's size");
    }
    opened.handle = h;
    opened.size = static_cast<uint64_t>(size.QuadPart);
    return Result::Success;
}

Result find_stick_by_serial(const WriteOptions& options, StickRecord& found) {
    if (options.serial.is_none()) {
        return fail("which stick? --serial S (tundra-stick list shows the serial numbers)");
    }
    uint64_t matches = 0;
    for (uint32_t n = 0; n < discovery::STICK_LIST_CAPACITY; ++n) {
        const discovery::ProbeResult probe = discovery::probe_disk(n);
        if (!probe.has_value() || !has_serial(*probe, options.serial)) continue;
        ++matches;
        found = *probe;
    }
    if (matches == 0) {
        return fail("no disk has serial ", options.serial,
                    ": is the stick plugged in? (tundra-stick list shows the disks)");
    }
    if (matches > 1) {
        return fail(matches, " disks have serial ", options.serial, ": unplug all but the stick");
    }
    if (vet_stick(found, options) != Result::Success) return Result::Failed;
    report("stick: disk ", found.disk_number, ", ", vendor_of(found), " ", product_of(found),
           ", serial ", text::ByteText{found.serial, found.serial_len}, ", ",
           text::Gb{found.size_bytes}, " GB, ", bus_name(found.bus_type), "\n");
    if (!is_sector_size(found.bytes_per_sector)) {
        return fail("disk ", found.disk_number, " has ", found.bytes_per_sector, "-byte sectors");
    }
    return Result::Success;
}

Result open_stick(const StickRecord& stick, const WriteOptions& options, TargetDisk& target) {
    const uint32_t n = stick.disk_number;
    const discovery::DrivePath path = discovery::physical_drive_path(n);
    const DWORD access = options.dry_run ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    HANDLE h = sys::CreateFileW(path.text, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING,
                                FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED |
                                    FILE_FLAG_NO_BUFFERING,
                                nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = sys::GetLastError();
        if (code == ERROR_ACCESS_DENIED) {
            return fail("Windows refused to open disk ", n, ": it needs an administrator");
        }
        return fail("cannot open disk ", n, " (Windows error ", code, ")");
    }
    // Only a probe made while the disk is held open proves that the handle
    // belongs to the stick that was chosen.
    const discovery::ProbeResult again = discovery::probe_disk(n);
    if (!again.has_value()) {
        (void)sys::CloseHandle(h);
        return fail("disk ", n, " went away");
    }
    if (!has_serial(*again, options.serial) ||
        (options.has_expected_stick && !same_stick(*again, stick))) {
        (void)sys::CloseHandle(h);
        return fail("disk ", n, " changed while it was being opened: try again");
    }
    target.handle = h;
    target.size = stick.size_bytes;
    target.bytes_per_sector = stick.bytes_per_sector;
    target.disk_number = n;
    target.overlapped = true;
    target.is_disk = true;
    return Result::Success;
}

Result open_target(const WriteOptions& options, TargetDisk& target) {
    if (!options.target_file.is_none()) {
        OpenedFile file;
        const bool writable = !options.dry_run;
        if (open_existing_file(options.target_file, writable, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               "target file", file) != Result::Success) {
            return Result::Failed;
        }
        target.handle = file.handle;
        target.size = file.size;
        target.bytes_per_sector = 512;
        target.disk_number = 0;
        target.overlapped = writable;
        target.is_disk = false;
        return Result::Success;
    }
    StickRecord stick;
    if (find_stick_by_serial(options, stick) != Result::Success) return Result::Failed;
    return open_stick(stick, options, target);
}

Result check_image_fits(uint64_t image_size, const TargetDisk& target) {
    if (image_size % target.bytes_per_sector != 0) {
        return fail("the image (", image_size, " bytes) is not a whole number of the stick's ",
                    target.bytes_per_sector, "-byte sectors");
    }
    if (target.size < image_size) {
        return fail("the image (", text::Mib{image_size}, " MiB) is larger than the stick (",
                    text::Mib{target.size}, " MiB)");
    }
    return Result::Success;
}

}  // namespace engine
