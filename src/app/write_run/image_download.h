// The image download, which survives real networks: when a read fails, the
// connection drops or stalls past the receive timeout, or the body ends
// short, it asks the host again for the rest of the same file, after a
// pause that grows while attempts keep failing, and gives up only when
// attempts have brought no byte for STALL_LIMIT_MS (retry_policy.h). The
// received bytes stay in the file and in the running digest; a host that
// answers with the whole file instead (it ignores ranges, or the file has
// changed) starts the file and the digest over. The final check alone
// judges the bytes: exactly the manifest's size, with its SHA-256.
#pragma once

#include <cstdint>

#include "release/manifest.h"
#include "sys/sys.h"

namespace app {

constexpr uint64_t IMAGE_CHUNK_BYTES = 65536;
constexpr DWORD IMAGE_RECEIVE_TIMEOUT_MS = 20000;

enum class DownloadEnd : uint8_t {
    verified,   // every byte, the manifest's digest, and on the disk
    failed,     // the host, the network or the digest
    disk_full,  // the temporary file's drive filled up
    stopped,    // the run was asked to stop
};

// Makes the temporary file once the host has begun to send the image;
// INVALID_HANDLE_VALUE when it cannot.
using OpenImageFile = HANDLE (*)();

// Downloads the release's image into the file that `open_file` makes,
// which `file` then holds (the caller's to close, in every outcome).
// Posts APP_MSG_PROGRESS, APP_MSG_DOWNLOAD_AMOUNT and, while it waits to
// try again, APP_MSG_DOWNLOAD_RETRY.
DownloadEnd download_image(const release::ReleaseManifest& release, OpenImageFile open_file,
                           HANDLE& file);

}  // namespace app
