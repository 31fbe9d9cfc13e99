#include "discovery/disk_probe.h"

#include <cstring>

#include "discovery/error_boxes_off.h"

namespace discovery {
namespace {

// Offsets in STORAGE_DEVICE_DESCRIPTOR.
constexpr uint32_t DESCRIPTOR_SIZE_AT = 4;
constexpr uint32_t DESCRIPTOR_REMOVABLE_AT = 10;
constexpr uint32_t DESCRIPTOR_VENDOR_AT = 12;
constexpr uint32_t DESCRIPTOR_PRODUCT_AT = 16;
constexpr uint32_t DESCRIPTOR_SERIAL_AT = 24;
constexpr uint32_t DESCRIPTOR_BUS_TYPE_AT = 28;
constexpr uint32_t DESCRIPTOR_MINIMUM_BYTES = 36;
// Offsets in DISK_GEOMETRY_EX.
constexpr uint32_t GEOMETRY_BYTES_PER_SECTOR_AT = 20;
constexpr uint32_t GEOMETRY_DISK_SIZE_AT = 24;
constexpr uint32_t GEOMETRY_MINIMUM_BYTES = 32;
// Offsets in VOLUME_DISK_EXTENTS.
constexpr uint32_t EXTENTS_FIRST_AT = 8;
constexpr uint32_t EXTENT_BYTES = 24;

uint32_t load_u32(const uint8_t* bytes) {
    uint32_t value;
    memcpy(&value, bytes, sizeof value);
    return value;
}

uint64_t load_u64(const uint8_t* bytes) {
    uint64_t value;
    memcpy(&value, bytes, sizeof value);
    return value;
}

void read_descriptor(HANDLE disk, StickRecord& record) {
    uint8_t query[12] = {};  // StorageDeviceProperty, PropertyStandardQuery
    alignas(8) uint8_t descriptor[DESCRIPTOR_BUFFER_BYTES];
    DWORD returned = 0;
    if (!sys::DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, descriptor,
                              sizeof descriptor, &returned, nullptr) ||
        returned < DESCRIPTOR_MINIMUM_BYTES) {
        return;
    }
    uint32_t limit = returned < sizeof descriptor ? returned : sizeof descriptor;
    const uint32_t declared = load_u32(descriptor + DESCRIPTOR_SIZE_AT);
    if (declared < limit) limit = declared;
    record.removable = descriptor[DESCRIPTOR_REMOVABLE_AT] != 0;
    record.bus_type = load_u32(descriptor + DESCRIPTOR_BUS_TYPE_AT);
    record.vendor_len = read_descriptor_text(descriptor, limit,
                                             load_u32(descriptor + DESCRIPTOR_VENDOR_AT),
                                             record.vendor, VENDOR_CAPACITY);
    record.product_len = read_descriptor_text(descriptor, limit,
                                              load_u32(descriptor + DESCRIPTOR_PRODUCT_AT),
                                              record.product, PRODUCT_CAPACITY);
    record.serial_len = read_descriptor_text(descriptor, limit,
                                             load_u32(descriptor + DESCRIPTOR_SERIAL_AT),
                                             record.serial, SERIAL_CAPACITY);
}

void read_geometry(HANDLE disk, StickRecord& record) {
    alignas(8) uint8_t geometry[GEOMETRY_BUFFER_BYTES];
    DWORD returned = 0;
    if (!sys::DeviceIoControl(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry,
                              sizeof geometry, &returned, nullptr) ||
        returned < GEOMETRY_MINIMUM_BYTES) {
        return;
    }
    record.bytes_per_sector = load_u32(geometry + GEOMETRY_BYTES_PER_SECTOR_AT);
    record.size_bytes = load_u64(geometry + GEOMETRY_DISK_SIZE_AT);
}

}  // namespace

DrivePath physical_drive_path(uint32_t disk_number) {
    static const char PREFIX[] = "\\\\.\\PhysicalDrive";
    DrivePath path{};
    size_t n = 0;
    for (const char* c = PREFIX; *c != 0; ++c) path.text[n++] = static_cast<WCHAR>(*c);
    char digits[10];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + disk_number % 10);
        disk_number /= 10;
    } while (disk_number != 0);
    while (count > 0) path.text[n++] = static_cast<WCHAR>(digits[--count]);
    path.text[n] = 0;
    return path;
}

uint64_t read_descriptor_text(const uint8_t* descriptor, uint32_t limit, uint32_t offset,
                              char* text, uint64_t cap) {
    if (offset == 0 || offset >= limit) return 0;
    uint32_t start = offset;
    uint32_t stop = offset;
    while (stop < limit && descriptor[stop] != 0) ++stop;
    while (start < stop && descriptor[start] == ' ') ++start;
    while (stop > start && descriptor[stop - 1] == ' ') --stop;
    uint64_t length = stop - start;
    if (length > cap) length = cap;
    for (uint64_t i = 0; i < length; ++i) {
        const uint8_t byte = descriptor[start + i];
        text[i] = byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '?';
    }
    return length;
}

ProbeResult probe_disk(uint32_t disk_number) {
    const DrivePath path = physical_drive_path(disk_number);
    const ErrorBoxesOff quiet;
    HANDLE disk = sys::CreateFileW(path.text, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (disk == INVALID_HANDLE_VALUE) return std::nullopt;
    StickRecord record;
    record.disk_number = disk_number;
    read_descriptor(disk, record);
    read_geometry(disk, record);
    (void)sys::CloseHandle(disk);  // a query handle: nothing is lost if closing fails
    return record;
}

uint64_t extents_disk_mask(const uint8_t* extents, uint32_t returned) {
    const uint32_t count = returned >= 4 ? load_u32(extents) : 0;
    const uint32_t whole_entries =
        returned >= EXTENTS_FIRST_AT ? (returned - EXTENTS_FIRST_AT) / EXTENT_BYTES : 0;
    uint64_t mask = 0;
    for (uint32_t i = 0; i < count && i < whole_entries; ++i) {
        const uint32_t disk = load_u32(extents + EXTENTS_FIRST_AT + i * EXTENT_BYTES);
        if (disk < 64) mask |= uint64_t{1} << disk;
    }
    return mask;
}

uint64_t system_disk_mask() {
    const ErrorBoxesOff quiet;
    WCHAR directory[MAX_PATH];
    const UINT length = sys::GetWindowsDirectoryW(directory, MAX_PATH);
    // A result at or above the capacity means the buffer was not filled.
    if (length < 2 || length >= MAX_PATH || directory[1] != U16(':')) return 0;
    const WCHAR volume_path[] = {U16('\\'), U16('\\'), U16('.'), U16('\\'), directory[0],
                                 U16(':'),  0};
    HANDLE volume = sys::CreateFileW(volume_path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) return 0;
    alignas(8) uint8_t extents[EXTENTS_BUFFER_BYTES];
    DWORD returned = 0;
    uint64_t mask = 0;
    if (sys::DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents,
                             sizeof extents, &returned, nullptr)) {
        mask = extents_disk_mask(extents, returned < sizeof extents ? returned : sizeof extents);
    }
    (void)sys::CloseHandle(volume);
    return mask;
}

}  // namespace discovery
