// Every test linked with this file talks to the local download host. Without
// that host they would fail one by one with results that do not say why (a
// fetch that is not ok, an empty file, a count that is off): one check
// before any test runs says plainly what is missing, and then no test runs.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <string>

#include "fetch_test_support.h"

namespace {

const std::string HOW_TO_START =
    "run these tests through ctest in build/windows, whose fixture download_host starts it "
    "(ctest -R 'Http|Worker|update'), or start it by hand with "
    "tests/release/download_host/start and trust its CA (see the README)";

bool something_listens_on_443() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    bool connected = false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) {
        sockaddr_in where = {};
        where.sin_family = AF_INET;
        where.sin_port = htons(443);
        where.sin_addr.s_addr = inet_addr("127.0.0.1");
        connected = connect(s, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
        closesocket(s);
    }
    WSACleanup();
    return connected;
}

// Empty when this build's host answers; otherwise what is wrong, in words.
std::string download_host_problem() {
    const std::string folder = fetch_test::host_file("");
    if (fetch_test::read_host_file("nginx.pid").empty())
        return "the local download host is not running (no nginx.pid in " + folder +
               "): " + HOW_TO_START;
    if (!something_listens_on_443())
        return "the local download host is not running (nothing listens on 127.0.0.1:443): " +
               HOW_TO_START;
    const std::string probe = fetch_test::own_request("/test/empty?host-check");
    uint8_t buffer[16];
    if (!fetch_test::get(fetch_test::wide(probe).c_str(), buffer, sizeof buffer).ok)
        return "the local download host answers on 127.0.0.1:443, but a fetch of " + probe +
               " failed: does this Wine prefix trust its test CA (the download_host_trust test)?";
    if (!fetch_test::access_log_shows(probe))
        return "a download host answers on 127.0.0.1:443, but not the one of " + folder +
               " (its access log does not show " + probe + "): " + HOW_TO_START;
    return "";
}

class DownloadHostCheck : public testing::Environment {
  public:
    void SetUp() override {
        const std::string problem = download_host_problem();
        if (!problem.empty())
            FAIL() << problem;
    }
};

[[maybe_unused]] testing::Environment* const download_host_check =
    testing::AddGlobalTestEnvironment(new DownloadHostCheck);

}  // namespace
