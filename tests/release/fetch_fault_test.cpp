// Each WinHTTP call failing in turn, against the local download host: the
// fetch fails (except where a failure is meant to be ignored) and leaves no
// handle open.
#include <gtest/gtest.h>

#include "fetch_test_support.h"
#include "release/https_fetch.h"
#include "sim/sim_machine.h"

namespace {

using namespace fetch_test;

constexpr DWORD SOME_WINHTTP_ERROR = 12002;  // ERROR_WINHTTP_TIMEOUT

struct Fault {
    const char* call;
    unsigned nth;
    bool still_ok;
};

TEST(FetchFaults, HttpOpenGetReleasesEverythingOnEachFailure) {
    // WinHttpSetOption is used for gzip, the response wait and redirects, in
    // that order; only the gzip option may fail.
    const Fault faults[] = {
        {"WinHttpOpen", 1, false},
        {"WinHttpConnect", 1, false},
        {"WinHttpOpenRequest", 1, false},
        {"WinHttpSetOption", 1, true},
        {"WinHttpSetTimeouts", 1, false},
        {"WinHttpSetOption", 2, false},
        {"WinHttpSetOption", 3, false},
        {"WinHttpSendRequest", 1, false},
        {"WinHttpReceiveResponse", 1, false},
        {"WinHttpQueryHeaders", 1, false},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(std::string(f.call) + " #" + std::to_string(f.nth));
        sim::Machine machine;
        WinHttpRecorder recorder;
        machine.fail_call(f.call, SOME_WINHTTP_ERROR, f.nth);
        release::HttpStream s =
            release::http_open_get(view("localhost"), view("/test/empty"), 4000);
        EXPECT_EQ(s.ok, f.still_ok);
        if (s.ok) {
            sys::WinHttpCloseHandle(s.request);
            sys::WinHttpCloseHandle(s.connection);
            sys::WinHttpCloseHandle(s.session);
        } else {
            EXPECT_EQ(s.session, nullptr);
            EXPECT_EQ(s.connection, nullptr);
            EXPECT_EQ(s.request, nullptr);
        }
        EXPECT_EQ(recorder.open_handles(), 0);
    }
}

TEST(FetchFaults, HttpGetToBufferClosesItsRequestOnEachFailure) {
    // The fault counts start after the connection is open; the body of
    // /install/tundra-usb-installer-x64.exe needs several reads.
    const Fault faults[] = {
        {"WinHttpOpenRequest", 1, false},  {"WinHttpSetOption", 1, false},
        {"WinHttpSendRequest", 1, false},  {"WinHttpReceiveResponse", 1, false},
        {"WinHttpQueryHeaders", 1, false}, {"WinHttpReadData", 1, false},
        {"WinHttpReadData", 3, false},
    };
    static uint8_t buffer[1 << 20];
    for (const Fault& f : faults) {
        SCOPED_TRACE(std::string(f.call) + " #" + std::to_string(f.nth));
        sim::Machine machine;
        WinHttpRecorder recorder;
        {
            LocalUpdateConnection local;
            ASSERT_TRUE(local.connection.ok);
            machine.fail_call(f.call, SOME_WINHTTP_ERROR, f.nth);
            const release::FetchResult r = release::http_get_to_buffer(
                local.connection.connection, L"/install/tundra-usb-installer-x64.exe", buffer,
                sizeof buffer, GetTickCount64() + 30000);
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.length, 0u);
            EXPECT_EQ(recorder.open_handles(), 2);  // the caller's session and connection
        }
        EXPECT_EQ(recorder.open_handles(), 0);
    }
}

}  // namespace
