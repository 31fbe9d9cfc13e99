#include "engine/write_plan.h"

#include <gtest/gtest.h>

#include <string>

#include "fixtures/sim_disk.h"

namespace {

using engine::PLAN_FRESH;
using engine::PLAN_TUNDRA_ONLY;
using engine::PLAN_WHOLE;
using fixtures::failure_text;

const std::string TAIL =
    "the stick's data area (installed apps, files, settings) would be lost: --fresh writes the "
    "whole image anyway, and Tundra makes its data area new. Nothing written";

formats::GptEntry entry(const uint8_t* type, uint64_t first, uint64_t last) {
    formats::GptEntry e;
    memcpy(e.type_guid, type, 16);
    e.first_lba = first;
    e.last_lba = last;
    e.unique_guid[0] = static_cast<uint8_t>(first);
    return e;
}

formats::GptTable table_of(std::initializer_list<formats::GptEntry> entries) {
    formats::GptTable t;
    for (const auto& e : entries) t.entries[t.count++] = e;
    return t;
}

const uint64_t IMAGE = 64ull << 20;  // 131072 sectors

TEST(WritePlan, KindsAndRefusals) {
    const auto esp = [](uint64_t f, uint64_t l) { return entry(fixtures::ESP_TYPE, f, l); };
    const auto data = [](uint64_t f, uint64_t l) { return entry(fixtures::DATA_TYPE, f, l); };
    const formats::GptTable image = table_of({esp(2048, 83967), data(83968, 131038)});
    const struct {
        const char* name;
        formats::GptTable stick;
        formats::GptTable image;
        uint32_t sector;
        bool whole_allowed;
        engine::PlanKind kind;
        std::string reason;
    } cases[] = {
        {"blank stick", {}, image, 512, false, PLAN_WHOLE, ""},
        {"no data area", table_of({esp(2048, 83967)}), image, 512, false, PLAN_WHOLE, ""},
        {"data area, fresh, other layout, 4096-byte sectors",
         table_of({esp(34, 99), data(100, 200)}), image, 4096, true, PLAN_FRESH, ""},
        {"same layout", table_of({esp(2048, 83967), data(83968, 131038)}), image, 512, false,
         PLAN_TUNDRA_ONLY, ""},
        {"data area without TUNDRA", table_of({data(83968, 131038)}), image, 512, false,
         PLAN_WHOLE, "the stick has Tundra's data area but no TUNDRA partition: " + TAIL},
        {"image without TUNDRA", table_of({esp(2048, 83967), data(83968, 131038)}), {}, 512, false,
         PLAN_WHOLE, "the image has no TUNDRA partition to write on its own: " + TAIL},
        {"4096-byte sectors", table_of({esp(2048, 83967), data(83968, 131038)}), image, 4096, false,
         PLAN_WHOLE, "the stick has 4096-byte sectors, the image 512: " + TAIL},
        {"one sector longer in the image", table_of({esp(2048, 83966), data(83968, 131038)}),
         image, 512, false, PLAN_WHOLE,
         "the image's TUNDRA partition (sectors 2048 to 83967) is not where the stick's is (2048 "
         "to 83966): " + TAIL},
        {"runs past the image's end", table_of({esp(2048, 131072), data(131073, 131100)}),
         table_of({esp(2048, 131072)}), 512, false, PLAN_WHOLE,
         "the image's TUNDRA partition runs past the image's end: nothing written"},
        {"data area before TUNDRA", table_of({data(34, 2047), esp(2048, 83967)}), image, 512,
         false, PLAN_WHOLE, "the stick's data area overlaps its TUNDRA partition: nothing written"},
    };
    for (const auto& c : cases) {
        engine::WritePlan plan;
        const engine::Result result =
            engine::plan_write(c.stick, c.image, IMAGE, c.sector, c.whole_allowed, plan);
        if (c.reason.empty()) {
            ASSERT_EQ(result, engine::Result::Success) << c.name << ": " << failure_text();
            EXPECT_EQ(plan.kind, c.kind) << c.name;
            EXPECT_GT(plan.length, 0u);
        } else {
            EXPECT_EQ(result, engine::Result::Failed) << c.name;
            EXPECT_EQ(failure_text(), c.reason) << c.name;
        }
    }
    engine::WritePlan plan;
    ASSERT_EQ(engine::plan_write(table_of({esp(2048, 83967), data(83968, 131038)}), image, IMAGE,
                                 512, false, plan),
              engine::Result::Success);
    EXPECT_EQ(plan.start, 2048u * 512);
    EXPECT_EQ(plan.length, 81920u * 512);
}

TEST(WritePlan, ReportLines) {
    std::vector<std::string> lines;
    engine::set_report_observer(
        [](const char* l, size_t n, void* c) { static_cast<std::vector<std::string>*>(c)->emplace_back(l, n); },
        &lines);
    engine::report_plan({PLAN_TUNDRA_ONLY, 1048576, 41943040}, true);
    engine::report_plan({PLAN_FRESH, 0, IMAGE}, false);
    engine::report_plan({PLAN_WHOLE, 0, IMAGE}, false);
    engine::set_report_observer(nullptr, nullptr);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "the stick has Tundra's data area (installed apps, files, settings, the models): it "
              "stays, with the partition table; only the TUNDRA partition is compared (40.0 MiB at "
              "1.0 MiB). New models in the image come with --fresh\n");
    EXPECT_EQ(lines[1],
              "--fresh: the whole image, partition table included: Tundra makes its data area new at "
              "the next boot (the stick's apps, files and settings are lost)\n");
}

TEST(WritePlan, KeepGuidRefusesOnAnyMatchingPartition) {
    formats::GptTable full;
    for (uint32_t i = 0; i < 128; ++i) {
        formats::GptEntry e = entry(fixtures::OTHER_TYPE, 100 + i, 100 + i);
        e.unique_guid[1] = static_cast<uint8_t>(i);
        full.entries[full.count++] = e;
    }
    engine::WriteOptions options;
    options.keep_guid_count = 2;
    memset(options.keep_guids[0], 0xEE, 16);                      // matches nothing
    memcpy(options.keep_guids[1], full.entries[127].unique_guid, 16);  // the 128th slot
    EXPECT_EQ(engine::apply_keep_guid_rule(full, options), engine::Result::Failed);
    EXPECT_EQ(failure_text(),
              "the stick has partition 00007fe3-0000-0000-0000-000000000000, which --keep-guid "
              "keeps: nothing written");
    options.keep_guid_count = 1;
    EXPECT_EQ(engine::apply_keep_guid_rule(full, options), engine::Result::Success);
    options.keep_guid_count = 0;
    memcpy(options.keep_guids[0], full.entries[0].unique_guid, 16);
    EXPECT_EQ(engine::apply_keep_guid_rule(full, options), engine::Result::Success);
}

// Boot checks on two simulated disks: an image and a stick.
class BootChecks : public ::testing::Test {
protected:
  fixtures::Bytes disk(const std::vector<const char*>& boot_files, bool kernel_and_root,
                       bool firmware) {
      return fixtures::disk_with_boot_files(boot_files, kernel_and_root, firmware);
  }

  // A stick whose EFI\BOOT names BOOTAA64.EFI in its first cluster, but
  // whose chain breaks after that cluster: the directory cannot be read,
  // and what was read of it before the break must not count.
  fixtures::Bytes unreadable_boot_directory() {
      fixtures::FatSpec spec;
      spec.type = 16;
      spec.cluster_count = 5000;
      fixtures::FatImage image(spec);
      const uint32_t efi = image.add_directory(0, "EFI");
      const uint32_t boot = image.add_directory(efi, "BOOT");
      image.add_file(boot, "BOOTAA64.EFI", 100);
      const uint32_t entries_per_cluster = spec.bytes_per_sector / 32;  // one sector each
      for (uint32_t i = 3; i <= entries_per_cluster; ++i) {  // after ".", ".." and BOOTAA64.EFI
          image.add_file(boot, "FILL" + std::to_string(i) + ".BIN", 100);
      }
      image.set_fat(boot, 0);  // a free entry where the chain should go on
      return fixtures::disk_with_volume(image);
  }

    engine::Result check(const fixtures::Bytes& image, const fixtures::Bytes& stick,
                         const engine::WriteOptions& options) {
        fixtures::SimDisk image_disk(machine, image, 20);
        fixtures::SimDisk stick_disk(machine, stick, 21);
        return engine::apply_boot_checks(image_disk.region(), stick_disk.region(), options);
    }

    sim::Machine machine;
};

TEST_F(BootChecks, RulesInOrder) {
    const fixtures::Bytes x64 = disk({"BOOTX64.EFI"}, true, false);
    const fixtures::Bytes aa64 = disk({"BOOTAA64.EFI"}, true, false);
    const fixtures::Bytes both = disk({"BOOTX64.EFI", "BOOTAA64.EFI"}, true, false);
    const fixtures::Bytes surface = disk({"BOOTAA64.EFI"}, true, true);
    const fixtures::Bytes no_boot = disk({}, false, false);
    const fixtures::Bytes blank(1 << 20, 0);
    engine::WriteOptions desktop;
    desktop.has_expected_stick = true;
    engine::WriteOptions other;
    other.other_machine = true;
    const std::string bootable = "Choose a bootable Tundra .img file.";
    const struct {
        const char* name;
        const fixtures::Bytes& image;
        const fixtures::Bytes& stick;
        const engine::WriteOptions& options;
        std::string reason;
    } cases[] = {
        {"bootable image on a blank stick", x64, blank, desktop, ""},
        {"no boot files", no_boot, blank, desktop, bootable},
        {"boot files but no kernel", disk({"BOOTX64.EFI"}, false, false), blank, desktop, bootable},
        {"no boot files without an expected stick", no_boot, x64, engine::WriteOptions{}, ""},
        {"x64 image, aa64 stick", x64, aa64, desktop,
         "the stick boots aa64 and the image x64: it is another machine's stick, nothing written "
         "(--other-machine writes it anyway; back it up first with tundra-stick backup)"},
        {"aa64 image, x64 stick", aa64, x64, desktop,
         "the stick boots x64 and the image aa64: it is another machine's stick, nothing written "
         "(--other-machine writes it anyway; back it up first with tundra-stick backup)"},
        {"--other-machine", x64, aa64, other, ""},
        {"an image for both passes any stick", both, aa64, desktop, ""},
        {"a stick whose EFI\\BOOT cannot be read is never another machine's", x64,
         unreadable_boot_directory(), desktop, ""},
        {"Surface stick, image without firmware", aa64, surface, desktop,
         "the Surface stick has TUNDRA\\FIRMWARE.TAR but the image does not: nothing written. "
         "Build with --firmware or update the boot files in place"},
        {"Surface stick, image with firmware", surface, surface, desktop, ""},
    };
    for (const auto& c : cases) {
        const engine::Result result = check(c.image, c.stick, c.options);
        EXPECT_EQ(result, c.reason.empty() ? engine::Result::Success : engine::Result::Failed)
            << c.name;
        if (!c.reason.empty()) {
            EXPECT_EQ(failure_text(), c.reason) << c.name;
        }
    }
    EXPECT_EQ(machine.open_handle_count(), 0u);
}

TEST_F(BootChecks, OtherMachineReportsItsChoice) {
    std::vector<std::string> lines;
    engine::set_report_observer(
        [](const char* l, size_t n, void* c) { static_cast<std::vector<std::string>*>(c)->emplace_back(l, n); },
        &lines);
    engine::WriteOptions other;
    other.other_machine = true;
    EXPECT_EQ(check(disk({"BOOTAA64.EFI"}, true, false), disk({"BOOTX64.EFI"}, true, false), other),
              engine::Result::Success);
    engine::set_report_observer(nullptr, nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "--other-machine: the stick boots x64 and the image aa64: writing it anyway\n");
}

}  // namespace
