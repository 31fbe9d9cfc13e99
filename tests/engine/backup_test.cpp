// Backing a stick up whole into a new file, as tundra-stick backup does: the
// file holds every byte, an existing file is never replaced, and a backup
// that fails half-way leaves no file that could pass for one, removed
// without ever naming it again.
#include <gtest/gtest.h>
#include <sodium.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "engine/engine_run.h"
#include "engine/runs/read_only_runs.h"
#include "fixtures/sha256_hex.h"
#include "fixtures/temp_folder.h"

namespace {

using fixtures::Bytes;
using fixtures::failure_text;

// Whether two paths name the same place, whichever separators they use.
bool same_path(std::u16string a, std::u16string b) {
    std::replace(a.begin(), a.end(), u'/', u'\\');
    std::replace(b.begin(), b.end(), u'/', u'\\');
    return a == b;
}

std::u16string u16(const fixtures::WideString& text) {
    return std::u16string(text.begin(), text.end());
}

class Backup : public fixtures::EngineRunTest {
  protected:
    engine::Result back_up(const fixtures::WideString& out) {
        engine::WriteOptions options;
        options.serial = {"BK0006", 6};
        lines.clear();
        return engine::back_up_stick(options, fixtures::wide_text(out));
    }
};

TEST_F(Backup, TheFileHoldsTheWholeStickAndIsNeverReplaced) {
    // 9 MiB: two whole pieces of 4 MiB and a last one of 1 MiB.
    Bytes contents(9 << 20);
    for (size_t i = 0; i < contents.size(); ++i)
        contents[i] = static_cast<uint8_t>(i * 7 + i / 4096);
    sim::Drive& stick = machine.add_stick({6, "Tundra", "Flash", "BK0006", contents.size()});
    stick.contents = contents;
    fixtures::TempFolder folder("backup");
    const fixtures::WideString out = folder.wide("stick.img");

    ASSERT_EQ(back_up(out), engine::Result::Success) << failure_text();
    EXPECT_TRUE(fixtures::read_file((folder.path() / "stick.img").string()) == contents);
    EXPECT_EQ(lines.front(), "stick: disk 6, Tundra Flash, serial BK0006, 0.0 GB, USB\n");
    EXPECT_EQ(lines.back(), "backed up 9437184 bytes (9.0 MiB) into " + folder.narrow("stick.img") +
                                ": sha256 " + fixtures::sha256_hex(contents) + "\n");
    EXPECT_FALSE(machine.drive_opened_for_writing(6));

    stick.contents.assign(contents.size(), 0);
    EXPECT_EQ(back_up(out), engine::Result::Failed);
    EXPECT_EQ(failure_text(),
              folder.narrow("stick.img") + " already exists: a backup never replaces a file");
    EXPECT_TRUE(fixtures::read_file((folder.path() / "stick.img").string()) == contents);
}

// A short write: Windows reports success with fewer bytes written, as on a
// full disk.
decltype(sys::calls.WriteFile) write_below = nullptr;
BOOL WINAPI short_write(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    return write_below(h, buffer, count - 512, done, ov);
}

// Whether the stick's bytes or the file's fail, the run fails: no "backed up"
// line with a digest that no file holds, and no file that could pass for one.
TEST_F(Backup, ABackupThatFailsLeavesNoFileAndClaimsNothing) {
    sim::Drive& stick = machine.add_stick({6, "Tundra", "Flash", "BK0006", 9 << 20});
    stick.contents.assign(9 << 20, 0x42);
    fixtures::TempFolder folder("backup-fails");
    const fixtures::WideString out = folder.wide("stick.img");
    const std::string named_out = folder.narrow("stick.img");
    // Each reason ends with the news that no partial file is left; a full
    // disk says how much room the backup takes.
    const std::string removed = "; the partial backup " + named_out + " was removed";
    const std::string needs = ": the disk is full; the backup needs 9.0 MiB, the whole stick";
    const struct {
        const char* name;
        std::function<void(sim::Machine&)> arrange;
        std::string reason;
    } cases[] = {
        // The second of the backup's reads, at 4 MiB.
        {"a failed read", [](sim::Machine& m) { m.fail_call("ReadFile", ERROR_GEN_FAILURE, 2); },
         "a read at 4194304 failed (Windows error 31)" + removed},
        {"a failed write", [](sim::Machine& m) { m.fail_call("WriteFile", ERROR_DISK_FULL, 2); },
         "cannot write " + named_out + " (Windows error 112)" + needs + removed},
        {"a failed write, the handle's disk full",
         [](sim::Machine& m) { m.fail_call("WriteFile", ERROR_HANDLE_DISK_FULL, 2); },
         "cannot write " + named_out + " (Windows error 39)" + needs + removed},
        {"a short write",
         [](sim::Machine&) {
             write_below = sys::calls.WriteFile;
             sys::calls.WriteFile = short_write;
         },
         "cannot write " + named_out + needs + removed},
        {"a failed flush",
         [](sim::Machine& m) { m.fail_call("FlushFileBuffers", ERROR_GEN_FAILURE); },
         "cannot write " + named_out + " (Windows error 31)" + removed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const sys::CallTable calls_before = sys::calls;
        const size_t names_before = machine.name_uses().size();
        c.arrange(machine);
        const engine::Result result = back_up(out);
        sys::calls = calls_before;
        machine.clear_faults();
        EXPECT_EQ(result, engine::Result::Failed);
        EXPECT_EQ(failure_text(), c.reason);
        EXPECT_FALSE(any_line_holds("backed up"));
        EXPECT_TRUE(fixtures::tree_of(folder.path()).empty());
        // Removed through the handle that made it: the name, in a folder that
        // someone else may change, could by now lead to another file.
        EXPECT_EQ(machine.uses("DeleteFileW"), 0u);
        const std::vector<sim::NameUse> uses = machine.name_uses();
        size_t named = 0;
        for (size_t i = names_before; i < uses.size(); ++i)
            named += same_path(uses[i].path, std::u16string(out.begin(), out.end()));
        EXPECT_EQ(named, 1u) << "named once, to make it";
    }
}

// A folder on the way to --out that another user made a junction or link
// to a protected folder: no backup is made through it, at any level.
TEST_F(Backup, NoLevelOfOutIsALink) {
    machine.add_stick({6, "Tundra", "Flash", "BK0006", 1 << 20}).contents.assign(1 << 20, 0x42);
    for (const char* linked : {"backups", "backups\\today"}) {
        SCOPED_TRACE(linked);
        fixtures::TempFolder outer("backup-link");
        std::filesystem::create_directories(outer.path() / "backups" / "today");
        std::filesystem::create_directories(outer.path() / "protected" / "today");
        // Each case's folder is new: the reparse points of the others lead
        // nowhere it goes.
        machine.add_reparse_point(u16(outer.wide(linked)), IO_REPARSE_TAG_MOUNT_POINT,
                                  u16(outer.wide("protected")));
        EXPECT_EQ(back_up(outer.wide("backups\\today\\stick.img")), engine::Result::Failed);
        EXPECT_EQ(failure_text(), outer.narrow(linked) +
                                      " is a junction or link, or not a folder: no backup is "
                                      "made through it");
        EXPECT_TRUE(fixtures::tree_of(outer.path() / "protected") ==
                    (std::map<std::string, Bytes>{{"today/", {}}}));
        EXPECT_FALSE(std::filesystem::exists(outer.path() / "backups" / "today" / "stick.img"));
    }
}

#ifndef _WIN32
// The same with a real symbolic link, as root would meet one on the host.
TEST_F(Backup, ASymbolicLinkOnTheWayIsNeverFollowed) {
    machine.add_stick({6, "Tundra", "Flash", "BK0006", 1 << 20}).contents.assign(1 << 20, 0x42);
    fixtures::TempFolder outer("backup-symlink");
    std::filesystem::create_directories(outer.path() / "protected");
    std::filesystem::create_directory_symlink(outer.path() / "protected",
                                              outer.path() / "backups");
    EXPECT_EQ(back_up(outer.wide("backups\\stick.img")), engine::Result::Failed);
    EXPECT_EQ(failure_text(), outer.narrow("backups") +
                                  " is a junction or link, or not a folder: no backup is made "
                                  "through it");
    EXPECT_TRUE(std::filesystem::is_empty(outer.path() / "protected"));
}

TEST_F(Backup, TheBackupIsTheOwnersAlone) {
    machine.add_stick({6, "Tundra", "Flash", "BK0006", 1 << 20}).contents.assign(1 << 20, 0x42);
    fixtures::TempFolder outer("backup-owner");
    ASSERT_EQ(back_up(outer.wide("stick.img")), engine::Result::Success) << failure_text();
    EXPECT_EQ(std::filesystem::status(outer.path() / "stick.img").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}
#endif

// Names that are no file on a file system: a device that swallows the
// backup, or a disk that a raw write would overwrite. Refused before the
// stick is even locked.
TEST_F(Backup, OutMustBeAFileOnAFileSystem) {
    machine.add_stick({6, "Tundra", "Flash", "BK0006", 1 << 20}).contents.assign(1 << 20, 0x42);
    machine.add_drive(1);
    for (const char* out : {"NUL", "CON", "nul.img", "C:\\backups\\COM1.img",
                            "\\\\.\\PhysicalDrive1", "\\\\.\\C:",
                            "\\\\?\\GLOBALROOT\\Device\\Harddisk1\\Partition0"}) {
        SCOPED_TRACE(out);
        const size_t names_before = machine.name_uses().size();
        EXPECT_EQ(back_up(fixtures::widen(out)), engine::Result::Failed);
        EXPECT_EQ(failure_text(), std::string("--out ") + out +
                                      " names a device, not a file on a file system: name a new "
                                      "file");
        EXPECT_FALSE(machine.drive_opened_for_writing(1));
        const std::vector<sim::NameUse> uses = machine.name_uses();
        for (size_t i = names_before; i < uses.size(); ++i) {
            if (uses[i].path == u16(fixtures::widen(out))) {
                EXPECT_EQ(uses[i].access & GENERIC_WRITE, 0u) << "opened to write";
            }
        }
    }
}

// Which disk --out is on is asked of its whole path, and a backup whose
// disk Windows cannot name is not made: it might be the stick.
decltype(sys::calls.GetFullPathNameW) full_path_below = nullptr;
DWORD WINAPI out_on_stick_drive(LPCWSTR path, DWORD capacity, LPWSTR buffer, LPWSTR* part) {
    if (fixtures::WideString(path) != fixtures::widen("stick.img"))
        return full_path_below(path, capacity, buffer, part);
    const fixtures::WideString whole = fixtures::widen("E:\\stick.img");
    std::copy(whole.begin(), whole.end(), buffer);
    buffer[whole.size()] = 0;
    if (part != nullptr)
        *part = buffer + 3;
    return static_cast<DWORD>(whole.size());
}

TEST_F(Backup, TheStickIsRecognisedUnderARelativeOutAndAnUnknownDiskIsNoPlace) {
    machine.add_stick({6, "Tundra", "Flash", "BK0006", 1 << 20}).contents.assign(1 << 20, 0x42);
    machine.add_volume(u"\\\\?\\Volume{e}", {{6, 1048576, 1 << 19}}).mount_point = u"E:\\";
    full_path_below = sys::calls.GetFullPathNameW;
    sys::calls.GetFullPathNameW = out_on_stick_drive;
    EXPECT_EQ(back_up(fixtures::widen("stick.img")), engine::Result::Failed);
    sys::calls.GetFullPathNameW = full_path_below;
    EXPECT_EQ(failure_text(),
              "--out E:\\stick.img is on the stick being backed up: put the backup on another disk");

    fixtures::TempFolder outer("backup-unknown-disk");
    machine.fail_call("GetVolumePathNameW", ERROR_INVALID_PARAMETER, 0);
    EXPECT_EQ(back_up(outer.wide("stick.img")), engine::Result::Failed);
    machine.clear_faults();
    EXPECT_EQ(failure_text(), "cannot tell which disk --out " + outer.narrow("stick.img") +
                                  " is on (Windows error 87), so it might be the stick: no "
                                  "backup is made");
    EXPECT_TRUE(fixtures::tree_of(outer.path()).empty());
}

}  // namespace
