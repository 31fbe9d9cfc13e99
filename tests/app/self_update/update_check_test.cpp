// The update check thread under Wine, against the local download host: what
// it downloads and verifies for each thing the host may announce, its one
// message, the handles it leaves, and the one deadline over both fetches.
// It runs on the test's own thread here; its message is recorded.
#include "app/self_update/update_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "app/app_messages.h"
#include "app/self_update/update_test_support.h"
#include "app/window/app_state.h"
#include "release/fetch_test_support.h"
#include "sim/sim_machine.h"
#include "test_signing.h"

namespace {

using app::app_state;
using update_test::Bytes;

struct Post {
    HWND hwnd;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};
std::vector<Post> posts;

BOOL WINAPI record_post(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    posts.push_back({hwnd, message, wparam, lparam});
    return TRUE;
}

class UpdateCheckTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(host.saved()) << "the download host is not running";
        posts.clear();
        app::reset_app_state();
        app_state.hwnd_main = reinterpret_cast<HWND>(0x1234);
        app_state.update_ready = true;  // the thread must set it either way
        sys::calls.PostMessageW = record_post;
    }

    // Runs the check and checks what every run must leave: one message to
    // the window, nothing open. Returns update_ready.
    bool run_check() {
        EXPECT_EQ(app::update_check_thread(nullptr), 0u);
        EXPECT_EQ(recorder.open_handles(), 0);
        EXPECT_EQ(posts.size(), 1u);
        if (!posts.empty()) {
            EXPECT_EQ(posts[0].hwnd, app_state.hwnd_main);
            EXPECT_EQ(posts[0].message, app::APP_MSG_UPDATE_RESULT);
            EXPECT_EQ(posts[0].wparam, 0u);
            EXPECT_EQ(posts[0].lparam, 0);
        }
        return app_state.update_ready;
    }

    sim::Machine machine;
    fetch_test::WinHttpRecorder recorder;
    update_test::HostUpdate host;
};

// What the host announces decides whether the executable is fetched at all;
// only a newer release with the right bytes is ready to install.
TEST_F(UpdateCheckTest, ReadyOnlyForANewerReleaseWithItsBytes) {
    const Bytes build = update_test::pattern(70000, 6);
    Bytes one_byte_wrong = build;
    one_byte_wrong[35000] ^= 0x01;
    Bytes one_byte_more = build;
    one_byte_more.push_back(0);
    const Bytes one_byte_fewer(build.begin(), build.end() - 1);
    const std::string release_6 = "RX4-TUNDRA-INSTALLER-UPDATE-1\nx64\n6\n" +
                                  std::to_string(build.size()) + "\n" +
                                  update_test::sha256_hex(build) + "\n";
    const struct {
        const char* name;
        std::function<void()> publish;
        bool fetches_exe;
        bool ready;
    } cases[] = {
        {"release 6", [&] { host.publish(6, build); }, true, true},
        {"release 7", [&] { host.publish(7, build); }, true, true},
        {"release 6, one byte of it wrong", [&] { host.publish(6, build, one_byte_wrong); }, true,
         false},
        {"release 6, a byte more than announced", [&] { host.publish(6, build, one_byte_more); },
         true, false},
        {"release 6, a byte fewer than announced", [&] { host.publish(6, build, one_byte_fewer); },
         true, false},
        {"release 6 under a broken signature",
         [&] {
             host.publish(6, build);
             std::string body = test_signing::sign(release_6);
             char& digit = body[body.size() - 2];
             digit = digit == '0' ? '1' : '0';
             host.publish_manifest_body(body);
         },
         false, false},
        {"release 5, this build's own", [&] { host.publish(5, build); }, false, false},
        {"release 0", [&] { host.publish(0, build); }, false, false},
        {"no manifest", [&] { host.remove_manifest(); }, false, false},
        {"a manifest of another kind",
         [&] {
             host.publish_manifest_text("RX4-TUNDRA-IMAGE-1\ntundra\n6\n4096\n" +
                                        update_test::sha256_hex(build) +
                                        "\nhttps://localhost/x.img\n");
         },
         false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.publish();
        posts.clear();
        app_state.update_length = 0;
        memset(app_state.update_buffer, 0, build.size());
        const size_t manifests_before = update_test::manifest_requests();
        const size_t exes_before = update_test::exe_requests();
        EXPECT_EQ(run_check(), c.ready);
        EXPECT_EQ(update_test::manifest_requests(), manifests_before + 1);
        EXPECT_EQ(update_test::exe_requests(), exes_before + (c.fetches_exe ? 1 : 0));
        if (c.ready) {
            EXPECT_EQ(app_state.update_length, build.size());
            EXPECT_EQ(memcmp(app_state.update_buffer, build.data(), build.size()), 0);
        } else {
            EXPECT_EQ(app_state.update_length, 0u);
        }
    }
    for (const std::wstring& agent : recorder.agents())
        EXPECT_EQ(agent, L"Tundra USB Installer release 5");
}

TEST_F(UpdateCheckTest, NoConnectionMeansNoUpdate) {
    for (const char* call : {"WinHttpOpen", "WinHttpSetTimeouts", "WinHttpConnect"}) {
        SCOPED_TRACE(call);
        posts.clear();
        machine.fail_call(call, ERROR_WINHTTP_CANNOT_CONNECT);
        EXPECT_FALSE(run_check());
        machine.clear_faults();
    }
}

// The clock as the thread reads it; the test moves it as each request opens.
ULONGLONG now = 0;
ULONGLONG clock_at_exe_request = 0;
sys::CallTable below;

ULONGLONG WINAPI test_clock() {
    return now;
}

HINTERNET WINAPI request_moving_the_clock(HINTERNET connection, LPCWSTR verb, LPCWSTR path,
                                          LPCWSTR version, LPCWSTR referrer, LPCWSTR* accept,
                                          DWORD flags) {
    if (wcscmp(path, app::UPDATE_MANIFEST_PATH) == 0)
        now += 6000;
    if (wcscmp(path, app::UPDATE_EXE_PATH) == 0)
        now = clock_at_exe_request;
    return below.WinHttpOpenRequest(connection, verb, path, version, referrer, accept, flags);
}

// The 12 seconds start once, after the connection is open, and cover both
// fetches: the manifest taking 6 of them leaves 6 for the executable.
TEST_F(UpdateCheckTest, OneDeadlineCoversBothFetches) {
    host.publish(6, update_test::pattern(70000, 6));
    const ULONGLONG start = 1000000;
    for (ULONGLONG offset : {12000u, 12001u}) {
        SCOPED_TRACE(offset);
        posts.clear();
        below = sys::calls;
        now = start;
        clock_at_exe_request = start + offset;
        sys::calls.GetTickCount64 = test_clock;
        sys::calls.WinHttpOpenRequest = request_moving_the_clock;
        const bool ready = run_check();
        sys::calls = below;
        EXPECT_EQ(ready, offset <= app::UPDATE_DEADLINE_MS);
    }
}

}  // namespace
