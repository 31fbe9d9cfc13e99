#pragma once

#include <cstdint>

#include "engine/run_names.h"
#include "engine/write_options.h"

namespace engine {

// The failure reason of an image whose bytes are not the expected ones.
constexpr char IMAGE_NOT_VERIFIED_TEXT[] = "Tundra image verification failed. Download it again.";

// The failure of a SHA-256 that could not be computed; `what` names the
// bytes.
Result fail_for_no_digest(const char* what);

// Reads the whole image and compares its SHA-256 with the expected one.
Result check_image_digest(const DiskRegion& image, const uint8_t expected_sha256[32]);

// The image range's digest when it is certain without reading the range:
// the image was opened without write sharing (which `has_expected_sha256`
// decides), its whole-file digest was checked, and the range is exactly the
// whole file, from its first byte to its last. Null otherwise: a range
// shorter than the file, or starting past its first byte, is other bytes.
const uint8_t* known_range_digest(const WriteOptions& options, uint64_t range_start,
                                  uint64_t range_length, uint64_t image_size);

// Whether nobody can write the image while the run holds it, so that every
// pass over a range reads the same bytes.
bool image_is_fixed(const WriteOptions& options);

}  // namespace engine
