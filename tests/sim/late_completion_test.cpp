// Transfers on the simulated machine end later than they are issued, as on
// hardware: their bytes move when they end, and several in flight may end
// in any order. These tests show that the machine catches a slot buffer
// reused too early, and that the engine's pipelines stay right whatever
// order the transfers end in.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "discovery/disk_probe.h"
#include "engine/compare.h"
#include "engine/engine_workspace.h"
#include "engine/run_names.h"
#include "engine/transfer.h"
#include "engine/write_places.h"
#include "fixtures/temp_file.h"
#include "sim/sim_machine.h"

namespace {

constexpr uint32_t STICK = 3;
constexpr uint32_t CHUNK = 1048576;
alignas(4096) uint8_t buffer[2][4096];

HANDLE open_drive(DWORD flags) {
    const discovery::DrivePath path = discovery::physical_drive_path(STICK);
    return sys::CreateFileW(path.text, GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                            nullptr);
}

OVERLAPPED at(uint64_t offset, HANDLE event) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset);
    ov.hEvent = event;
    return ov;
}

TEST(LateCompletion, BytesMoveWhenTheTransferEnds) {
    sim::Machine machine;
    machine.add_stick({STICK}).contents.assign(65536, 0x11);
    HANDLE stick = open_drive(FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING);
    HANDLE event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);

    memset(buffer[0], 0xAB, 4096);
    OVERLAPPED write = at(0, event);
    EXPECT_FALSE(sys::WriteFile(stick, buffer[0], 4096, nullptr, &write));
    EXPECT_EQ(sys::GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(machine.drive(STICK)->contents[0], 0x11) << "nothing stored at issue";
    memset(buffer[0], 0xCD, 4096);  // refilled while the write is in flight
    EXPECT_EQ(sys::WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(machine.drive(STICK)->contents[0], 0xCD) << "the bytes are taken at the end";
    DWORD done = 0;
    EXPECT_TRUE(sys::GetOverlappedResult(stick, &write, &done, TRUE));
    EXPECT_EQ(done, 4096u);

    memset(buffer[1], 0, 4096);
    OVERLAPPED read = at(8192, event);
    EXPECT_FALSE(sys::ReadFile(stick, buffer[1], 4096, nullptr, &read));
    EXPECT_EQ(buffer[1][0], 0) << "nothing read at issue";
    EXPECT_TRUE(sys::GetOverlappedResult(stick, &read, &done, TRUE));
    EXPECT_EQ(buffer[1][0], 0x11);

    EXPECT_TRUE(sys::CloseHandle(event));
    EXPECT_TRUE(sys::CloseHandle(stick));
}

TEST(LateCompletion, AnOverlappedHandleRefusesCallsWithoutAnOverlapped) {
    sim::Machine machine;
    machine.add_stick({STICK}).contents.assign(65536, 0);
    HANDLE stick = open_drive(FILE_FLAG_OVERLAPPED);
    DWORD done = 0;
    EXPECT_FALSE(sys::ReadFile(stick, buffer[0], 512, &done, nullptr));
    EXPECT_EQ(sys::GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(sys::WriteFile(stick, buffer[0], 512, &done, nullptr));
    EXPECT_EQ(sys::GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(sys::DeviceIoControl(stick, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                                      &done, nullptr));
    EXPECT_EQ(sys::GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(machine.writes().empty());

    // With an OVERLAPPED the request pends until it is waited for.
    HANDLE event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov = at(0, event);
    EXPECT_FALSE(sys::DeviceIoControl(stick, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                                      &done, &ov));
    EXPECT_EQ(sys::GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(sys::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ASSERT_EQ(machine.ioctls().size(), 2u);
    EXPECT_FALSE(machine.ioctls()[0].overlapped);
    EXPECT_TRUE(machine.ioctls()[1].overlapped);
    EXPECT_TRUE(machine.ioctls()[1].waited_for);
    EXPECT_TRUE(sys::CloseHandle(event));
    EXPECT_TRUE(sys::CloseHandle(stick));

    // A handle opened without the flag still takes synchronous calls.
    HANDLE plain = open_drive(0);
    EXPECT_TRUE(sys::WriteFile(plain, buffer[0], 512, &done, nullptr));
    EXPECT_EQ(done, 512u);
    EXPECT_TRUE(sys::CloseHandle(plain));
}

// The offsets of the transfers, in the order they ended.
std::vector<uint64_t> end_order(const sim::Machine& machine) {
    std::vector<uint64_t> offsets;
    for (const sim::Happening& h : machine.timeline())
        offsets.push_back(h.offset);
    return offsets;
}

// Issues four reads at 0, 4096, 8192 and 12288, then waits for the first.
std::vector<uint64_t> ends_after_waiting_for_the_first(sim::CompletionOrder order, uint64_t seed) {
    sim::Machine machine;
    machine.add_stick({STICK}).contents.assign(65536, 0);
    machine.set_completion_order(order, seed);
    alignas(4096) static uint8_t into[4][4096];
    HANDLE stick = open_drive(FILE_FLAG_OVERLAPPED);
    HANDLE event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov[4];
    for (int i = 0; i < 4; ++i) {
        ov[i] = at(4096u * i, event);
        EXPECT_FALSE(sys::ReadFile(stick, into[i], 4096, nullptr, &ov[i]));
    }
    DWORD done = 0;
    EXPECT_TRUE(sys::GetOverlappedResult(stick, &ov[0], &done, TRUE));
    std::vector<uint64_t> ended = end_order(machine);
    EXPECT_TRUE(sys::CloseHandle(stick));
    EXPECT_TRUE(sys::CloseHandle(event));
    return ended;
}

TEST(LateCompletion, TheMachineChoosesTheOrderInWhichTransfersEnd) {
    using Order = sim::CompletionOrder;
    EXPECT_EQ(ends_after_waiting_for_the_first(Order::AsWaited, 1), std::vector<uint64_t>{0});
    EXPECT_EQ(ends_after_waiting_for_the_first(Order::NewestFirst, 1),
              (std::vector<uint64_t>{12288, 8192, 4096, 0}));
    // A seeded shuffle repeats itself, and some seed ends others first.
    bool some_ended_first = false;
    for (uint64_t seed = 1; seed <= 8; ++seed) {
        const std::vector<uint64_t> ended = ends_after_waiting_for_the_first(Order::Shuffled, seed);
        EXPECT_EQ(ended, ends_after_waiting_for_the_first(Order::Shuffled, seed));
        ASSERT_FALSE(ended.empty());
        EXPECT_EQ(ended.back(), 0u) << "the wait returns once the transfer waited for has ended";
        some_ended_first = some_ended_first || ended.size() > 1;
    }
    EXPECT_TRUE(some_ended_first);
}

// ---- the engine's pipelines on a stick whose transfers end late ----------

// A stick of `chunks` MiB and an image of the same size: bytes that tell
// every 64 KiB piece apart, on the image; on the stick, the same except for
// the pieces listed in `differing`.
class EnginePipeline {
  public:
    EnginePipeline(sim::Machine& machine, uint32_t chunks, sim::CompletionOrder order,
                   uint64_t seed, const std::vector<uint64_t>& differing)
        : image_bytes_(size_t{chunks} * CHUNK), image_("pipeline.img", fill(image_bytes_)) {
        machine.set_completion_order(order, seed);
        sim::Drive& drive =
            machine.add_stick({STICK, "Tundra", "Flash", "SN0003", image_bytes_.size()});
        drive.contents = image_bytes_;
        for (uint64_t piece : differing)
            drive.contents[piece * engine::COMPARE_PIECE + 7] ^= 0x5A;
        stick_ =
            open_drive(FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
        image_handle_ = sys::CreateFileW(image_.wide().data, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
        context_ = {stick_, image_handle_, 0, image_bytes_.size(), CHUNK, 4};
        EXPECT_EQ(engine::prepare_slots(4, events_), engine::Result::Success);
        engine::workspace.changed_place_count = 0;
    }
    ~EnginePipeline() {
        for (uint64_t k = 0; k < events_; ++k)
            (void)sys::CloseHandle(engine::workspace.slots[k].event);
        (void)sys::CloseHandle(image_handle_);
        (void)sys::CloseHandle(stick_);
    }
    EnginePipeline(const EnginePipeline&) = delete;
    EnginePipeline& operator=(const EnginePipeline&) = delete;

    const engine::TransferContext& context() const { return context_; }
    const fixtures::Bytes& image() const { return image_bytes_; }

  private:
    static const fixtures::Bytes& fill(fixtures::Bytes& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>((i / engine::COMPARE_PIECE) * 31 + i % 251);
        }
        return bytes;
    }

    fixtures::Bytes image_bytes_;
    fixtures::TempFile image_;
    HANDLE stick_ = INVALID_HANDLE_VALUE;
    HANDLE image_handle_ = INVALID_HANDLE_VALUE;
    engine::TransferContext context_;
    uint64_t events_ = 0;
};

// The fault the late end exists to catch, kept here and never in the
// product: the loop of write_changed_places, but refilling a slot's buffer
// with the next place's bytes before finish_transfer on that slot.
engine::Result write_places_refilling_too_early(const engine::TransferContext& context) {
    for (uint64_t i = 0; i < engine::workspace.changed_place_count; ++i) {
        const uint32_t slot = static_cast<uint32_t>(i % context.queue_depth);
        const engine::ChangedPlace& place = engine::workspace.changed_places[i];
        if (engine::read_exact_at(context.image, false, place.offset,
                                  engine::workspace.image_slots[slot],
                                  place.length) != engine::Result::Success ||
            engine::finish_transfer(context, slot) != engine::Result::Success ||
            engine::start_transfer(context, slot, engine::Direction::Write, place.offset,
                                   engine::workspace.image_slots[slot],
                                   place.length) != engine::Result::Success) {
            return engine::Result::Failed;
        }
    }
    return engine::drain_transfers(context);
}

using WriteLoop = engine::Result (*)(const engine::TransferContext&);

struct WriteCase {
    const char* name;
    WriteLoop loop;
    bool stick_ends_right;
};

TEST(LateCompletion, ASlotBufferRefilledBeforeItsTransferEndsIsCaught) {
    const WriteCase cases[] = {
        {"the engine's write loop", engine::write_changed_places, true},
        {"the loop that refills too early", write_places_refilling_too_early, false},
    };
    for (const WriteCase& c : cases) {
        sim::Machine machine;
        std::vector<uint64_t> every_piece;
        for (uint64_t p = 0; p < 10 * CHUNK / engine::COMPARE_PIECE; ++p)
            every_piece.push_back(p);
        EnginePipeline pipeline(machine, 10, sim::CompletionOrder::AsWaited, 1, every_piece);
        uint8_t digest[32];
        uint64_t differing = 0;
        ASSERT_EQ(engine::compare_range(pipeline.context(), true, digest, nullptr, differing),
                  engine::Result::Success);
        ASSERT_EQ(engine::workspace.changed_place_count, 10u);
        ASSERT_EQ(c.loop(pipeline.context()), engine::Result::Success) << c.name;
        EXPECT_EQ(machine.drive(STICK)->contents == pipeline.image(), c.stick_ends_right) << c.name;
        EXPECT_EQ(engine::verify_written_places(pipeline.context()) == engine::Result::Success,
                  c.stick_ends_right)
            << c.name;
        (void)engine::drain_transfers(pipeline.context());
    }
}

struct OrderCase {
    sim::CompletionOrder order;
    uint64_t seed;
};

const OrderCase ORDERS[] = {
    {sim::CompletionOrder::AsWaited, 1},    {sim::CompletionOrder::NewestFirst, 1},
    {sim::CompletionOrder::Shuffled, 1},    {sim::CompletionOrder::Shuffled, 2},
    {sim::CompletionOrder::Shuffled, 1234},
};

// Ten chunks with depth 4: chunks 0 to 3 go out first, then each next one
// into the slot just freed, and the compare finds the same pieces and
// digest whatever order the reads end in.
TEST(LateCompletion, TheComparePipelineHoldsInAnyEndOrder) {
    const std::vector<uint64_t> differing = {0, 17, 18, 80, 159};
    std::vector<uint8_t> first_digest;
    for (const OrderCase& o : ORDERS) {
        sim::Machine machine;
        EnginePipeline pipeline(machine, 10, o.order, o.seed, differing);
        uint8_t digest[32];
        uint64_t differing_bytes = 0;
        ASSERT_EQ(engine::compare_range(pipeline.context(), true, digest, nullptr, differing_bytes),
                  engine::Result::Success);
        EXPECT_EQ(differing_bytes, differing.size() * engine::COMPARE_PIECE);
        ASSERT_EQ(engine::workspace.changed_place_count, 4u) << "pieces 17 and 18 join";
        EXPECT_EQ(engine::workspace.changed_places[1].offset, 17u * engine::COMPARE_PIECE);
        EXPECT_EQ(engine::workspace.changed_places[1].length, 2u * engine::COMPARE_PIECE);
        if (first_digest.empty())
            first_digest.assign(digest, digest + 32);
        EXPECT_EQ(std::vector<uint8_t>(digest, digest + 32), first_digest);

        const std::vector<sim::TransferRecord> reads = machine.transfers();
        ASSERT_EQ(reads.size(), 10u);
        for (size_t k = 0; k < reads.size(); ++k) {
            EXPECT_EQ(reads[k].offset, k * CHUNK);
            EXPECT_EQ(reads[k].buffer, engine::workspace.stick_slots[k % 4]) << k;
            if (k < 4) {
                EXPECT_LT(reads[k].issued_step, reads[0].ended_step) << "filled before any wait";
            } else {
                EXPECT_GT(reads[k].issued_step, reads[k - 4].ended_step) << "its slot was freed";
            }
        }
        EXPECT_LE(machine.max_in_flight(), 4u);
    }
}

TEST(LateCompletion, AOneChunkRangeUsesOnlySlotZero) {
    sim::Machine machine;
    EnginePipeline pipeline(machine, 1, sim::CompletionOrder::NewestFirst, 1, {3});
    uint8_t digest[32];
    uint64_t differing = 0;
    ASSERT_EQ(engine::compare_range(pipeline.context(), true, digest, nullptr, differing),
              engine::Result::Success);
    ASSERT_EQ(engine::write_changed_places(pipeline.context()), engine::Result::Success);
    const std::vector<sim::TransferRecord> transfers = machine.transfers();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].buffer, engine::workspace.stick_slots[0]);
    EXPECT_EQ(transfers[1].buffer, engine::workspace.image_slots[0]);
    EXPECT_TRUE(transfers[1].writing);
    EXPECT_EQ(machine.drive(STICK)->contents, pipeline.image());
}

// The real write loop leaves the stick right in every end order.
TEST(LateCompletion, TheWritePipelineHoldsInAnyEndOrder) {
    std::vector<uint64_t> scattered;
    for (uint64_t p = 0; p < 10 * CHUNK / engine::COMPARE_PIECE; p += 3)
        scattered.push_back(p);
    for (const OrderCase& o : ORDERS) {
        sim::Machine machine;
        EnginePipeline pipeline(machine, 10, o.order, o.seed, scattered);
        uint8_t digest[32];
        uint64_t differing = 0;
        ASSERT_EQ(engine::compare_range(pipeline.context(), true, digest, nullptr, differing),
                  engine::Result::Success);
        ASSERT_EQ(engine::write_changed_places(pipeline.context()), engine::Result::Success);
        EXPECT_EQ(machine.drive(STICK)->contents, pipeline.image());
        EXPECT_EQ(engine::verify_written_places(pipeline.context()), engine::Result::Success);
    }
}

}  // namespace
