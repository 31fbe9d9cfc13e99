// The digests a run prints: the image range's ("image sha256 ..." or "the
// image's TUNDRA partition: sha256 ...") and the stick's after the whole
// read-back. Some are taken from a digest the run already knows rather than
// hashed again; every case here checks the printed text against a digest
// the test computes itself from the fixture's bytes, and two cases check
// that nothing is taken over where it would be wrong.
#include <gtest/gtest.h>
#include <sodium.h>

#include <fstream>
#include <functional>
#include <string>

#include "engine/engine_run.h"
#include "engine/runs/write_stick.h"
#include "fixtures/sha256_hex.h"
#include "fixtures/sim_disk.h"

namespace {

using fixtures::Bytes;
using fixtures::failure_text;
using fixtures::sha256_hex;

constexpr uint64_t MIB = 1048576;
// Four chunks of 1 MiB, the last one a single sector: the range is not a
// whole number of chunks.
constexpr size_t IMAGE_BYTES = 3 * MIB + 512;
constexpr uint64_t STICK_BYTES = 8 * MIB;  // longer than the image: the range is the image's
const std::string SERIAL = "RS0004";

Bytes patterned(size_t size) {
    Bytes bytes(size);
    uint32_t x = 2463534242u;
    for (uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return bytes;
}

// A replaceable step right after the engine's flush of its writes, which
// comes after the compare and before the read-back.
decltype(sys::calls.FlushFileBuffers) flush_before = nullptr;
std::function<void()> after_flush;
BOOL WINAPI flush_then_step(HANDLE handle) {
    const BOOL flushed = flush_before(handle);
    if (after_flush) {
        const std::function<void()> step = after_flush;
        after_flush = nullptr;
        step();
    }
    return flushed;
}

class RangeDigestTest : public fixtures::EngineRunTest {
  protected:
    void SetUp() override {
        EngineRunTest::SetUp();
        flush_before = sys::calls.FlushFileBuffers;
        sys::calls.FlushFileBuffers = flush_then_step;
    }
    void TearDown() override {
        sys::calls.FlushFileBuffers = flush_before;
        after_flush = nullptr;
        EngineRunTest::TearDown();
    }

    engine::WriteOptions options_for(const Bytes& image, bool checked) {
        engine::WriteOptions options;
        options.has_expected_stick = false;
        options.has_expected_sha256 = checked;
        if (checked)
            crypto_hash_sha256(options.expected_sha256, image.data(), image.size());
        return options;
    }

    sim::Drive& stick_with(const Bytes& contents, uint64_t size) {
        sim::Drive& stick = machine.add_stick({4, "Tundra", "Flash", SERIAL, size});
        stick.contents = contents;
        return stick;
    }

    engine::Result run(const fixtures::TempFile& image, engine::WriteOptions options) {
        options.image_path = image.wide();
        lines.clear();
        return engine::write_stick(options);
    }

    // The line that starts with `prefix`, or an empty text.
    std::string line_starting(const std::string& prefix) const {
        for (const std::string& line : lines) {
            if (line.compare(0, prefix.size(), prefix) == 0)
                return line;
        }
        return "";
    }
    std::string stick_digest_of_read_back() const {
        const std::string line = line_starting("read all ");
        const size_t at = line.find(": stick sha256 ");
        return at == std::string::npos ? "" : line.substr(at + 15, 64);
    }
};

enum class Start { Blank, Holding, OnePieceDiffers };

// The whole-image plan, on disks and target files, in every mode: the image
// line and the stick line show the image's own digest.
TEST_F(RangeDigestTest, WholeImageDigestsAsPrinted) {
    const struct {
        const char* name;
        bool checked;  // --sha256 given: the image cannot be written during the run
        bool on_file;  // a target file rather than a disk
        Start start;
        bool full;
        bool dry_run;
        bool read_back_all;
    } cases[] = {
        {"checked, blank disk", true, false, Start::Blank, false, false, true},
        {"checked, disk that holds it", true, false, Start::Holding, false, false, true},
        {"checked, one piece differs", true, false, Start::OnePieceDiffers, false, false, true},
        {"checked, --full", true, false, Start::Holding, true, false, true},
        {"checked, --dry-run", true, false, Start::OnePieceDiffers, false, true, true},
        {"checked, --full --dry-run", true, false, Start::Blank, true, true, true},
        {"checked, no read-back", true, false, Start::Blank, false, false, false},
        {"checked, target file", true, true, Start::OnePieceDiffers, false, false, true},
        {"checked, target file that holds it", true, true, Start::Holding, false, false, true},
        {"unchecked, blank disk", false, false, Start::Blank, false, false, true},
        {"unchecked, --full", false, false, Start::Blank, true, false, true},
        {"unchecked, --dry-run", false, false, Start::Holding, false, true, true},
        {"unchecked, target file", false, true, Start::OnePieceDiffers, false, false, true},
    };
    const Bytes image_bytes = patterned(IMAGE_BYTES);
    const std::string image_digest = sha256_hex(image_bytes.data(), image_bytes.size());
    fixtures::TempFile image("range-digest.img", image_bytes);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes start(STICK_BYTES, 0);
        if (c.start != Start::Blank)
            std::copy(image_bytes.begin(), image_bytes.end(), start.begin());
        if (c.start == Start::OnePieceDiffers)
            start[2 * MIB + 70000] ^= 0x5a;
        fixtures::TempFile target("range-digest-target.img", start);
        engine::WriteOptions options = options_for(image_bytes, c.checked);
        if (c.on_file) {
            options.target_file = target.wide();
        } else {
            machine.remove_drive(4);
            stick_with(start, STICK_BYTES);
            options.serial = {SERIAL.data(), SERIAL.size()};
        }
        options.full = c.full;
        options.dry_run = c.dry_run;
        options.read_back_all = c.read_back_all;
        ASSERT_EQ(run(image, options), engine::Result::Success) << failure_text();

        EXPECT_EQ(line_starting("image sha256 "), "image sha256 " + image_digest + "\n");
        const bool reads_back = c.read_back_all && !c.dry_run;
        EXPECT_EQ(stick_digest_of_read_back(), reads_back ? image_digest : "");
        EXPECT_EQ(line_starting("read all ").empty(), !reads_back);
        const Bytes after =
            c.on_file ? fixtures::read_file(target.narrow()) : machine.drive(4)->contents;
        ASSERT_GE(after.size(), IMAGE_BYTES);
        const std::string held = sha256_hex(after.data(), IMAGE_BYTES);
        EXPECT_EQ(held == image_digest, !c.dry_run || c.start == Start::Holding);
    }
}

// The TUNDRA partition alone, on a stick with a data area: the range is a
// part of the image, so its digest is hashed even when the whole image's
// digest was checked; the stick's digest after the read-back is the
// partition's.
TEST_F(RangeDigestTest, TundraPartitionDigestsAsPrinted) {
    const Bytes bytes = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
    ASSERT_EQ(bytes.size(), 64 * MIB);
    const std::string partition_digest = sha256_hex(bytes.data() + MIB, 40 * MIB);
    ASSERT_NE(partition_digest, sha256_hex(bytes.data(), bytes.size()));
    fixtures::TempFile image("range-digest-real.img", bytes);
    for (const bool checked : {true, false}) {
        for (const bool dry_run : {false, true}) {
            SCOPED_TRACE(std::string(checked ? "checked" : "unchecked") +
                         (dry_run ? ", --dry-run" : ""));
            Bytes old = bytes;
            old[MIB + 300000] ^= 1;  // inside the TUNDRA partition
            machine.remove_drive(4);
            stick_with(old, old.size());
            engine::WriteOptions options = options_for(bytes, checked);
            options.serial = {SERIAL.data(), SERIAL.size()};
            options.fresh = false;
            options.dry_run = dry_run;
            ASSERT_EQ(run(image, options), engine::Result::Success) << failure_text();
            EXPECT_EQ(line_starting("the image's TUNDRA partition: sha256 "),
                      "the image's TUNDRA partition: sha256 " + partition_digest + "\n");
            EXPECT_EQ(line_starting("image sha256 "), "");
            EXPECT_EQ(stick_digest_of_read_back(), dry_run ? "" : partition_digest);
        }
    }
}

// A read-back that finds a differing piece prints no stick digest at all,
// even where the digest would otherwise be taken over from the compare.
TEST_F(RangeDigestTest, ADifferingReadBackPrintsNoDigest) {
    const Bytes image_bytes = patterned(IMAGE_BYTES);
    fixtures::TempFile image("range-digest-flip.img", image_bytes);
    for (const bool checked : {true, false}) {
        SCOPED_TRACE(checked ? "checked" : "unchecked");
        Bytes start = image_bytes;
        start[100] ^= 1;  // the one place written
        machine.remove_drive(4);
        sim::Drive& stick = stick_with(start, STICK_BYTES);
        stick.flip_after_first_write = {2 * MIB + 5};  // never written, changes behind the run
        engine::WriteOptions options = options_for(image_bytes, checked);
        options.serial = {SERIAL.data(), SERIAL.size()};
        EXPECT_EQ(run(image, options), engine::Result::Failed);
        EXPECT_EQ(failure_text(),
                  "after writing, 65536 bytes of the stick still differ from the image");
        EXPECT_TRUE(line_starting("read back ").find(": as written") != std::string::npos);
        EXPECT_FALSE(any_line_holds("stick sha256"));
    }
}

// An image that others may write during the run (no --sha256: opened with
// write sharing) changes between the compare and the read-back, and the
// stick is changed alike, so the read-back finds every byte equal. The
// stick's digest is then the new bytes', not the one the compare printed.
TEST_F(RangeDigestTest, AnImageWrittenDuringTheRunIsHashedAgain) {
    const Bytes image_bytes = patterned(IMAGE_BYTES);
    fixtures::TempFile image("range-digest-shared.img", image_bytes);
    Bytes changed = image_bytes;
    const size_t at = MIB + 4321;
    changed[at] ^= 0xff;
    const std::string old_digest = sha256_hex(image_bytes.data(), image_bytes.size());
    const std::string new_digest = sha256_hex(changed.data(), changed.size());

    machine.remove_drive(4);
    stick_with(Bytes(IMAGE_BYTES, 0), STICK_BYTES);
    engine::WriteOptions options = options_for(image_bytes, false);
    options.serial = {SERIAL.data(), SERIAL.size()};
    after_flush = [&] {
        std::fstream file(image.narrow(), std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(file.is_open()) << "the image is shared for writing";
        file.seekp(static_cast<std::streamoff>(at));
        file.put(static_cast<char>(changed[at]));
        file.close();
        machine.drive(4)->contents[at] = changed[at];
    };
    ASSERT_EQ(run(image, options), engine::Result::Success) << failure_text();
    EXPECT_FALSE(after_flush) << "the step ran";
    EXPECT_EQ(line_starting("image sha256 "), "image sha256 " + old_digest + "\n");
    EXPECT_EQ(stick_digest_of_read_back(), new_digest);
    EXPECT_EQ(sha256_hex(machine.drive(4)->contents.data(), IMAGE_BYTES), new_digest);
}

#ifdef _WIN32
// What the taken-over digests rest on: with --sha256 the image is held
// without write sharing, and Windows refuses anyone who asks to write it
// while the run holds it.
TEST_F(RangeDigestTest, ACheckedImageCannotBeOpenedForWritingDuringTheRun) {
    const Bytes image_bytes = patterned(IMAGE_BYTES);
    fixtures::TempFile image("range-digest-held.img", image_bytes);
    machine.remove_drive(4);
    stick_with(Bytes(IMAGE_BYTES, 0), STICK_BYTES);
    engine::WriteOptions options = options_for(image_bytes, true);
    options.serial = {SERIAL.data(), SERIAL.size()};
    DWORD error = 0;
    after_flush = [&] {
        const HANDLE h =
            sys::CreateFileW(image.wide().data, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
        error = h == INVALID_HANDLE_VALUE ? sys::GetLastError() : 0;
        if (h != INVALID_HANDLE_VALUE)
            (void)sys::CloseHandle(h);
    };
    ASSERT_EQ(run(image, options), engine::Result::Success) << failure_text();
    EXPECT_EQ(error, DWORD{ERROR_SHARING_VIOLATION});
}
#endif

}  // namespace
