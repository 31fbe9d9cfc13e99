// The run's hashing thread: made once per run, fed the slots' buffers while
// transfers go on, never outrun by a slot being filled again, and gone when
// the run returns, however it ends. Its pace is slowed here (a pause after
// each piece it hashes), so that it is always behind the transfers: a slot
// refilled before its piece was hashed would show in a wrong digest.
#include <gtest/gtest.h>
#include <sodium.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/runs/write_stick.h"
#include "fixtures/sha256_hex.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace {

using fixtures::Bytes;
using fixtures::failure_text;

constexpr uint64_t MIB = 1048576;

// Every thread the run makes, and how many still run.
struct ThreadWatch {
    std::atomic<unsigned> made{0};
    std::atomic<int> running{0};
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID param = nullptr;
    // Asks the run to stop when the thread has hashed this many pieces.
    unsigned stop_after_pieces = 0;
    std::atomic<unsigned> pieces{0};
};
ThreadWatch watch;
thread_local bool on_watched_thread = false;
sys::CallTable calls_below;

DWORD WINAPI watched(LPVOID) {
    on_watched_thread = true;
    const DWORD result = watch.start(watch.param);
    --watch.running;
    return result;
}

HANDLE WINAPI make_watched_thread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack,
                                  LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                                  LPDWORD id) {
    watch.start = start;
    watch.param = param;
    ++watch.running;
    const HANDLE h = calls_below.CreateThread(sa, stack, watched, nullptr, flags, id);
    if (h == nullptr)
        --watch.running;
    else
        ++watch.made;
    return h;
}

// The hashing thread signals each piece it has hashed: it pauses there.
BOOL WINAPI slow_signal(HANDLE h) {
    if (on_watched_thread) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const unsigned pieces = ++watch.pieces;
        if (watch.stop_after_pieces != 0 && pieces == watch.stop_after_pieces)
            run::run_inputs.stop_requested = true;
    }
    return calls_below.SetEvent(h);
}

// A thread that ended gives its word within this time at most.
bool no_thread_runs() {
    for (int i = 0; i < 200 && watch.running != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return watch.running == 0;
}

// A whole desktop-like run (the published digest, the whole image, the
// whole range read back) of an 8 MiB image onto a stick that differs in one
// piece, on a machine of its own, with the watch and the slow thread.
struct WatchedRun {
    Bytes image_bytes = fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
    fixtures::TempFile image{"hashing-thread.img", image_bytes};
    std::string image_digest = fixtures::sha256_hex(image_bytes.data(), image_bytes.size());
    std::vector<std::string> lines;
    sim::Drive* stick = nullptr;

    engine::Result once(sim::Machine& machine, const std::function<void(sim::Machine&)>& arrange) {
        machine.add_system_disk(0);
        stick = &machine.add_stick({2, "Tundra", "Flash", "HT0002", 8 * MIB});
        stick->contents = image_bytes;
        stick->contents[3 * MIB + 9] ^= 1;
        engine::WriteOptions options;
        options.image_path = image.wide();
        options.serial = {"HT0002", 6};
        options.fresh = true;
        options.has_expected_sha256 = true;
        crypto_hash_sha256(options.expected_sha256, image_bytes.data(), image_bytes.size());
        lines.clear();
        engine::set_report_observer(
            [](const char* line, size_t length, void* context) {
                static_cast<std::vector<std::string>*>(context)->emplace_back(line, length);
            },
            &lines);
        run::buffers.failure_reason_length = 0;
        watch.made = 0;
        watch.pieces = 0;
        calls_below = sys::calls;
        sys::calls.CreateThread = make_watched_thread;
        sys::calls.SetEvent = slow_signal;
        if (arrange)
            arrange(machine);
        const engine::Result result = engine::write_stick(options);
        sys::calls = calls_below;
        engine::set_report_observer(nullptr, nullptr);
        run::run_inputs.stop_requested = false;
        watch.stop_after_pieces = 0;
        return result;
    }

    bool printed(const std::string& part) const {
        for (const std::string& line : lines) {
            if (line.find(part) != std::string::npos)
                return true;
        }
        return false;
    }
};

TEST(HashingThread, MadeOnceForTheRunAndNeverOutrun) {
    WatchedRun run;
    sim::Machine machine;
    ASSERT_EQ(run.once(machine, nullptr), engine::Result::Success) << failure_text();
    EXPECT_EQ(watch.made, 1u);
    EXPECT_TRUE(no_thread_runs());
    EXPECT_TRUE(run.stick->contents == run.image_bytes);
    EXPECT_TRUE(run.printed("image sha256 " + run.image_digest + "\n"));
    EXPECT_TRUE(run.printed(": stick sha256 " + run.image_digest + "\n"));
    EXPECT_GE(watch.pieces, 16u) << "both passes went through the thread";
    EXPECT_EQ(machine.open_handle_count(), 0u);
}

// Without its thread (or the events it waits on) the run hashes on its own
// thread and ends as it would with it.
TEST(HashingThread, ARunThatCannotMakeItHashesOnItsOwn) {
    const struct {
        const char* name;
        const char* call;
        unsigned nth;  // counted from the run's start
    } cases[] = {
        {"no thread", "CreateThread", 1},
        {"no event for the pieces handed over", "CreateEventW", 5},
        {"no event for the pieces hashed", "CreateEventW", 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WatchedRun run;
        sim::Machine machine;
        const engine::Result result = run.once(
            machine, [&](sim::Machine& m) { m.fail_call(c.call, ERROR_NOT_ENOUGH_MEMORY, c.nth); });
        ASSERT_EQ(result, engine::Result::Success) << failure_text();
        EXPECT_EQ(watch.made, 0u);
        EXPECT_EQ(watch.pieces, 0u);
        EXPECT_TRUE(run.stick->contents == run.image_bytes);
        EXPECT_TRUE(run.printed("image sha256 " + run.image_digest + "\n"));
        EXPECT_TRUE(run.printed(": stick sha256 " + run.image_digest + "\n"));
        EXPECT_EQ(machine.open_handle_count(), 0u);
    }
}

// A stop asked for while the thread is behind, in the compare and in the
// read-back: the run stops, and the thread is gone when it returns.
TEST(HashingThread, AStopReleasesTheThread) {
    const struct {
        const char* name;
        unsigned stop_after_pieces;
        std::string reason;
    } cases[] = {
        {"in the compare", 2,
         "stopped on request before anything was written: the stick is as it was"},
        {"in the read-back", 10,
         "stopped on request after every byte was written, before the read-back ended: the stick "
         "holds what was written, but it was not verified; write it again to verify it (only what "
         "differs is written)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WatchedRun run;
        sim::Machine machine;
        const engine::Result result = run.once(
            machine, [&](sim::Machine&) { watch.stop_after_pieces = c.stop_after_pieces; });
        EXPECT_EQ(result, engine::Result::Failed);
        EXPECT_EQ(failure_text(), c.reason);
        EXPECT_TRUE(no_thread_runs());
        EXPECT_EQ(machine.open_handle_count(), 0u);
        EXPECT_EQ(machine.held_lock_count(), 0u);
    }
}

// Every call of a run made to fail at a spread of its uses while the
// thread is behind: the run ends with a reason or with the stick holding
// the image, never hangs, and leaves no thread, handle or lock behind.
TEST(HashingThread, EveryCallFailingWhileTheThreadIsBusyEndsCleanly) {
    WatchedRun run;
    std::vector<std::pair<std::string, unsigned>> uses;
    {
        sim::Machine machine;
        ASSERT_EQ(run.once(machine, nullptr), engine::Result::Success) << failure_text();
        for (const std::string& name : sim::Machine::failable_calls()) {
            const unsigned count = machine.uses(name.c_str());
            if (count > 0)
                uses.emplace_back(name, count);
        }
    }
    for (const auto& [name, count] : uses) {
        std::vector<unsigned> picks;
        for (unsigned nth = 1; nth <= count; ++nth) {
            if (nth <= 3 || count - nth < 3 || nth % (count / 6 + 1) == 0)
                picks.push_back(nth);
        }
        for (unsigned nth : picks) {
            SCOPED_TRACE(name + " failing at use " + std::to_string(nth));
            sim::Machine machine;
            const engine::Result result = run.once(machine, [&](sim::Machine& m) {
                m.fail_call(name.c_str(), ERROR_GEN_FAILURE, nth);
            });
            if (result == engine::Result::Success)
                EXPECT_TRUE(run.stick->contents == run.image_bytes);
            else
                EXPECT_FALSE(failure_text().empty());
            EXPECT_LE(watch.made, 1u);
            EXPECT_TRUE(no_thread_runs());
            EXPECT_EQ(machine.open_handle_count(), 0u);
            EXPECT_EQ(machine.held_lock_count(), 0u);
        }
    }
}

}  // namespace
