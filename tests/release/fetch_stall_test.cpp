// Servers that stall: every fetch must give up within its timeouts.
#include <gtest/gtest.h>

#include "fetch_test_support.h"
#include "release/https_fetch.h"

namespace {

using namespace fetch_test;

uint8_t body[4096];

// Generous bounds: what matters is that the call ends by itself, long before
// the 120 s that the stalling server would hold it.
constexpr ULONGLONG UPDATE_BOUND_MS = 3500 + 5000;
constexpr ULONGLONG STREAM_BOUND_MS = 1000 + 5000;

struct Stopwatch {
    ULONGLONG start = GetTickCount64();
    ULONGLONG elapsed() const { return GetTickCount64() - start; }
};

TEST(StalledServer, NoHeadersEndsTheUpdateFetch) {
    Stopwatch watch;
    EXPECT_FALSE(get(L"/test/stall-headers", body, sizeof body, 60000).ok);
    EXPECT_LT(watch.elapsed(), UPDATE_BOUND_MS);
}

TEST(StalledServer, NoHeadersEndsHttpOpenGet) {
    WinHttpRecorder recorder;
    Stopwatch watch;
    EXPECT_FALSE(release::http_open_get(view("localhost"), view("/test/stall-headers"), 1000).ok);
    EXPECT_LT(watch.elapsed(), STREAM_BOUND_MS);
    EXPECT_EQ(recorder.open_handles(), 0);
}

TEST(StalledServer, StalledBodyEndsTheUpdateFetch) {
    Stopwatch watch;
    EXPECT_FALSE(get(L"/test/stall-body", body, sizeof body, 60000).ok);
    EXPECT_LT(watch.elapsed(), UPDATE_BOUND_MS);
}

TEST(StalledServer, StalledBodyEndsAStreamRead) {
    release::HttpStream s =
        release::http_open_get(view("localhost"), view("/test/stall-body"), 1000);
    ASSERT_TRUE(s.ok);
    Stopwatch watch;
    BOOL read_ok = TRUE;
    DWORD got = 1;
    // Reads end with the first piece, then fail once the server stops.
    for (int i = 0; i < 4 && read_ok && got > 0; ++i) {
        read_ok = sys::WinHttpReadData(s.request, body, sizeof body, &got);
    }
    EXPECT_FALSE(read_ok);
    EXPECT_LT(watch.elapsed(), STREAM_BOUND_MS);
    sys::WinHttpCloseHandle(s.request);
    sys::WinHttpCloseHandle(s.connection);
    sys::WinHttpCloseHandle(s.session);
}

TEST(StalledServer, NoTlsHandshakeEndsHttpOpenGet) {
    SilentServer silent("127.0.0.2");
    ASSERT_TRUE(silent.listening());
    Stopwatch watch;
    EXPECT_FALSE(release::http_open_get(view("127.0.0.2"), view("/"), 1000).ok);
    EXPECT_LT(watch.elapsed(), STREAM_BOUND_MS);
}

TEST(StalledServer, NoTlsHandshakeEndsTheUpdateConnection) {
    SilentServer silent("127.0.0.3");
    ASSERT_TRUE(silent.listening());
    release::UpdateConnection c = release::open_update_connection(L"127.0.0.3");
    ASSERT_TRUE(c.ok);
    Stopwatch watch;
    EXPECT_FALSE(
        release::http_get_to_buffer(c.connection, L"/", body, sizeof body, GetTickCount64() + 60000)
            .ok);
    EXPECT_LT(watch.elapsed(), UPDATE_BOUND_MS);
    release::close_update_connection(c);
}

}  // namespace
