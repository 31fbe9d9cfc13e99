// Walking a folder by handle, on the simulated machine's reparse points as
// Windows reports them: each level held without delete sharing and made
// owner-only, links refused wherever they stand, other reparse points taken
// for the folders they are, and names that are devices refused.
#include "run/held_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fixtures/sim_disk.h"
#include "fixtures/temp_folder.h"
#include "run/owner_only_security.h"
#include "sim/sim_machine.h"

namespace {

using fixtures::failure_text;

std::u16string u16(const fixtures::WideString& text) {
    return std::u16string(text.begin(), text.end());
}

const run::FolderWalk MAKE{run::MissingLevels::Make, run::owner_only_security(),
                           "no logs are written through it"};

// Makes one file in the held folder and closes it; the Windows error, or 0.
DWORD make_file(const run::HeldFolder& held, const char* name) {
    fixtures::WideString wide = fixtures::widen(name);
    DWORD error = 0;
    const HANDLE file = run::create_new_file(held, wide.c_str(), static_cast<uint32_t>(wide.size()),
                                             GENERIC_WRITE, run::owner_only_security(), error);
    if (file != INVALID_HANDLE_VALUE) {
        EXPECT_TRUE(sys::CloseHandle(file));
    }
    return file == INVALID_HANDLE_VALUE ? error : 0;
}

TEST(HeldFolder, EachLevelIsMadeOwnerOnlyAndHeldUntilLetGo) {
    sim::Machine machine;
    fixtures::TempFolder outer("held");
    const size_t handles_before = machine.open_handle_count();
    const fixtures::WideString path = outer.wide("new\\logs");
    run::HeldFolder held;
    ASSERT_EQ(run::hold_folder(fixtures::wide_text(path), MAKE, held), run::Result::Success)
        << failure_text();
    EXPECT_TRUE(std::filesystem::is_directory(outer.path() / "new" / "logs"));
    EXPECT_EQ(make_file(held, "LOG.TXT"), 0u);
    EXPECT_TRUE(std::filesystem::exists(outer.path() / "new" / "logs" / "LOG.TXT"));
    EXPECT_EQ(make_file(held, "LOG.TXT"), static_cast<DWORD>(ERROR_ALREADY_EXISTS))
        << "never over a file that is there";
    // Every level below the root was opened by its name in the one above,
    // never through a link, and held without delete sharing.
    unsigned by_name = 0;
    for (const sim::NameUse& use : machine.name_uses()) {
        if (use.call != "NtCreateFile")
            continue;
        ++by_name;
        EXPECT_NE(use.flags & FILE_OPEN_REPARSE_POINT, 0u);
        EXPECT_EQ(use.share & FILE_SHARE_DELETE, 0u);
    }
    EXPECT_GE(by_name, 3u);
    EXPECT_FALSE(machine.swap_for_junction(u16(outer.wide("new")), u16(outer.wide("x"))));
    EXPECT_FALSE(machine.swap_for_junction(u16(path), u16(outer.wide("x"))));
    run::let_go(held);
    EXPECT_EQ(machine.open_handle_count(), handles_before);
    EXPECT_TRUE(machine.swap_for_junction(u16(path), u16(outer.wide("x"))));
#ifndef _WIN32
    for (const char* made : {"new", "new/logs", "new/logs/LOG.TXT"}) {
        const auto perms = std::filesystem::status(outer.path() / made).permissions();
        EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
                  std::filesystem::perms::none)
            << made;
    }
#endif
}

// A junction, a symbolic link or a mount point at any level is refused, and
// nothing lands where it points; a placeholder of a cloud folder, a
// deduplicated or a compressed folder is a folder like any other.
TEST(HeldFolder, OnlyNameSurrogatesAreLinks) {
    const struct {
        const char* at;  // under outer
        DWORD tag;
        bool refused;
    } cases[] = {
        {"shared", IO_REPARSE_TAG_MOUNT_POINT, true},
        {"shared", IO_REPARSE_TAG_SYMLINK, true},
        {"shared\\logs", IO_REPARSE_TAG_MOUNT_POINT, true},
        {"shared\\logs", IO_REPARSE_TAG_SYMLINK, true},
        {"shared", IO_REPARSE_TAG_CLOUD_6, false},
        {"shared\\logs", IO_REPARSE_TAG_CLOUD_6, false},
        {"shared", IO_REPARSE_TAG_DEDUP, false},
        {"shared\\logs", IO_REPARSE_TAG_WOF, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.at) + " " + std::to_string(c.tag));
        sim::Machine machine;
        fixtures::TempFolder outer("held-tags");
        std::filesystem::create_directories(outer.path() / "shared" / "logs");
        std::filesystem::create_directories(outer.path() / "elsewhere" / "logs");
        machine.add_reparse_point(u16(outer.wide(c.at)), c.tag, u16(outer.wide("elsewhere")));
        run::HeldFolder held;
        const run::Result result =
            run::hold_folder(fixtures::wide_text(outer.wide("shared\\logs")), MAKE, held);
        if (c.refused) {
            EXPECT_EQ(result, run::Result::Failed);
            EXPECT_EQ(failure_text(), outer.narrow(c.at) +
                                          " is a junction or link, or not a folder: no logs "
                                          "are written through it");
            EXPECT_EQ(held.count, 0u) << "nothing held after a failure";
        } else {
            ASSERT_EQ(result, run::Result::Success) << failure_text();
            EXPECT_EQ(make_file(held, "LOG.TXT"), 0u);
            run::let_go(held);
            EXPECT_TRUE(std::filesystem::exists(outer.path() / "shared" / "logs" / "LOG.TXT"));
        }
        EXPECT_TRUE(std::filesystem::is_empty(outer.path() / "elsewhere" / "logs"));
    }
}

TEST(HeldFolder, AFileInTheWayOrAFailedOpenEndsTheWalkHoldingNothing) {
    sim::Machine machine;
    fixtures::TempFolder outer("held-fails");
    ASSERT_TRUE(fixtures::write_text(outer.path() / "file", "x"));
    const size_t handles_before = machine.open_handle_count();
    run::HeldFolder held;
    EXPECT_EQ(run::hold_folder(fixtures::wide_text(outer.wide("file\\logs")), MAKE, held),
              run::Result::Failed);
    EXPECT_EQ(failure_text(), outer.narrow("file") +
                                  " is a junction or link, or not a folder: no logs are written "
                                  "through it");
    machine.fail_call("NtCreateFile", ERROR_ACCESS_DENIED, 2);
    EXPECT_EQ(run::hold_folder(fixtures::wide_text(outer.wide("a\\b\\c")), MAKE, held),
              run::Result::Failed);
    EXPECT_EQ(failure_text().rfind("cannot make the folder ", 0), 0u) << failure_text();
    EXPECT_EQ(held.count, 0u);
    EXPECT_EQ(machine.open_handle_count(), handles_before);
    const run::FolderWalk open_only{run::MissingLevels::Refuse, nullptr, "no backup is made"};
    EXPECT_EQ(run::hold_folder(fixtures::wide_text(outer.wide("missing")), open_only, held),
              run::Result::Failed);
    EXPECT_EQ(failure_text(),
              "cannot open the folder " + outer.narrow("missing") + " (Windows error 2)");
    EXPECT_FALSE(std::filesystem::exists(outer.path() / "missing"));
}

TEST(HeldFolder, DevicesAreNoFoldersOrFiles) {
    const struct {
        const char* path;
        bool device;
    } cases[] = {
        {"NUL", true},
        {"con", true},
        {"C:\\backups\\nul.img", true},
        {"C:\\backups\\COM1", true},
        {"lpt9.txt", true},
        {"C:\\aux \\x", true},
        {"\\\\.\\PhysicalDrive1", true},
        {"\\\\.\\C:", true},
        {"\\\\?\\GLOBALROOT\\Device\\Harddisk1\\Partition0", true},
        {"C:\\console\\null\\com10\\lpt", false},
        {"\\\\?\\C:\\backups\\stick.img", false},
        {"\\\\server\\share\\stick.img", false},
        {"stick.img", false},
    };
    for (const auto& c : cases) {
        const fixtures::WideString path = fixtures::widen(c.path);
        EXPECT_EQ(run::names_a_device(fixtures::wide_text(path)), c.device) << c.path;
    }
}

}  // namespace
