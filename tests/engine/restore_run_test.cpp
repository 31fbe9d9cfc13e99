// Whole restore runs on simulated sticks: the stick found by serial and
// vetted as for a write, its volumes locked and dismounted, the new layout
// written, read back and readable by our own FAT reader, the wrong disks
// refused untouched, a stop honoured, every failure said with the state it
// left, and every Windows call of the run failed in turn ending cleanly.
#include "engine/runs/restore_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_run.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_folder.h"
#include "formats/fat.h"

namespace {

constexpr uint64_t MIB = 1048576;
constexpr uint64_t STICK_BYTES = 40 * MIB;
const std::u16string STICK_VOLUME = u"\\\\?\\Volume{restored-stick}";
const char* const PARTLY_WRITTEN = "the stick was left partly written and must be restored again";

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<uint32_t>(bytes[at + 3]) << 24;
}

bool holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// An old Tundra-like stick: a GPT at both ends and a FAT volume at 1 MiB.
const std::vector<uint8_t>& old_stick(uint64_t bytes) {
    static std::vector<uint8_t> contents;
    if (contents.size() == bytes)
        return contents;
    contents.assign(bytes, 0);
    const fixtures::Bytes image = fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
    std::copy(image.begin(), image.end(), contents.begin());
    memcpy(contents.data() + bytes - 512, "EFI PART", 8);
    return contents;
}

class RestoreRunTest : public fixtures::EngineRunTest {
  protected:
    void TearDown() override {
        run::run_inputs.stop_requested = false;
        fixtures::EngineRunTest::TearDown();
    }

    sim::Drive& add_stick(uint32_t sector = 512, uint32_t bus = 7) {
        sim::StickSpec spec{2, "Tundra", "Flash", "RS0002", STICK_BYTES, sector, bus};
        sim::Drive& drive = machine.add_stick(spec);
        drive.contents = old_stick(STICK_BYTES);
        machine.add_volume(STICK_VOLUME, {{2, MIB, 8 * MIB}});
        return drive;
    }

    engine::WriteOptions by_serial() const {
        engine::WriteOptions options;
        options.serial = {"RS0002", 6};
        return options;
    }

    engine::Result restore(const engine::WriteOptions& options, engine::RestoreChoice choice = {}) {
        run::buffers.failure_reason_length = 0;
        return engine::restore_stick(options, choice);
    }

    size_t writes_to(uint32_t drive) const {
        const std::vector<sim::WriteRecord> writes = machine.writes();
        return static_cast<size_t>(
            std::count_if(writes.begin(), writes.end(),
                          [&](const sim::WriteRecord& w) { return w.drive_number == drive; }));
    }

    // What our own reader makes of the restored volume, on a drive of its own.
    formats::FatVolume read_volume(const std::vector<uint8_t>& contents) {
        // The disk makes and closes an event of its own for the reads.
        const HANDLE caller_event = run::run_inputs.disk_io_event;
        formats::FatVolume parsed = read_volume_on_disk_9(contents);
        run::run_inputs.disk_io_event = caller_event;
        return parsed;
    }
    formats::FatVolume read_volume_on_disk_9(const std::vector<uint8_t>& contents) {
        fixtures::SimDisk disk(machine, contents, 9);
        engine::DiskRegion volume = disk.region();
        volume.first = MIB;
        formats::forget_fat_window();
        formats::FatVolume parsed;
        EXPECT_EQ(formats::parse_boot_sector(volume, parsed), engine::Result::Success)
            << fixtures::failure_text();
        machine.remove_drive(9);
        return parsed;
    }
};

TEST_F(RestoreRunTest, AStickBecomesOneFat32PartitionFromOneMibToTheEnd) {
    sim::Drive& stick = add_stick();
    ASSERT_EQ(restore(by_serial()), engine::Result::Success) << fixtures::failure_text();
    // Locked and dismounted like a write, and Windows asked to read the table.
    EXPECT_EQ(machine.volumes_dismounted(), std::vector<std::u16string>{STICK_VOLUME});
    const std::vector<sim::IoctlRecord> ioctls = machine.ioctls();
    EXPECT_TRUE(std::any_of(ioctls.begin(), ioctls.end(), [](const sim::IoctlRecord& r) {
        return r.code == IOCTL_DISK_UPDATE_PROPERTIES && r.on_drive && r.drive_number == 2;
    }));
    std::vector<uint8_t> bytes = stick.contents;
    bytes.resize(STICK_BYTES);
    EXPECT_EQ(bytes[446 + 4], 0x0C);
    EXPECT_EQ(le32(bytes, 446 + 8), 2048u);
    EXPECT_EQ(le32(bytes, 446 + 12), STICK_BYTES / 512 - 2048);
    EXPECT_EQ(le32(bytes, 446 + 16 + 12), 0u) << "a second partition";
    EXPECT_TRUE(std::all_of(bytes.begin() + 512, bytes.begin() + MIB, [](uint8_t b) {
        return b == 0;
    })) << "the old GPT is still before the partition";
    EXPECT_TRUE(std::all_of(bytes.end() - 65536, bytes.end(), [](uint8_t b) { return b == 0; }))
        << "the old backup GPT is still at the end";
    const formats::FatVolume volume = read_volume(bytes);
    EXPECT_EQ(volume.type, formats::FatType::Fat32);
    EXPECT_GE(volume.cluster_count, 65525u);
    EXPECT_TRUE(has_line("the stick is an ordinary USB stick again: FAT32, 39.0 MiB, label USB\n"));
    // It wrote megabytes, not the stick.
    uint64_t written = 0;
    for (const sim::WriteRecord& w : machine.writes())
        written += w.length;
    EXPECT_LT(written, 4 * MIB);
}

TEST_F(RestoreRunTest, FourKibSectorsAndExfat) {
    sim::Drive& stick = add_stick(4096);
    engine::RestoreChoice choice;
    choice.file_system = engine::FileSystemChoice::Exfat;
    const std::u16string label = u"Fotos";
    choice.label = {reinterpret_cast<const WCHAR*>(label.c_str()), label.size()};
    ASSERT_EQ(restore(by_serial(), choice), engine::Result::Success) << fixtures::failure_text();
    std::vector<uint8_t> bytes = stick.contents;
    bytes.resize(STICK_BYTES);
    EXPECT_EQ(bytes[446 + 4], 0x07);
    EXPECT_EQ(le32(bytes, 446 + 8), MIB / 4096);
    EXPECT_EQ(le32(bytes, 446 + 12), STICK_BYTES / 4096 - MIB / 4096);
    EXPECT_EQ(std::string(bytes.begin() + MIB + 3, bytes.begin() + MIB + 11), "EXFAT   ");
    EXPECT_EQ(bytes[MIB + 108], 12) << "4096-byte sectors";
    EXPECT_TRUE(
        has_line("the stick is an ordinary USB stick again: exFAT, 39.0 MiB, label Fotos\n"));
}

TEST_F(RestoreRunTest, WrongDisksAreRefusedUntouched) {
    const struct {
        const char* name;
        uint32_t bus;
        uint64_t max_gb;
        const char* model;
        bool holds_windows;
        std::string reason;
    } cases[] = {
        {"SATA", 11, 256, nullptr, false,
         "disk 2 (serial RS0002) is on SATA, not USB: not a stick"},
        {"the system disk", 7, 256, nullptr, true, "disk 2 is the disk Windows runs from"},
        {"over --max-gb", 7, 0, nullptr, false,
         "disk 2 says it holds 0.0 GB, more than --max-gb 0 (a fake-capacity stick says it holds "
         "more than it does)"},
        {"another model", 7, 256, "Cruzer", false, "disk 2 is a Tundra Flash, not a Cruzer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine.remove_drive(2);
        sim::Drive& stick = add_stick(512, c.bus);
        machine.volume(u"\\\\.\\C:")->extents = c.holds_windows
                                                    ? sim::make_extents({{0, 0, 1}, {2, 0, 1}})
                                                    : sim::make_extents({{0, 0, 1}});
        engine::WriteOptions options = by_serial();
        options.max_gb = c.max_gb;
        if (c.model != nullptr)
            options.required_model = {c.model, strlen(c.model)};
        EXPECT_EQ(restore(options), engine::Result::Failed);
        EXPECT_EQ(fixtures::failure_text(), c.reason);
        EXPECT_FALSE(machine.drive_opened_for_writing(2));
        EXPECT_EQ(writes_to(2), 0u);
        EXPECT_EQ(stick.contents, old_stick(STICK_BYTES));
    }
}

TEST_F(RestoreRunTest, DryRunAndFailedLogCopyWriteNothing) {
    sim::Drive& stick = add_stick();
    engine::WriteOptions dry = by_serial();
    dry.dry_run = true;
    ASSERT_EQ(restore(dry), engine::Result::Success) << fixtures::failure_text();
    EXPECT_TRUE(has_line("--dry-run: nothing written\n"));
    EXPECT_TRUE(any_line_holds("would write "));
    EXPECT_FALSE(machine.drive_opened_for_writing(2));
    EXPECT_TRUE(machine.volumes_dismounted().empty());
    // A stick with logs, and a folder that cannot be made: the copy fails,
    // so nothing is restored.
    const fixtures::Bytes logs_stick = fixtures::read_file(fixtures::real_image_path("logs.img"));
    std::copy(logs_stick.begin(), logs_stick.end(), stick.contents.begin());
    const std::vector<uint8_t> before = stick.contents;
    fixtures::TempFolder folder("restore-logs");
    { std::ofstream(folder.path() / "plain"); }
    const fixtures::WideString logs = fixtures::widen(folder.narrow("plain\\logs"));
    engine::WriteOptions with_logs = by_serial();
    with_logs.logs_dir = fixtures::wide_text(logs);
    EXPECT_EQ(restore(with_logs), engine::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(),
              "nothing restored, so the logs stay on the stick (copy them with tundra-stick logs, "
              "or pass no --logs)");
    EXPECT_TRUE(any_line_holds("WARNING: the logs were not copied: "));
    EXPECT_TRUE(any_line_holds("plain is a junction or link, or not a folder"));
    EXPECT_EQ(writes_to(2), 0u);
    EXPECT_EQ(stick.contents, before);
}

// Stops the run just before its nth write to the stick.
struct StopAtWrite {
    static inline unsigned countdown = 0;
    static inline sys::CallTable inner;
    static BOOL WINAPI write_file(HANDLE h, LPCVOID data, DWORD count, LPDWORD done,
                                  LPOVERLAPPED ov) {
        if (countdown > 0 && --countdown == 0)
            run::run_inputs.stop_requested = true;
        return inner.WriteFile(h, data, count, done, ov);
    }
    explicit StopAtWrite(unsigned nth) {
        countdown = nth;
        inner = sys::calls;
        sys::calls.WriteFile = write_file;
    }
    ~StopAtWrite() { sys::calls.WriteFile = inner.WriteFile; }
};

TEST_F(RestoreRunTest, AStopSaysWhetherTheStickWasTouched) {
    sim::Drive& stick = add_stick();
    run::run_inputs.stop_requested = true;
    EXPECT_EQ(restore(by_serial()), engine::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(),
              "stopped on request before anything was written: the stick is as it was");
    EXPECT_EQ(writes_to(2), 0u);
    run::run_inputs.stop_requested = false;
    {
        StopAtWrite stop(2);
        EXPECT_EQ(restore(by_serial()), engine::Result::Failed);
    }
    EXPECT_EQ(fixtures::failure_text(), std::string("stopped on request: ") + PARTLY_WRITTEN);
    EXPECT_EQ(writes_to(2), 2u);
    // The MBR goes last: a stopped restore shows no new partition yet.
    EXPECT_EQ(stick.contents[446 + 4], old_stick(STICK_BYTES)[446 + 4]);
}

TEST_F(RestoreRunTest, WritesThatDoNotStayAreFoundOnReadBack) {
    sim::Drive& stick = add_stick();
    stick.drop_writes = true;
    EXPECT_EQ(restore(by_serial()), engine::Result::Failed);
    const std::string reason = fixtures::failure_text();
    EXPECT_TRUE(holds(reason, "the stick does not hold what was written: byte ")) << reason;
    EXPECT_TRUE(holds(reason, PARTLY_WRITTEN)) << reason;
}

// Every Windows call of a restore, failing at each of its uses (a spread of
// them for the many): the run ends with a reason or with the stick restored,
// releases everything, and says the stick was left partly written exactly
// when something was written.
TEST(RestoreRunCalls, EveryCallFailingEndsCleanly) {
    const auto once = [](sim::Machine& machine) {
        machine.add_system_disk(0);
        sim::Drive& stick = machine.add_stick({2, "Tundra", "Flash", "RS0002", STICK_BYTES});
        stick.contents = old_stick(STICK_BYTES);
        machine.add_volume(STICK_VOLUME, {{2, MIB, 8 * MIB}});
        run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        engine::WriteOptions options;
        options.serial = {"RS0002", 6};
        run::buffers.failure_reason_length = 0;
        const engine::Result result = engine::restore_stick(options, {});
        (void)sys::CloseHandle(run::run_inputs.disk_io_event);
        run::run_inputs.disk_io_event = nullptr;
        return result;
    };
    std::vector<std::pair<std::string, unsigned>> uses;
    {
        sim::Machine machine;
        ASSERT_EQ(once(machine), engine::Result::Success) << fixtures::failure_text();
        for (const std::string& name : sim::Machine::failable_calls()) {
            const unsigned count = machine.uses(name.c_str());
            if (count > 0)
                uses.emplace_back(name, count);
        }
    }
    ASSERT_FALSE(uses.empty());
    for (const auto& [name, count] : uses) {
        for (unsigned nth = 1; nth <= count; ++nth) {
            // The first uses, the last ones and one in the middle.
            if (nth > 2 && count - nth >= 2 && nth != count / 2)
                continue;
            SCOPED_TRACE(name + " failing at use " + std::to_string(nth));
            sim::Machine machine;
            machine.fail_call(name.c_str(), ERROR_GEN_FAILURE, nth);
            const engine::Result result = once(machine);
            const std::string reason = fixtures::failure_text();
            const std::vector<sim::WriteRecord> writes = machine.writes();
            if (result == engine::Result::Success) {
                // Restored, though with another disk signature and serial.
                const std::vector<uint8_t>& bytes = machine.drive(2)->contents;
                ASSERT_GE(bytes.size(), MIB + 90);
                EXPECT_EQ(bytes[446 + 4], 0x0C);
                EXPECT_EQ(std::string(bytes.begin() + MIB + 82, bytes.begin() + MIB + 90),
                          "FAT32   ");
            } else {
                EXPECT_FALSE(reason.empty());
                EXPECT_EQ(holds(reason, PARTLY_WRITTEN), !writes.empty()) << reason;
            }
            EXPECT_EQ(machine.open_handle_count(), 0u);
            EXPECT_EQ(machine.held_lock_count(), 0u);
        }
    }
}

}  // namespace
