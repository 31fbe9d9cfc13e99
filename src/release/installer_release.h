// This build's own release number, which the update check compares with the
// update manifest's and which its user agent announces.
#pragma once

#include <cstdint>

namespace release {

constexpr uint32_t INSTALLER_RELEASE = 5;

}  // namespace release
