#include "engine/hash_lane.h"

#include <atomic>
#include <cstring>

#include "engine/engine_workspace.h"

namespace engine {
namespace {

// Every slot has two buffers; each may hold a piece on its way to the
// digests, and only one at a time, so the ring of pieces never needs more.
constexpr size_t BUFFER_COUNT = 2 * MAX_SLOTS;
constexpr size_t NO_BUFFER = BUFFER_COUNT;
constexpr size_t RING = BUFFER_COUNT;

// Neither thread ever waits longer than this for the other's signal: a
// signal that Windows failed to give costs this much, never a hang.
constexpr DWORD POLL_MS = 10;

struct HashJob {
    const uint8_t* bytes;
    uint32_t length;
    uint8_t digests;
};

// The transfer thread writes a job, then publishes it by raising `handed`;
// the hashing thread reads it only below `handed`, and raises `done` once
// the job's bytes are in its digests. Each counter has one writer.
struct Lane {
    HANDLE thread = nullptr;
    HANDLE work = nullptr;    // auto-reset: a piece was handed over, or the thread is to stop
    HANDLE hashed = nullptr;  // auto-reset: a piece is in its digests
    HashJob ring[RING] = {};
    std::atomic<uint64_t> handed{0};
    std::atomic<uint64_t> done{0};
    std::atomic<bool> stopping{false};
    std::atomic<bool> ended{false};
    // Per buffer, the count `done` reaches once its last piece is hashed.
    uint64_t last_job_of[BUFFER_COUNT] = {};
};

Lane lane;

hash::Sha256& state_of(uint8_t digest) {
    if (digest == DIGEST_FILE)
        return workspace.file_hash;
    return digest == DIGEST_RANGE ? workspace.image_hash : workspace.stick_hash;
}

void feed(const HashJob& job) {
    for (uint8_t digest = DIGEST_FILE; digest <= DIGEST_STICK; digest <<= 1) {
        if ((job.digests & digest) != 0)
            hash::sha256_update(state_of(digest), job.bytes, job.length);
    }
}

size_t buffer_index(const uint8_t* buffer) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(buffer);
    const uintptr_t images = reinterpret_cast<uintptr_t>(&workspace.image_slots[0][0]);
    const uintptr_t sticks = reinterpret_cast<uintptr_t>(&workspace.stick_slots[0][0]);
    constexpr uintptr_t SPAN = MAX_SLOTS * SLOT_BUFFER_BYTES;
    if (at - images < SPAN)
        return (at - images) / SLOT_BUFFER_BYTES;
    if (at - sticks < SPAN)
        return MAX_SLOTS + (at - sticks) / SLOT_BUFFER_BYTES;
    return NO_BUFFER;
}

DWORD WINAPI hash_pieces(LPVOID) {
    while (!lane.stopping.load(std::memory_order_acquire)) {
        const uint64_t next = lane.done.load(std::memory_order_relaxed);
        if (next == lane.handed.load(std::memory_order_acquire)) {
            (void)sys::WaitForSingleObject(lane.work, POLL_MS);
            continue;
        }
        feed(lane.ring[next % RING]);
        lane.done.store(next + 1, std::memory_order_release);
        (void)sys::SetEvent(lane.hashed);
    }
    // Past this point the thread touches nothing of the run's.
    lane.ended.store(true, std::memory_order_release);
    return 0;
}

// Without the thread nothing is ever on its way.
void await_done(uint64_t count) {
    while (lane.thread != nullptr && lane.done.load(std::memory_order_acquire) < count)
        (void)sys::WaitForSingleObject(lane.hashed, POLL_MS);
}

void close_lane_events() {
    if (lane.work != nullptr)
        (void)sys::CloseHandle(lane.work);
    if (lane.hashed != nullptr)
        (void)sys::CloseHandle(lane.hashed);
    lane.work = nullptr;
    lane.hashed = nullptr;
}

void forget_pieces() {
    lane.handed.store(0);
    lane.done.store(0);
    memset(lane.last_job_of, 0, sizeof lane.last_job_of);
}

}  // namespace

void start_hash_lane() {
    forget_pieces();
    lane.stopping.store(false);
    lane.ended.store(false);
    lane.work = sys::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    lane.hashed = sys::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (lane.work != nullptr && lane.hashed != nullptr)
        lane.thread = sys::CreateThread(nullptr, 0, hash_pieces, nullptr, 0, nullptr);
    // Without the thread (or the events it waits on) the run hashes on its
    // own thread, as it would on a machine with one core: slower, no less
    // sure.
    if (lane.thread == nullptr)
        close_lane_events();
}

void stop_hash_lane() {
    if (lane.thread == nullptr)
        return;
    lane.stopping.store(true, std::memory_order_release);
    (void)sys::SetEvent(lane.work);
    // The thread's own end, or its last word when the wait on it fails.
    while (sys::WaitForSingleObject(lane.thread, POLL_MS) != WAIT_OBJECT_0 &&
           !lane.ended.load(std::memory_order_acquire)) {
    }
    (void)sys::CloseHandle(lane.thread);
    lane.thread = nullptr;
    close_lane_events();
    // What a failed run left unhashed is dropped with it.
    forget_pieces();
}

void begin_digests(uint8_t digests) {
    for (uint8_t digest = DIGEST_FILE; digest <= DIGEST_STICK; digest <<= 1) {
        if ((digests & digest) != 0)
            hash::sha256_init(state_of(digest));
    }
}

void hash_buffer(const uint8_t* buffer, uint32_t length, uint8_t digests) {
    const HashJob job{buffer, length, digests};
    const size_t index = buffer_index(buffer);
    if (lane.thread == nullptr || index == NO_BUFFER) {
        // After every piece handed over before it, so that the digests see
        // the bytes in order.
        await_done(lane.handed.load(std::memory_order_relaxed));
        feed(job);
        return;
    }
    const uint64_t handed = lane.handed.load(std::memory_order_relaxed);
    await_done(handed >= RING ? handed - RING + 1 : 0);
    lane.ring[handed % RING] = job;
    lane.last_job_of[index] = handed + 1;
    lane.handed.store(handed + 1, std::memory_order_release);
    (void)sys::SetEvent(lane.work);
}

bool buffer_hashed(const uint8_t* buffer) {
    const size_t index = buffer_index(buffer);
    return lane.thread == nullptr || index == NO_BUFFER ||
           lane.done.load(std::memory_order_acquire) >= lane.last_job_of[index];
}

void await_buffer(const uint8_t* buffer) {
    const size_t index = buffer_index(buffer);
    if (lane.thread != nullptr && index != NO_BUFFER)
        await_done(lane.last_job_of[index]);
}

bool end_digest(uint8_t digest, uint8_t sha256[32]) {
    await_done(lane.handed.load(std::memory_order_relaxed));
    return hash::sha256_final(state_of(digest), sha256);
}

}  // namespace engine
