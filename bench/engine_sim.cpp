// Whole engine runs on simulated sticks with a speed (the model of
// tests/sim/sim_speed.h), timed on the simulated machine's virtual clock:
// how close each stage of a run comes to the drive's own limit, for each
// queue depth and chunk size, and what an update that changes 1 % of the
// pieces costs against a full rewrite. Run by bench/engine-sim, never as a
// test.
//   engine_sim [MIB]      (the image's size; default 64)
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine/compare.h"
#include "engine/engine_workspace.h"
#include "engine/run_names.h"
#include "engine/runs/write_stick.h"
#include "engine/write_options.h"
#include "sim/sim_machine.h"

namespace {

constexpr uint32_t STICK_DISK = 4;
constexpr uint32_t DESKTOP_DEPTH = 4;
constexpr uint32_t DESKTOP_CHUNK = 1048576;
constexpr double STAGE_TARGET = 0.90;
constexpr double WRITTEN_TARGET = 1.02;
constexpr double UPDATE_TARGET = 0.35;

struct StickKind {
    const char* name;
    sim::DriveSpeed speed;
};

// Plausible figures: a good USB 3 stick with command queueing (UAS); a cheap
// USB 3 stick whose flash writes at a fifth of its read rate; an old USB 2
// stick that takes one command at a time.
const StickKind KINDS[] = {
    {"fast USB 3 stick", {400000000, 300000000, 200000, 4}},
    {"cheap stick, writes 5x slower than reads", {100000000, 20000000, 1000000, 2}},
    {"slow old stick", {30000000, 10000000, 2000000, 1}},
};
const StickKind& WRITE_SLOW = KINDS[1];

const uint32_t DEPTHS[] = {1, 2, 4, 8};
const uint32_t CHUNKS[] = {262144, 524288, 1048576, 2097152, 4194304};

using Bytes = std::vector<uint8_t>;
using Wide = std::basic_string<WCHAR>;

struct Line {
    std::string text;
    uint64_t ns;
};

struct Observed {
    const sim::Machine* machine;
    std::vector<Line> lines;
};

void observe(const char* line, size_t length, void* context) {
    Observed& observed = *static_cast<Observed*>(context);
    observed.lines.push_back({std::string(line, length), observed.machine->now_ns()});
}

// What one run took, stage by stage, in virtual nanoseconds.
struct RunTimes {
    bool ok = false;
    uint64_t compare_ns = 0;
    uint64_t write_ns = 0;
    uint64_t check_ns = 0;
    uint64_t read_back_ns = 0;
    uint64_t whole_ns = 0;  // from the compare's first read to the end of the read-back
    uint64_t written_bytes = 0;
};

uint64_t time_of(const std::vector<Line>& lines, const char* start) {
    for (const Line& line : lines) {
        if (line.text.rfind(start, 0) == 0)
            return line.ns;
    }
    fprintf(stderr, "engine_sim: no line starting \"%s\"\n", start);
    exit(1);
}

// The run's transfers start with the compare's read of the first chunk into
// slot 0 (with --full, the first write, from slot 0: the partition tables
// are written last, so it is not the one at offset 0); the small reads
// before it (partition table, saved networks) are not part of it.
uint64_t transfers_start(const sim::Machine& machine) {
    for (const sim::TransferRecord& t : machine.transfers()) {
        const void* slot_0 =
            t.writing ? engine::workspace.image_slots[0] : engine::workspace.stick_slots[0];
        if (t.buffer == slot_0 && (t.writing || t.offset == 0))
            return t.issued_ns;
    }
    fprintf(stderr, "engine_sim: the run's first transfer is missing\n");
    exit(1);
}

RunTimes run_once(const StickKind& kind, const Wide& image_path, const Bytes& stick_bytes,
                  uint32_t depth, uint32_t chunk, bool full) {
    sim::Machine machine;
    machine.add_system_disk(0);
    sim::Drive& stick =
        machine.add_stick({STICK_DISK, "Tundra", "Flash", "BENCH4", stick_bytes.size()});
    stick.contents = stick_bytes;
    stick.speed = kind.speed;
    Observed observed{&machine, {}};
    engine::set_report_observer(observe, &observed);
    LARGE_INTEGER frequency{};
    (void)sys::QueryPerformanceFrequency(&frequency);
    run::run_inputs.perf_frequency = frequency.QuadPart;
    run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    engine::WriteOptions options;
    options.image_path = {image_path.c_str(), image_path.size()};
    options.serial = {"BENCH4", 6};
    options.chunk_bytes = chunk;
    options.queue_depth = depth;
    options.full = full;
    const engine::Result result = engine::write_stick(options);
    (void)sys::CloseHandle(run::run_inputs.disk_io_event);
    run::run_inputs.disk_io_event = nullptr;
    engine::set_report_observer(nullptr, nullptr);
    RunTimes times;
    if (result != engine::Result::Success) {
        const text::ByteText reason = engine::failure_reason();
        fprintf(stderr, "engine_sim: the run failed: %.*s\n", static_cast<int>(reason.length),
                reason.data);
        return times;
    }
    const std::vector<Line>& lines = observed.lines;
    const uint64_t start = transfers_start(machine);
    const uint64_t digest = time_of(lines, full ? "image sha256" : "compared ");
    const uint64_t wrote = time_of(lines, "wrote ");
    const uint64_t checked = time_of(lines, "read back ");
    const uint64_t read_all = time_of(lines, "read all ");
    times.ok = true;
    times.compare_ns = full ? 0 : time_of(lines, "compared ") - start;
    times.write_ns = wrote - digest;
    times.check_ns = checked - wrote;
    times.read_back_ns = read_all - checked;
    times.whole_ns = read_all - start;
    for (const sim::WriteRecord& w : machine.writes())
        times.written_bytes += w.length;
    return times;
}

// Bytes per second over the drive's limit.
double fraction(uint64_t bytes, uint64_t ns, uint64_t limit) {
    if (ns == 0 || limit == 0)
        return 0.0;
    return static_cast<double>(bytes) * 1e9 / static_cast<double>(ns) / static_cast<double>(limit);
}

Bytes image_of(uint64_t size) {
    Bytes bytes(size);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

const char* verdict(bool met) {
    return met ? "met" : "NOT MET";
}

void print_speed(const StickKind& kind) {
    const sim::DriveSpeed& s = kind.speed;
    printf("\n%s: reads %.0f MB/s, writes %.0f MB/s, %.2f ms per transfer, %u at once\n", kind.name,
           static_cast<double>(s.read_bytes_per_second) / 1e6,
           static_cast<double>(s.write_bytes_per_second) / 1e6,
           static_cast<double>(s.latency_ns) / 1e6, s.servers);
}

// Every stage at every depth and chunk size, on a blank stick (every piece
// differs); gives whether the desktop's settings reach the target.
bool stage_table(const StickKind& kind, const Wide& image_path, uint64_t size) {
    print_speed(kind);
    printf("| depth | chunk KiB | compare | write | place check | whole read-back |\n");
    printf("|---:|---:|---:|---:|---:|---:|\n");
    const Bytes blank(size, 0);
    bool desktop_met = false;
    for (uint32_t depth : DEPTHS) {
        for (uint32_t chunk : CHUNKS) {
            const RunTimes t = run_once(kind, image_path, blank, depth, chunk, false);
            if (!t.ok)
                exit(1);
            const sim::DriveSpeed& s = kind.speed;
            const double stages[] = {
                fraction(size, t.compare_ns, s.read_bytes_per_second),
                fraction(t.written_bytes, t.write_ns, s.write_bytes_per_second),
                fraction(t.written_bytes, t.check_ns, s.read_bytes_per_second),
                fraction(size, t.read_back_ns, s.read_bytes_per_second),
            };
            printf("| %u | %u | %.3f | %.3f | %.3f | %.3f |\n", depth, chunk / 1024, stages[0],
                   stages[1], stages[2], stages[3]);
            if (depth == DESKTOP_DEPTH && chunk == DESKTOP_CHUNK) {
                desktop_met = true;
                for (double f : stages)
                    desktop_met = desktop_met && f >= STAGE_TARGET;
            }
        }
    }
    printf("target, at depth %u and %u KiB every stage >= %.2f of the drive's limit: %s\n",
           DESKTOP_DEPTH, DESKTOP_CHUNK / 1024, STAGE_TARGET, verdict(desktop_met));
    return desktop_met;
}

// The update: the stick holds the image except for 1 % of its 64 KiB
// pieces, scattered; against a full rewrite with read-back.
void update_case(const Wide& image_path, const Bytes& image) {
    const uint64_t pieces = image.size() / engine::COMPARE_PIECE;
    const uint64_t changed = (pieces + 50) / 100;
    Bytes stick = image;
    std::vector<bool> taken(pieces, false);
    uint64_t x = 12345;
    for (uint64_t n = 0; n < changed;) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        const uint64_t piece = (x >> 33) % pieces;
        if (taken[piece])
            continue;
        taken[piece] = true;
        stick[piece * engine::COMPARE_PIECE + (x >> 20) % engine::COMPARE_PIECE] ^= 0xFF;
        ++n;
    }
    const StickKind& kind = WRITE_SLOW;
    const sim::DriveSpeed& s = kind.speed;
    const RunTimes update = run_once(kind, image_path, stick, DESKTOP_DEPTH, DESKTOP_CHUNK, false);
    const RunTimes full = run_once(kind, image_path, stick, DESKTOP_DEPTH, DESKTOP_CHUNK, true);
    if (!update.ok || !full.ok)
        exit(1);
    const double size = static_cast<double>(image.size());
    // The least any tool could take to write it all and read it all back once.
    const double ideal_ns = size * 1e9 / static_cast<double>(s.write_bytes_per_second) +
                            size * 1e9 / static_cast<double>(s.read_bytes_per_second);
    const uint64_t differing = changed * engine::COMPARE_PIECE;
    const double written_ratio =
        static_cast<double>(update.written_bytes) / static_cast<double>(differing);
    const double to_ideal = static_cast<double>(update.whole_ns) / ideal_ns;
    const double to_full =
        static_cast<double>(update.whole_ns) / static_cast<double>(full.whole_ns);
    print_speed(kind);
    printf("update of %" PRIu64 " of %" PRIu64 " pieces (1 %%, scattered), depth %u, %u KiB:\n",
           changed, pieces, DESKTOP_DEPTH, DESKTOP_CHUNK / 1024);
    printf("  the update, compare to whole read-back:      %.3f s\n", update.whole_ns / 1e9);
    printf(
        "  full rewrite with read-back at the drive's limits (write all, read all once): %.3f s\n",
        ideal_ns / 1e9);
    printf("  the engine's --full run (write all, check all, read all):                   %.3f s\n",
           full.whole_ns / 1e9);
    printf("  update / full rewrite at the limits: %.3f (target <= %.2f: %s)\n", to_ideal,
           UPDATE_TARGET, verdict(to_ideal <= UPDATE_TARGET));
    printf("  update / the engine's --full run:    %.3f\n", to_full);
    printf("  bytes written %" PRIu64 " / differing bytes %" PRIu64
           " = %.3f (target <= %.2f: %s)\n",
           update.written_bytes, differing, written_ratio, WRITTEN_TARGET,
           verdict(written_ratio <= WRITTEN_TARGET));
}

Wide write_image(const Bytes& image) {
    const char* tmp = getenv("TMPDIR");
    const std::string path = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") +
                             "/tundra-engine-sim-" + std::to_string(sys::GetCurrentProcessId()) +
                             ".img";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    if (!out) {
        fprintf(stderr, "engine_sim: cannot write %s\n", path.c_str());
        exit(1);
    }
    return Wide(path.begin(), path.end());
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 64;
    if (mib == 0 || mib > 1024) {
        fprintf(stderr, "usage: engine_sim [MIB]   (1 to 1024; default 64)\n");
        return 2;
    }
    const Bytes image = image_of(mib << 20);
    const Wide image_path = write_image(image);
    printf("whole engine runs of a %" PRIu64
           " MiB image on simulated sticks, on the virtual clock;\n"
           "each stage's throughput as a fraction of the drive's limit for that stage (its read\n"
           "or write bandwidth); the stick is blank, so every piece is written\n",
           mib);
    for (const StickKind& kind : KINDS)
        (void)stage_table(kind, image_path, image.size());
    printf("\n");
    update_case(image_path, image);
    (void)sys::DeleteFileW(image_path.c_str());
    return 0;
}
