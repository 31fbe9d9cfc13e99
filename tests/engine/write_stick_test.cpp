// Whole runs of the engine: the image, the target, the plan, the locks, the
// compare, the write, the read-back and the closing lines.
#include "engine/runs/write_stick.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/engine_workspace.h"
#include "fixtures/sha256_hex.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace {

using fixtures::failure_text;

const std::u16string STICK_VOLUME = u"\\\\?\\Volume{5e1c0a33-0000-0000-0000-100000000000}";

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

class WriteStickRun : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.add_system_disk(0);
        engine::set_report_observer(
            [](const char* l, size_t n, void* c) {
                static_cast<std::vector<std::string>*>(c)->emplace_back(l, n);
            },
            &lines);
        run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        run::run_inputs.perf_frequency = 1000000000;
    }
    void TearDown() override {
        engine::set_report_observer(nullptr, nullptr);
        EXPECT_TRUE(sys::CloseHandle(run::run_inputs.disk_io_event));
        run::run_inputs.disk_io_event = nullptr;
        EXPECT_EQ(machine.open_handle_count(), 0u);
        EXPECT_EQ(machine.held_lock_count(), 0u);
        EXPECT_FALSE(machine.drive_opened_for_writing(0))
            << "the system disk is never opened to write";
    }

    engine::Result run(const fixtures::TempFile& image, engine::WriteOptions options) {
        options.image_path = image.wide();
        lines.clear();
        // No earlier run's reason can pass for this one's.
        run::buffers.failure_reason_length = 0;
        return engine::write_stick(options);
    }

    std::string image_line(const fixtures::TempFile& image, const char* mib) {
        return "image: " + image.narrow() + ", " + mib + " MiB\n";
    }

    // A stick on disk 4 holding `contents`, with one mounted volume.
    sim::Drive& stick_with(const fixtures::Bytes& contents) {
        sim::Drive& stick = machine.add_stick({4, "Tundra", "Flash", "RS0004", contents.size()});
        stick.contents = contents;
        if (machine.volume(STICK_VOLUME) == nullptr) {
            machine.add_volume(STICK_VOLUME, {{4, 1048576, 41943040}});
        }
        return stick;
    }

    engine::WriteOptions desktop_options(const fixtures::Bytes& image) {
        engine::WriteOptions options;
        options.serial = {"rs0004", 6};
        options.has_expected_sha256 = true;
        crypto_hash_sha256(options.expected_sha256, image.data(), image.size());
        options.has_expected_stick = true;
        options.expected_stick = *discovery::probe_disk(4);
        return options;
    }

    sim::Machine machine;
    std::vector<std::string> lines;
};

TEST_F(WriteStickRun, WithoutAnImageFailsBeforeOpeningAnything) {
    machine.add_stick({1});
    engine::WriteOptions options;
    options.serial = {"SN0001", 6};
    EXPECT_EQ(engine::write_stick(options), engine::Result::Failed);
    EXPECT_EQ(failure_text(), "which image? --image FILE");
    EXPECT_EQ(machine.uses("CreateFileW"), 0u);
}

TEST_F(WriteStickRun, ImageRefusals) {
    fixtures::TempFile empty("empty.img", {});
    EXPECT_EQ(run(empty, {}), engine::Result::Failed);
    EXPECT_EQ(failure_text(), "the image is empty");
    EXPECT_EQ(lines, std::vector<std::string>{image_line(empty, "0.0")});

    const fixtures::TempFile missing("missing.img", {});
    const std::string missing_path = missing.narrow();
    (void)sys::DeleteFileW(missing.wide().data);
    EXPECT_EQ(run(missing, {}), engine::Result::Failed);
    EXPECT_EQ(failure_text(), "cannot open the image " + missing_path + " (Windows error 2)");

    machine.add_stick({3});
    fixtures::TempFile image("digest.img", fixtures::Bytes(1 << 20, 7));
    engine::WriteOptions options;
    options.serial = {"SN0001", 6};
    options.has_expected_sha256 = true;
    crypto_hash_sha256(options.expected_sha256, fixtures::Bytes(1 << 20, 7).data(), 1 << 20);
    options.expected_sha256[31] ^= 1;
    EXPECT_EQ(run(image, options), engine::Result::Failed);
    EXPECT_EQ(failure_text(), "Tundra image verification failed. Download it again.");
    EXPECT_TRUE(machine.writes().empty()) << "nothing is written before the digest holds";
}

// The digest reads the image in pieces of 256 KiB: an image of 5 MiB + 512
// bytes ends in a piece of 512 bytes, which counts like every other.
TEST_F(WriteStickRun, TheDigestCoversTheImagesLastPiece) {
    const size_t size = (5 << 20) + 512;
    fixtures::Bytes published(size, 0);
    for (size_t i = 0; i < size; i += 4099)
        published[i] = static_cast<uint8_t>(i >> 12);
    const struct {
        const char* name;
        size_t changed_at;  // SIZE_MAX: nothing changed
        std::string reason;
    } cases[] = {
        {"as published", SIZE_MAX, ""},
        {"one byte changed in the last piece", size - 200,
         "Tundra image verification failed. Download it again."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fixtures::Bytes downloaded = published;
        if (c.changed_at != SIZE_MAX)
            downloaded[c.changed_at] ^= 0x20;
        fixtures::TempFile image("tail.img", downloaded);
        fixtures::TempFile target("tail-target.img", fixtures::Bytes(size, 0));
        engine::WriteOptions options;
        options.target_file = target.wide();
        options.has_expected_sha256 = true;
        crypto_hash_sha256(options.expected_sha256, published.data(), published.size());
        const engine::Result result = run(image, options);
        if (c.reason.empty()) {
            EXPECT_EQ(result, engine::Result::Success) << failure_text();
            EXPECT_EQ(fixtures::read_file(target.narrow()), published);
            continue;
        }
        EXPECT_EQ(result, engine::Result::Failed);
        EXPECT_EQ(failure_text(), c.reason);
        EXPECT_EQ(fixtures::read_file(target.narrow()), fixtures::Bytes(size, 0));
    }
}

// An image that gives its digest check the published bytes and every later
// read other ones, as a hostile file server may: the write and the
// read-back agree with each other, and only the stick's own digest can tell
// that it does not hold the published image. The check's reads are those
// up to the first one that reaches the image's end (the plan's few reads
// of its partition table may come first).
struct ChangingImage {
    std::u16string path;
    HANDLE handle = nullptr;
    uint64_t size = 0;
    uint64_t served = 0;
    bool checked = false;  // a read has reached the end
};
ChangingImage changing;
decltype(sys::calls.CreateFileW) open_inner = nullptr;
decltype(sys::calls.ReadFile) read_inner = nullptr;

HANDLE WINAPI note_image(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                         DWORD disposition, DWORD flags, HANDLE template_file) {
    const HANDLE h = open_inner(path, access, share, sa, disposition, flags, template_file);
    if (std::u16string(reinterpret_cast<const char16_t*>(path)) == changing.path)
        changing.handle = h;
    return h;
}

BOOL WINAPI serve_other_bytes_after_the_check(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done,
                                              LPOVERLAPPED ov) {
    const BOOL ok = read_inner(h, buffer, count, done, ov);
    if (ok && h == changing.handle && count > 0) {
        if (changing.checked)
            static_cast<uint8_t*>(buffer)[0] ^= 0xFF;
        const uint64_t at = ov == nullptr ? 0 : (uint64_t{ov->OffsetHigh} << 32) | ov->Offset;
        changing.checked = changing.checked || at + count == changing.size;
        changing.served += count;
    }
    return ok;
}

TEST_F(WriteStickRun, AnImageThatChangesAfterItsCheckFailsTheReadBack) {
    fixtures::Bytes published((3 << 20) + 512, 0);
    for (size_t i = 0; i < published.size(); i += 4099)
        published[i] = static_cast<uint8_t>(i >> 12);
    fixtures::TempFile image("changing.img", published);
    // Every piece differs, so every changed byte is written.
    fixtures::TempFile target("changing-target.img", fixtures::Bytes(published.size(), 0x55));
    engine::WriteOptions options;
    options.target_file = target.wide();
    options.fresh = true;
    options.has_expected_sha256 = true;
    crypto_hash_sha256(options.expected_sha256, published.data(), published.size());

    const engine::WideText image_path = image.wide();
    changing = {std::u16string(image_path.data, image_path.data + image_path.length), nullptr,
                published.size(), 0, false};
    open_inner = sys::calls.CreateFileW;
    read_inner = sys::calls.ReadFile;
    sys::calls.CreateFileW = note_image;
    sys::calls.ReadFile = serve_other_bytes_after_the_check;
    const engine::Result result = run(image, options);
    sys::calls.CreateFileW = open_inner;
    sys::calls.ReadFile = read_inner;

    ASSERT_NE(changing.handle, nullptr) << "the image was never opened";
    EXPECT_GT(changing.served, published.size()) << "the image was read only once";
    EXPECT_EQ(result, engine::Result::Failed);
    EXPECT_TRUE(starts_with(failure_text(), "after writing, the stick's sha256 "))
        << failure_text();
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
        return starts_with(line, "read all ");
    })) << "a stick digest was printed";
}

TEST_F(WriteStickRun, TargetFiles) {
    const struct {
        size_t image;
        size_t target;
        std::string reason;  // empty: written
    } cases[] = {
        {1000, 4096,
         "the image (1000 bytes) is not a whole number of the stick's 512-byte sectors"},
        {2 << 20, (2 << 20) - 512, "the image (2.0 MiB) is larger than the stick (2.0 MiB)"},
        {2 << 20, 2 << 20, ""},
        {(5 << 20) + 512, 6 << 20, ""},
    };
    for (const auto& c : cases) {
        fixtures::Bytes image_bytes(c.image, 0);
        for (size_t i = 0; i < c.image; i += 70000)
            image_bytes[i] = 0x42;
        fixtures::TempFile image("sized.img", image_bytes);
        fixtures::TempFile target("target.img", fixtures::Bytes(c.target, 0));
        engine::WriteOptions options;
        options.target_file = target.wide();
        const engine::Result result = run(image, options);
        const fixtures::Bytes after = fixtures::read_file(target.narrow());
        if (!c.reason.empty()) {
            EXPECT_EQ(result, engine::Result::Failed);
            EXPECT_EQ(failure_text(), c.reason);
            EXPECT_EQ(after, fixtures::Bytes(c.target, 0));
            continue;
        }
        ASSERT_EQ(result, engine::Result::Success) << failure_text();
        EXPECT_EQ(fixtures::Bytes(after.begin(), after.begin() + c.image), image_bytes);
        EXPECT_EQ(std::count(after.begin() + c.image, after.end(), 0),
                  ptrdiff_t(c.target - c.image));
        EXPECT_TRUE(starts_with(lines.back(), "done in "));
    }
    EXPECT_TRUE(machine.drives_opened().empty());
}

TEST_F(WriteStickRun, FullWritesEveryChunk) {
    fixtures::Bytes image_bytes((5 << 20) + 512, 0x33);
    fixtures::TempFile image("full.img", image_bytes);
    fixtures::TempFile target("full-target.img", image_bytes);  // already equal: full writes anyway
    engine::WriteOptions options;
    options.target_file = target.wide();
    options.full = true;
    ASSERT_EQ(run(image, options), engine::Result::Success) << failure_text();
    EXPECT_EQ(engine::workspace.changed_place_count, 6u);
    EXPECT_EQ(engine::workspace.changed_places[5].length, 512u);
    EXPECT_EQ(lines[1], "--full: writing all 5.0 MiB\n");
    EXPECT_TRUE(starts_with(lines[3], "wrote 5.0 MiB in "));
}

// The compare's progress lines, and the read-back's, which say so.
TEST_F(WriteStickRun, CompareProgressEvery64MiB) {
    const struct {
        uint64_t size;
        bool dry_run;
        std::vector<std::string> progress;
    } cases[] = {
        {(64ull << 20) - 512, true, {}},
        {128ull << 20, true, {"  compared 64 of 128 MiB\n"}},
        {128ull << 20, false, {"  compared 64 of 128 MiB\n", "  read back 64 of 128 MiB\n"}},
    };
    for (const auto& c : cases) {
        fixtures::TempFile image("progress.img", c.size);
        fixtures::TempFile target("progress-target.img", c.size);
        engine::WriteOptions options;
        options.target_file = target.wide();
        options.dry_run = c.dry_run;
        ASSERT_EQ(run(image, options), engine::Result::Success) << failure_text();
        std::vector<std::string> progress;
        for (const std::string& line : lines) {
            if (starts_with(line, "  compared ") || starts_with(line, "  read back "))
                progress.push_back(line);
        }
        EXPECT_EQ(progress, c.progress) << c.size;
    }
}

// The dry look at a run: an image made by sgdisk, mkfs.fat and mtools, on a
// simulated stick that already holds the same layout (and so a data area).
TEST_F(WriteStickRun, RealImageOnAStickThatHoldsIt) {
    const fixtures::Bytes bytes = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
    ASSERT_EQ(bytes.size(), 64u << 20);
    fixtures::TempFile image("real.img", bytes);
    stick_with(bytes);
    engine::WriteOptions options = desktop_options(bytes);
    options.fresh = false;
    ASSERT_EQ(run(image, options), engine::Result::Success) << failure_text();
    uint8_t partition_digest[32];
    crypto_hash_sha256(partition_digest, bytes.data() + 1048576, 41943040);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], image_line(image, "64.0"));
    EXPECT_EQ(lines[1], "stick: disk 4, Tundra Flash, serial RS0004, 0.1 GB, USB\n");
    EXPECT_EQ(lines[2],
              "the stick has Tundra's data area (installed apps, files, settings, the models): it "
              "stays, with the partition table; only the TUNDRA partition is written (40.0 MiB at "
              "1.0 MiB). New models in the image come with --fresh\n");
    EXPECT_EQ(lines[3],
              "locked and dismounted \\\\?\\Volume{5e1c0a33-0000-0000-0000-100000000000}\n");
    EXPECT_TRUE(starts_with(lines[4], "compared 40.0 MiB in ")) << lines[4];
    EXPECT_NE(lines[4].find(" MB/s): 0.0 MiB differ, in 0 places\n"), std::string::npos);
    EXPECT_EQ(lines[5], "the image's TUNDRA partition: sha256 " +
                            fixtures::digest_hex(partition_digest) + "\n");
    EXPECT_EQ(lines[6], "the stick already holds this image: nothing written\n");
    EXPECT_TRUE(starts_with(lines[7], "read all 40.0 MiB back in "));
    EXPECT_NE(lines[7].find(": stick sha256 " + fixtures::digest_hex(partition_digest) + "\n"),
              std::string::npos);
    EXPECT_TRUE(starts_with(lines[8], "  partition 1: TUNDRA (EFI), 40.0 MiB from 1.0 MiB"));
    EXPECT_TRUE(starts_with(lines[9], "  partition 2: Tundra data, "));
    EXPECT_TRUE(starts_with(lines[10], "done in "));
    EXPECT_NE(lines[10].find(" s: the stick holds the image's TUNDRA partition (every byte "
                             "compared), its data area as it was\n"),
              std::string::npos);
    EXPECT_TRUE(machine.writes().empty());
    EXPECT_EQ(machine.volumes_dismounted(), std::vector<std::u16string>{STICK_VOLUME});
}

TEST_F(WriteStickRun, OnlyTheDifferingPiecesAreWrittenAndProven) {
    const fixtures::Bytes bytes = fixtures::read_file(fixtures::real_image_path("real-fat16.img"));
    fixtures::TempFile image("fat16.img", bytes);
    fixtures::Bytes old = bytes;
    old[1048576 + 70000] ^= 1;   // in the TUNDRA partition: the piece at 1 MiB + 64 KiB
    old[1048576 + 140000] ^= 1;  // the next piece: joined into one place
    old[20 << 20] ^= 1;          // in the data area: never touched
    sim::Drive& stick = stick_with(old);
    engine::WriteOptions options = desktop_options(bytes);
    options.fresh = false;
    ASSERT_EQ(run(image, options), engine::Result::Success) << failure_text();
    ASSERT_EQ(machine.writes().size(), 1u);
    EXPECT_EQ(machine.writes()[0].offset, 1048576u + 65536);
    EXPECT_EQ(machine.writes()[0].length, 131072u);
    fixtures::Bytes expected = bytes;
    expected[20 << 20] ^= 1;
    EXPECT_EQ(stick.contents, expected);
    EXPECT_NE(lines[4].find(": 0.1 MiB differ, in 1 places\n"), std::string::npos) << lines[4];
    EXPECT_TRUE(starts_with(lines[6], "wrote 0.1 MiB in "));
    EXPECT_TRUE(starts_with(lines[7], "read back 0.1 MiB in ")) << lines[7];
}

// Windows may mount what a new partition table describes as soon as it
// sees it: the places holding the tables (the image's first MiB, before its
// first partition, and its last 33 sectors, after its last) are written
// only once every other place is written and flushed, then flushed again.
TEST_F(WriteStickRun, FreshWritesTheWholeImageOverABlankStickWithTheTablesLast) {
    const fixtures::Bytes bytes = fixtures::read_file(fixtures::real_image_path("real-fat16.img"));
    fixtures::TempFile image("fat12.img", bytes);
    sim::Drive& stick = stick_with(fixtures::Bytes(bytes.size(), 0));
    ASSERT_EQ(run(image, desktop_options(bytes)), engine::Result::Success) << failure_text();
    EXPECT_EQ(stick.contents, bytes);
    const uint64_t head_end = 1048576;
    const uint64_t tail_start = bytes.size() - 33 * 512;
    const auto holds_table = [&](uint64_t offset, uint64_t length) {
        return offset < head_end || offset + length > tail_start;
    };
    const std::vector<sim::WriteRecord> writes = machine.writes();
    std::vector<uint64_t> table_writes;
    uint64_t previous_end = 0;
    for (const sim::WriteRecord& w : writes) {
        EXPECT_EQ(w.drive_number, 4u);
        EXPECT_LE(w.length, 1048576u);
        if (holds_table(w.offset, w.length)) {
            table_writes.push_back(w.offset);
            continue;
        }
        EXPECT_TRUE(table_writes.empty()) << "a write at " << w.offset << " after a table's";
        EXPECT_GE(w.offset, previous_end) << "the other places go out in ascending order";
        previous_end = w.offset + w.length;
    }
    EXPECT_EQ(table_writes.size(), 2u) << "the primary and the backup table";
    EXPECT_EQ(table_writes.front(), 0u);

    // Between the two flushes of the stick, only the table writes end.
    const std::vector<sim::Happening> timeline = machine.timeline();
    std::vector<size_t> flushes;
    for (size_t i = 0; i < timeline.size(); ++i) {
        if (timeline[i].kind == sim::Happening::Kind::Flushed && timeline[i].drive_number == 4)
            flushes.push_back(i);
    }
    ASSERT_EQ(flushes.size(), 2u);
    std::vector<uint64_t> ended_between;
    for (size_t i = flushes[0] + 1; i < flushes[1]; ++i) {
        if (timeline[i].kind == sim::Happening::Kind::TransferEnded)
            ended_between.push_back(timeline[i].offset);
    }
    std::sort(ended_between.begin(), ended_between.end());
    EXPECT_EQ(ended_between, table_writes);
    EXPECT_LE(machine.max_in_flight(), 4u);
    EXPECT_GE(machine.max_in_flight(), 2u);
    EXPECT_NE(lines.back().find("the stick holds the image (every byte of its range compared)"),
              std::string::npos);
}

// The caller's file may lie in a folder that someone else can change: given
// its handle, the engine reads that very file and never opens the path,
// which here names a decoy that would fail the digest.
TEST_F(WriteStickRun, AnImageGivenAsAHandleIsReadThroughItNeverByName) {
    const fixtures::Bytes bytes = fixtures::read_file(fixtures::real_image_path("real-fat16.img"));
    fixtures::TempFile image("held.img", bytes);
    fixtures::TempFile decoy("decoy.img", fixtures::Bytes(bytes.size(), 0x5A));
    // As the installer holds its download: writing, no writer beside it.
    HANDLE held = sys::CreateFileW(image.wide().data, GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    sim::Drive& stick = stick_with(fixtures::Bytes(bytes.size(), 0));
    engine::WriteOptions options = desktop_options(bytes);
    options.image_file = held;

    machine.fail_call("ReOpenFile", ERROR_ACCESS_DENIED);
    EXPECT_EQ(run(decoy, options), engine::Result::Failed);
    EXPECT_EQ(failure_text(), "cannot open the image " + decoy.narrow() + " (Windows error 5)");

    ASSERT_EQ(run(decoy, options), engine::Result::Success) << failure_text();
    EXPECT_EQ(lines.front(), image_line(decoy, "32.0"));
    EXPECT_EQ(stick.contents, bytes);
    for (const sim::NameUse& use : machine.name_uses()) {
        EXPECT_NE(use.path,
                  std::u16string(decoy.wide().data, decoy.wide().data + decoy.wide().length))
            << use.call << " named the image";
    }
    EXPECT_EQ(machine.uses("ReOpenFile"), 2u);
    EXPECT_TRUE(sys::CloseHandle(held));
}

TEST_F(WriteStickRun, DryRunListsAndWritesNothing) {
    const fixtures::Bytes bytes = fixtures::read_file(fixtures::real_image_path("real-fat16.img"));
    fixtures::TempFile image("dry.img", bytes);
    fixtures::Bytes old = bytes;
    old[3 * 65536] ^= 1;
    old[4 * 65536] ^= 1;
    old[9 * 65536] ^= 1;
    stick_with(old);
    engine::WriteOptions options = desktop_options(bytes);
    options.dry_run = true;
    ASSERT_EQ(run(image, options), engine::Result::Success) << failure_text();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "  differs: 0.19-0.31 MiB (0.13 MiB)\n");
    EXPECT_EQ(lines[lines.size() - 2], "  differs: 0.56-0.63 MiB (0.06 MiB)\n");
    EXPECT_EQ(lines.back(), "--dry-run: nothing written\n");
    EXPECT_TRUE(machine.writes().empty());
    EXPECT_TRUE(machine.volumes_dismounted().empty()) << "a dry run locks nothing";
    EXPECT_FALSE(machine.drive_opened_for_writing(4));
}

struct StickFault {
    const char* name;
    void (*arrange)(sim::Machine&, sim::Drive&);
    std::string reason;
};

TEST_F(WriteStickRun, SticksThatMisbehave) {
    const fixtures::Bytes bytes = fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
    fixtures::TempFile image("faults.img", bytes);
    const StickFault faults[] = {
        {"drops writes", [](sim::Machine&, sim::Drive& d) { d.drop_writes = true; },
         "the stick reads back differently from what was written at 0 (65536 bytes): it may be "
         "failing"},
        {"changes other bytes",
         [](sim::Machine&, sim::Drive& d) { d.flip_after_first_write = {7 << 20}; },
         "after writing, 65536 bytes of the stick still differ from the image"},
        {"short transfer", [](sim::Machine&, sim::Drive& d) { d.short_transfer_at = 2 << 20; },
         "the stick moved 1048064 of 1048576 bytes at 2097152"},
        {"locked by another program",
         [](sim::Machine& m, sim::Drive&) { m.volume(STICK_VOLUME)->refuse_lock_attempts = 20; },
         "cannot lock \\\\?\\Volume{5e1c0a33-0000-0000-0000-100000000000}: close what has the "
         "stick open (Explorer windows on it) and try again"},
        {"cannot dismount",
         [](sim::Machine& m, sim::Drive&) { m.volume(STICK_VOLUME)->refuse_dismount = true; },
         "cannot dismount \\\\?\\Volume{5e1c0a33-0000-0000-0000-100000000000}; nothing written"},
        {"flush fails",
         [](sim::Machine& m, sim::Drive&) { m.fail_call("FlushFileBuffers", ERROR_GEN_FAILURE); },
         "the stick did not take the writes (Windows error 31)"},
        {"no event", [](sim::Machine& m, sim::Drive&) { m.fail_call("CreateEventW", 8, 3); },
         "cannot make an event (Windows error 8)"},
    };
    const size_t caller_handles = machine.open_handle_count();  // the caller's event
    for (const StickFault& f : faults) {
        sim::Drive& stick = stick_with(fixtures::Bytes(bytes.size(), 0));
        f.arrange(machine, stick);
        engine::WriteOptions options = desktop_options(bytes);
        options.has_expected_stick = false;  // this image has no ROOT.TAR: not bootable
        EXPECT_EQ(run(image, options), engine::Result::Failed) << f.name;
        EXPECT_EQ(failure_text(), f.reason) << f.name;
        EXPECT_EQ(machine.open_handle_count(), caller_handles) << f.name;
        EXPECT_EQ(machine.held_lock_count(), 0u) << f.name;
        machine.clear_faults();
        machine.volume(STICK_VOLUME)->refuse_lock_attempts = 0;
        machine.volume(STICK_VOLUME)->refuse_dismount = false;
    }
}

TEST_F(WriteStickRun, VolumeLocks) {
    const fixtures::Bytes bytes = fixtures::read_file(fixtures::real_image_path("real-fat16.img"));
    fixtures::TempFile image("locks.img", bytes);
    stick_with(bytes);
    // Held by another program for 1.5 s: locked at the 16th attempt.
    machine.volume(STICK_VOLUME)->refuse_lock_attempts = 15;
    // A spanned volume with one extent on the stick, and one elsewhere only.
    machine.add_volume(u"\\\\?\\Volume{spanned}", {{1, 0, 100}, {4, 0, 100}});
    machine.add_volume(u"\\\\?\\Volume{elsewhere}", {{1, 0, 100}, {68, 0, 100}});
    ASSERT_EQ(run(image, desktop_options(bytes)), engine::Result::Success) << failure_text();
    EXPECT_EQ(machine.slept_ms(), 1500u);
    EXPECT_EQ(machine.volumes_dismounted(),
              (std::vector<std::u16string>{STICK_VOLUME, u"\\\\?\\Volume{spanned}"}));

    for (int i = 0; i < 31; ++i) {
        machine.add_volume(u"\\\\?\\Volume{more-" + std::u16string(1, u'a' + i % 26) +
                               std::u16string(1, u'a' + i / 26) + u"}",
                           {{4, 0, 100}});
    }
    EXPECT_EQ(run(image, desktop_options(bytes)), engine::Result::Failed);
    EXPECT_EQ(failure_text(), "the stick has more volumes than tundra-stick handles");

    machine.fail_call("FindFirstVolumeW", ERROR_NO_MORE_FILES, 0);
    EXPECT_EQ(run(image, desktop_options(bytes)), engine::Result::Success) << failure_text();
}

}  // namespace
