// This build's own release number: the one place it is written. The update
// check compares it with the update manifest's, its user agent announces it,
// and the window's header shows it. The number is a plain preprocessor
// definition so that a resource script and CMake (which reads it into the
// variable TUNDRA_INSTALLER_RELEASE) can take it from here as well; a test
// build may define it to stand for another release.
#pragma once

#ifndef TUNDRA_INSTALLER_RELEASE
#define TUNDRA_INSTALLER_RELEASE 5
#endif

#define TUNDRA_RELEASE_TEXT_OF(number) #number
#define TUNDRA_RELEASE_TEXT(number) TUNDRA_RELEASE_TEXT_OF(number)
// "5", as a narrow string literal.
#define TUNDRA_INSTALLER_RELEASE_TEXT TUNDRA_RELEASE_TEXT(TUNDRA_INSTALLER_RELEASE)

#ifdef __cplusplus
#include <cstdint>

namespace release {

constexpr uint32_t INSTALLER_RELEASE = TUNDRA_INSTALLER_RELEASE;

// The words in front of the number in the update check's user agent. The
// release tool looks for them, followed by the number, in an executable to
// learn which release it is.
constexpr char RELEASE_AGENT_PREFIX[] = "Tundra USB Installer release ";

}  // namespace release
#endif
