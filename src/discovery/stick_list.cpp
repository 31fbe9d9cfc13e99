#include "discovery/stick_list.h"

#include "discovery/disk_probe.h"
#include "sys/sys.h"

namespace discovery {

bool is_candidate_stick(const ProbeResult& probe, uint64_t system_mask) {
    if (!probe.has_value()) return false;
    const StickRecord& disk = *probe;
    const bool on_system_disk =
        disk.disk_number < 64 && (system_mask & (uint64_t{1} << disk.disk_number)) != 0;
    return disk.bus_type == BUS_TYPE_USB && disk.serial_len > 0 && disk.size_bytes >= 1 &&
           disk.size_bytes <= MAX_STICK_BYTES && disk.bytes_per_sector == ADMITTED_SECTOR_BYTES &&
           !on_system_disk;
}

void build_stick_list(StickList& list, bool is_elevated) {
    list.stick_count = 0;
    list.selected_stick.reset();
    if (!is_elevated) return;
    // Without knowing which disk Windows runs from, no disk is safe to offer.
    const uint64_t mask = system_disk_mask();
    if (mask == 0) return;
    for (uint32_t number = 0; number < STICK_LIST_CAPACITY; ++number) {
        const ProbeResult probe = probe_disk(number);
        if (!is_candidate_stick(probe, mask)) continue;
        if (list.stick_count == STICK_LIST_CAPACITY) return;
        list.sticks[list.stick_count++] = *probe;
    }
}

bool query_is_elevated() {
    HANDLE token = nullptr;
    if (!sys::OpenProcessToken(sys::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD returned = 0;
    const bool answered = sys::GetTokenInformation(token, TokenElevation, &elevation,
                                                   sizeof elevation, &returned) != FALSE;
    (void)sys::CloseHandle(token);
    return answered && elevation.TokenIsElevated != 0;
}

}  // namespace discovery
