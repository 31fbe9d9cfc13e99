// The Wi-Fi carry-over over fuzzed sticks: read_saved_wifi on the old
// stick, then write_saved_wifi into the new image's file on the stick.
//
// Input: a flags byte (bit 0: 4096-byte sectors), the old partition's length
// in 4 bytes (little-endian, cut to what follows), the old TUNDRA partition,
// then the new one. Each partition sits behind a fixed GPT. When the old
// stick gives no networks, the writer still runs, with saved bytes made
// here, so that every input fuzzes both halves.
//
// The harness aborts when the saved length is beyond its capacity or the
// saved bytes are only blanks; when the writer changes a byte outside the
// new partition's data area, or any byte at all when it fails; and when it
// reports the networks written while the file, read back through its chain,
// does not hold them (the saved bytes, cut or padded with spaces to the
// file's size).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "engine/saved_wifi.h"
#include "formats/fat.h"
#include "fuzz/fuzz_disk.h"

namespace {

constexpr size_t MAXIMUM_INPUT_BYTES = 1 << 20;
constexpr char WIFI_KEY_NAME[11] = {'W', 'I', 'F', 'I', ' ', ' ', ' ', ' ', 'K', 'E', 'Y'};

uint8_t saved[engine::SAVED_WIFI_CAPACITY];
uint64_t saved_length = 0;
uint8_t file_now[engine::SAVED_WIFI_CAPACITY];

[[noreturn]] void violation(const char* what) {
    fprintf(stderr, "saved_wifi_fuzz: %s\n", what);
    abort();
}

bool only_blanks(const uint8_t* bytes, uint64_t length) {
    for (uint64_t i = 0; i < length; ++i) {
        if (bytes[i] != 0 && bytes[i] != '\n' && bytes[i] != '\r' && bytes[i] != ' ')
            return false;
    }
    return true;
}

// The file's bytes in chain order, as the stick holds them now; false when
// the chain cannot be walked to the file's size.
bool read_file(const formats::FatVolume& volume, const formats::DirItem& file) {
    uint64_t done = 0;
    uint32_t cluster = file.first_cluster;
    while (done < file.size) {
        if (!formats::has_cluster(volume, cluster))
            return false;
        const uint64_t rest = file.size - done;
        const uint64_t count = rest < volume.cluster_size ? rest : volume.cluster_size;
        if (run::read_at(volume.partition, formats::cluster_offset(volume, cluster),
                         file_now + done, count) != run::Result::Success) {
            return false;
        }
        done += count;
        std::optional<uint32_t> next;
        if (done < file.size) {
            if (formats::next_cluster(volume, cluster, next) != run::Result::Success ||
                !next.has_value()) {
                return false;
            }
            cluster = *next;
        }
    }
    return true;
}

void check_the_new_file(const fuzz::FuzzDisk& disk) {
    formats::FatVolume volume;
    bool found = false;
    formats::DirItem file;
    if (formats::open_tundra_volume(disk.region(), volume, found) != run::Result::Success ||
        !found ||
        formats::find_tundra_file(volume, WIFI_KEY_NAME, file, found) != run::Result::Success ||
        !found) {
        violation("the networks were reported written, but the file cannot be found again");
    }
    if (file.size > sizeof file_now || !read_file(volume, file))
        violation("the networks were reported written, but the file cannot be read again");
    for (uint64_t i = 0; i < file.size; ++i) {
        const uint8_t expected = i < saved_length ? saved[i] : uint8_t{' '};
        if (file_now[i] != expected)
            violation("the networks were reported written, but the file holds other bytes");
    }
}

// Bytes changed by the writer: only ever in the partition's data area.
void check_changed_places(const std::vector<uint8_t>& before, const fuzz::FuzzDisk& disk) {
    const std::vector<uint8_t>& after = disk.contents();
    if (after.size() != before.size())
        violation("the disk changed its size");
    formats::FatVolume volume;
    bool found = false;
    uint64_t data_start = after.size();
    if (formats::open_tundra_volume(disk.region(), volume, found) == run::Result::Success && found)
        data_start = volume.partition.first + volume.data_offset;
    for (size_t i = 0; i < after.size(); ++i) {
        if (after[i] != before[i] && i < data_start)
            violation("the writer changed a byte before the data area");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5 || size > MAXIMUM_INPUT_BYTES)
        return 0;
    fuzz::DiskShape shape;
    shape.bytes_per_sector = (data[0] & 1) != 0 ? 4096 : 512;
    uint32_t old_length;
    memcpy(&old_length, data + 1, 4);
    const uint8_t* rest = data + 5;
    const size_t rest_size = size - 5;
    if (old_length > rest_size)
        old_length = static_cast<uint32_t>(rest_size);

    {
        fuzz::FuzzDisk old_stick(
            fuzz::with_tundra_partition(rest, old_length, 512, shape.bytes_per_sector), shape);
        engine::read_saved_wifi(old_stick.region());
    }
    if (engine::saved_wifi.length > engine::SAVED_WIFI_CAPACITY)
        violation("more saved bytes than the buffer holds");
    if (engine::saved_wifi.length > 0 &&
        only_blanks(engine::saved_wifi.bytes, engine::saved_wifi.length)) {
        violation("blanks were kept as networks");
    }
    if (engine::saved_wifi.length == 0) {
        // Networks of the input's own length, so the writer's cut and
        // padding are fuzzed as well.
        engine::saved_wifi.length = 1 + old_length % 6000;
        for (uint64_t i = 0; i < engine::saved_wifi.length; ++i)
            engine::saved_wifi.bytes[i] = static_cast<uint8_t>('a' + i % 26);
    }
    saved_length = engine::saved_wifi.length;
    memcpy(saved, engine::saved_wifi.bytes, saved_length);

    shape.writable = true;
    fuzz::FuzzDisk stick(fuzz::with_tundra_partition(rest + old_length, rest_size - old_length, 512,
                                                     shape.bytes_per_sector),
                         shape);
    const std::vector<uint8_t> before = stick.contents();
    bool written = false;
    const run::Result result =
        engine::write_saved_wifi(stick.region(), stick.handle(), shape.bytes_per_sector, written);
    check_changed_places(before, stick);
    if (result == run::Result::Success && written)
        check_the_new_file(stick);
    if (result != run::Result::Success && written)
        violation("a failure that says it wrote");
    // Nothing here fails a transfer, so a refusal comes from the file's
    // place on the volume, and is made before a byte is written.
    if (result != run::Result::Success && stick.contents() != before)
        violation("a refused file was partly rewritten");
    engine::wipe_saved_wifi();
    return 0;
}
