// Manifest files read back and checked as the installer will check them,
// against a public key that the publisher gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "release/manifest.h"

namespace tool {

// A manifest file read and checked. The body stays alive beside the
// record, whose slices point into it.
struct CheckedRelease {
    std::vector<uint8_t> body;
    release::ReleaseManifest manifest;
};
struct CheckedUpdate {
    std::vector<uint8_t> body;
    release::UpdateManifest manifest;
};

bool check_release(const uint8_t (&key)[32], const std::string& path, CheckedRelease& out,
                   std::string& error);
bool check_update(const uint8_t (&key)[32], const std::string& path, CheckedUpdate& out,
                  std::string& error);

// The file has the size and SHA-256 that its manifest states.
bool file_matches(const std::string& path, uint64_t size, const uint8_t (&sha256)[32],
                  std::string& error);

std::string str(text::ByteText t);

}  // namespace tool
