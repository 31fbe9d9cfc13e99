// Copying a stick's logs into a folder on the computer: from a stick that
// mtools filled, from sticks without logs, the failures that stop a write
// before anything is written, and crafted names that must never become paths.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/engine_run.h"
#include "engine/read_only_runs.h"
#include "engine/write_stick.h"
#include "fixtures/temp_folder.h"

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
        {"an empty TUNDRA folder", empty_tundra.disk(), {}, true},
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
         "cannot make the folder " + outer.narrow("plain\\logs") + " (Windows error "},
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
