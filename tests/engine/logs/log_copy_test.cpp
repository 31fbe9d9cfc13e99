// Copying a stick's logs into a folder on the computer: from a stick that
// mtools filled, from sticks without logs, the failures that stop a write
// before anything is written, and crafted names that must never become paths.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/engine_run.h"
#include "run/owner_only_security.h"
#include "engine/runs/read_only_runs.h"
#include "engine/runs/write_stick.h"
#include "fixtures/temp_folder.h"

#ifdef _WIN32
#include <sddl.h>  // after windows.h
#endif

namespace {

using fixtures::Bytes;
using fixtures::failure_text;
using Tree = std::map<std::string, Bytes>;

const std::string NOTHING_WRITTEN =
    "nothing written, so the logs stay on the stick (copy them with tundra-stick logs, or pass no "
    "--logs)";

Bytes real(const std::string& name) {
    return fixtures::read_file(fixtures::real_image_path(name));
}
Bytes source(const std::string& path) {
    return real("logs-sources/TUNDRA/" + path);
}

bool starts_with(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

// 400 clusters of 512 bytes: small enough for a chain to loop past them.
const fixtures::FatSpec SMALL_FAT12{12, 400, 512, 1, 2, 64, 0};

// A FAT12 stick in code, for what mtools will not write.
struct CraftedStick {
    fixtures::FatImage volume{SMALL_FAT12};
    uint32_t tundra = 0;
    uint32_t logs = 0;

    // A file under an 11-byte 8.3 name taken as it is.
    void add_file(uint32_t parent, const std::string& name11, uint32_t size, uint8_t fill) {
        uint32_t first = 0;
        uint32_t previous = 0;
        for (uint32_t done = 0; done < size; done += 512) {
            const uint32_t cluster = volume.allocate_cluster();
            volume.set_fat(cluster, 0xFFF);
            if (previous != 0)
                volume.set_fat(previous, cluster);
            if (first == 0)
                first = cluster;
            std::fill_n(volume.bytes.begin() + volume.cluster_offset(cluster),
                        std::min<uint32_t>(512, size - done), fill);
            previous = cluster;
        }
        volume.add_entry(parent, name11, 0x20, first, size);
    }
    // A file of `size` bytes whose one cluster's FAT entry is `next`: the
    // chain's end mark, or the cluster itself for a chain that loops.
    void add_broken_file(uint32_t parent, const std::string& name11, uint32_t size, bool loops) {
        const uint32_t cluster = volume.allocate_cluster();
        volume.set_fat(cluster, loops ? cluster : 0xFFF);
        volume.add_entry(parent, name11, 0x20, cluster, size);
    }
    // A chain of `count` clusters of deleted entries that ends in `last_next`
    // (an end mark, or a cluster to go on to); gives its first cluster.
    uint32_t add_deleted_chain(uint32_t count, uint32_t last_next) {
        uint32_t first = 0;
        uint32_t previous = 0;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t cluster = volume.allocate_cluster();
            for (uint32_t e = 0; e < 512; e += 32)
                volume.bytes[volume.cluster_offset(cluster) + e] = 0xE5;
            volume.set_fat(cluster, last_next);
            if (previous != 0)
                volume.set_fat(previous, cluster);
            if (first == 0)
                first = cluster;
            previous = cluster;
        }
        return first;
    }
    Bytes disk() const { return fixtures::disk_with_volume(volume); }
};

class LogCopy : public fixtures::EngineRunTest {
  protected:
    // tundra-stick write --logs --fresh onto a target file holding `stick`.
    engine::Result write_with_logs(const Bytes& image, const Bytes& stick,
                                   const fixtures::WideString& folder, bool dry_run, Bytes& after) {
        fixtures::TempFile image_file("logs-image.img", image);
        fixtures::TempFile stick_file("logs-stick.img", stick);
        engine::WriteOptions options;
        options.image_path = image_file.wide();
        options.target_file = stick_file.wide();
        options.logs_dir = fixtures::wide_text(folder);
        options.fresh = true;
        options.dry_run = dry_run;
        lines.clear();
        const engine::Result result = engine::write_stick(options);
        after = fixtures::read_file(stick_file.narrow());
        return result;
    }

    // tundra-stick logs: the copy alone.
    engine::Result copy_only(const Bytes& stick, const fixtures::WideString& folder) {
        fixtures::TempFile stick_file("logs-stick.img", stick);
        engine::WriteOptions options;
        options.target_file = stick_file.wide();
        options.logs_dir = fixtures::wide_text(folder);
        lines.clear();
        return engine::copy_stick_logs(options);
    }

    std::vector<std::string> copied_lines() const {
        std::vector<std::string> copied;
        for (const std::string& line : lines) {
            if (starts_with(line, "copied "))
                copied.push_back(line);
        }
        return copied;
    }
};

// The files (not folders) under a folder, by their paths from it.
std::vector<std::string> files_in(const std::filesystem::path& root) {
    std::vector<std::string> files;
    for (const auto& [path, bytes] : fixtures::tree_of(root)) {
        if (path.back() != '/')
            files.push_back(path);
    }
    return files;
}

// The byte counts of each write into a log file, in order.
std::vector<DWORD> log_writes;
sys::CallTable calls_before;

BOOL WINAPI counting_write(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    if (ov == nullptr)
        log_writes.push_back(count);
    return calls_before.WriteFile(h, buffer, count, done, ov);
}

TEST_F(LogCopy, TheLogsOfAStickThatMtoolsFilled) {
    const Bytes stick = real("logs.img");
    fixtures::TempFolder outer("logs-real");
    const fixtures::WideString folder = fixtures::widen(outer.narrow("new\\logs"));
    Bytes after;
    log_writes.clear();
    calls_before = sys::calls;
    sys::calls.WriteFile = counting_write;
    const engine::Result result = write_with_logs(stick, stick, folder, true, after);
    sys::calls = calls_before;
    ASSERT_EQ(result, engine::Result::Success) << failure_text();

    const Tree expected = {
        {"LOG.TXT", source("LOG.TXT")},
        {"CRASH.BIN", source("CRASH.BIN")},
        {"KLOG.OLD", source("KLOG.OLD")},
        {"LOGS/", {}},
        {"LOGS/BIG.LOG", source("LOGS/BIG.LOG")},
        {"LOGS/README", source("LOGS/README")},
        {"LOGS/EMPTY.LOG", {}},
    };
    EXPECT_TRUE(fixtures::tree_of(outer.path() / "new" / "logs") == expected);
    EXPECT_EQ(copied_lines(), (std::vector<std::string>{
                                  "copied TUNDRA\\LOG.TXT (20 bytes)\n",
                                  "copied TUNDRA\\CRASH.BIN (7000 bytes)\n",
                                  "copied TUNDRA\\KLOG.OLD (34 bytes)\n",
                                  "copied TUNDRA\\LOGS\\BIG.LOG (1048576 bytes)\n",
                                  "copied TUNDRA\\LOGS\\README (22 bytes)\n",
                                  "copied TUNDRA\\LOGS\\EMPTY.LOG (0 bytes)\n",
                              }));
    // One write per run of clusters: BIG.LOG lies in one run of 4 KiB clusters.
    EXPECT_EQ(log_writes, (std::vector<DWORD>{20, 7000, 34, 262144, 262144, 262144, 262144, 22}));
    EXPECT_EQ(lines.back(), "--dry-run: nothing written\n");

    // A later copy into the same folder leaves every file there as it is,
    // the user's own as well, and takes the next free numbered names.
    const std::string older = "an older log, longer than the new";
    ASSERT_TRUE(fixtures::write_text(outer.path() / "new" / "logs" / "LOG.TXT", older));
    ASSERT_TRUE(fixtures::write_text(outer.path() / "new" / "logs" / "LOG (2).TXT", older));
    ASSERT_EQ(write_with_logs(stick, stick, folder, true, after), engine::Result::Success)
        << failure_text();
    Tree twice = expected;
    twice["LOG.TXT"] = Bytes(older.begin(), older.end());
    twice["LOG (2).TXT"] = Bytes(older.begin(), older.end());
    twice["LOG (3).TXT"] = source("LOG.TXT");
    twice["CRASH (2).BIN"] = source("CRASH.BIN");
    twice["KLOG (2).OLD"] = source("KLOG.OLD");
    twice["LOGS/BIG (2).LOG"] = source("LOGS/BIG.LOG");
    twice["LOGS/README (2)"] = source("LOGS/README");
    twice["LOGS/EMPTY (2).LOG"] = {};
    EXPECT_TRUE(fixtures::tree_of(outer.path() / "new" / "logs") == twice);
    EXPECT_EQ(copied_lines()[0],
              "copied TUNDRA\\LOG.TXT (20 bytes) as LOG (3).TXT, as LOG.TXT is taken\n");
    EXPECT_EQ(copied_lines()[4],
              "copied TUNDRA\\LOGS\\README (22 bytes) as README (2), as README is taken\n");
}

TEST_F(LogCopy, SticksWithoutLogs) {
    CraftedStick no_tundra;
    no_tundra.volume.add_directory(0, "EFI");
    CraftedStick empty_tundra;
    empty_tundra.volume.add_directory(0, "TUNDRA");
    const struct {
        const char* name;
        Bytes stick;
        std::vector<std::string> lines;
        bool folder_made;
    } cases[] = {
        {"no GPT",
         Bytes(1 << 20, 0),
         {"no TUNDRA partition on the stick (no GPT with an EFI partition): no logs to copy\n"},
         false},
        {"no TUNDRA folder",
         no_tundra.disk(),
         {"no TUNDRA folder on the stick: no logs to copy\n"},
         false},
        {"an empty TUNDRA folder",
         empty_tundra.disk(),
         {"the stick's TUNDRA folder holds no logs (no TXT, BIN or KLOG.OLD file, nothing in "
          "TUNDRA\\LOGS): nothing copied\n"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fixtures::TempFolder outer("logs-none");
        ASSERT_EQ(copy_only(c.stick, outer.wide("logs")), engine::Result::Success)
            << failure_text();
        EXPECT_EQ(lines, c.lines);
        EXPECT_TRUE(fixtures::tree_of(outer.path()) ==
                    (c.folder_made ? Tree{{"logs/", {}}} : Tree{}));
    }
}

TEST_F(LogCopy, AFailedCopyStopsTheWriteBeforeAnythingIsWritten) {
    fixtures::TempFolder outer("logs-fail");
    ASSERT_TRUE(fixtures::write_text(outer.path() / "plain", "a file, not a folder"));
    // LOG.TXT and every numbered name it may take.
    std::filesystem::create_directories(outer.path() / "taken" / "LOG.TXT");
    for (int n = 2; n <= 99; ++n)
        std::filesystem::create_directories(outer.path() / "taken" /
                                            ("LOG (" + std::to_string(n) + ").TXT"));
    const fixtures::WideString logs = outer.wide("logs");

    CraftedStick looping;
    looping.tundra = looping.volume.add_directory(0, "TUNDRA");
    looping.add_broken_file(looping.tundra, "LOOP    TXT", 100000, true);
    CraftedStick short_chain;
    short_chain.tundra = short_chain.volume.add_directory(0, "TUNDRA");
    short_chain.add_broken_file(short_chain.tundra, "SHORT   TXT", 1500, false);
    CraftedStick device;
    device.tundra = device.volume.add_directory(0, "TUNDRA");
    device.add_file(device.tundra, "NUL     TXT", 5, 'N');

    const Bytes real_stick = real("logs.img");
    const struct {
        const char* name;
        Bytes stick;
        fixtures::WideString folder;
        std::string reason_start;
        bool disk_full = false;
    } cases[] = {
        {"a folder that cannot be made", real_stick, fixtures::widen(outer.narrow("plain\\logs")),
         outer.narrow("plain") + " is a junction or link, or not a folder"},
        {"a file whose names are all taken", real_stick, outer.wide("taken"),
         "cannot write " + outer.narrow("taken\\LOG.TXT") +
             ": it and each numbered name up to (99) are taken"},
        {"a file that cannot be written", real_stick, logs, "cannot write LOG.TXT", true},
        {"a chain that loops", looping.disk(), logs,
         "TUNDRA\\LOOP.TXT's chain loops, or runs into clusters copied already"},
        {"a chain that ends early", short_chain.disk(), logs,
         "TUNDRA\\SHORT.TXT's chain ends before its size"},
        {"a name that cannot be a file", device.disk(), logs,
         "1 log was not copied (the warning above says why)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // An image that differs from the stick everywhere: any write would show.
        const Bytes image(c.stick.size(), 0x77);
        if (c.disk_full)
            machine.fail_call("WriteFile", ERROR_GEN_FAILURE);
        Bytes after;
        EXPECT_EQ(write_with_logs(image, c.stick, c.folder, false, after), engine::Result::Failed);
        machine.clear_faults();
        EXPECT_EQ(failure_text(), NOTHING_WRITTEN);
        const std::string warning = "WARNING: the logs were not copied: " + c.reason_start;
        EXPECT_TRUE(any_line_holds(warning)) << warning;
        EXPECT_TRUE(after == c.stick) << "the stick was written";
        // A copy that fails takes back every file it made.
        EXPECT_EQ(files_in(outer.path()), std::vector<std::string>{"plain"});
    }
}

// A name from the stick is made byte for byte; whatever those bytes are, the
// file lands in the folder under that name or not at all, and a warning
// names what was left out.
TEST_F(LogCopy, CraftedNamesNeverLeaveTheFolder) {
    const std::string DOT = "its name ends with a dot";
    const std::string CHARACTER = "its name holds a character that file names cannot";
    const std::string DEVICE = "its name is a Windows device name";
    const struct {
        std::string name11;
        std::string shown;    // in the lines, UTF-8
        std::string problem;  // empty: copied under `shown`
    } cases[] = {
        {" ..        ", "..", DOT},
        {" .         ", ".", DOT},
        {"LOG.       ", "LOG.", DOT},
        {"           ", "", "it has no name"},
        {"A\\B     TXT", "A\\B.TXT", CHARACTER},
        {"A/B     TXT", "A/B.TXT", CHARACTER},
        {"A:B     TXT", "A:B.TXT", CHARACTER},  // an alternate data stream of A
        {"A*B?    TXT", "A*B?.TXT", CHARACTER},
        {"A\"B<>|  TXT", "A\"B<>|.TXT", CHARACTER},
        {"A\x01"
         "B     TXT",
         "A?B.TXT", CHARACTER},
        {"A\x1b[2J   TXT", "A?[2J.TXT", CHARACTER},          // no stick drives the console
        {"A\x7f\x9b     TXT", "A?\xc2\xa2.TXT", CHARACTER},  // the OEM code page: 0x9B is a cent
        {"NUL     TXT", "NUL.TXT", DEVICE},
        {"nul     txt", "nul.txt", DEVICE},
        {"CON        ", "CON", DEVICE},
        {"PRN     LOG", "PRN.LOG", DEVICE},
        {"AUX        ", "AUX", DEVICE},
        {"COM1       ", "COM1", DEVICE},
        {"COM0    BIN", "COM0.BIN", DEVICE},
        {"LPT9    TXT", "LPT9.TXT", DEVICE},
        {"COM\xfd       ", "COM\xc2\xb2", DEVICE},  // COM and a superscript two
        {"COM\xb9       ", "COM\xe2\x95\xa3", ""},  // a box-drawing character, no digit
        {"CONIN$     ", "CONIN$", DEVICE},
        {"CONOUT$    ", "CONOUT$", DEVICE},
        {"CON.X   TXT", "CON.X.TXT", DEVICE},
        {"NULL    TXT", "NULL.TXT", ""},
        {"COM10      ", "COM10", ""},
        {"LPT        ", "LPT", ""},
        {"        TXT", ".TXT", ""},
        {"README   TX", "README", ""},              // an extension starting with a space is none
        {"CAF\x90    TXT", "CAF\xc3\x89.TXT", ""},  // read in the OEM code page, not Latin-1
    };
    CraftedStick stick;
    stick.tundra = stick.volume.add_directory(0, "TUNDRA");
    stick.logs = stick.volume.add_directory(stick.tundra, "LOGS");
    Tree expected = {{"logs/", {}}, {"logs/LOGS/", {}}};
    std::vector<std::string> warnings;
    uint32_t skipped = 0;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        ASSERT_EQ(c.name11.size(), 11u) << c.shown;
        const uint32_t size = 100 + static_cast<uint32_t>(i);
        const uint8_t fill = static_cast<uint8_t>('a' + i);
        stick.add_file(stick.logs, c.name11, size, fill);
        if (c.problem.empty()) {
            expected["logs/LOGS/" + c.shown] = Bytes(size, fill);
        } else {
            warnings.push_back("WARNING: TUNDRA\\LOGS\\" + c.shown + " (" + std::to_string(size) +
                               " bytes) was not copied: " + c.problem + "\n");
            ++skipped;
        }
    }
    fixtures::TempFolder outer("logs-names");
    EXPECT_EQ(copy_only(stick.disk(), outer.wide("logs")), engine::Result::Failed);
    EXPECT_EQ(failure_text(),
              std::to_string(skipped) + " logs were not copied (the warnings above say why)");
    std::vector<std::string> seen;
    for (const std::string& line : lines) {
        if (starts_with(line, "WARNING: "))
            seen.push_back(line);
    }
    EXPECT_EQ(seen, warnings);
    EXPECT_TRUE(fixtures::tree_of(outer.path()) == expected);
}

}  // namespace

namespace {

uint64_t free_bytes_answer = 0;

// Asks for a stop at the nth read, and counts the reads after it.
unsigned reads_before_stop = 0;
unsigned reads_after_stop = 0;
BOOL WINAPI stopping_read(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    if (run::run_inputs.stop_requested)
        ++reads_after_stop;
    else if (--reads_before_stop == 0)
        run::run_inputs.stop_requested = true;
    return calls_before.ReadFile(h, buffer, count, done, ov);
}

BOOL WINAPI small_free_space(LPCWSTR, PULARGE_INTEGER available, PULARGE_INTEGER, PULARGE_INTEGER) {
    available->QuadPart = free_bytes_answer;
    return TRUE;
}

}  // namespace

std::u16string u16(const fixtures::WideString& text) {
    return std::u16string(text.begin(), text.end());
}

// Whether two paths name the same place, whichever separators they use.
bool same_place(std::u16string a, std::u16string b) {
    std::replace(a.begin(), a.end(), u'/', u'\\');
    std::replace(b.begin(), b.end(), u'/', u'\\');
    return a == b;
}

// A logs folder, its LOGS, or a folder above them, that another user made
// a junction or symbolic link to a protected folder: refused, and nothing
// is written through it.
TEST_F(LogCopy, AJunctionAtAnyLevelIsRefused) {
    const Bytes stick = real("logs.img");
    for (const DWORD tag : {IO_REPARSE_TAG_MOUNT_POINT, IO_REPARSE_TAG_SYMLINK}) {
        for (const char* junction : {"shared", "shared\\logs", "shared\\logs\\LOGS"}) {
            SCOPED_TRACE(std::string(junction) + " " + std::to_string(tag));
            fixtures::TempFolder outer("logs-junction");
            std::filesystem::create_directories(outer.path() / "shared" / "logs" / "LOGS");
            std::filesystem::create_directories(outer.path() / "elsewhere" / "logs" / "LOGS");
            // Each case's folder is new: the reparse points of the others
            // lead nowhere it goes.
            machine.add_reparse_point(u16(outer.wide(junction)), tag,
                                      u16(outer.wide("elsewhere")));
            const engine::Result result = copy_only(stick, outer.wide("shared\\logs"));
            EXPECT_EQ(result, engine::Result::Failed);
            EXPECT_EQ(failure_text(), outer.narrow(junction) +
                                          " is a junction or link, or not a folder: no logs are "
                                          "written through it");
            EXPECT_TRUE(files_in(outer.path() / "elsewhere").empty());
            EXPECT_TRUE(files_in(outer.path() / "shared").empty())
                << "a copy that fails takes back its files";
        }
    }
}

// A middle level of the logs folder swapped for a junction while the copy
// runs, by another user who made it (C:\stick-logs with --logs
// C:\stick-logs\SN1): every level is held from the moment it is reached, so
// the swap is refused and the logs land where they were meant to.
TEST_F(LogCopy, AMiddleLevelCannotBeSwappedForAJunctionMidway) {
    fixtures::TempFolder outer("logs-swap");
    std::filesystem::create_directories(outer.path() / "stick-logs");
    std::filesystem::create_directories(outer.path() / "elsewhere" / "SN1" / "LOGS");
    const std::u16string last = u16(outer.wide("stick-logs\\SN1"));
    const std::u16string middle = u16(outer.wide("stick-logs"));
    bool tried = false;
    bool swapped = false;
    machine.after_each_name([&](sim::Machine& m, const std::u16string& path) {
        if (!tried && same_place(path, last)) {
            tried = true;
            swapped = m.swap_for_junction(middle, u16(outer.wide("elsewhere")));
        }
    });
    const engine::Result result = copy_only(real("logs.img"), outer.wide("stick-logs\\SN1"));
    machine.after_each_name(nullptr);
    EXPECT_TRUE(tried);
    EXPECT_FALSE(swapped) << "a level was left open to a swap";
    EXPECT_TRUE(files_in(outer.path() / "elsewhere").empty());
    ASSERT_EQ(result, engine::Result::Success) << failure_text();
    EXPECT_FALSE(files_in(outer.path() / "stick-logs" / "SN1").empty());
}

// Desktop and Documents under OneDrive's Known Folder Move: their folders
// and files are reparse points that are no links, and logs go there.
TEST_F(LogCopy, ACloudFolderTakesLogs) {
    fixtures::TempFolder outer("logs-cloud");
    std::filesystem::create_directories(outer.path() / "OneDrive" / "Desktop");
    machine.add_reparse_point(u16(outer.wide("OneDrive")), IO_REPARSE_TAG_CLOUD_6);
    machine.add_reparse_point(u16(outer.wide("OneDrive\\Desktop")), IO_REPARSE_TAG_CLOUD_6);
    const engine::Result result =
        copy_only(real("logs.img"), outer.wide("OneDrive\\Desktop\\logs"));
    ASSERT_EQ(result, engine::Result::Success) << failure_text();
    EXPECT_FALSE(files_in(outer.path() / "OneDrive" / "Desktop" / "logs" / "LOGS").empty());
}

#ifndef _WIN32
// The host's tundra-stick, which root may run, takes a symbolic link as
// Windows takes a junction: never followed, in the logs folder's place, in
// LOGS's, or in a log file's.
TEST_F(LogCopy, SymbolicLinksAreNeverFollowed) {
    const Bytes stick = real("logs.img");
    const struct {
        const char* link;        // under logs/
        const char* reason_end;  // empty: copied beside the link
    } cases[] = {
        {"", " is a junction or link, or not a folder: no logs are written through it"},
        {"LOGS", " is a junction or link, or not a folder: no logs are written through it"},
        {"LOG.TXT", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        fixtures::TempFolder outer("logs-symlink");
        std::filesystem::create_directories(outer.path() / "elsewhere");
        ASSERT_TRUE(fixtures::write_text(outer.path() / "elsewhere" / "KEEP", "protected"));
        const std::string link = std::string("logs") + (c.link[0] ? "/" : "") + c.link;
        if (c.link[0] != 0)
            std::filesystem::create_directories(outer.path() / "logs");
        if (std::string(c.link) == "LOG.TXT") {
            std::filesystem::create_symlink(outer.path() / "elsewhere" / "KEEP",
                                            outer.path() / link);
        } else {
            std::filesystem::create_directory_symlink(outer.path() / "elsewhere",
                                                      outer.path() / link);
        }
        const engine::Result result = copy_only(stick, outer.wide("logs"));
        EXPECT_TRUE(fixtures::tree_of(outer.path() / "elsewhere") ==
                    (Tree{{"KEEP", {'p', 'r', 'o', 't', 'e', 'c', 't', 'e', 'd'}}}));
        if (c.reason_end[0] != 0) {
            EXPECT_EQ(result, engine::Result::Failed);
            std::string inside = link;
            std::replace(inside.begin(), inside.end(), '/', '\\');
            EXPECT_EQ(failure_text(), outer.narrow(inside) + c.reason_end);
        } else {
            EXPECT_EQ(result, engine::Result::Success) << failure_text();
            EXPECT_TRUE(
                has_line("copied TUNDRA\\LOG.TXT (20 bytes) as LOG (2).TXT, as LOG.TXT "
                         "is taken\n"));
        }
    }
}

// A link above the logs folder is refused as well: the folders made below
// it would land wherever it points.
TEST_F(LogCopy, ALinkAboveTheLogsFolderIsNeverFollowed) {
    const Bytes stick = real("logs.img");
    fixtures::TempFolder outer("logs-parent-link");
    std::filesystem::create_directories(outer.path() / "elsewhere");
    std::filesystem::create_directory_symlink(outer.path() / "elsewhere", outer.path() / "shared");
    const engine::Result result = copy_only(stick, outer.wide("shared/logs"));
    EXPECT_EQ(result, engine::Result::Failed);
    EXPECT_EQ(failure_text(), outer.narrow("shared") +
                                  " is a junction or link, or not a folder: no logs are written "
                                  "through it");
    EXPECT_TRUE(std::filesystem::is_empty(outer.path() / "elsewhere"));
}

// The swap of a middle level for a symbolic link on the host, where a held
// folder can still be renamed: the levels are held by descriptor, so what is
// made below lands in the folder that was reached, wherever it went, and
// never where the link points.
std::filesystem::path swap_folder;
bool swap_done = false;

void swap_middle_for_link() {
    if (swap_done)
        return;
    swap_done = true;
    std::filesystem::rename(swap_folder / "stick-logs", swap_folder / "aside");
    std::filesystem::create_directory_symlink(swap_folder / "elsewhere",
                                              swap_folder / "stick-logs");
}

BOOL WINAPI swapping_create_directory(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    const BOOL made = calls_before.CreateDirectoryW(path, security);
    const std::u16string named(path);
    if (named.size() >= 4 && named.compare(named.size() - 4, 4, u"\\SN1") == 0)
        swap_middle_for_link();
    return made;
}

NTSTATUS WINAPI swapping_create(PHANDLE h, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation,
                                ULONG file_attributes, ULONG share, ULONG disposition,
                                ULONG options, PVOID ea, ULONG ea_length) {
    const NTSTATUS result =
        calls_before.NtCreateFile(h, access, attributes, status, allocation, file_attributes,
                                  share, disposition, options, ea, ea_length);
    const UNICODE_STRING* name = attributes->ObjectName;
    if (std::u16string(name->Buffer, name->Length / sizeof(WCHAR)) == u"SN1")
        swap_middle_for_link();
    return result;
}

TEST_F(LogCopy, AMiddleLevelSwappedForASymbolicLinkLeadsNowhere) {
    fixtures::TempFolder outer("logs-swap-link");
    std::filesystem::create_directories(outer.path() / "stick-logs");
    std::filesystem::create_directories(outer.path() / "elsewhere" / "SN1" / "LOGS");
    swap_folder = outer.path();
    swap_done = false;
    calls_before = sys::calls;
    sys::calls.CreateDirectoryW = swapping_create_directory;
    sys::calls.NtCreateFile = swapping_create;
    const engine::Result result = copy_only(real("logs.img"), outer.wide("stick-logs\\SN1"));
    sys::calls = calls_before;
    EXPECT_TRUE(swap_done);
    EXPECT_TRUE(files_in(outer.path() / "elsewhere").empty());
    ASSERT_EQ(result, engine::Result::Success) << failure_text();
    EXPECT_FALSE(files_in(outer.path() / "aside" / "SN1").empty());
}
#endif

// Sticks made for harm: each ends at once with its reason, after a few
// reads, and leaves no file behind; none copies more than the stick holds.
TEST_F(LogCopy, HostileSticksEndQuicklyLeavingNothing) {
    CraftedStick huge;  // 4 GiB claimed on a cluster that leads to itself
    huge.tundra = huge.volume.add_directory(0, "TUNDRA");
    huge.add_file(huge.tundra, "FIRST   TXT", 700, 'f');
    huge.add_broken_file(huge.tundra, "HUGE    TXT", 0xFFFFFFFFu, true);
    CraftedStick looping;  // smaller than the volume, on a cluster that leads to itself
    looping.tundra = looping.volume.add_directory(0, "TUNDRA");
    looping.add_file(looping.tundra, "FIRST   TXT", 700, 'f');
    looping.add_broken_file(looping.tundra, "LOOP    TXT", 150000, true);
    CraftedStick crossed;  // B's chain is A's
    crossed.tundra = crossed.volume.add_directory(0, "TUNDRA");
    crossed.add_file(crossed.tundra, "A       TXT", 1500, 'a');
    crossed.volume.add_entry(crossed.tundra, "B       TXT", 0x20, 3, 1500);
    CraftedStick two_logs;  // a second LOGS entry for the same directory
    two_logs.tundra = two_logs.volume.add_directory(0, "TUNDRA");
    two_logs.logs = two_logs.volume.add_directory(two_logs.tundra, "LOGS");
    two_logs.add_file(two_logs.logs, "X       LOG", 600, 'x');
    two_logs.volume.add_entry(two_logs.tundra, "LOGS       ", 0x10, two_logs.logs, 0);
    CraftedStick loop_dir;  // a TUNDRA directory whose chain leads back to itself
    loop_dir.tundra = loop_dir.volume.add_directory(0, "TUNDRA");
    loop_dir.volume.set_fat(loop_dir.tundra, loop_dir.tundra);
    for (uint32_t e = 0; e < 16; ++e)
        loop_dir.volume.bytes[loop_dir.volume.cluster_offset(loop_dir.tundra) + e * 32] = 0xE5;
    // Eight LOGS directories whose chains all lead into one long chain of
    // deleted entries: listed one after the other, they would read it
    // eight times over, more than the stick holds.
    CraftedStick shared_chain;
    shared_chain.tundra = shared_chain.volume.add_directory(0, "TUNDRA");
    const uint32_t shared_first = shared_chain.add_deleted_chain(300, 0xFFF);
    for (uint32_t k = 0; k < 8; ++k) {
        shared_chain.volume.add_entry(shared_chain.tundra, "LOGS       ", 0x10,
                                      shared_chain.add_deleted_chain(1, shared_first), 0);
    }
    CraftedStick big;  // more than the folder's volume has free
    big.tundra = big.volume.add_directory(0, "TUNDRA");
    big.add_file(big.tundra, "FIRST   TXT", 700, 'f');
    big.add_file(big.tundra, "BIG     TXT", 5000, 'b');

    fixtures::TempFolder outer("logs-hostile");
    const struct {
        const char* name;
        Bytes stick;
        std::string reason;
        uint64_t free_bytes = 0;  // 0: as the folder's volume says
    } cases[] = {
        {"4 GiB on a looping cluster", huge.disk(),
         "TUNDRA\\HUGE.TXT claims 4294967295 bytes, more than the TUNDRA partition holds"},
        {"a chain that loops", looping.disk(),
         "TUNDRA\\LOOP.TXT's chain loops, or runs into clusters copied already"},
        {"two files on one chain", crossed.disk(),
         "TUNDRA\\B.TXT's chain loops, or runs into clusters copied already"},
        {"LOGS twice", two_logs.disk(),
         "TUNDRA\\LOGS is named twice for the same directory on the stick"},
        {"a directory that loops", loop_dir.disk(),
         "a directory on the TUNDRA partition runs into clusters read already"},
        {"LOGS directories on one chain", shared_chain.disk(),
         "a directory on the TUNDRA partition runs into clusters read already"},
        {"no room", big.disk(),
         "no room for TUNDRA\\BIG.TXT (5000 bytes) in " + outer.narrow("logs") +
             ", which has 4000 bytes free",
         4000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calls_before = sys::calls;
        free_bytes_answer = c.free_bytes;
        if (c.free_bytes != 0)
            sys::calls.GetDiskFreeSpaceExW = small_free_space;
        machine.reset_uses();
        const engine::Result result = copy_only(c.stick, outer.wide("logs"));
        sys::calls = calls_before;
        EXPECT_EQ(result, engine::Result::Failed);
        EXPECT_EQ(failure_text(), c.reason);
        // The volume has 400 clusters: no case reads much more than that.
        EXPECT_LE(machine.uses("ReadFile"), 450u);
        EXPECT_TRUE(files_in(outer.path()).empty());
        std::filesystem::remove_all(outer.path() / "logs");
    }
}

// A LOGS directory with more entries than a listing holds: the logs past
// the listing's end are named as not copied, so that a write that would
// erase them writes nothing.
// A stop asked for while a long directory is listed ends the copy before
// the next cluster is read.
TEST_F(LogCopy, AStopEndsAListingBetweenClusters) {
    CraftedStick stick;
    stick.tundra = stick.volume.add_directory(0, "TUNDRA");
    stick.volume.add_entry(stick.tundra, "LOGS       ", 0x10, stick.add_deleted_chain(300, 0xFFF),
                           0);
    fixtures::TempFolder outer("logs-stop");
    fixtures::TempFile stick_file("logs-stick.img", stick.disk());
    const fixtures::WideString logs = outer.wide("logs");
    engine::WriteOptions options;
    options.target_file = stick_file.wide();
    options.logs_dir = fixtures::wide_text(logs);
    calls_before = sys::calls;
    reads_before_stop = 40;
    sys::calls.ReadFile = stopping_read;
    const engine::Result result = engine::copy_stick_logs(options);
    sys::calls = calls_before;
    run::run_inputs.stop_requested = false;
    EXPECT_EQ(result, engine::Result::Failed);
    EXPECT_EQ(failure_text(),
              "stopped on request before anything was written: the stick is as it was");
    EXPECT_LE(reads_after_stop, 1u) << "read on after the stop";
}

TEST_F(LogCopy, AFullListingIsALogNotCopied) {
    CraftedStick stick;
    stick.tundra = stick.volume.add_directory(0, "TUNDRA");
    stick.logs = stick.volume.add_directory(stick.tundra, "LOGS");
    for (int i = 0; i < 300; ++i) {
        char name[12];
        snprintf(name, sizeof name, "L%07dLOG", i);
        stick.add_file(stick.logs, name, 1, 'l');
    }
    fixtures::TempFolder outer("logs-full");
    EXPECT_EQ(copy_only(stick.disk(), outer.wide("logs")), engine::Result::Failed);
    EXPECT_EQ(failure_text(), "1 log was not copied (the warning above says why)");
    EXPECT_TRUE(
        has_line("WARNING: TUNDRA\\LOGS holds more than 256 entries; those after the "
                 "first 256 were not copied\n"));
    EXPECT_EQ(copied_lines().size(), 256u);

    const Bytes disk = stick.disk();
    const Bytes image(disk.size(), 0x77);
    Bytes after;
    EXPECT_EQ(write_with_logs(image, disk, outer.wide("again"), false, after),
              engine::Result::Failed);
    EXPECT_EQ(failure_text(), NOTHING_WRITTEN);
    EXPECT_TRUE(after == disk) << "the stick was written";

    // A TUNDRA folder past the end of the root's listing is not "no logs".
    fixtures::FatImage crowded(fixtures::FatSpec{32, 65525, 512, 1, 2, 0, 0});
    for (int i = 0; i < 300; ++i) {
        char name[12];
        snprintf(name, sizeof name, "F%07dTXT", i);
        crowded.add_entry(0, name, 0x20, 0, 0);
    }
    const uint32_t tundra = crowded.add_directory(0, "TUNDRA");
    crowded.add_file(tundra, "LOG.TXT", 10, 'l');
    lines.clear();
    EXPECT_EQ(copy_only(fixtures::disk_with_volume(crowded), outer.wide("crowded")),
              engine::Result::Failed);
    EXPECT_EQ(failure_text(), "1 log was not copied (the warning above says why)");
    EXPECT_EQ(lines, std::vector<std::string>{"WARNING: the stick's root folder holds more than "
                                              "256 entries; those after the first 256 were not "
                                              "copied\n"});
}

namespace {

// The names made with the owner-only descriptor, and the folders among them.
std::vector<std::string> made_owner_only;

NTSTATUS WINAPI recording_create(PHANDLE h, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                 PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation,
                                 ULONG file_attributes, ULONG share, ULONG disposition,
                                 ULONG options, PVOID ea, ULONG ea_length) {
    const NTSTATUS result =
        calls_before.NtCreateFile(h, access, attributes, status, allocation, file_attributes,
                                  share, disposition, options, ea, ea_length);
    if (NT_SUCCESS(result) && status->Information == FILE_CREATED &&
        attributes->SecurityDescriptor == run::owner_only_security()->lpSecurityDescriptor) {
        const UNICODE_STRING* name = attributes->ObjectName;
        std::string made;
        for (size_t i = 0; i < name->Length / sizeof(WCHAR); ++i)
            made.push_back(static_cast<char>(name->Buffer[i]));
        made_owner_only.push_back(made + ((options & FILE_DIRECTORY_FILE) != 0 ? "\\" : ""));
    }
    return result;
}

}  // namespace

// Folders made for logs, and the logs copied, let no other user in: only
// SYSTEM, Administrators and their owner, the one who ran the copy,
// whatever the folder above them allows.
TEST_F(LogCopy, FoldersAndFilesMadeForLogsAreTheOwnersAlone) {
#ifdef _WIN32
    const auto descriptor = run::owner_only_security()->lpSecurityDescriptor;
    ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
    LPWSTR sddl = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
    EXPECT_EQ(std::wstring(sddl), L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)");
    LocalFree(sddl);
#endif
    fixtures::TempFolder outer("logs-access");
    made_owner_only.clear();
    calls_before = sys::calls;
    sys::calls.NtCreateFile = recording_create;
    const engine::Result result = copy_only(real("logs.img"), outer.wide("new\\logs"));
    sys::calls = calls_before;
    ASSERT_EQ(result, engine::Result::Success) << failure_text();
    const std::vector<std::string> files = files_in(outer.path() / "new");
    ASSERT_FALSE(files.empty());
    // Each folder and each file, made with the owner-only descriptor.
    std::vector<std::string> expected = {"new\\", "logs\\", "LOGS\\"};
    for (const std::string& file : files)
        expected.push_back(file.substr(file.rfind('/') + 1));
    std::sort(expected.begin(), expected.end());
    std::sort(made_owner_only.begin(), made_owner_only.end());
    EXPECT_EQ(made_owner_only, expected);
#ifndef _WIN32
    const auto others = std::filesystem::perms::group_all | std::filesystem::perms::others_all;
    for (const char* made : {"new", "new/logs", "new/logs/LOGS"})
        EXPECT_EQ((std::filesystem::status(outer.path() / made).permissions() & others),
                  std::filesystem::perms::none)
            << made;
    for (const std::string& file : files) {
        EXPECT_EQ((std::filesystem::status(outer.path() / "new" / file).permissions() & others),
                  std::filesystem::perms::none)
            << file;
    }
#endif
}
