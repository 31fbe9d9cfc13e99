// The release that the local download host publishes (the Tundra-like image
// made at build time by sgdisk, mkfs.fat and mtools), written the way the
// desktop program writes it: write_stick with the download worker's fixed
// options, onto a stick of real size whose bytes live in a sparse file.
#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "discovery/stick_list.h"
#include "engine/run_names.h"
#include "engine/runs/write_stick.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace {

constexpr uint32_t STICK = 4;
constexpr uint64_t STICK_BYTES = 8000000000ull;  // an 8 GB stick
const std::u16string STICK_VOLUME = u"\\\\?\\Volume{5e1c0a33-0000-0000-0000-400000000000}";

// The stick as the window's picker lists it.
discovery::StickRecord listed_stick() {
    discovery::StickList list;
    discovery::build_stick_list(list, true);
    for (uint64_t i = 0; i < list.stick_count; ++i) {
        if (list.sticks[i].disk_number == STICK)
            return list.sticks[i];
    }
    ADD_FAILURE() << "the stick is not listed";
    return {};
}

// What the download worker hands the engine: these fields and nothing else.
engine::WriteOptions desktop_options(const fixtures::WideString& image_path,
                                     const discovery::StickRecord& stick,
                                     const fixtures::Bytes& image) {
    engine::WriteOptions options;
    options.image_path = {image_path.c_str(), image_path.size()};
    options.serial = {stick.serial, stick.serial_len};
    options.keep_guid_count = 0;
    options.max_gb = 256;
    options.expected_stick = stick;
    options.has_expected_stick = true;
    options.chunk_bytes = 1048576;
    options.queue_depth = 4;
    options.read_back_all = true;
    options.full = false;
    options.dry_run = false;
    options.other_machine = false;
    options.fresh = true;
    crypto_hash_sha256(options.expected_sha256, image.data(), image.size());
    options.has_expected_sha256 = true;
    return options;
}

fixtures::Bytes file_head(const std::string& path, size_t count) {
    std::ifstream in(path, std::ios::binary);
    fixtures::Bytes bytes(count, 0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

TEST(ReleaseImageWrite, DesktopRunWritesAndProvesItOnAFileBackedStick) {
    const std::string image_path = fixtures::real_image_path("tundra-release.img");
    const fixtures::Bytes image = fixtures::read_file(image_path);
    ASSERT_EQ(image.size(), 64u << 20) << image_path;
    // A stick that has been used before: old bytes where the image has
    // zeros must be overwritten too, and bytes past the image stay.
    fixtures::Bytes used(image.size() + 4096, 0x6B);
    fixtures::TempFile stick_file("release-stick.img", used);

    std::vector<std::string> lines;
    {
        sim::Machine machine;
        machine.add_system_disk(0);
        sim::Drive& stick =
            machine.add_stick({STICK, "SanDisk", "Ultra", "4C530001234", STICK_BYTES});
        std::string error;
        ASSERT_TRUE(machine.keep_in_file(stick, stick_file.narrow(), error)) << error;
        machine.add_volume(STICK_VOLUME, {{STICK, 1048576, 50331648}});

        engine::set_report_observer(
            [](const char* l, size_t n, void* c) {
                static_cast<std::vector<std::string>*>(c)->emplace_back(l, n);
            },
            &lines);
        LARGE_INTEGER frequency{};
        ASSERT_TRUE(sys::QueryPerformanceFrequency(&frequency));
        run::run_inputs.perf_frequency = frequency.QuadPart;
        run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);

        const fixtures::WideString wide_path = fixtures::widen(image_path);
        const engine::Result result =
            engine::write_stick(desktop_options(wide_path, listed_stick(), image));

        engine::set_report_observer(nullptr, nullptr);
        EXPECT_TRUE(sys::CloseHandle(run::run_inputs.disk_io_event));
        run::run_inputs.disk_io_event = nullptr;
        ASSERT_EQ(result, engine::Result::Success) << fixtures::failure_text();

        EXPECT_EQ(machine.open_handle_count(), 0u);
        EXPECT_EQ(machine.held_lock_count(), 0u);
        EXPECT_EQ(machine.live_event_count(), 0u);
        EXPECT_FALSE(machine.drive_opened_for_writing(0)) << "the system disk is never written";
        EXPECT_EQ(machine.volumes_dismounted(), std::vector<std::u16string>{STICK_VOLUME});
        EXPECT_FALSE(machine.writes().empty());
        for (const sim::WriteRecord& w : machine.writes()) {
            EXPECT_EQ(w.drive_number, STICK);
            EXPECT_LE(w.offset + w.length, image.size()) << "nothing past the image is written";
        }
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("the stick holds the image (every byte of its range compared)"),
              std::string::npos)
        << lines.back();

    const fixtures::Bytes written = file_head(stick_file.narrow(), image.size() + 4096);
    ASSERT_EQ(written.size(), image.size() + 4096);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), written.begin()))
        << "the stick holds the image byte for byte";
    EXPECT_EQ(fixtures::Bytes(written.begin() + image.size(), written.end()),
              fixtures::Bytes(4096, 0x6B));
}

// An old Tundra stick: another partition table (a smaller TUNDRA partition
// with the data area right after it), the user's files in that data area,
// and older boot files.
fixtures::Bytes old_tundra_stick(const fixtures::Bytes& image) {
    constexpr uint64_t TUNDRA_FIRST = 2048;
    constexpr uint64_t TUNDRA_LAST = TUNDRA_FIRST + (40 << 20) / 512 - 1;  // 40 MiB
    fixtures::Bytes old = image;
    std::fill(old.begin() + (41 << 20), old.end(), 0x6B);
    for (size_t at = 2 << 20; at < (8 << 20); at += 4096)
        old[at] ^= 0x5A;
    fixtures::write_gpt(
        old,
        {{fixtures::ESP_TYPE, TUNDRA_FIRST, TUNDRA_LAST, fixtures::guid_from(0x51)},
         {fixtures::DATA_TYPE, TUNDRA_LAST + 1, old.size() / 512 - 34, fixtures::guid_from(0x52)}});
    return old;
}

// The desktop writes the whole image over an old Tundra stick, partition
// table included, and then asks Windows once to read the new table. A dry
// run and a run onto a target file never ask.
TEST(ReleaseImageWrite, DesktopRunReplacesAnOldTundraStickWhole) {
    const std::string image_path = fixtures::real_image_path("tundra-release.img");
    const fixtures::Bytes image = fixtures::read_file(image_path);
    ASSERT_EQ(image.size(), 64u << 20) << image_path;
    const fixtures::Bytes old = old_tundra_stick(image);
    ASSERT_FALSE(std::equal(old.begin(), old.begin() + 34 * 512, image.begin()))
        << "the partition tables differ";
    const fixtures::WideString wide_path = fixtures::widen(image_path);
    const struct {
        const char* name;
        bool dry_run;
        bool onto_target_file;
        size_t table_rereads;
    } cases[] = {
        {"the desktop's run", false, false, 1},
        {"a dry run", true, false, 0},
        {"onto a target file", false, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fixtures::TempFile target("old-tundra-target.img", old);
        sim::Machine machine;
        machine.add_system_disk(0);
        sim::Drive& stick =
            machine.add_stick({STICK, "SanDisk", "Ultra", "4C530001234", STICK_BYTES});
        stick.contents = old;
        machine.add_volume(STICK_VOLUME, {{STICK, 1048576, 41943040}});
        run::run_inputs.perf_frequency = 1000000000;
        run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        const discovery::StickRecord picked = listed_stick();  // the options point into it
        machine.reset_uses();
        engine::WriteOptions options = desktop_options(wide_path, picked, image);
        options.dry_run = c.dry_run;
        if (c.onto_target_file)
            options.target_file = target.wide();
        const engine::Result result = engine::write_stick(options);
        EXPECT_TRUE(sys::CloseHandle(run::run_inputs.disk_io_event));
        run::run_inputs.disk_io_event = nullptr;
        ASSERT_EQ(result, engine::Result::Success) << fixtures::failure_text();

        const std::vector<sim::IoctlRecord> ioctls = machine.ioctls();
        const auto rereads = std::count_if(
            ioctls.begin(), ioctls.end(),
            [](const sim::IoctlRecord& r) { return r.code == IOCTL_DISK_UPDATE_PROPERTIES; });
        const auto rereads_of_the_stick =
            std::count_if(ioctls.begin(), ioctls.end(), [](const sim::IoctlRecord& r) {
                return r.code == IOCTL_DISK_UPDATE_PROPERTIES && r.on_drive &&
                       r.drive_number == STICK;
            });
        EXPECT_EQ(size_t(rereads), c.table_rereads);
        EXPECT_EQ(rereads_of_the_stick, rereads);
        // The machine keeps no record of a control sent to a plain file, but
        // it counts every call: a run onto a target file sends none at all.
        if (c.onto_target_file) {
            EXPECT_EQ(machine.uses("DeviceIoControl"), 0u);
        }

        const bool stick_written = !c.dry_run && !c.onto_target_file;
        EXPECT_TRUE(stick.contents == (stick_written ? image : old))
            << "the stick's whole range, partition table included";
        if (c.onto_target_file) {
            EXPECT_TRUE(fixtures::read_file(target.narrow()) == image);
        }
        EXPECT_EQ(machine.open_handle_count(), 0u);
        EXPECT_EQ(machine.held_lock_count(), 0u);
    }
}

}  // namespace
