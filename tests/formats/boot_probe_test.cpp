#include "formats/boot_probe.h"

#include <gtest/gtest.h>

#include <functional>

#include "fixtures/sim_disk.h"

namespace {

using fixtures::FatImage;

class BootProbe : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(machine.open_handle_count(), 0u); }

    // A FAT16 TUNDRA partition shaped by `fill`, inside a GPT disk.
    fixtures::Bytes disk(const std::function<void(FatImage&)>& fill) {
        fixtures::FatSpec spec;
        spec.type = 16;
        spec.cluster_count = 5000;
        FatImage image(spec);
        fill(image);
        return fixtures::disk_with_volume(image);
    }

    sim::Machine machine;
    uint32_t next_drive_ = 10;
};

void boot_dir_with(FatImage& image, std::initializer_list<const char*> files) {
    const uint32_t efi = image.add_directory(0, "EFI");
    const uint32_t boot = image.add_directory(efi, "BOOT");
    for (const char* f : files) image.add_file(boot, f, 100);
}

TEST_F(BootProbe, ArchitectureAnswers) {
    const struct {
        const char* name;
        std::function<void(FatImage&)> fill;
        uint32_t answer;
    } cases[] = {
        {"x64", [](FatImage& i) { boot_dir_with(i, {"BOOTX64.EFI"}); }, 1},
        {"aa64", [](FatImage& i) { boot_dir_with(i, {"BOOTAA64.EFI"}); }, 2},
        {"both", [](FatImage& i) { boot_dir_with(i, {"BOOTX64.EFI", "BOOTAA64.EFI"}); }, 3},
        {"neither", [](FatImage& i) { boot_dir_with(i, {"GRUBX64.EFI"}); }, 0},
        {"no EFI", [](FatImage&) {}, 0},
        {"EFI is a file first",
         [](FatImage& i) {
             i.add_file(0, "EFI", 10);
             boot_dir_with(i, {"BOOTX64.EFI"});
         },
         0},
        {"a directory named BOOTX64.EFI counts",
         [](FatImage& i) {
             const uint32_t efi = i.add_directory(0, "EFI");
             const uint32_t boot = i.add_directory(efi, "BOOT");
             i.add_directory(boot, "BOOTX64.EFI");
         },
         1},
        {"more than 64 entries before EFI",
         [](FatImage& i) {
             for (int n = 0; n < 65; ++n) i.add_entry(0, "PAD" + std::to_string(100 + n) + "  BIN", 0x20, 0, 0);
             boot_dir_with(i, {"BOOTX64.EFI"});
         },
         0},
    };
    for (const auto& c : cases) {
        fixtures::SimDisk sim_disk(machine, disk(c.fill), next_drive_++);
        EXPECT_EQ(formats::probe_boot_arch(sim_disk.region()), c.answer) << c.name;
    }
}

TEST_F(BootProbe, KernelAndRootMustBothHaveContent) {
    const struct {
        const char* name;
        std::function<void(FatImage&)> fill;
        bool bootable;
    } cases[] = {
        {"both",
         [](FatImage& i) {
             const uint32_t t = i.add_directory(0, "TUNDRA");
             i.add_file(t, "KERNEL.ELF", 100);
             i.add_file(t, "ROOT.TAR", 100);
         },
         true},
        {"empty ROOT.TAR",
         [](FatImage& i) {
             const uint32_t t = i.add_directory(0, "TUNDRA");
             i.add_file(t, "KERNEL.ELF", 100);
             i.add_file(t, "ROOT.TAR", 0);
         },
         false},
        {"no kernel",
         [](FatImage& i) {
             const uint32_t t = i.add_directory(0, "TUNDRA");
             i.add_file(t, "ROOT.TAR", 100);
         },
         false},
    };
    for (const auto& c : cases) {
        fixtures::SimDisk sim_disk(machine, disk(c.fill), next_drive_++);
        EXPECT_EQ(formats::has_kernel_and_root(sim_disk.region()), c.bootable) << c.name;
    }
}

TEST_F(BootProbe, NoGptMeansNoAnswersWithoutFailure) {
    fixtures::SimDisk blank(machine, fixtures::Bytes(1 << 20, 0));
    EXPECT_EQ(formats::probe_boot_arch(blank.region()), 0u);
    EXPECT_FALSE(formats::has_kernel_and_root(blank.region()));
    bool present = true;
    EXPECT_EQ(formats::has_firmware_tar(blank.region(), present), engine::Result::Success);
    EXPECT_FALSE(present);
}

TEST_F(BootProbe, FirmwareProbePassesFailuresUp) {
    fixtures::Bytes bytes = disk([](FatImage& i) {
        const uint32_t t = i.add_directory(0, "TUNDRA");
        i.add_file(t, "FIRMWARE.TAR", 100);
    });
    {
        fixtures::SimDisk sim_disk(machine, bytes, 20);
        bool present = false;
        EXPECT_EQ(formats::has_firmware_tar(sim_disk.region(), present), engine::Result::Success);
        EXPECT_TRUE(present);
    }
    bytes[2048 * 512 + 510] = 0;  // the boot sector's signature
    fixtures::SimDisk broken(machine, bytes, 21);
    bool present = false;
    EXPECT_EQ(formats::has_firmware_tar(broken.region(), present), engine::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(), "the TUNDRA partition has no FAT boot sector");
    EXPECT_EQ(formats::probe_boot_arch(broken.region()), 0u);
}

}  // namespace
