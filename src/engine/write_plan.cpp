#include "engine/write_plan.h"

#include <cstring>

#include "formats/boot_probe.h"

namespace engine {
namespace {

using formats::GptEntry;
using formats::GptTable;

constexpr char DATA_AREA_TAIL[] =
    "the stick's data area (installed apps, files, settings) would be lost: --fresh writes the "
    "whole image anyway, and Tundra makes its data area new. Nothing written";

const char* arch_name(uint32_t answer) { return answer == formats::BOOT_ARCH_AA64 ? "aa64" : "x64"; }

bool another_machines_stick(uint32_t image, uint32_t stick) {
    return (image == formats::BOOT_ARCH_X64 && stick == formats::BOOT_ARCH_AA64) ||
           (image == formats::BOOT_ARCH_AA64 && stick == formats::BOOT_ARCH_X64);
}

Result apply_firmware_rule(const DiskRegion& image, const DiskRegion& stick) {
    bool stick_has = false;
    if (formats::has_firmware_tar(stick, stick_has) != Result::Success) return Result::Failed;
    if (!stick_has) return Result::Success;
    bool image_has = false;
    if (formats::has_firmware_tar(image, image_has) != Result::Success) return Result::Failed;
    if (image_has) return Result::Success;
    return fail("the Surface stick has TUNDRA\\FIRMWARE.TAR but the image does not: nothing "
                "written. Build with --firmware or update the boot files in place");
}

}  // namespace

Result apply_keep_guid_rule(const GptTable& stick_table, const WriteOptions& options) {
    const uint64_t keep = options.keep_guid_count < KEEP_GUID_CAPACITY ? options.keep_guid_count
                                                                       : KEEP_GUID_CAPACITY;
    for (uint32_t i = 0; i < stick_table.count; ++i) {
        const uint8_t* guid = stick_table.entries[i].unique_guid;
        for (uint64_t k = 0; k < keep; ++k) {
            if (memcmp(guid, options.keep_guids[k], 16) == 0) {
                return fail("the stick has partition ", text::GuidText{guid},
                            ", which --keep-guid keeps: nothing written");
            }
        }
    }
    return Result::Success;
}

Result apply_boot_checks(const DiskRegion& image, const DiskRegion& stick,
                         const WriteOptions& options) {
    const uint32_t image_arch = formats::probe_boot_arch(image);
    if (options.has_expected_stick &&
        (image_arch == formats::BOOT_ARCH_NONE || !formats::has_kernel_and_root(image))) {
        return fail("Choose a bootable Tundra .img file.");
    }
    const uint32_t stick_arch = formats::probe_boot_arch(stick);
    if (another_machines_stick(image_arch, stick_arch)) {
        if (!options.other_machine) {
            return fail("the stick boots ", arch_name(stick_arch), " and the image ",
                        arch_name(image_arch),
                        ": it is another machine's stick, nothing written (--other-machine writes "
                        "it anyway; back it up first with tundra-stick backup)");
        }
        report("--other-machine: the stick boots ", arch_name(stick_arch), " and the image ",
               arch_name(image_arch), ": writing it anyway\n");
    }
    if (image_arch == formats::BOOT_ARCH_AA64 && stick_arch == formats::BOOT_ARCH_AA64) {
        return apply_firmware_rule(image, stick);
    }
    return Result::Success;
}

Result plan_write(const GptTable& stick_table, const GptTable& image_table, uint64_t image_size,
                  uint32_t bytes_per_sector, bool whole_allowed, WritePlan& plan) {
    const GptEntry* data = formats::first_entry_of_type(stick_table, formats::TUNDRA_DATA_TYPE_GUID);
    if (data == nullptr || whole_allowed) {
        plan = {data == nullptr ? PLAN_WHOLE : PLAN_FRESH, 0, image_size};
        return Result::Success;
    }
    const GptEntry* on_stick = formats::first_entry_of_type(stick_table, formats::ESP_TYPE_GUID);
    if (on_stick == nullptr) {
        return fail("the stick has Tundra's data area but no TUNDRA partition: ", DATA_AREA_TAIL);
    }
    const GptEntry* in_image = formats::first_entry_of_type(image_table, formats::ESP_TYPE_GUID);
    if (in_image == nullptr) {
        return fail("the image has no TUNDRA partition to write on its own: ", DATA_AREA_TAIL);
    }
    if (bytes_per_sector != 512) {
        return fail("the stick has ", bytes_per_sector, "-byte sectors, the image 512: ",
                    DATA_AREA_TAIL);
    }
    if (in_image->first_lba != on_stick->first_lba || in_image->last_lba != on_stick->last_lba) {
        return fail("the image's TUNDRA partition (sectors ", in_image->first_lba, " to ",
                    in_image->last_lba, ") is not where the stick's is (", on_stick->first_lba,
                    " to ", on_stick->last_lba, "): ", DATA_AREA_TAIL);
    }
    // The table keeps only entries whose byte range fits in 64 bits, so these
    // products cannot overflow.
    const uint64_t start = in_image->first_lba * formats::GPT_SECTOR_BYTES;
    const uint64_t stop = (in_image->last_lba + 1) * formats::GPT_SECTOR_BYTES;
    if (in_image->last_lba < in_image->first_lba || stop > image_size) {
        return fail("the image's TUNDRA partition runs past the image's end: nothing written");
    }
    if (data->first_lba <= in_image->last_lba) {
        return fail("the stick's data area overlaps its TUNDRA partition: nothing written");
    }
    plan = {PLAN_TUNDRA_ONLY, start, stop - start};
    return Result::Success;
}

void report_plan(const WritePlan& plan, bool dry_run) {
    if (plan.kind == PLAN_TUNDRA_ONLY) {
        report("the stick has Tundra's data area (installed apps, files, settings, the models): it "
               "stays, with the partition table; only the TUNDRA partition is ",
               dry_run ? "compared" : "written", " (", text::Mib{plan.length}, " MiB at ",
               text::Mib{plan.start}, " MiB). New models in the image come with --fresh\n");
    } else if (plan.kind == PLAN_FRESH) {
        report("--fresh: the whole image, partition table included: Tundra makes its data area new "
               "at the next boot (the stick's apps, files and settings are lost)\n");
    }
    if (!run::run_inputs.stick_tool_texts)
        return;
    if (plan.kind == PLAN_TUNDRA_ONLY) {
        report("plan: only the TUNDRA partition (", text::Mib{plan.length}, " MiB at ",
               text::Mib{plan.start},
               " MiB); the data area and the partition table are kept as they are\n");
    } else {
        report("plan: the whole image (", text::Mib{plan.length},
               " MiB), partition table included\n");
    }
}

}  // namespace engine
