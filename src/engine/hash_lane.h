// The run's hashing beside its transfers. The transfer thread hands each
// piece it has finished with (a slot's buffer, as it lies there) to a thread
// of the run's own that feeds it to its digests, in the order handed, while
// further transfers are in flight. A buffer is filled again only once that
// thread is done with it.
//
// Outside a run that started the thread, and in a run where it could not be
// made, every piece is hashed on the spot by the thread that hands it over:
// the digests are the same, only not computed beside the transfers.
#pragma once

#include <cstdint>

#include "engine/run_names.h"

namespace engine {

// The digests a piece can go into; a piece may go into several at once.
constexpr uint8_t DIGEST_FILE = 1;   // the whole image file, for its check
constexpr uint8_t DIGEST_RANGE = 2;  // the image's bytes of the plan's range
constexpr uint8_t DIGEST_STICK = 4;  // the stick's bytes of the plan's range

// Makes the thread, once for a run. When it cannot be made the run goes on
// and hashes on its own thread.
void start_hash_lane();

// Lets the thread go: it drops what it has not hashed yet and ends before
// this returns. Every run that started it calls this, whatever its end.
void stop_hash_lane();

// Starts the given digests anew; nothing may be on its way into them.
void begin_digests(uint8_t digests);

// Hands `length` bytes at `buffer` over for `digests`. The buffer is one of
// the slots' (EngineWorkspace) and stays untouched until await_buffer.
void hash_buffer(const uint8_t* buffer, uint32_t length, uint8_t digests);

// Whether every piece handed over from this buffer has been hashed.
bool buffer_hashed(const uint8_t* buffer);

// Waits until the buffer may be filled again.
void await_buffer(const uint8_t* buffer);

// Waits for every piece handed over, then gives the digest. False (the
// digest zeroed) when the platform's hash failed.
[[nodiscard]] bool end_digest(uint8_t digest, uint8_t sha256[32]);

}  // namespace engine
