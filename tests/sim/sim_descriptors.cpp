// The bytes Windows gives for a disk's descriptor, geometry and a volume's
// extents.
#include <cstring>

#include "sim/sim_machine.h"

namespace sim {
namespace {

void put_u32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    memcpy(bytes.data() + at, &value, sizeof value);
}

void put_u64(std::vector<uint8_t>& bytes, size_t at, uint64_t value) {
    memcpy(bytes.data() + at, &value, sizeof value);
}

}  // namespace

// ---- descriptor builders --------------------------------------------------

std::vector<uint8_t> make_descriptor(uint32_t bus_type, bool removable, const std::string& vendor,
                                     const std::string& product, const std::string& serial) {
    constexpr size_t HEADER = 40;
    std::vector<uint8_t> bytes(HEADER, 0);
    auto append_text = [&bytes](const std::string& text) -> uint32_t {
        const uint32_t at = static_cast<uint32_t>(bytes.size());
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
        return at;
    };
    const uint32_t vendor_at = append_text(vendor);
    const uint32_t product_at = append_text(product);
    const uint32_t revision_at = append_text("1.00");
    const uint32_t serial_at = append_text(serial);
    put_u32(bytes, 0, HEADER);                               // Version
    put_u32(bytes, 4, static_cast<uint32_t>(bytes.size()));  // Size
    bytes[10] = removable ? 1 : 0;                           // RemovableMedia
    put_u32(bytes, 12, vendor_at);
    put_u32(bytes, 16, product_at);
    put_u32(bytes, 20, revision_at);
    put_u32(bytes, 24, serial_at);
    put_u32(bytes, 28, bus_type);
    return bytes;
}

std::vector<uint8_t> make_geometry(uint32_t bytes_per_sector, uint64_t size_bytes) {
    std::vector<uint8_t> bytes(40, 0);
    const uint64_t sectors_per_cylinder = 255ull * 63;
    const uint64_t sector = bytes_per_sector == 0 ? 1 : bytes_per_sector;
    put_u64(bytes, 0, size_bytes / sector / sectors_per_cylinder);  // Cylinders
    put_u32(bytes, 8, 11);                                          // RemovableMedia type
    put_u32(bytes, 12, 255);
    put_u32(bytes, 16, 63);
    put_u32(bytes, 20, bytes_per_sector);
    put_u64(bytes, 24, size_bytes);
    return bytes;
}

std::vector<uint8_t> make_extents(const std::vector<Extent>& extents) {
    std::vector<uint8_t> bytes(8 + 24 * extents.size(), 0);
    put_u32(bytes, 0, static_cast<uint32_t>(extents.size()));
    for (size_t i = 0; i < extents.size(); ++i) {
        put_u32(bytes, 8 + 24 * i, extents[i].disk_number);
        put_u64(bytes, 8 + 24 * i + 8, extents[i].offset);
        put_u64(bytes, 8 + 24 * i + 16, extents[i].length);
    }
    return bytes;
}

}  // namespace sim
