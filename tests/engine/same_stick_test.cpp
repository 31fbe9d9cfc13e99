// Only the stick that the user picked in the window is written. The disk
// found by its serial must match the picked record in every field that
// tells two sticks apart, both when it is found and again once the engine
// holds it open; whether Windows calls it removable tells nothing apart.
#include <gtest/gtest.h>
#include <sodium.h>

#include <string>
#include <vector>

#include "discovery/disk_probe.h"
#include "engine/runs/write_stick.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace {

using fixtures::Bytes;

constexpr uint32_t STICK = 4;

const sim::StickSpec FOUND{STICK, "Tundra", "Flash", "RS0004", 64ull << 20};

// The record the picker made of a stick described by `spec`.
discovery::StickRecord picked_record(sim::Machine& machine, const sim::StickSpec& spec) {
    machine.add_stick(spec);
    const discovery::ProbeResult record = discovery::probe_disk(spec.number);
    machine.remove_drive(spec.number);
    EXPECT_TRUE(record.has_value());
    return record.value_or(discovery::StickRecord{});
}

// The desktop's options; the serial names the stick as found, so that only
// the comparison with the picked record can refuse it.
engine::Result write_picked(const fixtures::TempFile& image, const Bytes& bytes,
                            const discovery::StickRecord& picked) {
    engine::WriteOptions options;
    options.image_path = image.wide();
    options.serial = {"RS0004", 6};
    options.has_expected_stick = true;
    options.expected_stick = picked;
    options.has_expected_sha256 = true;
    crypto_hash_sha256(options.expected_sha256, bytes.data(), bytes.size());
    // No earlier row's reason can pass for this one's.
    run::buffers.failure_reason_length = 0;
    return engine::write_stick(options);
}

struct Difference {
    const char* name;
    void (*apply)(sim::StickSpec&);
    bool written;
    bool can_change_while_opened;  // a disk cannot change its number under the same path
};

TEST(SameStick, EveryComparedFieldTellsTheStickApart) {
    const Difference differences[] = {
        {"nothing", [](sim::StickSpec&) {}, true, true},
        {"removable", [](sim::StickSpec& s) { s.removable = false; }, true, true},
        {"disk number", [](sim::StickSpec& s) { s.number = 5; }, false, false},
        {"bytes per sector", [](sim::StickSpec& s) { s.bytes_per_sector = 4096; }, false, true},
        {"size", [](sim::StickSpec& s) { s.size_bytes += 512; }, false, true},
        {"bus type", [](sim::StickSpec& s) { s.bus_type = 11; }, false, true},
        {"serial, letter case", [](sim::StickSpec& s) { s.serial = "rs0004"; }, false, true},
        {"serial, length", [](sim::StickSpec& s) { s.serial = "RS00044"; }, false, true},
        {"vendor, letter case", [](sim::StickSpec& s) { s.vendor = "TUNDRA"; }, false, true},
        {"vendor, length", [](sim::StickSpec& s) { s.vendor = "Tundra2"; }, false, true},
        {"product, letter case", [](sim::StickSpec& s) { s.product = "flash"; }, false, true},
        {"product, length", [](sim::StickSpec& s) { s.product = "Flash2"; }, false, true},
    };
    const Bytes bytes = fixtures::disk_with_boot_files({"BOOTX64.EFI"}, true, false);
    const fixtures::TempFile image("picked.img", bytes);
    const Bytes old(bytes.size(), 0x6B);  // a used stick
    for (const Difference& d : differences) {
        sim::StickSpec differing = FOUND;
        d.apply(differing);
        // First the picked record differs; then the stick found is the
        // picked one, and turns into the differing one once opened.
        for (const bool while_opened : {false, true}) {
            if (while_opened && !d.can_change_while_opened)
                continue;
            SCOPED_TRACE(std::string(d.name) + (while_opened ? ", changed while opened" : ""));
            sim::Machine machine;
            machine.add_system_disk(0);
            run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
            run::run_inputs.perf_frequency = 1000000000;
            const discovery::StickRecord picked =
                picked_record(machine, while_opened ? FOUND : differing);
            machine.add_stick(FOUND).contents = old;
            if (while_opened) {
                machine.drive(STICK)->after_open_with_access = [differing, &old](sim::Machine& m) {
                    m.add_stick(differing).contents = old;
                };
            }
            const engine::Result result = write_picked(image, bytes, picked);
            const Bytes& now = machine.drive(STICK)->contents;
            if (d.written) {
                EXPECT_EQ(result, engine::Result::Success) << fixtures::failure_text();
                EXPECT_EQ(now, bytes);
            } else {
                EXPECT_EQ(result, engine::Result::Failed);
                EXPECT_EQ(fixtures::failure_text(),
                          while_opened ? "disk 4 changed while it was being opened: try again"
                                       : "Windows could not verify the selected USB drive. "
                                         "Refresh and choose it again.");
                EXPECT_TRUE(machine.writes().empty());
                EXPECT_EQ(now, old);
                // Refused from the first look, the stick is never opened to write.
                EXPECT_TRUE(while_opened || !machine.drive_opened_for_writing(STICK));
            }
            EXPECT_TRUE(sys::CloseHandle(run::run_inputs.disk_io_event));
            run::run_inputs.disk_io_event = nullptr;
            EXPECT_EQ(machine.open_handle_count(), 0u);
            EXPECT_EQ(machine.held_lock_count(), 0u);
        }
    }
}

}  // namespace
