// Servers that stall: every fetch must give up within its timeouts, and
// leave no WinHTTP handle open.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "fetch_test_support.h"
#include "release/https_fetch.h"

namespace {

using namespace fetch_test;

uint8_t body[4096];

// The two ways the program fetches: the update check's whole-body fetch into
// a buffer (with its own deadline, here far away), and the worker's stream.
enum class Profile { UpdateFetch, Stream };

// Generous bounds: what matters is that the call ends by itself, long before
// the 120 s that the stalling server would hold it. Each is the profile's
// receive timeout plus slack for a loaded machine.
constexpr ULONGLONG UPDATE_BOUND_MS = 3500 + 5000;
constexpr ULONGLONG STREAM_BOUND_MS = 1000 + 5000;

struct Stall {
    const char* name;
    // nullptr: the download host; otherwise a listener on this address that
    // never answers, so that the TLS handshake stalls.
    const char* silent_address;
    const char* path;
    Profile profile;
    ULONGLONG bound_ms;
};

const Stall STALLS[] = {
    {"NoHeadersUpdateFetch", nullptr, "/test/stall-headers", Profile::UpdateFetch, UPDATE_BOUND_MS},
    {"NoHeadersStream", nullptr, "/test/stall-headers", Profile::Stream, STREAM_BOUND_MS},
    {"StalledBodyUpdateFetch", nullptr, "/test/stall-body", Profile::UpdateFetch, UPDATE_BOUND_MS},
    {"StalledBodyStream", nullptr, "/test/stall-body", Profile::Stream, STREAM_BOUND_MS},
    {"NoTlsHandshakeUpdateFetch", "127.0.0.3", "/", Profile::UpdateFetch, UPDATE_BOUND_MS},
    {"NoTlsHandshakeStream", "127.0.0.2", "/", Profile::Stream, STREAM_BOUND_MS},
};

bool update_fetch_succeeds(const std::string& host, const std::string& path) {
    release::UpdateConnection c = release::open_update_connection(wide(host).c_str());
    EXPECT_TRUE(c.ok);
    if (!c.ok)
        return false;
    const bool ok = release::http_get_to_buffer(c.connection, wide(path).c_str(), body, sizeof body,
                                                GetTickCount64() + 60000)
                        .ok;
    release::close_update_connection(c);
    return ok;
}

// A stream may open when only its body stalls: then its reads must fail.
bool stream_succeeds(const std::string& host, const std::string& path) {
    release::HttpStream s = release::http_open_get(view(host.c_str()), view(path.c_str()), 1000);
    if (!s.ok)
        return false;
    BOOL read_ok = TRUE;
    DWORD got = 1;
    // Reads end with the first piece, then fail once the server stops.
    for (int i = 0; i < 4 && read_ok && got > 0; ++i)
        read_ok = sys::WinHttpReadData(s.request, body, sizeof body, &got);
    sys::WinHttpCloseHandle(s.request);
    sys::WinHttpCloseHandle(s.connection);
    sys::WinHttpCloseHandle(s.session);
    return read_ok != FALSE;
}

void PrintTo(const Stall& stall, std::ostream* out) {
    *out << stall.name;
}

class StalledServer : public testing::TestWithParam<Stall> {};

TEST_P(StalledServer, FetchGivesUpWithinItsBound) {
    const Stall& stall = GetParam();
    std::optional<SilentServer> silent;
    if (stall.silent_address != nullptr) {
        silent.emplace(stall.silent_address);
        ASSERT_TRUE(silent->listening()) << stall.silent_address;
    }
    const std::string host = stall.silent_address != nullptr ? stall.silent_address : "localhost";
    WinHttpRecorder recorder;
    const ULONGLONG start = GetTickCount64();
    const bool succeeded = stall.profile == Profile::UpdateFetch
                               ? update_fetch_succeeds(host, stall.path)
                               : stream_succeeds(host, stall.path);
    EXPECT_FALSE(succeeded);
    EXPECT_LT(GetTickCount64() - start, stall.bound_ms);
    EXPECT_EQ(recorder.open_handles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Stalls, StalledServer, testing::ValuesIn(STALLS),
                         [](const testing::TestParamInfo<Stall>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
