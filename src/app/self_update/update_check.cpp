#include "app/self_update/update_check.h"

#include "app/app_messages.h"
#include "app/window/app_state.h"
#include "release/https_fetch.h"
#include "release/installer_release.h"
#include "release/manifest.h"

namespace app {
namespace {

using release::close_update_connection;
using release::DOWNLOAD_HOST_W;
using release::FetchResult;
using release::http_get_to_buffer;
using release::INSTALLER_RELEASE;
using release::MAX_EXE_BYTES;
using release::MAX_UPDATE_MANIFEST_BYTES;
using release::open_update_connection;
using release::parse_update_manifest;
using release::sha256_matches;
using release::UpdateConnection;
using release::verify_signed_text;

static_assert(UPDATE_MANIFEST_BUFFER_BYTES == MAX_UPDATE_MANIFEST_BYTES + 1);
static_assert(app::UPDATE_BUFFER_BYTES == MAX_EXE_BYTES + 1,
              "the largest executable a manifest may announce, and one byte more");

// One check per process: the manifest's body lives here while it is read.
uint8_t manifest_body[UPDATE_MANIFEST_BUFFER_BYTES];

// Fetches and verifies the manifest and, when it announces a newer build,
// the executable. True with update_length set when the buffer holds it.
bool fetch_newer_build(HINTERNET connection) {
    const ULONGLONG deadline = sys::GetTickCount64() + UPDATE_DEADLINE_MS;
    const FetchResult manifest = http_get_to_buffer(connection, UPDATE_MANIFEST_PATH, manifest_body,
                                                    sizeof manifest_body, deadline);
    if (!manifest.ok)
        return false;
    const auto text = verify_signed_text(
        {reinterpret_cast<const char*>(manifest_body), static_cast<size_t>(manifest.length)});
    if (!text)
        return false;
    const auto update = parse_update_manifest(*text);
    if (!update || update->release <= INSTALLER_RELEASE)
        return false;
    // A body longer than announced fills the buffer up to the extra byte and
    // is refused there; exe_size is at most MAX_EXE_BYTES, so this fits.
    const FetchResult exe = http_get_to_buffer(connection, UPDATE_EXE_PATH, app_state.update_buffer,
                                               update->exe_size + 1, deadline);
    if (!exe.ok ||
        !sha256_matches(app_state.update_buffer, exe.length, update->exe_size, update->exe_sha256))
        return false;
    app_state.update_length = exe.length;
    return true;
}

}  // namespace

DWORD WINAPI update_check_thread(LPVOID) {
    bool ready = false;
    UpdateConnection connection = open_update_connection(DOWNLOAD_HOST_W);
    if (connection.ok) {
        ready = fetch_newer_build(connection.connection);
        close_update_connection(connection);
    }
    app_state.update_ready = ready;
    (void)sys::PostMessageW(app_state.hwnd_main, app::APP_MSG_UPDATE_RESULT, 0, 0);
    return 0;
}

}  // namespace app
