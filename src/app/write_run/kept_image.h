// The verified image stays with the window after a run, so that a second
// write (after a stick failed, or for another stick) needs no second
// download: the worker keeps the temporary file's handle, still
// delete-on-close and still shared for reading only. The next run uses it
// when the release names the same size and SHA-256 (the engine checks the
// digest again, as for any image); a release that names another image
// closes it, which deletes it, and so does closing the window.
#pragma once

#include <cstdint>

#include "release/manifest.h"
#include "sys/sys.h"

namespace app {

// Whether an image is kept, and it is the one `release` names.
bool kept_image_matches(const release::ReleaseManifest& release);

// Hands the kept file to the run, which holds it from now on.
HANDLE take_kept_image();

// Keeps `file`, a verified image of `release`, after the run.
void keep_image(HANDLE file, const release::ReleaseManifest& release);

}  // namespace app
