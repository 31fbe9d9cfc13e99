#include "formats/gpt.h"

#include <cstring>

namespace formats {
namespace {

constexpr uint64_t HEADER_OFFSET = 512;
constexpr char SIGNATURE[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
// LBAs at or above this have no byte offset in 64 bits.
constexpr uint64_t LBA_LIMIT = UINT64_MAX / GPT_SECTOR_BYTES;

uint8_t entry_buffer[GPT_ENTRY_BUFFER_BYTES];

uint32_t load_u32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

uint64_t load_u64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}

bool is_zero_guid(const uint8_t* guid) {
    for (int i = 0; i < 16; ++i) {
        if (guid[i] != 0) return false;
    }
    return true;
}

// An entry whose sectors run backwards or past what 64-bit byte offsets can
// hold describes no partition any disk has; it is left out of the table, so
// that everything built on the table can compute byte ranges safely.
bool has_byte_range(uint64_t first_lba, uint64_t last_lba) {
    return first_lba <= last_lba && last_lba < LBA_LIMIT;
}

const char* role_name(const uint8_t* type_guid) {
    if (memcmp(type_guid, ESP_TYPE_GUID, 16) == 0) return "TUNDRA (EFI)";
    if (memcmp(type_guid, TUNDRA_DATA_TYPE_GUID, 16) == 0) return "Tundra data";
    return "other";
}

}  // namespace

const uint8_t ESP_TYPE_GUID[16] = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                                   0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
const uint8_t TUNDRA_DATA_TYPE_GUID[16] = {0x1E, 0x7D, 0x3C, 0x4A, 0x2F, 0x6B, 0x55, 0x4E,
                                           0x9A, 0x47, 0x54, 0x55, 0x4E, 0x44, 0x52, 0x41};

Result read_gpt(const DiskRegion& region, GptTable& table) {
    table.count = 0;
    if (region.end < 1024) return Result::Success;
    uint8_t header[512];
    if (run::read_at(region, HEADER_OFFSET, header, sizeof header) != Result::Success) {
        return Result::Failed;
    }
    if (memcmp(header, SIGNATURE, sizeof SIGNATURE) != 0) return Result::Success;
    const uint64_t entry_lba = load_u64(header + 72);
    const uint32_t announced = load_u32(header + 80);
    const uint32_t entry_size = load_u32(header + 84);
    if (entry_size < 128 || entry_size > 512 || entry_size % 8 != 0) {
        return run::fail("the GPT's entry size ", entry_size, " is not one a GPT has");
    }
    const uint32_t slots = announced < GPT_MAX_ENTRIES ? announced : GPT_MAX_ENTRIES;
    if (slots == 0) return Result::Success;
    if (entry_lba >= LBA_LIMIT) {
        return run::fail("the GPT's partition entries start at sector ", entry_lba,
                         ", which no disk has");
    }
    if (run::read_at(region, entry_lba * GPT_SECTOR_BYTES, entry_buffer,
                     uint64_t{slots} * entry_size) != Result::Success) {
        return Result::Failed;
    }
    for (uint32_t slot = 0; slot < slots; ++slot) {
        const uint8_t* raw = entry_buffer + uint64_t{slot} * entry_size;
        if (is_zero_guid(raw)) continue;
        GptEntry entry;
        memcpy(entry.type_guid, raw, 16);
        memcpy(entry.unique_guid, raw + 16, 16);
        entry.first_lba = load_u64(raw + 32);
        entry.last_lba = load_u64(raw + 40);
        if (!has_byte_range(entry.first_lba, entry.last_lba)) continue;
        table.entries[table.count++] = entry;
    }
    return Result::Success;
}

const GptEntry* first_entry_of_type(const GptTable& table, const uint8_t type_guid[16]) {
    for (uint32_t i = 0; i < table.count; ++i) {
        if (memcmp(table.entries[i].type_guid, type_guid, 16) == 0) return &table.entries[i];
    }
    return nullptr;
}

std::optional<DiskRegion> find_tundra_partition(const GptTable& table, const DiskRegion& disk) {
    const GptEntry* esp = first_entry_of_type(table, ESP_TYPE_GUID);
    if (esp == nullptr) return std::nullopt;
    DiskRegion partition = disk;
    partition.first = esp->first_lba * GPT_SECTOR_BYTES;
    const uint64_t stop = (esp->last_lba + 1) * GPT_SECTOR_BYTES;
    partition.end = stop < disk.end ? stop : disk.end;
    return partition;
}

Result list_partitions(const DiskRegion& stick) {
    static GptTable table;  // 5 KiB: too large to keep on the engine's stack
    if (read_gpt(stick, table) != Result::Success) return Result::Failed;
    if (table.count == 0) {
        run::report("the stick has no GPT now\n");
        return Result::Success;
    }
    for (uint32_t i = 0; i < table.count; ++i) {
        const GptEntry& e = table.entries[i];
        const uint64_t size = (e.last_lba - e.first_lba + 1) * GPT_SECTOR_BYTES;
        run::report("  partition ", i + 1, ": ", role_name(e.type_guid), ", ", text::Mib{size},
                    " MiB from ", text::Mib{e.first_lba * GPT_SECTOR_BYTES}, " MiB, GUID ",
                    text::GuidText{e.unique_guid}, "\n");
    }
    return Result::Success;
}

}  // namespace formats
