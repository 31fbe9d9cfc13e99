// Which release an installer executable is. Every build carries its number
// in the user agent of its update check, "Tundra USB Installer release N",
// stored in the executable as UTF-16 (little-endian) text; the tool reads it
// from there rather than trusting what the publisher types.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

// No installer in the field is older than this (the first release that
// shipped), and an installer takes only an update above its own release:
// an update must announce more.
constexpr uint32_t OLDEST_FIELD_RELEASE = 5;

// The release number that the executable's bytes carry. False with `error`
// when they carry none, or more than one different number.
bool installer_release_of(const std::vector<uint8_t>& exe, const std::string& name,
                          uint32_t& release, std::string& error);

// Reads the executable and checks that it is the release that its update
// manifest announces: a build that is not would be downloaded, started and
// would find the same release announced above its own, by every installer
// again and again.
bool check_exe_is_release(const std::string& path, uint32_t announced, std::string& error);

}  // namespace tool
