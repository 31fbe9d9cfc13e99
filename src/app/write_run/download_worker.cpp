#include "app/write_run/download_worker.h"

#include <cstring>
#include <optional>

#include "app/app_messages.h"
#include "app/wide_path.h"
#include "app/window/app_state.h"
#include "app/write_run/download_room.h"
#include "app/write_run/image_download.h"
#include "app/write_run/kept_image.h"
#include "app/write_run/write_progress_posts.h"
#include "engine/image_digest.h"
#include "engine/runs/write_stick.h"
#include "hash/sha256.h"
#include "release/https_fetch.h"
#include "release/https_url.h"
#include "release/manifest.h"
#include "release/release_site.h"
#include "text/number_format.h"

namespace app {
namespace {

using release::close_http_stream;
using release::DOWNLOAD_HOST;
using release::DOWNLOAD_HOST_LENGTH;
using release::http_open_get;
using release::HttpStream;
using release::parse_release_manifest;
using release::ReleaseManifest;
using release::SHA256_BYTES;
using release::verify_signed_text;

constexpr size_t FILE_NAME_BYTES = 64;
// The temporary folder must leave room for the file name.
constexpr DWORD TEMP_FOLDER_LIMIT_UNITS = WIDE_PATH_UNITS - FILE_NAME_BYTES;

// The worker's buffers: one run at a time, so static.
struct WorkerBuffers {
    uint8_t manifest[RELEASE_MANIFEST_BUFFER_BYTES];
    WidePath temp_path;
    char file_name[FILE_NAME_BYTES];
};
WorkerBuffers buffers;

struct ResultText {
    const char* bytes = nullptr;  // none on success
    uint64_t length = 0;
};

template <size_t N>
constexpr ResultText fixed_text(const char (&text)[N]) {
    return {text, N - 1};
}

void post_progress(uint64_t value) {
    (void)sys::PostMessageW(app_state.hwnd_main, app::APP_MSG_PROGRESS, value, 0);
}

// The body must stay below the buffer: a body that fills it is refused, and
// so is one still coming at the deadline.
bool read_manifest_body(HINTERNET request, uint64_t& length, ULONGLONG deadline) {
    length = 0;
    for (;;) {
        if (sys::GetTickCount64() > deadline)
            return false;
        const DWORD room = static_cast<DWORD>(RELEASE_MANIFEST_BUFFER_BYTES - length);
        DWORD got = 0;
        if (!sys::WinHttpReadData(request, buffers.manifest + length, room, &got))
            return false;
        if (got == 0)
            return true;
        if (got > room)
            return false;  // a layer below that claims more than it was given room for
        length += got;
        if (length >= RELEASE_MANIFEST_BUFFER_BYTES)
            return false;
    }
}

// The manifest's slices point into the static manifest buffer. One
// deadline covers the whole manifest, so that a host that drips its body a
// byte at a time cannot hold the run (and the window, which refuses to
// close while it runs) for long: each read is bounded by the receive
// timeout, and no read starts after the deadline.
std::optional<ReleaseManifest> fetch_release_manifest() {
    const ULONGLONG deadline = sys::GetTickCount64() + MANIFEST_DEADLINE_MS;
    HttpStream stream = http_open_get({DOWNLOAD_HOST, DOWNLOAD_HOST_LENGTH},
                                      {RELEASE_MANIFEST_PATH, sizeof RELEASE_MANIFEST_PATH - 1},
                                      MANIFEST_RECEIVE_TIMEOUT_MS);
    if (!stream.ok)
        return std::nullopt;
    uint64_t length = 0;
    const bool complete = read_manifest_body(stream.request, length, deadline);
    close_http_stream(stream);
    if (!complete)
        return std::nullopt;
    const auto text = verify_signed_text({reinterpret_cast<const char*>(buffers.manifest), length});
    if (!text)
        return std::nullopt;
    return parse_release_manifest(*text);
}

// The user's temporary folder, ending in a backslash.
bool user_temp_folder(WidePath& path) {
    const DWORD folder = sys::GetTempPathW(WIDE_PATH_UNITS, path.units);
    if (folder == 0 || folder >= TEMP_FOLDER_LIMIT_UNITS)
        return false;
    path.length = folder;
    return true;
}

// The Temp folder of the Windows folder, ending in a backslash: a folder of
// this machine's own system volume.
bool windows_temp_folder(WidePath& path) {
    static const char TEMP[] = "Temp\\";
    const UINT folder = sys::GetWindowsDirectoryW(path.units, TEMP_FOLDER_LIMIT_UNITS);
    if (folder == 0 || folder >= TEMP_FOLDER_LIMIT_UNITS - sizeof TEMP)
        return false;
    path.length = folder;
    if (path.units[path.length - 1] != '\\')
        path.units[path.length++] = '\\';
    for (size_t i = 0; TEMP[i] != 0; ++i)
        path.units[path.length++] = static_cast<WCHAR>(TEMP[i]);
    path.units[path.length] = 0;
    return true;
}

// Appends "tundra-installer-{pid}-{tick}.img" to the folder in `path`,
// both numbers in lower-case hexadecimal.
void append_temp_name(WidePath& path) {
    text::TextWriter name(buffers.file_name, FILE_NAME_BYTES);
    text::compose(name, TEMP_FILE_PREFIX, text::LowerHex{sys::GetCurrentProcessId()}, "-",
                  text::LowerHex{sys::GetTickCount64()}, ".img");
    for (size_t i = 0; i < name.length(); ++i)
        path.units[path.length + i] =
            static_cast<WCHAR>(static_cast<unsigned char>(name.data()[i]));
    path.length += name.length();
    path.units[path.length] = 0;
}

// Whether the file lies on a volume of this machine. A share's server (and
// its other clients) need not honour this process's share modes, which keep
// the image as its digest was checked; a redirector answers the remote
// protocol query, a local file system refuses it. A file whose volume
// cannot say what it is is not vouched for either.
bool on_local_volume(HANDLE file) {
    FILE_REMOTE_PROTOCOL_INFO remote{};
    if (sys::GetFileInformationByHandleEx(file, FileRemoteProtocolInfo, &remote, sizeof remote))
        return false;
    DWORD flags = 0;
    return sys::GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr,
                                              0) != FALSE;
}

// A new file in the folder that `path` holds, on a local volume. The folder
// may be one that the unelevated user controls (and could turn into a
// junction during the download), so the file is never reached by its name
// again: Windows deletes it when its last handle closes, even when the
// process is killed, and the engine reads it through this handle. It
// shares reading only: nobody but this handle can write the image, which so
// stays as its digest was checked.
HANDLE create_temp_image(WidePath& path) {
    append_temp_name(path);
    HANDLE file =
        sys::CreateFileW(path.units, GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE || on_local_volume(file))
        return file;
    (void)sys::CloseHandle(file);  // which deletes it
    return INVALID_HANDLE_VALUE;
}

// In the user's temporary folder, or, when that one does not give a local
// file, in the Windows folder's.
HANDLE open_temp_image(WidePath& path) {
    HANDLE file = user_temp_folder(path) ? create_temp_image(path) : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE && windows_temp_folder(path))
        file = create_temp_image(path);
    return file;
}

// A failed download says why when the drive is full; any other failure
// is the network's or the server's.
ResultText download_failure_text(DownloadEnd end, uint64_t image_bytes) {
    if (end != DownloadEnd::disk_full)
        return fixed_text(TEXT_NOT_DOWNLOADED);
    const text::ByteText text = no_room_text(image_bytes);
    return {text.data, text.length};
}

// Refused before any byte of the image is asked for.
ResultText no_room_for_download(uint64_t image_bytes) {
    const text::ByteText text = no_room_text(image_bytes);
    return {text.data, text.length};
}

// Disk and network activity do not count as activity on Windows: without
// this the PC may sleep in the middle of a download or a write. The state
// belongs to this thread and goes with it, but is cleared before the result
// is posted, so that no run ever ends with the system held awake.
void keep_system_awake() {
    (void)sys::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

void let_system_sleep() {
    (void)sys::SetThreadExecutionState(ES_CONTINUOUS);
}

// The temporary file, made once the host has begun to send the image.
HANDLE open_temp_file() {
    return open_temp_image(buffers.temp_path);
}

// The desktop's fixed options: the whole image written fresh (only the
// pieces that differ reach the stick), bootable, everything read back, no
// Wi-Fi networks and no logs carried. The serial is read in place from the
// stick list, which the busy window keeps unchanged.
engine::WriteOptions desktop_options(const ReleaseManifest& release,
                                     const discovery::StickRecord& stick, HANDLE temp_file) {
    engine::WriteOptions options;
    options.image_path = {buffers.temp_path.units, buffers.temp_path.length};
    options.image_file = temp_file;
    options.serial = {stick.serial, static_cast<size_t>(stick.serial_len)};
    options.required_model = {};
    options.logs_dir = {};
    options.target_file = {};
    options.keep_guid_count = 0;
    options.max_gb = 256;
    options.expected_stick = stick;
    options.has_expected_stick = true;
    options.chunk_bytes = 1048576;
    options.queue_depth = 4;
    options.read_back_all = true;
    options.full = false;
    options.dry_run = false;
    options.other_machine = false;
    options.fresh = true;
    memcpy(options.expected_sha256, release.image_sha256, SHA256_BYTES);
    options.has_expected_sha256 = true;
    return options;
}

engine::Result run_engine(const engine::WriteOptions& options) {
    WriteProgressPosts posts;
    run::run_inputs.progress_observer = post_write_progress;
    run::run_inputs.progress_context = &posts;
    const engine::Result result = engine::write_stick(options);
    run::run_inputs.progress_observer = nullptr;
    run::run_inputs.progress_context = nullptr;
    return result;
}

ResultText write_image(const ReleaseManifest& release, const discovery::StickRecord& stick,
                       HANDLE temp_file) {
    post_progress(app::PROGRESS_WRITING);
    LARGE_INTEGER frequency{};
    // Without a frequency the engine shows durations as 0; the write goes on.
    if (!sys::QueryPerformanceFrequency(&frequency))
        frequency.QuadPart = 0;
    run::run_inputs.perf_frequency = frequency.QuadPart;
    run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (run::run_inputs.disk_io_event == nullptr)
        return fixed_text(TEXT_NOT_PREPARED);
    const engine::Result result = run_engine(desktop_options(release, stick, temp_file));
    (void)sys::CloseHandle(run::run_inputs.disk_io_event);
    run::run_inputs.disk_io_event = nullptr;
    if (result == engine::Result::Success)
        return {};
    const text::ByteText reason = engine::failure_reason();
    return {reason.data, reason.length};
}

// The image of a run: the file the run holds, and whether its bytes are
// the release's, checked as they came.
struct RunImage {
    HANDLE file = INVALID_HANDLE_VALUE;
    bool verified = false;
};

ResultText download_and_write(const discovery::StickRecord& stick,
                              std::optional<ReleaseManifest>& release, RunImage& image) {
    release = fetch_release_manifest();
    if (!release)
        return fixed_text(TEXT_NO_RELEASE);
    if (release->image_size > stick.size_bytes)
        return fixed_text(TEXT_STICK_TOO_SMALL);
    if (kept_image_matches(*release)) {
        image.file = take_kept_image();
        image.verified = true;
        post_progress(app::PROGRESS_KEPT_IMAGE);
        return write_image(*release, stick, image.file);
    }
    // Another image: the one kept is of no more use, and its room may be
    // needed for the new one.
    forget_kept_image();
    if (!temp_drive_has_room(release->image_size))
        return no_room_for_download(release->image_size);
    const DownloadEnd end = download_image(*release, open_temp_file, image.file);
    if (end != DownloadEnd::verified)
        return download_failure_text(end, release->image_size);
    image.verified = true;
    return write_image(*release, stick, image.file);
}

// The image is kept for a next write unless the engine found it changed.
bool worth_keeping(const RunImage& image, const ResultText& result) {
    constexpr size_t length = sizeof engine::IMAGE_NOT_VERIFIED_TEXT - 1;
    const bool image_refused = result.length == length &&
                               memcmp(result.bytes, engine::IMAGE_NOT_VERIFIED_TEXT, length) == 0;
    return image.verified && !image_refused && !run::run_inputs.stop_requested;
}

}  // namespace

DWORD WINAPI download_and_write_thread(LPVOID) {
    keep_system_awake();
    const discovery::StickList& list = app_state.sticks;
    std::optional<ReleaseManifest> release;
    RunImage image;
    // The window starts the worker only with a stick chosen.
    const ResultText result =
        list.selected_stick.has_value() && *list.selected_stick < list.stick_count
            ? download_and_write(list.sticks[*list.selected_stick], release, image)
            : fixed_text(TEXT_NOT_PREPARED);
    if (image.file != INVALID_HANDLE_VALUE) {
        if (release && worth_keeping(image, result))
            keep_image(image.file, *release);
        else
            (void)sys::CloseHandle(image.file);  // its last handle: which deletes it
    }
    let_system_sleep();
    app_state.result_text_length = result.length;
    (void)sys::PostMessageW(app_state.hwnd_main, app::APP_MSG_WRITE_RESULT, 0,
                            reinterpret_cast<LPARAM>(result.bytes));
    return 0;
}

}  // namespace app
