// Measures how fast the installer's own fetch code brings a large body from
// the local download host through WinHTTP: http_open_get, then reads of
// 1 MiB, once with nothing else done and once hashing every piece with
// SHA-256; then as the download worker takes an image: its image request
// (which can resume), reads of 64 KiB, each hashed.
//   download_throughput PATH [ROUNDS]
#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "hash/sha256.h"
#include "release/https_fetch.h"
#include "release/image_request.h"
#include "release/release_site.h"

namespace {

constexpr DWORD RECEIVE_TIMEOUT_MS = 20000;
uint8_t piece[1 << 20];

double seconds_now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Bytes received, or -1 when the fetch failed.
long long fetch(const char* path, bool hash) {
    release::HttpStream s =
        release::http_open_get({release::DOWNLOAD_HOST, release::DOWNLOAD_HOST_LENGTH},
                               {path, std::strlen(path)}, RECEIVE_TIMEOUT_MS);
    if (!s.ok)
        return -1;
    static hash::Sha256 state;
    hash::sha256_init(state);
    long long total = 0;
    DWORD got = 0;
    BOOL ok = TRUE;
    while ((ok = sys::WinHttpReadData(s.request, piece, sizeof piece, &got)) && got > 0) {
        if (hash)
            hash::sha256_update(state, piece, got);
        total += got;
    }
    uint8_t digest[hash::SHA256_BYTES];
    (void)hash::sha256_final(state, digest);
    sys::WinHttpCloseHandle(s.request);
    sys::WinHttpCloseHandle(s.connection);
    sys::WinHttpCloseHandle(s.session);
    return ok ? total : -1;
}

// As the worker downloads the image, with no cut: one request, 64 KiB reads.
long long fetch_as_image(const char* path) {
    release::ImageValidator validator;
    release::ImageResponse r = release::http_open_image_get(
        {release::DOWNLOAD_HOST, release::DOWNLOAD_HOST_LENGTH}, {path, std::strlen(path)},
        RECEIVE_TIMEOUT_MS, 0, 0, validator);
    if (r.answer != release::ImageAnswer::whole)
        return -1;
    static hash::Sha256 state;
    hash::sha256_init(state);
    long long total = 0;
    DWORD got = 0;
    BOOL ok = TRUE;
    while ((ok = sys::WinHttpReadData(r.stream.request, piece, 65536, &got)) && got > 0) {
        hash::sha256_update(state, piece, got);
        total += got;
    }
    uint8_t digest[hash::SHA256_BYTES];
    (void)hash::sha256_final(state, digest);
    release::close_http_stream(r.stream);
    return ok ? total : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || sodium_init() < 0) {
        std::fprintf(stderr, "usage: download_throughput PATH [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    for (int mode : {0, 1, 2}) {
        const bool hash = mode != 0;
        for (int round = 1; round <= rounds; ++round) {
            const double start = seconds_now();
            const long long bytes = mode == 2 ? fetch_as_image(argv[1]) : fetch(argv[1], hash);
            const double elapsed = seconds_now() - start;
            if (bytes < 0) {
                std::fprintf(stderr, "download_throughput: the fetch failed\n");
                return 1;
            }
            std::printf("%s round %d: %lld bytes in %.2f s = %.1f MB/s\n",
                        mode == 2 ? "image request, 64 KiB reads, SHA-256"
                        : hash    ? "with SHA-256"
                                  : "transfer only",
                        round, bytes, elapsed,
                        static_cast<double>(bytes) / elapsed / 1e6);
            std::fflush(stdout);
        }
    }
    return 0;
}
