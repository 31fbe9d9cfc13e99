// The static storage of the ground under every run on a disk: the failure
// reason, the report line, the path text of messages and the bounce buffer
// that positioned reads go through. Nothing here allocates, so a run cannot
// fail for lack of memory. The bounce buffer is read into through unbuffered
// stick handles, so it starts on a 4096-byte boundary as Windows requires.
#pragma once

#include <cstddef>
#include <cstdint>

namespace run {

constexpr size_t FAILURE_REASON_CAPACITY = 1024;
constexpr size_t REPORT_CAPACITY = 8192;
constexpr size_t PATH_TEXT_CAPACITY = 1024;
constexpr size_t BOUNCE_CAPACITY = 270336;  // 256 KiB plus 8 KiB
constexpr size_t TRANSFER_ALIGNMENT = 4096;

struct RunBuffers {
    alignas(TRANSFER_ALIGNMENT) uint8_t bounce[BOUNCE_CAPACITY];
    char failure_reason[FAILURE_REASON_CAPACITY];
    size_t failure_reason_length;
    char report[REPORT_CAPACITY];
    size_t report_length;
    char path_text[PATH_TEXT_CAPACITY];
};

static_assert(BOUNCE_CAPACITY % TRANSFER_ALIGNMENT == 0);

extern RunBuffers buffers;

}  // namespace run
