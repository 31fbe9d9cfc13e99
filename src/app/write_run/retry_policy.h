// When a broken image download is tried again, and when it is given up.
// A download fails because it stopped moving, never because it is slow: a
// steady 10 Mbit/s line takes an hour for a 4 GiB image, and that is fine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sys/sys.h"

namespace app {

// Given up once attempts have brought no byte for this long. A home
// router's restart, a laptop moving between access points or a phone's
// tether handing over take seconds to a few minutes; a line that is gone
// for longer is not coming back while the user watches, and the user is
// better told than kept waiting.
constexpr ULONGLONG STALL_LIMIT_MS = 300000;  // 5 minutes

// The pause before each new attempt, growing while attempts keep failing
// and starting again from the first once one brings bytes: quick for a
// single dropped connection, patient with a line that is down, and never
// more than half a minute, so that a line that comes back is used soon.
constexpr DWORD RETRY_PAUSES_S[] = {1, 2, 4, 8, 15, 30};
constexpr size_t RETRY_PAUSE_COUNT = sizeof RETRY_PAUSES_S / sizeof RETRY_PAUSES_S[0];

// The pause after `failures` attempts in a row that brought nothing
// (1 for the first failure).
constexpr DWORD retry_pause_s(uint32_t failures) {
    const size_t index = failures == 0 ? 0 : failures - 1;
    return RETRY_PAUSES_S[index < RETRY_PAUSE_COUNT ? index : RETRY_PAUSE_COUNT - 1];
}

}  // namespace app
