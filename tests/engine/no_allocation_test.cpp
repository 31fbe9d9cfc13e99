// The engine allocates nothing: a whole run, from the image to the closing
// line, makes no call to operator new.
#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "engine/runs/read_only_runs.h"
#include "engine/runs/restore_run.h"
#include "engine/runs/write_stick.h"
#include "fixtures/allocation_counter.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"
#include "fixtures/temp_folder.h"

namespace {

using allocation_counter::allocations;
using allocation_counter::counting;
using allocation_counter::last_size;

fixtures::Bytes stick_bytes(const std::string& path, size_t count) {
    fixtures::Bytes bytes = fixtures::read_file(path);
    bytes.resize(std::min(bytes.size(), count));
    return bytes;
}

// A stick in memory, and one whose bytes live in a file (the simulated
// machine's own transfers must not allocate either).
TEST(NoAllocation, AWholeRunAllocatesNothing) {
    for (const bool in_file : {false, true}) {
        SCOPED_TRACE(in_file ? "stick in a file" : "stick in memory");
        fixtures::TempFile stick_file("no-allocation-stick.img", fixtures::Bytes{});
        sim::Machine machine;
        machine.add_system_disk(0);
        const fixtures::Bytes bytes =
            fixtures::read_file(fixtures::real_image_path("real-fat16.img"));
        fixtures::TempFile image("no-allocation.img", bytes);
        fixtures::Bytes old = bytes;
        old[(1 << 20) + 4096] ^= 1;
        sim::Drive& stick = machine.add_stick({4, "Tundra", "Flash", "NA0004", bytes.size()});
        if (in_file) {
            std::string error;
            ASSERT_TRUE(machine.keep_in_file(stick, stick_file.narrow(), error)) << error;
            std::ofstream out(stick_file.narrow(), std::ios::binary | std::ios::in);
            out.write(reinterpret_cast<const char*>(old.data()),
                      static_cast<std::streamsize>(old.size()));
            out.close();
            ASSERT_FALSE(out.fail()) << "cannot write the old stick into " << stick_file.narrow();
        } else {
            stick.contents = old;
        }
        machine.add_volume(u"\\\\?\\Volume{no-allocation}", {{4, 1048576, 1048576}});
        engine::WriteOptions options;
        options.image_path = image.wide();
        options.serial = {"NA0004", 6};
        options.has_expected_sha256 = true;
        crypto_hash_sha256(options.expected_sha256, bytes.data(), bytes.size());
        options.has_expected_stick = true;
        options.expected_stick = *discovery::probe_disk(4);
        run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);

        counting = true;
        // The counter must see allocations at all (volatile: the pair may not
        // be optimised away).
        int* volatile probe = new int(1);
        delete probe;
        EXPECT_EQ(allocations.exchange(0), 1u);
        const engine::Result result = engine::write_stick(options);
        counting = false;

        EXPECT_EQ(result, engine::Result::Success) << fixtures::failure_text();
        EXPECT_EQ(allocations.exchange(0), 0u) << "the last of " << last_size.load() << " bytes";
        EXPECT_TRUE(sys::CloseHandle(run::run_inputs.disk_io_event));
        run::run_inputs.disk_io_event = nullptr;
        if (in_file) {
            machine.remove_drive(4);  // closes the file before it is read
            EXPECT_EQ(stick_bytes(stick_file.narrow(), bytes.size() + 1), bytes);
        } else {
            EXPECT_EQ(stick.contents, bytes);
        }
    }
}

// Carrying Wi-Fi networks over, copying logs (in a write and alone) and
// backing a stick up: none of them allocates either.
TEST(NoAllocation, CarryingNetworksCopyingLogsAndBackingUpAllocateNothing) {
    sim::Machine machine;
    machine.add_system_disk(0);
    const fixtures::Bytes image = fixtures::read_file(fixtures::real_image_path("wifi-new.img"));
    fixtures::TempFile image_file("no-allocation-new.img", image);
    sim::Drive& wifi_stick = machine.add_stick({4, "Tundra", "Flash", "NA0004", image.size()});
    wifi_stick.contents = fixtures::read_file(fixtures::real_image_path("wifi-old-100.img"));
    sim::Drive& logs_stick = machine.add_stick({5, "Tundra", "Flash", "NA0005", image.size()});
    logs_stick.contents = fixtures::read_file(fixtures::real_image_path("logs.img"));
    fixtures::TempFolder folder("no-allocation");
    const fixtures::WideString logs = folder.wide("logs");
    const fixtures::WideString logs_alone = folder.wide("logs alone");
    const fixtures::WideString backup = folder.wide("backup.img");

    engine::WriteOptions carry;
    carry.image_path = image_file.wide();
    carry.serial = {"NA0004", 6};
    carry.fresh = false;
    engine::WriteOptions with_logs = carry;
    with_logs.serial = {"NA0005", 6};
    with_logs.fresh = true;
    with_logs.logs_dir = fixtures::wide_text(logs);
    engine::WriteOptions logs_only = with_logs;
    logs_only.logs_dir = fixtures::wide_text(logs_alone);
    run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);

    counting = true;
    const engine::Result carried = engine::write_stick(carry);
    const engine::Result copied = engine::copy_stick_logs(logs_only);
    const engine::Result written = engine::write_stick(with_logs);
    const engine::Result backed_up = engine::back_up_stick(carry, fixtures::wide_text(backup));
    counting = false;

    EXPECT_EQ(carried, engine::Result::Success);
    EXPECT_EQ(written, engine::Result::Success);
    EXPECT_EQ(copied, engine::Result::Success);
    EXPECT_EQ(backed_up, engine::Result::Success) << fixtures::failure_text();
    EXPECT_EQ(allocations.exchange(0), 0u) << "the last of " << last_size.load() << " bytes";
    EXPECT_TRUE(sys::CloseHandle(run::run_inputs.disk_io_event));
    run::run_inputs.disk_io_event = nullptr;
    // The runs did their work: networks carried, logs and backup on disk.
    EXPECT_EQ(fixtures::read_file((folder.path() / "logs" / "LOG.TXT").string()).size(), 20u);
    EXPECT_EQ(fixtures::read_file((folder.path() / "logs alone" / "LOG.TXT").string()).size(), 20u);
    EXPECT_EQ(fixtures::read_file((folder.path() / "backup.img").string()), wifi_stick.contents);
}

// Giving a stick back, as FAT32 and as exFAT, allocates nothing either.
TEST(NoAllocation, RestoringAStickAllocatesNothing) {
    constexpr uint64_t MIB = 1048576;
    sim::Machine machine;
    machine.add_system_disk(0);
    sim::Drive& stick = machine.add_stick({4, "Tundra", "Flash", "NA0004", 64 * MIB});
    stick.contents.assign(64 * MIB, 0xA5);
    machine.add_volume(u"\\\\?\\Volume{no-allocation}", {{4, MIB, MIB}});
    engine::WriteOptions options;
    options.serial = {"NA0004", 6};
    engine::RestoreChoice exfat;
    exfat.file_system = engine::FileSystemChoice::Exfat;
    run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);

    counting = true;
    const engine::Result as_fat32 = engine::restore_stick(options, {});
    char fat32[9] = {};
    memcpy(fat32, stick.contents.data() + MIB + 82, 8);
    const engine::Result as_exfat = engine::restore_stick(options, exfat);
    counting = false;

    EXPECT_EQ(as_fat32, engine::Result::Success) << fixtures::failure_text();
    EXPECT_EQ(as_exfat, engine::Result::Success) << fixtures::failure_text();
    EXPECT_EQ(allocations.exchange(0), 0u) << "the last of " << last_size.load() << " bytes";
    EXPECT_TRUE(sys::CloseHandle(run::run_inputs.disk_io_event));
    run::run_inputs.disk_io_event = nullptr;
    EXPECT_STREQ(fat32, "FAT32   ");
    EXPECT_EQ(std::string(stick.contents.begin() + MIB + 3, stick.contents.begin() + MIB + 11),
              "EXFAT   ");
}

}  // namespace
