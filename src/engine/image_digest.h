#pragma once

#include <cstdint>

#include "engine/disk_region.h"

namespace engine {

// Reads the whole image and compares its SHA-256 with the expected one.
Result check_image_digest(const DiskRegion& image, const uint8_t expected_sha256[32]);

}  // namespace engine
