// A simulated machine described in a small text file, for test builds of
// the installer that run as whole programs (the GUI tests). One setting per
// line; '#' starts a comment:
//
//   elevated yes|no
//   system-disk N
//   stick N VENDOR PRODUCT SERIAL SIZE_BYTES [FILE]
//
// Words are separated by blanks, so no word (a FILE included) can hold a
// blank or a '#'. With FILE the stick's bytes live in that file: it is
// created when missing and extended when shorter than SIZE_BYTES, sparse
// either way, so a stick of many GB costs only what is written to it. FILE
// is a path of the build that reads the description: a Windows path such as
// Z:\tmp\stick.img in the Windows build. Without FILE the stick is blank and
// held in memory, and nothing can be written to it.
//
// Only test builds read it, from the file named by TUNDRA_SIM_DESCRIPTION.
#pragma once

#include <string>

#include "sim/sim_machine.h"

namespace sim {

constexpr const char* DESCRIPTION_VARIABLE = "TUNDRA_SIM_DESCRIPTION";

// Applies the description to `machine`; false with `error` naming the line
// that could not be read.
bool apply_description(Machine& machine, const std::string& text, std::string& error);

// Reads the file at `path` and applies it.
bool load_description(Machine& machine, const std::string& path, std::string& error);

}  // namespace sim
