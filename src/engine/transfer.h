// Overlapped transfers on the stick, several in flight at once, each in its
// own slot with its own OVERLAPPED, event and 4 MiB buffers.
#pragma once

#include <cstdint>

#include "engine/run_names.h"
#include "sys/sys.h"

namespace engine {

struct TransferContext {
    HANDLE stick = INVALID_HANDLE_VALUE;
    HANDLE image = INVALID_HANDLE_VALUE;
    uint64_t start = 0;
    uint64_t length = 0;
    uint32_t chunk_bytes = 1048576;
    uint32_t queue_depth = 4;
    // Where the image keeps its partition tables: the places that begin
    // before table_head_end or reach past table_tail_start are written last.
    // By default no place holds a table.
    uint64_t table_head_end = 0;
    uint64_t table_tail_start = UINT64_MAX;
};

enum class Direction : uint8_t { Read, Write };

// Makes one event per slot; `made` counts them so that the run closes
// exactly those.
Result prepare_slots(uint32_t queue_depth, uint64_t& made);

Result start_transfer(const TransferContext& context, uint32_t slot, Direction direction,
                      uint64_t offset, void* buffer, uint32_t count);
Result finish_transfer(const TransferContext& context, uint32_t slot);
// Waits for every busy slot, even after a failure; the first failure gives
// the reason.
Result drain_transfers(const TransferContext& context);

}  // namespace engine
