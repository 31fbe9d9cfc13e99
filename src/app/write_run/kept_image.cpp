#include "app/write_run/kept_image.h"

#include <cstring>

#include "app/write_run_hooks.h"

namespace app {
namespace {

// Written by the worker at the end of its run, and read by the next run's
// worker or by the window once no run is going: never two at once.
struct KeptImage {
    HANDLE file = INVALID_HANDLE_VALUE;
    uint64_t size = 0;
    uint8_t sha256[release::SHA256_BYTES] = {};
};
KeptImage kept;

}  // namespace

bool kept_image_matches(const release::ReleaseManifest& release) {
    return kept.file != INVALID_HANDLE_VALUE && kept.size == release.image_size &&
           memcmp(kept.sha256, release.image_sha256, release::SHA256_BYTES) == 0;
}

HANDLE take_kept_image() {
    const HANDLE file = kept.file;
    kept = {};
    return file;
}

void keep_image(HANDLE file, const release::ReleaseManifest& release) {
    forget_kept_image();
    kept.file = file;
    kept.size = release.image_size;
    memcpy(kept.sha256, release.image_sha256, release::SHA256_BYTES);
}

void forget_kept_image() {
    // Its last handle: closing it deletes the file.
    if (kept.file != INVALID_HANDLE_VALUE)
        (void)sys::CloseHandle(kept.file);
    kept = {};
}

}  // namespace app
