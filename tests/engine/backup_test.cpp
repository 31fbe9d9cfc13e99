// Backing a stick up whole into a new file, as tundra-stick backup does: the
// file holds every byte, an existing file is never replaced, and a backup
// that fails half-way leaves no file that could pass for one, removed
// without ever naming it again.
#include <gtest/gtest.h>
#include <sodium.h>

#include <filesystem>
#include <functional>
#include <string>

#include "engine/engine_run.h"
#include "engine/runs/read_only_runs.h"
#include "fixtures/sha256_hex.h"
#include "fixtures/temp_folder.h"

namespace {

using fixtures::Bytes;
using fixtures::failure_text;

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
            named += uses[i].path == std::u16string(out.begin(), out.end());
        EXPECT_EQ(named, 1u) << "named once, to make it";
    }
}

}  // namespace
