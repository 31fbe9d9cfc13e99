// Our readers against what Debian's sgdisk, mkfs.fat and mtools wrote.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/sim_disk.h"
#include "formats/boot_probe.h"
#include "formats/fat.h"
#include "formats/gpt.h"

namespace {

struct RealCase {
    const char* file;
    formats::FatType type;
    uint32_t arch;
    bool kernel_and_root;
    bool firmware;
    std::string esp_line_start;
};

TEST(RealImages, ReadersAgreeWithTheToolsThatWroteThem) {
    const RealCase cases[] = {
        {"real-fat32.img", formats::FatType::Fat32, 1, true, false,
         "  partition 1: TUNDRA (EFI), 40.0 MiB from 1.0 MiB, GUID "},
        {"real-fat16.img", formats::FatType::Fat16, 2, true, true,
         "  partition 1: TUNDRA (EFI), 16.0 MiB from 1.0 MiB, GUID "},
        {"real-fat12.img", formats::FatType::Fat12, 3, false, false,
         "  partition 1: TUNDRA (EFI), 4.0 MiB from 1.0 MiB, GUID "},
    };
    sim::Machine machine;
    for (const RealCase& c : cases) {
        SCOPED_TRACE(c.file);
        const fixtures::Bytes bytes = fixtures::read_file(fixtures::real_image_path(c.file));
        ASSERT_FALSE(bytes.empty());
        fixtures::SimDisk disk(machine, bytes);

        std::vector<std::string> lines;
        engine::set_report_observer(
            [](const char* l, size_t n, void* ctx) {
                static_cast<std::vector<std::string>*>(ctx)->emplace_back(l, n);
            },
            &lines);
        EXPECT_EQ(formats::list_partitions(disk.region()), engine::Result::Success);
        engine::set_report_observer(nullptr, nullptr);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].substr(0, c.esp_line_start.size()), c.esp_line_start);
        EXPECT_EQ(lines[1].substr(0, 27), "  partition 2: Tundra data,");

        formats::FatVolume volume;
        bool found = false;
        ASSERT_EQ(formats::open_tundra_volume(disk.region(), volume, found), engine::Result::Success);
        ASSERT_TRUE(found);
        EXPECT_EQ(volume.type, c.type);
        EXPECT_EQ(formats::probe_boot_arch(disk.region()), c.arch);
        EXPECT_EQ(formats::has_kernel_and_root(disk.region()), c.kernel_and_root);
        bool firmware = false;
        ASSERT_EQ(formats::has_firmware_tar(disk.region(), firmware), engine::Result::Success);
        EXPECT_EQ(firmware, c.firmware);
    }
    EXPECT_EQ(machine.open_handle_count(), 0u);
}

}  // namespace
