#include "engine/transfer.h"

#include "engine/engine_workspace.h"
#include "engine/run_progress.h"
#include "engine/stop_request.h"

namespace engine {
namespace {

uint64_t offset_of(const OVERLAPPED& ov) {
    return (uint64_t{ov.OffsetHigh} << 32) | ov.Offset;
}

struct Completion {
    bool ok;
    bool waited;  // the wait itself succeeded; `error` is meaningful only when it did not
    DWORD moved;
    DWORD error;
};

// Waits for the slot's transfer to end, whatever its outcome.
Completion await_transfer(const TransferContext& context, TransferSlot& slot) {
    slot.busy = false;
    DWORD moved = 0;
    if (!sys::GetOverlappedResult(context.stick, &slot.overlapped, &moved, TRUE)) {
        return {false, false, moved, sys::GetLastError()};
    }
    if (moved != slot.expected_bytes)
        return {false, true, moved, 0};
    count_progress(moved);
    return {true, true, moved, 0};
}

Result fail_transfer(const TransferSlot& slot, const Completion& done) {
    if (!done.waited) {
        return fail("the stick failed a transfer at ", offset_of(slot.overlapped),
                    " (Windows error ", done.error, ")");
    }
    return fail("the stick moved ", done.moved, " of ", slot.expected_bytes, " bytes at ",
                offset_of(slot.overlapped));
}

}  // namespace

Result prepare_slots(uint32_t queue_depth, uint64_t& made) {
    for (uint32_t k = 0; k < queue_depth && k < MAX_SLOTS; ++k) {
        TransferSlot& slot = workspace.slots[k];
        slot = TransferSlot{};
        slot.event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (slot.event == nullptr) {
            // The events made so far are closed by the caller's release.
            return fail("cannot make an event (Windows error ", sys::GetLastError(), ")");
        }
        ++made;
    }
    return Result::Success;
}

Result start_transfer(const TransferContext& context, uint32_t slot_index, Direction direction,
                      uint64_t offset, void* buffer, uint32_t count) {
    TransferSlot& slot = workspace.slots[slot_index];
    slot.overlapped = OVERLAPPED{};
    slot.overlapped.Offset = static_cast<DWORD>(offset);
    slot.overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    slot.overlapped.hEvent = slot.event;
    if (direction == Direction::Write)
        note_stick_written();
    const BOOL started =
        direction == Direction::Write
            ? sys::WriteFile(context.stick, buffer, count, nullptr, &slot.overlapped)
            : sys::ReadFile(context.stick, buffer, count, nullptr, &slot.overlapped);
    if (!started && sys::GetLastError() != ERROR_IO_PENDING) {
        return fail("the stick's ", direction == Direction::Write ? "write" : "read", " of ", count,
                    " bytes at ", offset, " failed (Windows error ", sys::GetLastError(), ")");
    }
    slot.busy = true;
    slot.expected_bytes = count;
    return Result::Success;
}

Result finish_transfer(const TransferContext& context, uint32_t slot_index) {
    TransferSlot& slot = workspace.slots[slot_index];
    if (!slot.busy) return Result::Success;
    const Completion done = await_transfer(context, slot);
    return done.ok ? Result::Success : fail_transfer(slot, done);
}

Result drain_transfers(const TransferContext& context) {
    // Every busy slot is waited for, even after one has failed: a transfer
    // left running could still write to the stick after its volumes are
    // unlocked and Windows has mounted them again. Only the first failure
    // here gives the reason.
    Result result = Result::Success;
    for (uint32_t k = 0; k < context.queue_depth && k < MAX_SLOTS; ++k) {
        TransferSlot& slot = workspace.slots[k];
        if (!slot.busy) continue;
        const Completion done = await_transfer(context, slot);
        if (!done.ok && result == Result::Success) result = fail_transfer(slot, done);
    }
    return result;
}

}  // namespace engine
