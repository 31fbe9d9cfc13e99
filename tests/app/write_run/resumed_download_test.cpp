// The image download on a real network's terms: through the fault relay,
// which resets, stalls or ends connections part-way, the worker asks the
// host for the rest and ends with a verified stick; the host's access log
// shows what it asked for and what it was sent.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "app/write_run/retry_policy.h"
#include "release/fault_relay/fault_relay.h"
#include "worker_fixture.h"

namespace {

using namespace worker_test;
using fault_relay::Cut;
using fault_relay::Fault;

constexpr uint64_t MIB = 1048576;

// One line of the host's access log for the image.
struct Served {
    int status = 0;
    uint64_t body_bytes = 0;
    std::string range;     // "-" when none was asked for
    std::string if_range;  // "-" when none was sent
};

// `URI "agent" "cache-control" STATUS BYTES "range" "if-range"`.
std::vector<Served> served(const std::string& uri) {
    (void)fetch_test::access_log_shows_before_marker(uri);
    const std::vector<uint8_t> log = fetch_test::read_host_file("logs/access.log");
    std::istringstream lines(std::string(log.begin(), log.end()));
    std::vector<Served> found;
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, uri.size() + 1, uri + " ") != 0)
            continue;
        std::vector<std::string> quoted;
        size_t at = 0;
        while ((at = line.find('"', at)) != std::string::npos) {
            const size_t end = line.find('"', at + 1);
            quoted.push_back(line.substr(at + 1, end - at - 1));
            at = end + 1;
        }
        const size_t cache_end = line.find('"', line.find('"', line.find('"') + 1) + 1);
        Served s;
        std::istringstream numbers(line.substr(line.find('"', cache_end + 1) + 1));
        numbers >> s.status >> s.body_bytes;
        if (quoted.size() >= 4) {
            s.range = quoted[2];
            s.if_range = quoted[3];
        }
        found.push_back(s);
    }
    return found;
}

uint64_t body_bytes(const std::vector<Served>& lines) {
    uint64_t sum = 0;
    for (const Served& s : lines)
        sum += s.body_bytes;
    return sum;
}

bool posted(Event::Kind kind) {
    return std::any_of(events.begin(), events.end(),
                       [kind](const Event& e) { return e.kind == kind; });
}

class ResumedDownloadTest : public WorkerTest {
  protected:
    void SetUp() override {
        WorkerTest::SetUp();
        ASSERT_TRUE(relay.listening()) << "no loopback address free for the relay";
        image = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
        ASSERT_EQ(image.size(), 64 * MIB);
    }

    // The image published at `path` (under the host's worker-test folder),
    // its manifest naming it through the relay, with this run's own mark.
    void publish_through_relay(const std::string& path) {
        if (path.find('/') != std::string::npos) {
            const std::string folder = "site/worker-test/" + path.substr(0, path.find('/'));
            CreateDirectoryA(fetch_test::host_file(folder).c_str(), nullptr);
        }
        publish_image(path, image);
        uri = fetch_test::own_request("/worker-test/" + path);
        publish_manifest(image.size(), sha256_hex(image), "https://" + relay.address() + uri);
    }

    fault_relay::Relay relay;
    Bytes image;
    std::string uri;
};

// A connection reset part-way: the rest is asked for once, under the first
// answer's validator, and the host sends about one image, not two.
TEST_F(ResumedDownloadTest, AResetPartWayAsksForTheRestOnce) {
    publish_through_relay("reset.img");
    relay.plan({{Cut::reset, 20 * MIB}});
    sim::Drive& stick = choose_stick(image.size(), image.size());
    EXPECT_EQ(run_worker(), "");
    EXPECT_TRUE(stick.contents == image);
    const std::vector<Served> lines = served(uri);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].status, 200);
    EXPECT_EQ(lines[0].range, "-");
    EXPECT_EQ(lines[1].status, 206);
    EXPECT_EQ(lines[1].range.compare(0, 6, "bytes="), 0) << lines[1].range;
    EXPECT_EQ(lines[1].range.back(), '-');
    // nginx writes the ETag's quotes as \x22.
    EXPECT_EQ(lines[1].if_range.compare(0, 4, "\\x22"), 0) << "the ETag: " << lines[1].if_range;
    EXPECT_LT(body_bytes(lines), image.size() + image.size() / 4);
    EXPECT_EQ(relay.connections(), 2u);
    EXPECT_TRUE(posted(Event::retry));
}

// A connection that stops sending: the read gives up at the receive
// timeout, and the rest comes on a new connection.
TEST_F(ResumedDownloadTest, AStalledConnectionIsResumedAfterTheReceiveTimeout) {
    publish_through_relay("stall.img");
    relay.plan({{Cut::stall, 8 * MIB}});
    sim::Drive& stick = choose_stick(image.size(), image.size());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run_worker(), "");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_TRUE(stick.contents == image);
    const std::vector<Served> lines = served(uri);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].status, 206);
}

// A host that ignores Range answers with the whole file: the download
// starts over, its progress back at 0, and still verifies.
TEST_F(ResumedDownloadTest, AHostThatIgnoresRangesStartsOver) {
    publish_through_relay("whole-only/whole.img");
    relay.plan({{Cut::reset, 20 * MIB}});
    sim::Drive& stick = choose_stick(image.size(), image.size());
    EXPECT_EQ(run_worker(), "");
    EXPECT_TRUE(stick.contents == image);
    const std::vector<Served> lines = served(uri);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].status, 200);
    EXPECT_EQ(lines[1].status, 200);
    EXPECT_NE(lines[1].range, "-") << "the rest was asked for";
    uint64_t highest = 0;
    bool back_to_zero = false;
    for (const Event& e : events) {
        if (e.kind != Event::progress || e.value > 100)
            continue;
        back_to_zero = back_to_zero || (e.value == 0 && highest > 0);
        highest = std::max(highest, e.value);
    }
    EXPECT_TRUE(back_to_zero);
}

// The image changes on the host between two attempts: the validator no
// longer matches, the host sends the new file whole, and its digest is
// not the manifest's. Nothing is written to the stick.
std::string changed_file;
bool file_changed = false;
BOOL WINAPI change_file_before_resume(HINTERNET request, LPCWSTR headers, DWORD length, LPVOID body,
                                      DWORD body_length, DWORD total, DWORD_PTR context) {
    if (!file_changed && headers != nullptr && wcsstr(headers, L"Range:") != nullptr) {
        file_changed = true;
        const Bytes other = pattern(64 * MIB, 77);
        EXPECT_TRUE(write_host_file(changed_file, std::string(other.begin(), other.end())));
        // An hour later, so that its validator differs even within a second.
        HANDLE file = CreateFileA(fetch_test::host_file(changed_file).c_str(),
                                  FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        FILETIME later{};
        GetSystemTimeAsFileTime(&later);
        ULARGE_INTEGER t{};
        t.LowPart = later.dwLowDateTime;
        t.HighPart = later.dwHighDateTime;
        t.QuadPart += 36000000000ull;
        later = {t.LowPart, t.HighPart};
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &later));
        CloseHandle(file);
    }
    return below.WinHttpSendRequest(request, headers, length, body, body_length, total, context);
}

TEST_F(ResumedDownloadTest, AFileChangedBetweenAttemptsIsNeverMixed) {
    publish_through_relay("changing.img");
    changed_file = "site/worker-test/changing.img";
    file_changed = false;
    relay.plan({{Cut::reset, 20 * MIB}});
    sim::Drive& stick = choose_stick(image.size(), image.size());
    const Bytes before = stick.contents;
    sys::calls.WinHttpSendRequest = change_file_before_resume;
    EXPECT_EQ(run_worker(), NOT_DOWNLOADED);
    EXPECT_TRUE(file_changed);
    EXPECT_TRUE(machine.writes().empty());
    EXPECT_TRUE(stick.contents == before);
    EXPECT_FALSE(progress_posted(app::PROGRESS_WRITING));
    const std::vector<Served> lines = served(uri);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1].status, 200) << "the old validator no longer holds";
    EXPECT_NE(lines[1].if_range, "-");
}

// A stop (the session ends) while the worker waits to try again ends the
// wait at once; the temporary file goes with the run.
void WINAPI stop_while_pausing(DWORD ms) {
    run::run_inputs.stop_requested = true;
    virtual_sleep(ms);
}

TEST_F(ResumedDownloadTest, AStopDuringThePauseEndsTheRunAtOnce) {
    publish_through_relay("stop.img");
    relay.plan({{Cut::reset, 4 * MIB}});
    choose_stick(image.size(), image.size());
    sys::calls.Sleep = stop_while_pausing;
    const ULONGLONG start = virtual_ms;
    EXPECT_EQ(run_worker(), NOT_DOWNLOADED);
    run::run_inputs.stop_requested = false;
    EXPECT_TRUE(posted(Event::retry));
    EXPECT_LT(virtual_ms - start, 1000u) << "the pause went on after the stop";
    EXPECT_EQ(served(uri).size(), 1u);
    EXPECT_TRUE(machine.writes().empty());
}

// A line that drops every few MiB, by resets and by connections that end
// as if the body were complete, still brings the whole image.
TEST_F(ResumedDownloadTest, AConnectionThatDropsEveryFewMiBStillFinishes) {
    publish_through_relay("drops.img");
    relay.plan({{Cut::end_short, 5 * MIB}, {Cut::reset, 3 * MIB}, {Cut::end_short, 4 * MIB}},
               {Cut::reset, 6 * MIB});
    sim::Drive& stick = choose_stick(image.size(), image.size());
    EXPECT_EQ(run_worker(), "");
    EXPECT_TRUE(stick.contents == image);
    EXPECT_GE(relay.connections(), 10u);
    const std::vector<Served> lines = served(uri);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].status, 206) << i;
}

// A host whose file keeps ending short of the announced size: each attempt
// asks for the rest, with growing pauses, and the run gives up once
// nothing has come for the stall limit, with the download text.
TEST_F(ResumedDownloadTest, AttemptsThatBringNothingAreGivenUpAtTheStallLimit) {
    publish_image("short.img", image);
    uri = fetch_test::own_request("/worker-test/short.img");
    publish_manifest(image.size() + 4096, sha256_hex(image), "https://" + relay.address() + uri);
    choose_stick(16000000000ull);
    const ULONGLONG start = virtual_ms;
    EXPECT_EQ(run_worker(), NOT_DOWNLOADED);
    const ULONGLONG waited = virtual_ms - start;
    EXPECT_GE(waited, app::STALL_LIMIT_MS);
    EXPECT_LE(waited, app::STALL_LIMIT_MS + 30000);
    // The countdown of each pause starts at its length: 1, 2, 4, 8, 15, 30 s.
    std::vector<uint64_t> pauses;
    uint64_t previous = 0;
    for (const Event& e : events) {
        if (e.kind == Event::retry && e.value > previous)
            pauses.push_back(e.value);
        if (e.kind == Event::retry)
            previous = e.value;
    }
    ASSERT_GE(pauses.size(), 7u);
    const std::vector<uint64_t> first(pauses.begin(), pauses.begin() + 7);
    EXPECT_EQ(first, (std::vector<uint64_t>{1, 2, 4, 8, 15, 30, 30}));
    const std::vector<Served> lines = served(uri);
    ASSERT_EQ(lines.size(), pauses.size() + 1);
    EXPECT_EQ(lines[0].status, 200);
    EXPECT_EQ(lines[1].status, 416) << "nothing is left of the file to send";
    EXPECT_TRUE(machine.writes().empty());
}

}  // namespace
