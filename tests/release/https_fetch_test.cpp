// http_get_to_buffer and http_open_get against the local download host.
#include "release/https_fetch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fetch_test_support.h"

namespace {

using namespace fetch_test;
using release::FetchResult;
using release::HttpStream;

uint8_t body[4096];

std::string body_text(const FetchResult& r) {
    return std::string(reinterpret_cast<const char*>(body), r.length);
}

void close_stream(HttpStream& s) {
    sys::WinHttpCloseHandle(s.request);
    sys::WinHttpCloseHandle(s.connection);
    sys::WinHttpCloseHandle(s.session);
}

TEST(HttpGetToBuffer, EmptyBodyIsAWholeBody) {
    const FetchResult r = get(L"/test/empty", body, 512);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.length, 0u);
}

TEST(HttpGetToBuffer, BodyMustBeStrictlyShorterThanTheCapacity) {
    const std::vector<uint8_t> file = read_host_file("site/test/511-bytes");
    ASSERT_EQ(file.size(), 511u);
    FetchResult r = get(L"/test/511-bytes", body, 512);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.length, 511u);
    EXPECT_EQ(std::memcmp(body, file.data(), 511), 0);

    r = get(L"/test/512-bytes", body, 512);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.length, 0u);
    EXPECT_TRUE(get(L"/test/512-bytes", body, 513).ok);
}

TEST(HttpGetToBuffer, ZeroCapacityFailsAfterTheRequestWasSent) {
    WinHttpRecorder recorder;
    const std::string path = own_request("/test/empty?capacity=0");
    EXPECT_FALSE(get(wide(path).c_str(), body, 0).ok);
    EXPECT_EQ(recorder.calls("WinHttpSendRequest"), 1u);
    EXPECT_EQ(recorder.calls("WinHttpReadData"), 0u);
    EXPECT_TRUE(access_log_shows(path));
}

TEST(HttpGetToBuffer, PassedDeadlineFailsWithoutARequest) {
    WinHttpRecorder recorder;
    LocalUpdateConnection local;
    ASSERT_TRUE(local.connection.ok);
    const std::wstring path = wide(own_request("/test/empty?deadline"));
    const FetchResult r = release::http_get_to_buffer(local.connection.connection, path.c_str(),
                                                      body, 512, sys::GetTickCount64() - 1);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(recorder.calls("WinHttpOpenRequest"), 0u);
    const std::string logged(path.begin(), path.end());
    EXPECT_FALSE(access_log_shows_before_marker(logged));
}

// The clock jumps past the deadline once the first read is done.
ULONGLONG fake_now = 0;
sys::CallTable before_fake_clock;
ULONGLONG WINAPI fake_tick_count() {
    return fake_now;
}
BOOL WINAPI read_then_expire(HINTERNET h, LPVOID buffer, DWORD count, LPDWORD done) {
    const BOOL ok = before_fake_clock.WinHttpReadData(h, buffer, count, done);
    fake_now = 2000;
    return ok;
}

TEST(HttpGetToBuffer, DeadlinePassingBetweenReadsFails) {
    static uint8_t large[1 << 20];
    WinHttpRecorder recorder;
    before_fake_clock = sys::calls;
    fake_now = 0;
    sys::calls.GetTickCount64 = fake_tick_count;
    sys::calls.WinHttpReadData = read_then_expire;
    LocalUpdateConnection local;
    // 300000 bytes take several 64 KiB reads; the deadline passes after one.
    const FetchResult r = release::http_get_to_buffer(local.connection.connection,
                                                      L"/install/tundra-usb-installer-x64.exe",
                                                      large, sizeof large, 1000);
    sys::calls = before_fake_clock;
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.length, 0u);
    EXPECT_EQ(recorder.calls("WinHttpReadData"), 1u);
}

TEST(HttpFetch, OnlyStatus200IsAccepted) {
    const wchar_t* paths[] = {L"/test/redirect-301", L"/test/redirect-302", L"/test/redirect-307",
                              L"/test/no-content",   L"/test/not-modified", L"/test/missing"};
    WinHttpRecorder recorder;
    for (const wchar_t* path : paths) {
        SCOPED_TRACE(std::string(path, path + std::wcslen(path)));
        const FetchResult r = get(path, body, sizeof body);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.length, 0u);
        const std::wstring w(path);
        HttpStream s = release::http_open_get(view("localhost"),
                                              view(std::string(w.begin(), w.end()).c_str()), 4000);
        EXPECT_FALSE(s.ok);
        EXPECT_EQ(s.request, nullptr);
    }
    EXPECT_EQ(recorder.open_handles(), 0);
    // The redirect target was never asked for: redirects are not followed.
    EXPECT_FALSE(access_log_shows_before_marker("/test/redirect-target"));
}

TEST(HttpFetch, BothProfilesSendTheirAgentAndNoCache) {
    const std::string update_path = own_request("/test/request-headers?profile=update");
    const std::string stream_path = own_request("/test/request-headers?profile=stream");
    FetchResult r = get(wide(update_path).c_str(), body, sizeof body);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(body_text(r), "agent=Tundra USB Installer release 5|cache=no-cache|");

    HttpStream s = release::http_open_get(view("localhost"), view(stream_path.c_str()), 4000);
    ASSERT_TRUE(s.ok);
    DWORD got = 0;
    ASSERT_TRUE(sys::WinHttpReadData(s.request, body, sizeof body, &got));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(body), got),
              "agent=Tundra USB Installer|cache=no-cache|");
    close_stream(s);
    EXPECT_TRUE(
        access_log_shows(update_path + " \"Tundra USB Installer release 5\" \"no-cache\" 200"));
    EXPECT_TRUE(access_log_shows(stream_path + " \"Tundra USB Installer\" \"no-cache\" 200"));
}

TEST(HttpFetch, ProfilesSetTheirTimeouts) {
    WinHttpRecorder recorder;
    {
        LocalUpdateConnection local;
        ASSERT_TRUE(local.connection.ok);
        ASSERT_EQ(recorder.timeouts().size(), 1u);
        const auto t = recorder.timeouts()[0];
        EXPECT_EQ(t.handle, local.connection.session);
        EXPECT_EQ(std::vector<int>(t.values, t.values + 4),
                  (std::vector<int>{2500, 3000, 3000, 3500}));
    }
    HttpStream s = release::http_open_get(view("localhost"), view("/test/empty"), 20000);
    ASSERT_TRUE(s.ok);
    ASSERT_EQ(recorder.timeouts().size(), 2u);
    const auto t = recorder.timeouts()[1];
    EXPECT_EQ(t.handle, s.request);
    EXPECT_EQ(std::vector<int>(t.values, t.values + 4),
              (std::vector<int>{3000, 4000, 5000, 20000}));
    close_stream(s);
    // Each wait for a response is bounded by the receive timeout too.
    unsigned bounded = 0;
    for (const auto& o : recorder.options()) {
        if (o.option == WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT) {
            EXPECT_EQ(o.value, o.handle == s.request ? 20000u : 3500u);
            ++bounded;
        }
    }
    EXPECT_EQ(bounded, 2u);
    EXPECT_EQ(recorder.open_handles(), 0);
}

TEST(HttpOpenGet, RefusesOverlongHostOrPathBeforeAnyCall) {
    WinHttpRecorder recorder;
    const std::string host_254(254, 'h');
    const std::string path_1024 = "/" + std::string(1023, 'p');
    EXPECT_FALSE(release::http_open_get(view(host_254.c_str()), view("/"), 4000).ok);
    EXPECT_FALSE(release::http_open_get(view("localhost"), view(path_1024.c_str()), 4000).ok);
    EXPECT_EQ(recorder.calls("WinHttpOpen"), 0u);
    // At the limits the request is made (and here answered with 404).
    const std::string path_1023 = "/" + std::string(1022, 'p');
    EXPECT_FALSE(release::http_open_get(view("localhost"), view(path_1023.c_str()), 4000).ok);
    EXPECT_EQ(recorder.calls("WinHttpSendRequest"), 1u);
    EXPECT_EQ(recorder.open_handles(), 0);
}

TEST(HttpOpenGet, CertificateMustNameTheHost) {
    // The test certificate names localhost only.
    WinHttpRecorder recorder;
    EXPECT_FALSE(release::http_open_get(view("127.0.0.1"), view("/test/empty"), 4000).ok);
    EXPECT_EQ(recorder.open_handles(), 0);
}

}  // namespace
