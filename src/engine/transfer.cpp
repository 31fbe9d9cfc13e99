#include "engine/transfer.h"

#include "engine/engine_workspace.h"

namespace engine {
namespace {

uint64_t offset_of(const OVERLAPPED& ov) {
    return (uint64_t{ov.OffsetHigh} << 32) | ov.Offset;
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
    slot.busy = false;
    DWORD moved = 0;
    if (!sys::GetOverlappedResult(context.stick, &slot.overlapped, &moved, TRUE)) {
        return fail("the stick failed a transfer at ", offset_of(slot.overlapped),
                    " (Windows error ", sys::GetLastError(), ")");
    }
    if (moved != slot.expected_bytes) {
        return fail("the stick moved ", moved, " of ", slot.expected_bytes, " bytes at ",
                    offset_of(slot.overlapped));
    }
    return Result::Success;
}

Result drain_transfers(const TransferContext& context) {
    for (uint32_t k = 0; k < context.queue_depth && k < MAX_SLOTS; ++k) {
        if (finish_transfer(context, k) != Result::Success) return Result::Failed;
    }
    return Result::Success;
}

}  // namespace engine
