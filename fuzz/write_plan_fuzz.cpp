// The write plan over a fuzzed stick and image, as a run makes it: the
// stick's partition table, the --keep-guid rule, the boot checks on both,
// the image's table, plan_write and its report line.
//
// Input: a flags byte (bit 1: whole_allowed, --fresh or --other-machine;
// bit 2: --other-machine; bit 3: an expected stick, as from the window; bits
// 4-5: how many of the stick's partitions --keep-guid names; bit 6: the last
// of them misses by one bit; bit 7: a dry run), the stick's length in 4
// bytes (little-endian, cut to what follows), the stick's first bytes, then
// the image's. Each input is planned for a stick of 512-byte sectors and
// again for one of 4096-byte sectors: a flag bit at the front of a large
// input is seldom flipped.
//
// The harness aborts when the --keep-guid rule refuses a stick without a
// kept partition or passes one with it, or when a plan is not what the
// tables allow: an empty range, a range past the image's end, or a plan that
// keeps the stick's data area while writing over it or over another layout.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/write_plan.h"
#include "formats/gpt.h"
#include "fuzz/fuzz_disk.h"

namespace {

constexpr size_t MAXIMUM_INPUT_BYTES = 1 << 20;
constexpr size_t HEADER_BYTES = 5;

formats::GptTable stick_table;
formats::GptTable image_table;

[[noreturn]] void violation(const char* what) {
    fprintf(stderr, "write_plan_fuzz: %s\n", what);
    abort();
}

const formats::GptEntry* first_of(const formats::GptTable& table, const uint8_t type[16]) {
    for (uint32_t i = 0; i < table.count; ++i) {
        if (memcmp(table.entries[i].type_guid, type, 16) == 0)
            return &table.entries[i];
    }
    return nullptr;
}

// Names the unique GUIDs of the first partitions of the stick; a flipped
// byte in the last one lets the fuzzer try near misses as well.
void keep_guids(uint8_t flags, engine::WriteOptions& options) {
    const uint32_t wanted = (flags >> 4) & 3;
    for (uint32_t i = 0; i < wanted && i < stick_table.count; ++i) {
        memcpy(options.keep_guids[i], stick_table.entries[i].unique_guid, 16);
        options.keep_guid_count = i + 1;
    }
    if ((flags & 0x40) != 0 && options.keep_guid_count > 0)
        options.keep_guids[options.keep_guid_count - 1][15] ^= 1;
}

bool stick_has_a_kept_guid(const engine::WriteOptions& options) {
    for (uint32_t i = 0; i < stick_table.count; ++i) {
        for (uint64_t k = 0; k < options.keep_guid_count; ++k) {
            if (memcmp(stick_table.entries[i].unique_guid, options.keep_guids[k], 16) == 0)
                return true;
        }
    }
    return false;
}

void check_plan(const engine::WritePlan& plan, uint64_t image_size, uint32_t bytes_per_sector,
                bool whole_allowed) {
    if (plan.length == 0 || plan.start > image_size || plan.length > image_size - plan.start)
        violation("a plan outside the image");
    const formats::GptEntry* data = first_of(stick_table, formats::TUNDRA_DATA_TYPE_GUID);
    const engine::PlanKind expected = data == nullptr ? engine::PLAN_WHOLE
                                      : whole_allowed ? engine::PLAN_FRESH
                                                      : engine::PLAN_TUNDRA_ONLY;
    if (plan.kind != expected)
        violation("a plan of the wrong kind");
    if (plan.kind != engine::PLAN_TUNDRA_ONLY) {
        if (plan.start != 0 || plan.length != image_size)
            violation("a whole plan that is not");
        return;
    }
    const formats::GptEntry* on_stick = first_of(stick_table, formats::ESP_TYPE_GUID);
    const formats::GptEntry* in_image = first_of(image_table, formats::ESP_TYPE_GUID);
    if (on_stick == nullptr || in_image == nullptr || bytes_per_sector != 512)
        violation("a TUNDRA-only plan without both partitions on 512-byte sectors");
    const uint64_t first = plan.start / 512, last = (plan.start + plan.length) / 512 - 1;
    if (plan.start % 512 != 0 || plan.length % 512 != 0 || first != on_stick->first_lba ||
        last != on_stick->last_lba || first != in_image->first_lba || last != in_image->last_lba) {
        violation("a TUNDRA-only plan that is not the TUNDRA partition of both");
    }
    if (data->first_lba <= last)
        violation("a TUNDRA-only plan that writes over the data area");
}

void plan_once(uint8_t flags, const uint8_t* rest, size_t rest_size, uint32_t stick_length,
               uint32_t bytes_per_sector) {
    fuzz::DiskShape stick_shape;
    stick_shape.bytes_per_sector = bytes_per_sector;
    fuzz::FuzzDisk stick(fuzz::sectors_of(rest, stick_length, 1024, bytes_per_sector), stick_shape);
    fuzz::DiskShape image_shape;
    image_shape.number = 8;
    image_shape.unbuffered = false;  // an image file: no alignment
    fuzz::FuzzDisk image(fuzz::sectors_of(rest + stick_length, rest_size - stick_length, 1024),
                         image_shape);
    const uint64_t image_size = image.region().end;

    engine::WriteOptions options;
    options.fresh = false;
    options.other_machine = (flags & 4) != 0;
    options.has_expected_stick = (flags & 8) != 0;
    const bool whole_allowed = (flags & 2) != 0 || options.other_machine;

    if (formats::read_gpt(stick.region(), stick_table) != run::Result::Success)
        stick_table.count = 0;
    if (stick_table.count > formats::GPT_MAX_ENTRIES)
        violation("a table beyond its capacity");
    keep_guids(flags, options);
    const bool refused = engine::apply_keep_guid_rule(stick_table, options) != run::Result::Success;
    if (refused != stick_has_a_kept_guid(options))
        violation("the --keep-guid rule is wrong");
    if (refused)
        return;
    if (engine::apply_boot_checks(image.region(), stick.region(), options) != run::Result::Success)
        return;
    if (formats::read_gpt(image.region(), image_table) != run::Result::Success)
        image_table.count = 0;
    engine::WritePlan plan;
    if (engine::plan_write(stick_table, image_table, image_size, bytes_per_sector, whole_allowed,
                           plan) != run::Result::Success) {
        return;
    }
    check_plan(plan, image_size, bytes_per_sector, whole_allowed);
    engine::report_plan(plan, (flags & 0x80) != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < HEADER_BYTES || size > MAXIMUM_INPUT_BYTES)
        return 0;
    uint32_t stick_length;
    memcpy(&stick_length, data + 1, 4);
    const uint8_t* rest = data + HEADER_BYTES;
    const size_t rest_size = size - HEADER_BYTES;
    if (stick_length > rest_size)
        stick_length = static_cast<uint32_t>(rest_size);
    for (const uint32_t bytes_per_sector : {512u, 4096u})
        plan_once(data[0], rest, rest_size, stick_length, bytes_per_sector);
    return 0;
}
