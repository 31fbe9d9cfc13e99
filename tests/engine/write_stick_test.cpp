// Whole runs of the engine as far as it goes: the image, the target, the
// plan, and an honest stop before anything is locked or written.
#include "engine/write_stick.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <string>
#include <vector>

#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace {

using fixtures::failure_text;

class WriteStickRun : public ::testing::Test {
protected:
    void SetUp() override {
        machine.add_system_disk(0);
        engine::set_report_observer(
            [](const char* l, size_t n, void* c) {
                static_cast<std::vector<std::string>*>(c)->emplace_back(l, n);
            },
            &lines);
        engine::engine_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        engine::set_report_observer(nullptr, nullptr);
        EXPECT_TRUE(sys::CloseHandle(engine::engine_inputs.disk_io_event));
        engine::engine_inputs.disk_io_event = nullptr;
        EXPECT_EQ(machine.open_handle_count(), 0u);
        EXPECT_TRUE(machine.writes().empty());
    }

    engine::Result run(const fixtures::TempFile& image, engine::WriteOptions options) {
        options.image_path = image.wide();
        lines.clear();
        return engine::write_stick(options);
    }

    std::string image_line(const fixtures::TempFile& image, const char* mib) {
        return "image: " + image.narrow() + ", " + mib + " MiB\n";
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
    EXPECT_TRUE(machine.drives_opened().empty()) << "no disk is probed before the digest holds";
}

TEST_F(WriteStickRun, ImageAndTargetFileSizes) {
    const struct {
        size_t image;
        size_t target;
        std::string reason;
    } cases[] = {
        {1000, 4096,
         "the image (1000 bytes) is not a whole number of the stick's 512-byte sectors"},
        {2 << 20, (2 << 20) - 512, "the image (2.0 MiB) is larger than the stick (2.0 MiB)"},
        {2 << 20, 2 << 20, "this build of the engine cannot lock the stick's volumes or compare "
                           "and write yet; nothing was written"},
    };
    for (const auto& c : cases) {
        fixtures::TempFile image("sized.img", fixtures::Bytes(c.image, 1));
        fixtures::TempFile target("target.img", fixtures::Bytes(c.target, 0));
        engine::WriteOptions options;
        options.target_file = target.wide();
        EXPECT_EQ(run(image, options), engine::Result::Failed);
        EXPECT_EQ(failure_text(), c.reason);
        EXPECT_EQ(fixtures::read_file(target.narrow()), fixtures::Bytes(c.target, 0));
    }
    EXPECT_TRUE(machine.drives_opened().empty());
}

// The dry look at a run: an image made by sgdisk, mkfs.fat and mtools, and a
// simulated stick that holds the same layout (so it has a data area).
TEST_F(WriteStickRun, RealImageOnASimulatedStick) {
    const fixtures::Bytes bytes = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
    ASSERT_EQ(bytes.size(), 64u << 20);
    fixtures::TempFile image("real.img", bytes);
    sim::Drive& stick = machine.add_stick({4, "Tundra", "Flash", "RS0004", 64ull << 20});
    stick.contents = bytes;
    engine::WriteOptions options;
    options.serial = {"rs0004", 6};
    options.has_expected_sha256 = true;
    crypto_hash_sha256(options.expected_sha256, bytes.data(), bytes.size());
    options.has_expected_stick = true;
    options.expected_stick = *discovery::probe_disk(4);
    const std::string stopped =
        "this build of the engine cannot lock the stick's volumes or compare and write yet; "
        "nothing was written";
    const std::string stick_line = "stick: disk 4, Tundra Flash, serial RS0004, 0.1 GB, USB\n";

    options.fresh = false;
    EXPECT_EQ(run(image, options), engine::Result::Failed);
    EXPECT_EQ(failure_text(), stopped);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], image_line(image, "64.0"));
    EXPECT_EQ(lines[1], stick_line);
    EXPECT_EQ(lines[2],
              "the stick has Tundra's data area (installed apps, files, settings, the models): it "
              "stays, with the partition table; only the TUNDRA partition is written (40.0 MiB at "
              "1.0 MiB). New models in the image come with --fresh\n");

    options.fresh = true;
    EXPECT_EQ(run(image, options), engine::Result::Failed);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].substr(0, 50), "--fresh: the whole image, partition table included");

    stick.contents.assign(stick.contents.size(), 0);  // a blank stick: no plan line
    EXPECT_EQ(run(image, options), engine::Result::Failed);
    EXPECT_EQ(failure_text(), stopped);
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_FALSE(machine.drive_opened_for_writing(0));
}

}  // namespace
