// The image's digests: its check against the expected SHA-256, the image
// bytes outside the compare's reads that the check needs, and when a range's
// digest can rest on the image staying as it is.
#pragma once

#include <cstdint>

#include "engine/run_names.h"
#include "engine/transfer.h"
#include "engine/write_options.h"

namespace engine {

// The failure reason of an image whose bytes are not the expected ones.
constexpr char IMAGE_NOT_VERIFIED_TEXT[] = "Tundra image verification failed. Download it again.";

// The failure of a SHA-256 that could not be computed; `what` names the
// bytes.
Result fail_for_no_digest(const char* what);

// The verdict on the digest of the whole image file: the expected one, or
// the run fails.
Result judge_image_digest(const uint8_t sha256[32], const uint8_t expected_sha256[32]);

// Reads the bytes of the image from `first` to `end` in pieces of the
// context's chunk, into the slots' image buffers in turn, and hands each to
// `digests` (hash_lane.h).
Result hash_image_span(const TransferContext& context, uint64_t first, uint64_t end,
                       uint8_t digests);

// For a run that failed before its compare gave the image's verdict: reads
// the whole image once, and when it is not the expected one, that becomes
// the reason, as when the check came before everything else. Otherwise (the
// image is right, or could not be read) the run's own reason stays.
void recheck_image_after_failure(const DiskRegion& image, const uint8_t expected_sha256[32]);

// Whether nobody can write the image while the run holds it, so that every
// pass over a range reads the same bytes.
bool image_is_fixed(const WriteOptions& options);

}  // namespace engine
