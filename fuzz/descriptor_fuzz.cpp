// The storage-device descriptor and geometry answers of probe_disk.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_disk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    sim::Machine& m = fuzz::machine();
    const size_t split = data[0] % 64;  // the geometry's share of the input
    const size_t rest = size - 1;
    const size_t geometry_bytes = split < rest ? split : rest;
    sim::Drive& drive = m.add_drive(5);
    drive.geometry.assign(data + 1, data + 1 + geometry_bytes);
    drive.descriptor.assign(data + 1 + geometry_bytes, data + size);
    const discovery::ProbeResult probe = discovery::probe_disk(5);
    if (!probe.has_value()) __builtin_trap();
    const discovery::StickRecord& r = *probe;
    if (r.vendor_len > 64 || r.product_len > 64 || r.serial_len > 128) __builtin_trap();
    const auto printable = [](const char* text, uint64_t length) {
        for (uint64_t i = 0; i < length; ++i) {
            if (text[i] < 0x20 || text[i] > 0x7E) return false;
        }
        return true;
    };
    if (!printable(r.vendor, r.vendor_len) || !printable(r.product, r.product_len) ||
        !printable(r.serial, r.serial_len)) {
        __builtin_trap();
    }
    // Trimming happens before the cap, so a kept text may end in a space
    // (the cap can fall inside inner spaces), but it never starts with one.
    if (r.serial_len > 0 && r.serial[0] == ' ') __builtin_trap();
    if (m.open_handle_count() != 0) __builtin_trap();
    return 0;
}
