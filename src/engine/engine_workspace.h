// The engine's static storage. The engine allocates nothing: every buffer
// of a run lives here or in the ground's own storage (run/run_buffers.h), so
// a run cannot fail for lack of memory. Buffers that a transfer on the
// unbuffered stick handle uses start on a 4096-byte boundary, as Windows
// requires of unbuffered transfers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hash/sha256.h"
#include "run/run_buffers.h"
#include "sys/sys.h"

namespace engine {

using run::TRANSFER_ALIGNMENT;

constexpr size_t IMAGE_HASH_CHUNK = 262144;
constexpr size_t MAX_SLOTS = 8;
constexpr size_t SLOT_BUFFER_BYTES = 4194304;
constexpr size_t MAX_CHANGED_PLACES = 262144;
constexpr size_t MAX_LOCKED_VOLUMES = 32;

struct TransferSlot {
    OVERLAPPED overlapped;
    HANDLE event;
    bool busy;
    uint32_t expected_bytes;
};

struct ChangedPlace {
    uint64_t offset;
    uint32_t length;
};

struct EngineWorkspace {
    alignas(TRANSFER_ALIGNMENT) uint8_t image_slots[MAX_SLOTS][SLOT_BUFFER_BYTES];
    alignas(TRANSFER_ALIGNMENT) uint8_t stick_slots[MAX_SLOTS][SLOT_BUFFER_BYTES];
    uint8_t image_hash_chunk[IMAGE_HASH_CHUNK];
    TransferSlot slots[MAX_SLOTS];
    ChangedPlace changed_places[MAX_CHANGED_PLACES];
    uint64_t changed_place_count;
    HANDLE locked_volumes[MAX_LOCKED_VOLUMES];
    uint64_t locked_volume_count;
    // The digests of a run: the image side, and the stick side on read-back
    // and backup; the whole image file when only a part of it is the range.
    // Kept for the process: the platform's hash inside each is made once and
    // serves every run.
    hash::Sha256 image_hash;
    hash::Sha256 stick_hash;
    hash::Sha256 file_hash;
};

static_assert(SLOT_BUFFER_BYTES % TRANSFER_ALIGNMENT == 0);
static_assert(offsetof(EngineWorkspace, stick_slots) % TRANSFER_ALIGNMENT == 0);
static_assert(sizeof(ChangedPlace) >= sizeof(uint64_t) + sizeof(uint32_t));

extern EngineWorkspace workspace;

}  // namespace engine
