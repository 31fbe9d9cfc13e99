// Carrying the old stick's saved Wi-Fi networks into the new image, on
// sticks and images whose FAT was made by mkfs.fat and mtools. Whatever a run
// ends with, the networks' keys are gone from memory afterwards.
#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/engine_run.h"
#include "engine/runs/write_stick.h"
#include "engine/saved_wifi.h"

namespace {

using fixtures::Bytes;
using fixtures::failure_text;

// The new image's WIFI.KEY placeholder starts with this line, so its place
// in the image is found without reading the FAT.
const std::string PLACEHOLDER_START = "WIFI.KEY placeholder of the new image\n";
constexpr size_t PLACEHOLDER_BYTES = 4096;
constexpr size_t CLUSTER_BYTES = 2048;

const std::string WILL_BE =
    "the stick's saved Wi-Fi networks (TUNDRA\\WIFI.KEY) will be carried over\n";
const std::string WOULD_BE =
    "the stick's saved Wi-Fi networks (TUNDRA\\WIFI.KEY) would be carried over\n";
const std::string CARRIED =
    "carried over the saved Wi-Fi networks (TUNDRA\\WIFI.KEY, read back as written)\n";
const std::string KEPT = ", with its saved Wi-Fi networks kept in TUNDRA\\WIFI.KEY\n";

Bytes real(const std::string& name) {
    return fixtures::read_file(fixtures::real_image_path(name));
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

size_t placeholder_offset(const Bytes& image) {
    return std::search(image.begin(), image.end(), PLACEHOLDER_START.begin(),
                       PLACEHOLDER_START.end()) -
           image.begin();
}

// The new image as the stick must hold it once `saved` is carried in: the
// saved bytes from the placeholder's start, spaces after them, cut at its size.
Bytes with_carried(Bytes image, const Bytes& saved) {
    const size_t at = placeholder_offset(image);
    for (size_t i = 0; i < PLACEHOLDER_BYTES; ++i)
        image[at + i] = i < saved.size() ? saved[i] : ' ';
    return image;
}

// Where the new image's FAT12 volume keeps the placeholder: its first
// cluster, that cluster's entry in the first FAT (the one that is read), its
// directory entry, and how many clusters the volume has.
struct PlaceholderInFat {
    explicit PlaceholderInFat(const Bytes& image) {
        const size_t partition = 1048576;
        const uint8_t* boot = image.data() + partition;
        const uint32_t bps = boot[11] | boot[12] << 8;
        const uint32_t cluster_bytes = bps * boot[13];
        const uint32_t reserved = boot[14] | boot[15] << 8;
        const uint32_t root_sectors = ((boot[17] | boot[18] << 8) * 32u + bps - 1) / bps;
        const uint32_t fat_sectors = boot[22] | boot[23] << 8;
        const uint32_t small_total = boot[19] | boot[20] << 8;
        const uint32_t total_sectors =
            small_total != 0 ? small_total
                             : boot[32] | boot[33] << 8 | boot[34] << 16 | uint32_t{boot[35]} << 24;
        const uint32_t data_sectors = reserved + boot[16] * fat_sectors + root_sectors;
        const size_t data = partition + size_t{data_sectors} * bps;
        cluster = static_cast<uint32_t>((placeholder_offset(image) - data) / cluster_bytes + 2);
        cluster_count = (total_sectors - data_sectors) / boot[13];
        fat_entry = partition + size_t{reserved} * bps + cluster + cluster / 2;
        const char name[] = "WIFI    KEY";
        directory_entry = std::search(image.begin(), image.end(), name, name + 11) - image.begin();
    }
    uint32_t cluster;
    uint32_t cluster_count;
    size_t fat_entry;
    size_t directory_entry;
};

// The new image with the FAT entry of the placeholder's first cluster set to
// `next`: the cluster itself, or END_OF_CHAIN.
constexpr uint32_t END_OF_CHAIN = 0xFFF;
constexpr uint32_t SAME_CLUSTER = 0;

Bytes with_first_cluster_leading_to(Bytes image, uint32_t next) {
    const PlaceholderInFat fat(image);
    if (next == SAME_CLUSTER)
        next = fat.cluster;
    uint8_t* entry = image.data() + fat.fat_entry;
    if ((fat.cluster & 1) != 0) {
        entry[0] = static_cast<uint8_t>((entry[0] & 0x0F) | (next & 0x0F) << 4);
        entry[1] = static_cast<uint8_t>(next >> 4);
    } else {
        entry[0] = static_cast<uint8_t>(next);
        entry[1] = static_cast<uint8_t>((entry[1] & 0xF0) | next >> 8);
    }
    return image;
}

// The new image whose placeholder's directory entry names the first cluster
// past the volume's last one.
Bytes with_placeholder_past_the_volume(Bytes image, uint32_t& first_cluster) {
    const PlaceholderInFat fat(image);
    first_cluster = fat.cluster_count + 2;
    uint8_t* entry = image.data() + fat.directory_entry;
    entry[20] = static_cast<uint8_t>(first_cluster >> 16);
    entry[21] = static_cast<uint8_t>(first_cluster >> 24);
    entry[26] = static_cast<uint8_t>(first_cluster);
    entry[27] = static_cast<uint8_t>(first_cluster >> 8);
    return image;
}

void expect_keys_wiped() {
    const auto all_zero = [](const uint8_t* bytes, size_t count) {
        return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
    };
    EXPECT_EQ(engine::saved_wifi.length, 0u);
    EXPECT_TRUE(all_zero(engine::saved_wifi.bytes, sizeof engine::saved_wifi.bytes))
        << "the saved networks outlived the run";
    EXPECT_TRUE(all_zero(engine::wifi_staging.bytes, sizeof engine::wifi_staging.bytes))
        << "the staging buffer outlived the run";
}

class WifiCarry : public fixtures::EngineRunTest {
  protected:
    // tundra-stick write's defaults: no stick picked in a window, no --fresh.
    engine::Result write_onto_file(const Bytes& image, const Bytes& stick, Bytes& after,
                                   bool fresh = false) {
        fixtures::TempFile image_file("wifi-image.img", image);
        fixtures::TempFile stick_file("wifi-stick.img", stick);
        engine::WriteOptions options;
        options.image_path = image_file.wide();
        options.target_file = stick_file.wide();
        options.fresh = fresh;
        lines.clear();
        const engine::Result result = engine::write_stick(options);
        after = fixtures::read_file(stick_file.narrow());
        return result;
    }

    sim::Drive& stick_holding(const Bytes& contents, uint32_t bytes_per_sector = 512) {
        sim::StickSpec spec{5, "Tundra", "Flash", "WF0005", contents.size(), bytes_per_sector};
        sim::Drive& stick = machine.add_stick(spec);
        stick.contents = contents;
        return stick;
    }

    engine::Result write_onto_stick(const Bytes& image, engine::WriteOptions options) {
        fixtures::TempFile image_file("wifi-image.img", image);
        options.image_path = image_file.wide();
        options.serial = {"WF0005", 6};
        lines.clear();
        return engine::write_stick(options);
    }
};

TEST_F(WifiCarry, WhatTheOldStickHoldsIsWhatIsCarried) {
    const Bytes image = real("wifi-new.img");
    ASSERT_LT(placeholder_offset(image), image.size());
    const struct {
        const char* old;
        bool carried;
    } cases[] = {
        {"100", true},     // 100 bytes, then 3,996 spaces
        {"5000", true},    // cut at the placeholder's 4,096 bytes
        {"65536", true},   // the largest file that is read
        {"65537", false},  // too large: not carried, and nothing said
        {"blank", false},  // spaces and line ends only: no networks
        {"tab", true},     // a tab is not blank
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.old);
        const Bytes saved = real(std::string("wifi-sources/") + c.old + ".key");
        Bytes after;
        ASSERT_EQ(write_onto_file(image, real(std::string("wifi-old-") + c.old + ".img"), after),
                  engine::Result::Success)
            << failure_text();
        EXPECT_TRUE(after == (c.carried ? with_carried(image, saved) : image));
        EXPECT_EQ(has_line(WILL_BE), c.carried);
        EXPECT_EQ(has_line(CARRIED), c.carried);
        EXPECT_EQ(ends_with(lines.back(), KEPT), c.carried) << lines.back();
        if (!c.carried) {
            EXPECT_FALSE(any_line_holds("Wi-Fi"));
        }
        expect_keys_wiped();
    }
}

TEST_F(WifiCarry, NewImagesThatCannotTakeTheNetworks) {
    uint32_t past = 0;
    const Bytes starting_past_the_volume =
        with_placeholder_past_the_volume(real("wifi-new.img"), past);
    const struct {
        const char* name;
        Bytes image;
        std::string reason;   // empty: the run succeeds,
        std::string warning;  // with this line
    } cases[] = {
        {"128 KiB clusters", real("wifi-new-128k.img"),
         "the new image's TUNDRA\\WIFI.KEY cannot be written here (4096 bytes, 131072-byte "
         "clusters)",
         ""},
        {"a first cluster past the volume's last", starting_past_the_volume,
         "the new image's TUNDRA\\WIFI.KEY starts at cluster " + std::to_string(past) +
             ", which the volume does not have",
         ""},
        {"a chain one cluster short",
         with_first_cluster_leading_to(real("wifi-new.img"), END_OF_CHAIN),
         "the new image's TUNDRA\\WIFI.KEY ends before its size", ""},
        // Rewriting the first cluster again would put later saved bytes over
        // earlier ones that were already read back as written.
        {"a chain that comes back to its first cluster",
         with_first_cluster_leading_to(real("wifi-new.img"), SAME_CLUSTER),
         "the new image's TUNDRA\\WIFI.KEY loops", ""},
        {"no WIFI.KEY", real("wifi-new-nokey.img"), "",
         "WARNING: the new image has no TUNDRA\\WIFI.KEY: the saved Wi-Fi networks were not "
         "carried over\n"},
        {"no TUNDRA partition", Bytes(6 << 20, 0), "",
         "WARNING: the new image has no TUNDRA partition: the saved Wi-Fi networks were not "
         "carried over\n"},
    };
    const Bytes old = real("wifi-old-100.img");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes after;
        const engine::Result result = write_onto_file(c.image, old, after, true);
        EXPECT_TRUE(has_line(WILL_BE));
        if (c.reason.empty()) {
            ASSERT_EQ(result, engine::Result::Success) << failure_text();
            EXPECT_TRUE(has_line(c.warning));
            EXPECT_FALSE(has_line(CARRIED));
            EXPECT_FALSE(ends_with(lines.back(), KEPT));
            EXPECT_TRUE(after == c.image);
        } else {
            EXPECT_EQ(result, engine::Result::Failed);
            EXPECT_EQ(failure_text(), c.reason);
            EXPECT_TRUE(after == c.image) << "a saved byte was written into a file refused";
        }
        expect_keys_wiped();
    }
}

TEST_F(WifiCarry, ClustersThatAreNotWholeSectorsOfTheStick) {
    const Bytes image = real("wifi-new.img");
    stick_holding(real("wifi-old-100.img"), 4096);
    engine::WriteOptions options;
    options.fresh = true;  // a stick of 4096-byte sectors is written whole
    EXPECT_EQ(write_onto_stick(image, options), engine::Result::Failed);
    EXPECT_EQ(failure_text(),
              "the new image's TUNDRA\\WIFI.KEY cannot be written here (4096 bytes, 2048-byte "
              "clusters)");
    expect_keys_wiped();
}

TEST_F(WifiCarry, ADryRunSaysWouldBeAndWritesNothing) {
    const Bytes old = real("wifi-old-100.img");
    sim::Drive& stick = stick_holding(old);
    engine::WriteOptions options;
    options.dry_run = true;
    ASSERT_EQ(write_onto_stick(real("wifi-new.img"), options), engine::Result::Success)
        << failure_text();
    EXPECT_TRUE(has_line(WOULD_BE));
    EXPECT_FALSE(has_line(CARRIED));
    EXPECT_TRUE(machine.writes().empty());
    EXPECT_TRUE(stick.contents == old);
    expect_keys_wiped();
}

TEST_F(WifiCarry, ARunFromTheWindowNeverCarriesNetworks) {
    const Bytes image = real("wifi-new.img");
    sim::Drive& stick = stick_holding(real("wifi-old-100.img"));
    engine::WriteOptions options;
    options.has_expected_stick = true;
    options.expected_stick = *discovery::probe_disk(5);
    options.has_expected_sha256 = true;
    crypto_hash_sha256(options.expected_sha256, image.data(), image.size());
    ASSERT_EQ(write_onto_stick(image, options), engine::Result::Success) << failure_text();
    EXPECT_TRUE(stick.contents == image) << "the image's own placeholder is on the stick";
    EXPECT_FALSE(any_line_holds("Wi-Fi"));
}

// The stick's answer to the one write of a WIFI.KEY cluster: it refuses it,
// stores other bytes, or stores it and then fails the flush that follows.
enum class ClusterWrite { Refused, StoredChanged, FlushFails };
ClusterWrite cluster_write;
uint64_t cluster_place = 0;
bool cluster_stored = false;
sys::CallTable calls_before;

BOOL WINAPI misbehaving_write(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done,
                              LPOVERLAPPED ov) {
    const bool is_cluster = ov != nullptr && count == CLUSTER_BYTES &&
                            ((uint64_t{ov->OffsetHigh} << 32) | ov->Offset) == cluster_place;
    if (!is_cluster)
        return calls_before.WriteFile(h, buffer, count, done, ov);
    if (cluster_write == ClusterWrite::Refused) {
        sys::SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (cluster_write == ClusterWrite::FlushFails) {
        cluster_stored = true;
        return calls_before.WriteFile(h, buffer, count, done, ov);
    }
    alignas(4096) static uint8_t changed[CLUSTER_BYTES];
    memcpy(changed, buffer, count);
    changed[10] ^= 0x20;
    return calls_before.WriteFile(h, changed, count, done, ov);
}

BOOL WINAPI flush_failing_after_cluster(HANDLE h) {
    if (!cluster_stored)
        return calls_before.FlushFileBuffers(h);
    sys::SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}

TEST_F(WifiCarry, AStickThatDoesNotTakeTheClusterFailsTheRun) {
    const Bytes image = real("wifi-new.img");
    cluster_place = placeholder_offset(image);
    const struct {
        ClusterWrite write;
        std::string reason;
    } cases[] = {
        {ClusterWrite::Refused,
         "a write at " + std::to_string(cluster_place) + " failed (Windows error 31)"},
        {ClusterWrite::StoredChanged,
         "TUNDRA\\WIFI.KEY reads back differently from what was written: it may be failing"},
        {ClusterWrite::FlushFails, "the stick did not take the writes (Windows error 31)"},
    };
    for (const auto& c : cases) {
        stick_holding(real("wifi-old-100.img"));
        cluster_write = c.write;
        cluster_stored = false;
        calls_before = sys::calls;
        sys::calls.WriteFile = misbehaving_write;
        sys::calls.FlushFileBuffers = flush_failing_after_cluster;
        const engine::Result result = write_onto_stick(image, {});
        sys::calls = calls_before;
        EXPECT_EQ(result, engine::Result::Failed);
        EXPECT_EQ(failure_text(), c.reason);
        EXPECT_FALSE(has_line(CARRIED));
        expect_keys_wiped();
    }
}

}  // namespace
