// The image's check against its expected SHA-256 rides on the compare's own
// reads: a wrong image fails once the range is compared and before anything
// is written, the bytes of the file outside a TUNDRA-only range are hashed in
// the same sweep, and every byte written is one the check saw.
#include <gtest/gtest.h>
#include <sodium.h>

#include <string>
#include <vector>

#include "discovery/disk_probe.h"
#include "engine/engine_run.h"
#include "engine/runs/write_stick.h"
#include "fixtures/sha256_hex.h"
#include "fixtures/sim_disk.h"

namespace {

using fixtures::Bytes;
using fixtures::failure_text;

constexpr uint64_t MIB = 1048576;
const std::string NOT_VERIFIED = "Tundra image verification failed. Download it again.";
const std::string SERIAL = "IC0004";

// The image's reads through its own handle: how many bytes, and how many
// of them before the stick's first write. Optionally the byte at
// `changed_at` changes: the first `clean_reads` reads that cover it get it
// as published, every later one gets it changed.
struct ImageReads {
    std::u16string path;
    HANDLE handle = nullptr;
    uint64_t bytes = 0;
    uint64_t before_first_write = UINT64_MAX;
    uint64_t changed_at = UINT64_MAX;
    unsigned clean_reads = 0;
};
ImageReads image_reads;
sys::CallTable calls_below;

HANDLE WINAPI note_image_open(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                              DWORD disposition, DWORD flags, HANDLE template_file) {
    const HANDLE h =
        calls_below.CreateFileW(path, access, share, sa, disposition, flags, template_file);
    if (std::u16string(reinterpret_cast<const char16_t*>(path)) == image_reads.path)
        image_reads.handle = h;
    return h;
}

BOOL WINAPI count_image_read(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    const BOOL ok = calls_below.ReadFile(h, buffer, count, done, ov);
    if (!ok || h != image_reads.handle || ov == nullptr)
        return ok;
    const uint64_t at = (uint64_t{ov->OffsetHigh} << 32) | ov->Offset;
    if (image_reads.changed_at >= at && image_reads.changed_at - at < count) {
        if (image_reads.clean_reads == 0)
            static_cast<uint8_t*>(buffer)[image_reads.changed_at - at] ^= 0x40;
        else
            --image_reads.clean_reads;
    }
    image_reads.bytes += count;
    return ok;
}

BOOL WINAPI note_first_write(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    if (image_reads.before_first_write == UINT64_MAX)
        image_reads.before_first_write = image_reads.bytes;
    return calls_below.WriteFile(h, buffer, count, done, ov);
}

class ImageCheckTest : public fixtures::EngineRunTest {
  protected:
    void SetUp() override {
        EngineRunTest::SetUp();
        published = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
        ASSERT_EQ(published.size(), 64 * MIB);
        crypto_hash_sha256(published_sha256, published.data(), published.size());
        calls_below = sys::calls;
        sys::calls.CreateFileW = note_image_open;
        sys::calls.ReadFile = count_image_read;
        sys::calls.WriteFile = note_first_write;
    }
    void TearDown() override {
        sys::calls = calls_below;
        EngineRunTest::TearDown();
    }

    // The stick: the published image but for one byte in its TUNDRA
    // partition, so that a run that gets that far writes it.
    sim::Drive& old_stick() {
        machine.remove_drive(4);
        sim::Drive& stick = machine.add_stick({4, "Tundra", "Flash", SERIAL, published.size()});
        stick.contents = published;
        stick.contents[20 * MIB + 777] ^= 1;
        return stick;
    }

    // The desktop's options, with the published digest.
    engine::WriteOptions options() {
        engine::WriteOptions o;
        o.serial = {SERIAL.data(), SERIAL.size()};
        o.has_expected_sha256 = true;
        memcpy(o.expected_sha256, published_sha256, 32);
        o.has_expected_stick = true;
        o.expected_stick = *discovery::probe_disk(4);
        return o;
    }

    engine::Result run(const fixtures::TempFile& image, engine::WriteOptions o,
                       uint64_t changed_at = UINT64_MAX, unsigned clean_reads = 0) {
        o.image_path = image.wide();
        image_reads = {};
        image_reads.path.assign(o.image_path.data, o.image_path.data + o.image_path.length);
        image_reads.changed_at = changed_at;
        image_reads.clean_reads = clean_reads;
        lines.clear();
        run::buffers.failure_reason_length = 0;
        return engine::write_stick(o);
    }

    uint64_t stick_bytes_read() const {
        uint64_t total = 0;
        for (const sim::TransferRecord& t : machine.transfers())
            total += t.drive_number == 4 && !t.writing ? t.count : 0;
        return total;
    }

    Bytes published;
    uint8_t published_sha256[32];
};

TEST_F(ImageCheckTest, AWrongImageFailsAfterTheCompareAndBeforeTheFirstWrite) {
    const struct {
        const char* name;
        bool fresh;
        bool full;
        bool dry_run;
        uint64_t wrong_at;
        uint64_t stick_read;  // the range the compare reads from the stick
    } cases[] = {
        {"whole image", true, false, false, 30 * MIB, 64 * MIB},
        {"whole image, --dry-run", true, false, true, 30 * MIB, 64 * MIB},
        {"whole image, --full", true, true, false, 30 * MIB, 0},
        {"TUNDRA only, wrong in the partition", false, false, false, 20 * MIB, 40 * MIB},
        {"TUNDRA only, wrong before it", false, false, false, 700000, 40 * MIB},
        {"TUNDRA only, wrong after it", false, false, false, 50 * MIB, 40 * MIB},
        {"TUNDRA only, --full", false, true, false, 50 * MIB, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes wrong = published;
        wrong[c.wrong_at] ^= 0x01;
        fixtures::TempFile image("image-check-wrong.img", wrong);
        const sim::Drive& stick = old_stick();
        const Bytes before = stick.contents;
        engine::WriteOptions o = options();
        o.fresh = c.fresh;
        o.full = c.full;
        o.dry_run = c.dry_run;
        EXPECT_EQ(run(image, o), engine::Result::Failed);
        EXPECT_EQ(failure_text(), NOT_VERIFIED);
        EXPECT_GE(stick_bytes_read(), c.stick_read) << "the compare was done first";
        EXPECT_TRUE(machine.writes().empty());
        EXPECT_TRUE(machine.drive(4)->contents == before);
        EXPECT_FALSE(any_line_holds("sha256")) << "a digest of the wrong image was printed";
        EXPECT_FALSE(any_line_holds("compared ")) << "the wrong image's compare was reported";
    }
}

// Up to the first write, the image is read once: every byte of the file
// for the check, the range's bytes feeding the compare at the same time.
// What the plan reads before it (the partition table, the boot files) is
// the only other reading.
TEST_F(ImageCheckTest, EveryImageByteIsReadOnceBeforeTheFirstWrite) {
    fixtures::TempFile image("image-check-once.img", published);
    for (const bool fresh : {true, false}) {
        SCOPED_TRACE(fresh ? "whole image" : "TUNDRA only");
        old_stick();
        engine::WriteOptions o = options();
        o.fresh = fresh;
        ASSERT_EQ(run(image, o), engine::Result::Success) << failure_text();
        ASSERT_TRUE(machine.drive(4)->contents == published);
        EXPECT_GE(image_reads.before_first_write, published.size());
        EXPECT_LE(image_reads.before_first_write, published.size() + MIB);
    }
}

// An image that changes while the run reads it, in the one place where
// the stick differs from it, in a TUNDRA-only run: the check and the
// compare see the same read of it, so a change the compare sees fails the
// check, and a change after it (the write's read) is caught by the
// read-back's digest. Either way the changed byte never passes for the
// checked image.
TEST_F(ImageCheckTest, AnImageThatChangesDuringATundraOnlyRunNeverPasses) {
    fixtures::TempFile image("image-check-changing.img", published);
    const uint64_t changed_at = 20 * MIB + 777;  // the byte the stick lacks
    const struct {
        const char* name;
        unsigned clean_reads;  // reads of the byte served as published
        std::string reason_start;
    } cases[] = {
        {"from the first read", 0, NOT_VERIFIED},
        {"after the compare's read", 1, "after writing, the stick's sha256 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        old_stick();
        engine::WriteOptions o = options();
        o.fresh = false;
        EXPECT_EQ(run(image, o, changed_at, c.clean_reads), engine::Result::Failed);
        EXPECT_EQ(failure_text().compare(0, c.reason_start.size(), c.reason_start), 0)
            << failure_text();
        EXPECT_FALSE(any_line_holds("read all ")) << "the read-back passed";
    }
}

// A run that fails before its compare could check the image still tells a
// wrong image by its text, as when the check came first; a right image
// keeps the run's own reason, and a stop is not held up by the check.
TEST_F(ImageCheckTest, AFailureBeforeTheCheckNamesAWrongImage) {
    Bytes wrong = published;
    wrong[30 * MIB] ^= 0x01;
    fixtures::TempFile right_image("image-check-right.img", published);
    fixtures::TempFile wrong_image("image-check-early-wrong.img", wrong);
    const std::string NOT_PICKED =
        "Windows could not verify the selected USB drive. Refresh and choose it again.";
    const struct {
        const char* name;
        void (*arrange)(engine::WriteOptions&, sim::Machine&);
        std::string right_reason;
    } failures[] = {
        {"another stick in the picked one's place",
         [](engine::WriteOptions& o, sim::Machine&) { o.expected_stick.size_bytes += 512; },
         NOT_PICKED},
        {"a refused lock",
         [](engine::WriteOptions&, sim::Machine& m) {
             const std::u16string path = u"\\\\?\\Volume{image-check}";
             if (m.volume(path) == nullptr)
                 m.add_volume(path, {{4, MIB, MIB}});
             m.volume(path)->refuse_lock_attempts = 20;
         },
         "cannot lock \\\\?\\Volume{image-check}: close what has the stick open (Explorer "
         "windows on it) and try again"},
    };
    for (const auto& f : failures) {
        for (const bool image_is_right : {true, false}) {
            SCOPED_TRACE(std::string(f.name) +
                         (image_is_right ? ", right image" : ", wrong image"));
            old_stick();
            engine::WriteOptions o = options();
            f.arrange(o, machine);
            EXPECT_EQ(run(image_is_right ? right_image : wrong_image, o), engine::Result::Failed);
            EXPECT_EQ(failure_text(), image_is_right ? f.right_reason : NOT_VERIFIED);
            EXPECT_TRUE(machine.writes().empty());
            EXPECT_EQ(stick_bytes_read() >= 40 * MIB, false) << "no compare ran";
        }
    }
    old_stick();
    run::run_inputs.stop_requested = true;
    EXPECT_EQ(run(wrong_image, options()), engine::Result::Failed);
    run::run_inputs.stop_requested = false;
    EXPECT_EQ(failure_text(),
              "stopped on request before anything was written: the stick is as it was");
    EXPECT_LT(image_reads.bytes, 4 * MIB) << "the image was read after a stop";
}

}  // namespace
