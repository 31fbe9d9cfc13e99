#include "app/write_run/download_worker.h"

#include <cstring>
#include <optional>

#include "app/app_messages.h"
#include "app/wide_path.h"
#include "app/window/app_state.h"
#include "app/write_run/download_room.h"
#include "app/write_run/write_progress_posts.h"
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
using release::parse_https_url;
using release::parse_release_manifest;
using release::ReleaseManifest;
using release::SHA256_BYTES;
using release::UrlParts;
using release::verify_signed_text;

constexpr size_t FILE_NAME_BYTES = 64;
// The temporary folder must leave room for the file name.
constexpr DWORD TEMP_FOLDER_LIMIT_UNITS = WIDE_PATH_UNITS - FILE_NAME_BYTES;

// The worker's buffers: one run at a time, so static.
struct WorkerBuffers {
    uint8_t manifest[RELEASE_MANIFEST_BUFFER_BYTES];
    WidePath temp_path;
    char file_name[FILE_NAME_BYTES];
    uint8_t chunk[IMAGE_CHUNK_BYTES];
    hash::Sha256 digest;
};
WorkerBuffers buffers;

struct ResultText {
    const char* bytes = nullptr;  // none on success
    uint64_t length = 0;
};

// Set when a write of the download failed because the drive is full.
bool download_disk_full = false;

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

void note_write_failure(DWORD error) {
    download_disk_full = is_disk_full_error(error);
}

// A failed download says why when the drive is full; any other failure
// is the network's or the server's.
ResultText download_failure_text(uint64_t image_bytes) {
    if (!download_disk_full)
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

// Streams the body into the file, hashing each chunk on the way, and posts
// each change of the percentage. Good only when every announced byte came,
// no more, with the announced digest, and the file reached the disk.
bool stream_image(HINTERNET request, HANDLE file, const ReleaseManifest& release) {
    hash::sha256_init(buffers.digest);
    uint64_t received = 0;
    uint64_t last_percent = 0;
    const ULONGLONG deadline = sys::GetTickCount64() + IMAGE_DEADLINE_MS;
    for (;;) {
        DWORD got = 0;
        if (!sys::WinHttpReadData(request, buffers.chunk, IMAGE_CHUNK_BYTES, &got))
            return false;
        if (got == 0)
            break;
        if (got > IMAGE_CHUNK_BYTES || release.image_size - received < got)
            return false;
        hash::sha256_update(buffers.digest, buffers.chunk, got);
        DWORD written = 0;
        if (!sys::WriteFile(file, buffers.chunk, got, &written, nullptr)) {
            note_write_failure(sys::GetLastError());
            return false;
        }
        if (written != got)
            return false;
        received += got;
        const uint64_t percent = received * 100 / release.image_size;
        if (percent != last_percent) {
            post_progress(percent);
            last_percent = percent;
        }
        if (sys::GetTickCount64() > deadline || run::run_inputs.stop_requested)
            return false;
    }
    uint8_t digest[SHA256_BYTES];
    return hash::sha256_final(buffers.digest, digest) && received == release.image_size &&
           memcmp(digest, release.image_sha256, SHA256_BYTES) == 0 &&
           sys::FlushFileBuffers(file) != FALSE;
}

// The image into a new temporary file, whose handle `temp_file` the caller
// holds to the end of the run and whose closing deletes it.
bool download_image(const ReleaseManifest& release, HANDLE& temp_file) {
    const UrlParts url = parse_https_url(release.image_url);
    if (!url.ok)
        return false;
    HttpStream image = http_open_get(url.host, url.path, IMAGE_RECEIVE_TIMEOUT_MS);
    if (!image.ok)
        return false;
    temp_file = open_temp_image(buffers.temp_path);
    const bool good =
        temp_file != INVALID_HANDLE_VALUE && stream_image(image.request, temp_file, release);
    close_http_stream(image);
    return good;
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

ResultText download_and_write(const discovery::StickRecord& stick, HANDLE& temp_file) {
    const std::optional<ReleaseManifest> release = fetch_release_manifest();
    if (!release)
        return fixed_text(TEXT_NO_RELEASE);
    if (release->image_size > stick.size_bytes)
        return fixed_text(TEXT_STICK_TOO_SMALL);
    if (!temp_drive_has_room(release->image_size))
        return no_room_for_download(release->image_size);
    if (!download_image(*release, temp_file))
        return download_failure_text(release->image_size);
    return write_image(*release, stick, temp_file);
}

}  // namespace

DWORD WINAPI download_and_write_thread(LPVOID) {
    keep_system_awake();
    const discovery::StickList& list = app_state.sticks;
    HANDLE temp_file = INVALID_HANDLE_VALUE;
    download_disk_full = false;
    // The window starts the worker only with a stick chosen.
    const ResultText result =
        list.selected_stick.has_value() && *list.selected_stick < list.stick_count
            ? download_and_write(list.sticks[*list.selected_stick], temp_file)
            : fixed_text(TEXT_NOT_PREPARED);
    // The last handle of the temporary image: closing it deletes the file.
    if (temp_file != INVALID_HANDLE_VALUE)
        (void)sys::CloseHandle(temp_file);
    let_system_sleep();
    app_state.result_text_length = result.length;
    (void)sys::PostMessageW(app_state.hwnd_main, app::APP_MSG_WRITE_RESULT, 0,
                            reinterpret_cast<LPARAM>(result.bytes));
    return 0;
}

}  // namespace app
