// The page that the download host serves at /install: what the installer
// is, and where the current installer and the current Tundra release live.
// An installer that could not replace itself sends its user there.
#pragma once

#include <string>

#include "manifest_files.h"

namespace tool {

// The page for what the host announces; either manifest may be absent.
std::string install_page(const CheckedRelease* release, const CheckedUpdate* update);

}  // namespace tool
