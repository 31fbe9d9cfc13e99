// tundra-stick backup and logs read a stick that nothing else writes: its
// volumes are locked (and stay mounted) for the whole read and let go
// afterwards, a stick held by another program is refused with the write's
// text, and a backup is never made on the stick it copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/engine_run.h"
#include "engine/runs/read_only_runs.h"
#include "fixtures/temp_folder.h"

namespace {

using fixtures::Bytes;
using fixtures::failure_text;

const std::u16string STICK_VOLUME = u"\\\\?\\Volume{0d15c0de-0000-0000-0000-000000000006}";
const std::string STICK_VOLUME_TEXT = "\\\\?\\Volume{0d15c0de-0000-0000-0000-000000000006}";
constexpr uint64_t MIB = 1048576;

// Counts the reads of the stick made while none of its volumes was locked.
sys::CallTable calls_before;
unsigned unlocked_reads = 0;
unsigned stick_reads = 0;

BOOL WINAPI watching_read(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    if (ov != nullptr && count >= 512) {
        ++stick_reads;
        if (sim::Machine::current()->held_lock_count() == 0)
            ++unlocked_reads;
    }
    return calls_before.ReadFile(h, buffer, count, done, ov);
}

enum class ReadRun { Backup, Logs };

class ReadRunLock : public fixtures::EngineRunTest {
  protected:
    void SetUp() override {
        EngineRunTest::SetUp();
        stick_bytes = fixtures::read_file(fixtures::real_image_path("logs.img"));
        machine.add_stick({6, "Tundra", "Flash", "BK0006", stick_bytes.size()}).contents =
            stick_bytes;
        sim::Volume& volume = machine.add_volume(STICK_VOLUME, {{6, MIB, 4 * MIB}});
        volume.mount_point = u"E:\\";
    }

    engine::Result read_run(ReadRun which, const fixtures::WideString& out_or_folder) {
        engine::WriteOptions options;
        options.serial = {"BK0006", 6};
        lines.clear();
        run::buffers.failure_reason_length = 0;
        unlocked_reads = 0;
        stick_reads = 0;
        calls_before = sys::calls;
        sys::calls.ReadFile = watching_read;
        engine::Result result;
        if (which == ReadRun::Backup) {
            result = engine::back_up_stick(options, fixtures::wide_text(out_or_folder));
        } else {
            options.logs_dir = fixtures::wide_text(out_or_folder);
            result = engine::copy_stick_logs(options);
        }
        sys::calls = calls_before;
        return result;
    }

    Bytes stick_bytes;
};

const ReadRun BOTH[] = {ReadRun::Backup, ReadRun::Logs};

const char* name_of(ReadRun which) {
    return which == ReadRun::Backup ? "backup" : "logs";
}

TEST_F(ReadRunLock, TheVolumesStayLockedForTheWholeReadAndAreLetGoAfter) {
    for (ReadRun which : BOTH) {
        SCOPED_TRACE(name_of(which));
        fixtures::TempFolder folder("read-lock");
        const fixtures::WideString out =
            which == ReadRun::Backup ? folder.wide("stick.img") : folder.wide("logs");
        const size_t timeline_before = machine.timeline().size();
        ASSERT_EQ(read_run(which, out), engine::Result::Success) << failure_text();
        EXPECT_GT(stick_reads, 0u);
        EXPECT_EQ(unlocked_reads, 0u) << "every read of the stick with its volume locked";
        EXPECT_TRUE(has_line("locked " + STICK_VOLUME_TEXT + "\n"));
        EXPECT_TRUE(machine.volumes_dismounted().empty()) << "locked, never dismounted";
        EXPECT_EQ(machine.held_lock_count(), 0u);
        const std::vector<sim::Happening> timeline = machine.timeline();
        EXPECT_TRUE(std::any_of(
            timeline.begin() + timeline_before, timeline.end(), [](const sim::Happening& h) {
                return h.kind == sim::Happening::Kind::LockReleased && h.volume == STICK_VOLUME;
            }));
        EXPECT_EQ(machine.drive(6)->contents, stick_bytes);
    }
}

TEST_F(ReadRunLock, AStickHeldByAnotherProgramIsRefusedWithTheLockText) {
    machine.volume(STICK_VOLUME)->refuse_lock_attempts = 20;
    for (ReadRun which : BOTH) {
        SCOPED_TRACE(name_of(which));
        machine.volume(STICK_VOLUME)->refuse_lock_attempts = 20;
        fixtures::TempFolder folder("read-held");
        const fixtures::WideString out =
            which == ReadRun::Backup ? folder.wide("stick.img") : folder.wide("logs");
        EXPECT_EQ(read_run(which, out), engine::Result::Failed);
        EXPECT_EQ(failure_text(), "cannot lock " + STICK_VOLUME_TEXT +
                                      ": close what has the stick open (Explorer windows on it) "
                                      "and try again");
        EXPECT_EQ(stick_reads, 0u) << "nothing read";
        EXPECT_TRUE(fixtures::tree_of(folder.path()).empty());
        EXPECT_EQ(machine.held_lock_count(), 0u);
    }
}

TEST_F(ReadRunLock, ABackupOntoTheStickItselfFailsBeforeReading) {
    for (const std::string out : {"E:\\stick.img", "e:\\backups\\stick.img"}) {
        EXPECT_EQ(read_run(ReadRun::Backup, fixtures::widen(out)), engine::Result::Failed);
        EXPECT_EQ(failure_text(), "--out " + out +
                                      " is on the stick being backed up: put the backup on "
                                      "another disk");
        EXPECT_EQ(stick_reads, 0u);
        EXPECT_EQ(machine.held_lock_count(), 0u);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

}  // namespace
