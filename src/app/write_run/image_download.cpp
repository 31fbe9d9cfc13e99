#include "app/write_run/image_download.h"

#include <cstring>

#include "app/app_messages.h"
#include "app/window/app_state.h"
#include "app/write_run/download_estimate.h"
#include "app/write_run/download_room.h"
#include "app/write_run/retry_policy.h"
#include "hash/sha256.h"
#include "release/https_url.h"
#include "release/image_request.h"
#include "run/run_inputs.h"

namespace app {
namespace {

using release::ImageAnswer;
using release::ReleaseManifest;

// A pause is cut into slices so that a stop ends it at once.
constexpr DWORD PAUSE_SLICE_MS = 100;

// One download at a time, so static.
struct DownloadState {
    uint8_t chunk[IMAGE_CHUNK_BYTES];
    hash::Sha256 digest;
    release::ImageValidator validator;
    DownloadEstimate estimate;
    uint64_t received;
    uint64_t taken;  // every byte kept, over all attempts and starts
    uint64_t last_percent;
    ULONGLONG last_amount_post_ms;
    ULONGLONG last_byte_ms;  // when the last byte came, or the download began
    bool host_answered;      // the host has sent the image's first answer
};
DownloadState state;

// How an attempt ended.
enum class Attempt : uint8_t {
    complete,  // the body ended with every announced byte
    broken,    // try again: no answer, a refused range, a failed read, a short or long body
    final,     // no use trying again: see `end`
};

void post(UINT message, WPARAM wparam, LPARAM lparam) {
    (void)sys::PostMessageW(app_state.hwnd_main, message, wparam, lparam);
}

bool stop_requested() {
    return run::run_inputs.stop_requested.load(std::memory_order_relaxed);
}

// The amount and the time left, at most once a second and with every new
// percentage, and the percentage itself when it changes.
void post_progress(uint64_t size, bool restarted) {
    const ULONGLONG now = sys::GetTickCount64();
    const uint64_t percent = state.received * 100 / size;
    const bool new_percent = percent != state.last_percent || restarted;
    const uint64_t left = estimate_seconds_left(state.estimate, now, state.received, size);
    if (new_percent || now - state.last_amount_post_ms >= ESTIMATE_SAMPLE_MS) {
        const LPARAM time_left =
            left == ESTIMATE_UNKNOWN ? DOWNLOAD_TIME_UNKNOWN : static_cast<LPARAM>(left);
        post(APP_MSG_DOWNLOAD_AMOUNT, state.received, time_left);
        state.last_amount_post_ms = now;
    }
    if (new_percent) {
        post(APP_MSG_PROGRESS, percent, 0);
        state.last_percent = percent;
    }
}

// The host sends the file from its start again: what came is no longer
// part of it.
bool start_over(HANDLE file, uint64_t size) {
    hash::sha256_init(state.digest);
    const bool had_bytes = state.received != 0;
    state.received = 0;
    estimate_restart(state.estimate, sys::GetTickCount64(), 0);
    LARGE_INTEGER start{};
    if (!sys::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !sys::SetEndOfFile(file))
        return false;
    if (had_bytes)
        post_progress(size, true);
    return true;
}

// Takes one chunk into the digest and the file. False when the file
// cannot take it, which no new attempt mends.
bool keep_chunk(HANDLE file, DWORD got, DownloadEnd& end) {
    hash::sha256_update(state.digest, state.chunk, got);
    DWORD written = 0;
    if (!sys::WriteFile(file, state.chunk, got, &written, nullptr)) {
        end =
            is_disk_full_error(sys::GetLastError()) ? DownloadEnd::disk_full : DownloadEnd::failed;
        return false;
    }
    if (written != got) {
        end = DownloadEnd::failed;
        return false;
    }
    state.received += got;
    state.taken += got;
    state.last_byte_ms = sys::GetTickCount64();
    return true;
}

Attempt read_body(HINTERNET request, HANDLE file, uint64_t size, DownloadEnd& end) {
    for (;;) {
        DWORD got = 0;
        if (!sys::WinHttpReadData(request, state.chunk, IMAGE_CHUNK_BYTES, &got))
            return Attempt::broken;
        if (got == 0)
            return state.received == size ? Attempt::complete : Attempt::broken;
        // More than announced: the chunk is not kept, and the next attempt
        // asks again from the last byte that is.
        if (got > IMAGE_CHUNK_BYTES || size - state.received < got)
            return Attempt::broken;
        if (!keep_chunk(file, got, end))
            return Attempt::final;
        post_progress(size, false);
        if (stop_requested()) {
            end = DownloadEnd::stopped;
            return Attempt::final;
        }
    }
}

Attempt attempt(const release::UrlParts& url, const ReleaseManifest& release,
                OpenImageFile open_file, HANDLE& file, DownloadEnd& end) {
    release::ImageResponse response =
        release::http_open_image_get(url.host, url.path, IMAGE_RECEIVE_TIMEOUT_MS, state.received,
                                     release.image_size, state.validator);
    end = DownloadEnd::failed;
    // The host's first answer says whether it has the image at all: one
    // that refuses it (a missing file) is not a broken connection.
    if (response.answer == ImageAnswer::none)
        return Attempt::broken;
    if (response.answer == ImageAnswer::refused)
        return state.host_answered ? Attempt::broken : Attempt::final;
    state.host_answered = true;
    if (file == INVALID_HANDLE_VALUE)
        file = open_file();
    Attempt result = Attempt::final;
    const bool from_start = response.answer == ImageAnswer::whole && state.received != 0;
    if (file != INVALID_HANDLE_VALUE && (!from_start || start_over(file, release.image_size))) {
        estimate_restart(state.estimate, sys::GetTickCount64(), state.received);
        result = read_body(response.stream.request, file, release.image_size, end);
    }
    release::close_http_stream(response.stream);
    return result;
}

// Waits `pause_s` before the next attempt, telling the window each second
// how long is left. False when the run is asked to stop meanwhile.
bool pause_before_retry(DWORD pause_s) {
    const ULONGLONG until = sys::GetTickCount64() + pause_s * 1000ull;
    uint64_t last_posted = UINT64_MAX;
    for (;;) {
        if (stop_requested())
            return false;
        const ULONGLONG now = sys::GetTickCount64();
        if (now >= until)
            return true;
        const uint64_t seconds_left = (until - now + 999) / 1000;
        if (seconds_left != last_posted) {
            post(APP_MSG_DOWNLOAD_RETRY, seconds_left, 0);
            last_posted = seconds_left;
        }
        const ULONGLONG slice = until - now < PAUSE_SLICE_MS ? until - now : PAUSE_SLICE_MS;
        sys::Sleep(static_cast<DWORD>(slice));
    }
}

DownloadEnd verify(HANDLE file, const ReleaseManifest& release) {
    uint8_t digest[release::SHA256_BYTES];
    const bool good = hash::sha256_final(state.digest, digest) &&
                      state.received == release.image_size &&
                      memcmp(digest, release.image_sha256, release::SHA256_BYTES) == 0 &&
                      sys::FlushFileBuffers(file) != FALSE;
    return good ? DownloadEnd::verified : DownloadEnd::failed;
}

void begin(uint64_t size) {
    hash::sha256_init(state.digest);
    state.validator = {};
    state.received = 0;
    state.taken = 0;
    state.last_percent = 0;
    state.host_answered = false;
    state.last_byte_ms = sys::GetTickCount64();
    state.last_amount_post_ms = state.last_byte_ms;
    estimate_restart(state.estimate, state.last_byte_ms, 0);
    app_state.download_size_bytes = size;
}

}  // namespace

DownloadEnd download_image(const ReleaseManifest& release, OpenImageFile open_file, HANDLE& file) {
    const release::UrlParts url = release::parse_https_url(release.image_url);
    if (!url.ok || release.image_size == 0)
        return DownloadEnd::failed;
    begin(release.image_size);
    uint32_t failures = 0;
    for (;;) {
        const uint64_t before = state.taken;
        DownloadEnd end = DownloadEnd::failed;
        const Attempt result = attempt(url, release, open_file, file, end);
        if (result == Attempt::complete)
            return verify(file, release);
        if (result == Attempt::final)
            return end;
        if (sys::GetTickCount64() - state.last_byte_ms >= STALL_LIMIT_MS)
            return DownloadEnd::failed;
        failures = state.taken > before ? 1 : failures + 1;
        if (!pause_before_retry(retry_pause_s(failures)))
            return DownloadEnd::stopped;
    }
}

}  // namespace app
