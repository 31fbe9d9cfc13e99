// The download-and-write worker under Wine, against the local download host
// and the simulated machine. Each test publishes its own release manifest
// (signed with the test key) and image in the host's tree, runs the worker
// on this thread, and reads what it posted to the window.
#include "app/download_worker.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_messages.h"
#include "app/app_state.h"
#include "app/fonts.h"
#include "app/startup.h"
#include "app/window_controls.h"
#include "app/window_texts.h"
#include "app/write_request.h"
#include "discovery/stick_list.h"
#include "engine/run_names.h"
#include "engine/write_options.h"
#include "fixtures/disk_image.h"
#include "fixtures/sha256_hex.h"
#include "release/fetch_test_support.h"
#include "release/manifest_test_support.h"
#include "run/run_inputs.h"
#include "sim/sim_machine.h"
#include "test_signing.h"

namespace {

using app::app_state;
using Bytes = std::vector<uint8_t>;
using fixtures::sha256_hex;

const char MANIFEST_FILE[] = "site/install/releases/tundra.txt";

// What the worker did, in order: its posts, and the flush of the file.
// Each post also notes how many threads kept the system awake then.
struct Event {
    enum Kind { progress, result, flush, write_progress } kind;
    uint64_t value;  // the percentage, or the posted text pointer
    unsigned threads_keeping_awake = 0;
};
std::vector<Event> events;
sys::CallTable below;

unsigned threads_keeping_awake() {
    return sim::Machine::current()->threads_keeping_awake();
}

// Posts reach a real window only where a test made one.
BOOL WINAPI record_post(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == app::APP_MSG_PROGRESS)
        events.push_back({Event::progress, wparam, threads_keeping_awake()});
    else if (message == app::APP_MSG_WRITE_PROGRESS)
        events.push_back({Event::write_progress, wparam, threads_keeping_awake()});
    else if (message == app::APP_MSG_WRITE_RESULT)
        events.push_back({Event::result, static_cast<uint64_t>(lparam), threads_keeping_awake()});
    return hwnd != nullptr ? below.PostMessageW(hwnd, message, wparam, lparam) : TRUE;
}

BOOL WINAPI record_flush(HANDLE h) {
    events.push_back({Event::flush, 0});
    return below.FlushFileBuffers(h);
}

Bytes pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 131 + seed + (i >> 9));
    return bytes;
}

bool write_host_file(const std::string& relative, const std::string& bytes) {
    FILE* file = std::fopen(fetch_test::host_file(relative).c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// The worker's temporary files of a process still in a folder (by default
// the temporary folder, and this process).
int own_temp_files(const wchar_t* in_folder = nullptr, DWORD process = GetCurrentProcessId()) {
    wchar_t folder[MAX_PATH] = {};
    if (in_folder != nullptr)
        wcsncpy(folder, in_folder, MAX_PATH - 1);
    else
        GetTempPathW(MAX_PATH, folder);
    wchar_t pattern_text[MAX_PATH + 64];
    swprintf(pattern_text, MAX_PATH + 64, L"%lstundra-installer-%lx-*.img", folder,
             static_cast<unsigned long>(process));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern_text, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int count = 1;
    while (FindNextFileW(search, &found))
        ++count;
    FindClose(search);
    return count;
}

class WorkerTest : public testing::Test {
  protected:
    void SetUp() override {
        saved_manifest = fetch_test::read_host_file(MANIFEST_FILE);
        ASSERT_FALSE(saved_manifest.empty()) << "the download host is not running";
        CreateDirectoryA(fetch_test::host_file("site/worker-test").c_str(), nullptr);
        machine.add_system_disk(0);
        events.clear();
        below = sys::calls;
        sys::calls.PostMessageW = record_post;
        sys::calls.FlushFileBuffers = record_flush;
        ASSERT_EQ(own_temp_files(), 0);
    }

    void TearDown() override {
        sys::calls = below;
        EXPECT_TRUE(write_host_file(MANIFEST_FILE,
                                    std::string(saved_manifest.begin(), saved_manifest.end())))
            << "the host's release manifest could not be put back";
    }

    // The stick the user chose, with room in memory for `stored` bytes.
    sim::Drive& choose_stick(uint64_t size_bytes, uint64_t stored = 0) {
        sim::Drive& drive = machine.add_stick({1, "Tundra", "Flash", "WORKER1", size_bytes});
        drive.contents.resize(stored);
        app::reset_app_state();
        discovery::build_stick_list(app_state.sticks, true);
        app_state.sticks.selected_stick = 0;
        return drive;
    }

    void publish_image(const std::string& name, const Bytes& bytes) {
        ASSERT_TRUE(
            write_host_file("site/worker-test/" + name, std::string(bytes.begin(), bytes.end())));
    }

    void publish_manifest(uint64_t size, const std::string& digest_hex, const std::string& url) {
        manifest_test::Lines lines = manifest_test::release_lines();
        lines[3] = std::to_string(size);
        lines[4] = digest_hex;
        lines[5] = url;
        ASSERT_TRUE(write_host_file(MANIFEST_FILE, test_signing::sign(manifest_test::join(lines))));
    }

    // An image of `bytes` published under `name` with a manifest that tells
    // the truth about it.
    void publish_release(const std::string& name, const Bytes& bytes) {
        publish_image(name, bytes);
        publish_manifest(bytes.size(), sha256_hex(bytes), "https://localhost/worker-test/" + name);
    }

    // Runs the worker and checks what every run must leave: one result,
    // posted last, its length stored, no temporary file, nothing open, and
    // the system kept awake from the start until just before the result.
    std::string run_worker() {
        const size_t calls_before = machine.execution_state_calls().size();
        EXPECT_EQ(app::download_and_write_thread(nullptr), 0u);
        EXPECT_FALSE(events.empty());
        if (events.empty())
            return "(nothing posted)";
        EXPECT_EQ(events.back().kind, Event::result);
        EXPECT_EQ(events.back().threads_keeping_awake, 0u);
        for (const Event& e : events) {
            if (e.kind == Event::progress) {
                EXPECT_EQ(e.threads_keeping_awake, 1u);
            }
        }
        const std::vector<sim::ExecutionStateCall> calls = machine.execution_state_calls();
        EXPECT_EQ(calls.size(), calls_before + 2);
        if (calls.size() == calls_before + 2) {
            EXPECT_EQ(calls[calls_before].flags,
                      static_cast<EXECUTION_STATE>(ES_CONTINUOUS | ES_SYSTEM_REQUIRED));
            EXPECT_EQ(calls.back().flags, static_cast<EXECUTION_STATE>(ES_CONTINUOUS));
        }
        EXPECT_EQ(machine.threads_keeping_awake(), 0u);
        int results = 0;
        for (const Event& e : events)
            results += e.kind == Event::result;
        EXPECT_EQ(results, 1);
        EXPECT_EQ(own_temp_files(), 0);
        EXPECT_EQ(machine.open_handle_count(), 0u);
        EXPECT_EQ(recorder.open_handles(), 0);
        EXPECT_EQ(run::run_inputs.disk_io_event, nullptr);
        const char* text = reinterpret_cast<const char*>(events.back().value);
        if (text == nullptr) {
            EXPECT_EQ(app_state.result_text_length, 0u);
            return "";
        }
        return std::string(text, app_state.result_text_length);
    }

    // Every call that named one of the worker's temporary files.
    std::vector<sim::NameUse> temp_file_names() const {
        std::vector<sim::NameUse> uses;
        for (const sim::NameUse& use : machine.name_uses()) {
            if (use.path.find(u"tundra-installer-") != std::u16string::npos)
                uses.push_back(use);
        }
        return uses;
    }

    bool progress_posted(uint64_t value) const {
        for (const Event& e : events) {
            if (e.kind == Event::progress && e.value == value)
                return true;
        }
        return false;
    }

    sim::Machine machine;
    fetch_test::WinHttpRecorder recorder;
    Bytes saved_manifest;
};

const std::string NO_RELEASE = app::TEXT_NO_RELEASE;
const std::string TOO_SMALL = app::TEXT_STICK_TOO_SMALL;
const std::string NOT_DOWNLOADED = app::TEXT_NOT_DOWNLOADED;

TEST(WorkerTexts, HaveTheirFixedLengths) {
    EXPECT_EQ(NO_RELEASE.size(), 58u);
    EXPECT_EQ(TOO_SMALL.size(), 53u);
    EXPECT_EQ(NOT_DOWNLOADED.size(), 80u);
    EXPECT_EQ(std::string(app::TEXT_NOT_PREPARED).size(), 49u);
}

// Every way the release or the download can go wrong ends with its one
// text, and a temporary file only where the download had begun.
TEST_F(WorkerTest, EachFailureEndsWithItsText) {
    const Bytes image = pattern(8192, 1);
    const std::string image_url = "https://localhost/worker-test/small.img";
    const std::string digest = sha256_hex(image);
    struct Row {
        const char* name;
        std::function<void()> publish;
        const std::string& text;
        bool file_made;
    };
    const Row rows[] = {
        {"manifest missing", [&] { std::remove(fetch_test::host_file(MANIFEST_FILE).c_str()); },
         NO_RELEASE, false},
        {"manifest of 1600 bytes",
         [&] {
             std::string body =
                 test_signing::sign(manifest_test::join(manifest_test::release_lines()));
             body.resize(1600, '\n');
             ASSERT_TRUE(write_host_file(MANIFEST_FILE, body));
         },
         NO_RELEASE, false},
        {"bad signature",
         [&] {
             manifest_test::Lines lines = manifest_test::release_lines();
             std::string body = test_signing::sign(manifest_test::join(lines));
             body[body.size() - 2] = body[body.size() - 2] == '0' ? '1' : '0';
             ASSERT_TRUE(write_host_file(MANIFEST_FILE, body));
         },
         NO_RELEASE, false},
        {"image URL not https", [&] { publish_manifest(8192, digest, "http://localhost/x.img"); },
         NO_RELEASE, false},
        {"image missing",
         [&] { publish_manifest(8192, digest, "https://localhost/worker-test/missing.img"); },
         NOT_DOWNLOADED, false},
        {"more bytes than announced", [&] { publish_manifest(4096, digest, image_url); },
         NOT_DOWNLOADED, true},
        {"fewer bytes than announced", [&] { publish_manifest(12288, digest, image_url); },
         NOT_DOWNLOADED, true},
        {"wrong digest", [&] { publish_manifest(8192, sha256_hex(pattern(8192, 2)), image_url); },
         NOT_DOWNLOADED, true},
    };
    publish_image("small.img", image);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        events.clear();
        machine.reset_uses();
        choose_stick(16000000000ull);
        row.publish();
        const size_t names_before = temp_file_names().size();
        EXPECT_EQ(run_worker(), row.text);
        EXPECT_EQ(temp_file_names().size() - names_before, row.file_made ? 1u : 0u);
        EXPECT_EQ(machine.uses("DeleteFileW"), 0u);
        EXPECT_FALSE(progress_posted(app::PROGRESS_WRITING));
        machine.remove_drive(1);
    }
}

TEST_F(WorkerTest, AnImageLargerThanTheStickIsNotDownloaded) {
    const Bytes image = pattern(16384, 3);
    publish_release("too-large.img", image);
    choose_stick(image.size() - 512);
    machine.reset_uses();
    EXPECT_EQ(run_worker(), TOO_SMALL);
    EXPECT_EQ(machine.uses("CreateFileW"), 0u);
    EXPECT_FALSE(fetch_test::access_log_shows_before_marker("/worker-test/too-large.img"));
}

// The deadline is read from the seam's clock: here 45 minutes pass during
// the first chunk (once it is written), so the run stops at that chunk's
// end although the body goes on.
bool chunk_written = false;
ULONGLONG WINAPI clock_that_jumps() {
    return chunk_written ? 1000000 + app::IMAGE_DEADLINE_MS + 1 : 1000000;
}
BOOL WINAPI write_then_jump(HANDLE h, LPCVOID b, DWORD n, LPDWORD done, LPOVERLAPPED ov) {
    chunk_written = true;
    return below.WriteFile(h, b, n, done, ov);
}

TEST_F(WorkerTest, ADownloadPastItsDeadlineFails) {
    publish_release("slow.img", pattern(1048576, 4));
    choose_stick(16000000000ull);
    chunk_written = false;
    sys::calls.GetTickCount64 = clock_that_jumps;
    sys::calls.WriteFile = write_then_jump;
    EXPECT_EQ(run_worker(), NOT_DOWNLOADED);
    EXPECT_EQ(temp_file_names().size(), 1u);
    EXPECT_FALSE(progress_posted(100));
    EXPECT_FALSE(progress_posted(app::PROGRESS_WRITING));
}

TEST_F(WorkerTest, AnEventThatCannotBeMadeFailsBeforeTheEngine) {
    publish_release("fine.img", pattern(65536, 5));
    choose_stick(16000000000ull);
    machine.fail_call("CreateEventW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(run_worker(), app::TEXT_NOT_PREPARED);
    EXPECT_TRUE(progress_posted(app::PROGRESS_WRITING));
    EXPECT_EQ(temp_file_names().size(), 1u);
    EXPECT_TRUE(machine.writes().empty());
}

TEST_F(WorkerTest, AnEngineFailurePostsTheEnginesOwnReason) {
    // Downloads and verifies fine, but holds no partition table: the engine
    // refuses it, and its reason, not the download text, reaches the window.
    publish_release("not-bootable.img", pattern(1048576, 6));
    choose_stick(16000000000ull);
    EXPECT_EQ(run_worker(), "Choose a bootable Tundra .img file.");
    EXPECT_EQ(temp_file_names().size(), 1u);
    EXPECT_TRUE(machine.writes().empty());
}

// A bootable image exactly as large as the stick: downloaded, written and
// read back, with the progress the window shows along the way.
TEST_F(WorkerTest, WritesAVerifiedStickAndReportsProgressInOrder) {
    const Bytes image = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
    ASSERT_FALSE(image.empty());
    publish_release("real-fat32.img", image);
    sim::Drive& stick = choose_stick(image.size(), image.size());
    EXPECT_EQ(run_worker(), "");
    ASSERT_EQ(stick.contents.size(), image.size());
    EXPECT_TRUE(stick.contents == image);
    // The temporary image was named once, to make it; Windows deleted it.
    const std::vector<sim::NameUse> names = temp_file_names();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].call, "CreateFileW");
    EXPECT_EQ(names[0].disposition, static_cast<DWORD>(CREATE_NEW));
    EXPECT_NE(names[0].flags & FILE_FLAG_DELETE_ON_CLOSE, 0u);
    EXPECT_EQ(names[0].share, static_cast<DWORD>(FILE_SHARE_READ)) << "nobody else may write it";
    EXPECT_EQ(machine.uses("ReOpenFile"), 1u) << "the engine reads the worker's file";
    EXPECT_EQ(machine.uses("DeleteFileW"), 0u);

    // Percentages only when they change, from 1 up to 100; then the flush,
    // then the start of writing, then the result.
    std::vector<uint64_t> percents;
    size_t i = 0;
    for (; i < events.size() && events[i].kind == Event::progress; ++i)
        percents.push_back(events[i].value);
    ASSERT_FALSE(percents.empty());
    EXPECT_GE(percents.front(), 1u);
    for (size_t k = 1; k < percents.size(); ++k)
        EXPECT_GT(percents[k], percents[k - 1]);
    EXPECT_EQ(percents.back(), 100u);
    ASSERT_GE(events.size(), i + 3);
    EXPECT_EQ(events[i].kind, Event::flush);
    EXPECT_EQ(events[i + 1].kind, Event::progress);
    EXPECT_EQ(events[i + 1].value, app::PROGRESS_WRITING);
    // Then the write's own percentages, each once and rising to 100 (the
    // engine flushes the stick in between); nothing else is posted.
    std::vector<uint64_t> write_percents;
    for (size_t k = i + 2; k + 1 < events.size(); ++k) {
        if (events[k].kind == Event::write_progress)
            write_percents.push_back(events[k].value);
        else
            EXPECT_EQ(events[k].kind, Event::flush);
    }
    ASSERT_FALSE(write_percents.empty());
    for (size_t k = 1; k < write_percents.size(); ++k)
        EXPECT_GT(write_percents[k], write_percents[k - 1]);
    EXPECT_EQ(write_percents.back(), 100u);
    EXPECT_EQ(events.back().kind, Event::result);
}

// A temporary folder on a network share is refused: its server need not
// keep others from changing the image. The image goes to the Windows
// folder's Temp instead, and is gone from both at the end.
TEST_F(WorkerTest, ATemporaryFolderOnANetworkShareIsRefused) {
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring windows_temp = std::wstring(windows) + L"\\Temp\\";
    wchar_t share[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, share);
    machine.add_network_folder(std::u16string(share, share + wcslen(share)));
    machine.set_windows_directory(std::u16string(windows, windows + wcslen(windows)));
    const Bytes image = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
    publish_release("real-fat32.img", image);
    sim::Drive& stick = choose_stick(image.size(), image.size());

    EXPECT_EQ(run_worker(), "");
    EXPECT_TRUE(stick.contents == image);
    const std::vector<sim::NameUse> names = temp_file_names();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].path.compare(0, wcslen(share), std::u16string(share, share + wcslen(share))),
              0);
    const std::u16string local(windows_temp.begin(), windows_temp.end());
    EXPECT_EQ(names[1].path.compare(0, local.size(), local), 0);
    for (const sim::NameUse& use : names)
        EXPECT_NE(use.flags & FILE_FLAG_DELETE_ON_CLOSE, 0u);
    EXPECT_EQ(own_temp_files(windows_temp.c_str()), 0);
    EXPECT_EQ(machine.uses("DeleteFileW"), 0u);
}

// A host that drips the manifest a byte at a time, each byte well within
// the receive timeout: the run gives up at the manifest's one deadline.
DWORD drip_reads = 0;
BOOL WINAPI read_one_byte(HINTERNET request, LPVOID buffer, DWORD, LPDWORD read) {
    ++drip_reads;
    return below.WinHttpReadData(request, buffer, 1, read);
}
ULONGLONG drip_clock = 0;
ULONGLONG WINAPI a_second_per_look() {
    drip_clock += 1000;
    return drip_clock;
}

TEST_F(WorkerTest, AManifestStillComingAtItsDeadlineIsRefused) {
    publish_release("dripped.img", pattern(8192, 7));
    // The stick is too small for it: a manifest read whole ends the run there.
    choose_stick(4096);
    sys::calls.WinHttpReadData = read_one_byte;
    EXPECT_EQ(run_worker(), TOO_SMALL) << "dripped at no cost of time, the manifest is accepted";
    const DWORD reads_of_whole_manifest = drip_reads;
    EXPECT_GT(reads_of_whole_manifest, 200u);

    events.clear();
    drip_reads = 0;
    sys::calls.GetTickCount64 = a_second_per_look;
    EXPECT_EQ(run_worker(), NO_RELEASE);
    EXPECT_LE(drip_reads, app::MANIFEST_DEADLINE_MS / 1000 + 1);
}

// Killed at any point after its temporary image exists, the run leaves no
// file behind: Windows deletes it when the killed process's handles go.
// Each point is the nth use of one call, in a child process that runs the
// worker (KilledChild) and ends itself there, as TerminateProcess from
// outside would end it.
const char KILL_AT[] = "TUNDRA_WORKER_KILL_AT";
unsigned kill_countdown = 0;
void count_towards_kill() {
    if (--kill_countdown == 0)
        TerminateProcess(GetCurrentProcess(), 9);
}
BOOL WINAPI write_then_maybe_die(HANDLE h, LPCVOID b, DWORD n, LPDWORD done, LPOVERLAPPED ov) {
    count_towards_kill();
    return below.WriteFile(h, b, n, done, ov);
}
// Only the engine's writes to the stick are overlapped.
BOOL WINAPI stick_write_then_maybe_die(HANDLE h, LPCVOID b, DWORD n, LPDWORD done,
                                       LPOVERLAPPED ov) {
    if (ov != nullptr)
        count_towards_kill();
    return below.WriteFile(h, b, n, done, ov);
}
BOOL WINAPI read_then_maybe_die(HANDLE h, LPVOID b, DWORD n, LPDWORD done, LPOVERLAPPED ov) {
    count_towards_kill();
    return below.ReadFile(h, b, n, done, ov);
}
BOOL WINAPI flush_then_maybe_die(HANDLE h) {
    count_towards_kill();
    return below.FlushFileBuffers(h);
}
HANDLE WINAPI reopen_then_maybe_die(HANDLE h, DWORD access, DWORD share, DWORD flags) {
    count_towards_kill();
    return below.ReOpenFile(h, access, share, flags);
}

TEST_F(WorkerTest, KilledChild) {
    const char* kill_at = getenv(KILL_AT);
    if (kill_at == nullptr)
        GTEST_SKIP() << "the child of ARunKilledAnywhereLeavesNoFile";
    const std::string point(kill_at);
    const size_t colon = point.find(':');
    const std::string call = point.substr(0, colon);
    kill_countdown = static_cast<unsigned>(std::stoul(point.substr(colon + 1)));
    const Bytes image = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
    choose_stick(image.size(), image.size());
    if (call == "WriteFile")
        sys::calls.WriteFile = write_then_maybe_die;
    else if (call == "StickWriteFile")
        sys::calls.WriteFile = stick_write_then_maybe_die;
    else if (call == "ReadFile")
        sys::calls.ReadFile = read_then_maybe_die;
    else if (call == "FlushFileBuffers")
        sys::calls.FlushFileBuffers = flush_then_maybe_die;
    else if (call == "ReOpenFile")
        sys::calls.ReOpenFile = reopen_then_maybe_die;
    (void)app::download_and_write_thread(nullptr);
    ADD_FAILURE() << "the run ended before " << point;
}

TEST_F(WorkerTest, ARunKilledAnywhereLeavesNoFile) {
    const Bytes image = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
    publish_release("real-fat32.img", image);
    wchar_t exe[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    // From the first chunk of the download (1024 chunks of 64 KiB), through
    // its middle, the flush, the engine taking the file and reading it for
    // its digest (pieces of 256 KiB), to the engine's writes to the stick.
    const char* const POINTS[] = {"WriteFile:1",  "WriteFile:512", "FlushFileBuffers:1",
                                  "ReOpenFile:1", "ReadFile:100",  "StickWriteFile:2"};
    for (const char* point : POINTS) {
        SCOPED_TRACE(point);
        SetEnvironmentVariableA(KILL_AT, point);
        std::wstring command =
            L"\"" + std::wstring(exe) + L"\" --gtest_filter=WorkerTest.KilledChild";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        const BOOL started = CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0,
                                            nullptr, nullptr, &startup, &child);
        SetEnvironmentVariableA(KILL_AT, nullptr);
        ASSERT_TRUE(started);
        EXPECT_EQ(WaitForSingleObject(child.hProcess, 120000), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(child.hProcess, &code));
        EXPECT_EQ(code, 9u) << "the child was not killed at the point";
        EXPECT_EQ(own_temp_files(nullptr, child.dwProcessId), 0);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
}

// The temporary folder as the worker's texts show it.
std::string temp_folder_text() {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    char utf8[4 * MAX_PATH] = {};
    WideCharToMultiByte(CP_UTF8, 0, folder, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

std::string no_room_text(const std::string& size) {
    return "There is not enough free space to download Tundra: it needs " + size + " GB in " +
           temp_folder_text() + ". Free up space on that drive and try again.";
}

// A temporary drive without room for the image: refused before the image is
// asked for, with the size and the place; a drive with exactly the room goes
// on to the download.
TEST_F(WorkerTest, ATemporaryDriveWithoutRoomIsRefusedBeforeTheDownload) {
    const std::string url = "https://localhost/worker-test/roomy.img";
    const Bytes image = pattern(65536, 7);
    publish_image("roomy.img", image);
    const struct {
        const char* name;
        uint64_t announced;
        uint64_t free_bytes;
        bool refused;
        const char* size_text;
    } rows[] = {
        {"3 GB image, 1 GB free", 3000000000ull, 1000000000ull, true, "3.0"},
        {"512 bytes short", 2000000512ull, 2000000000ull, true, "2.1"},
        {"exactly the room", image.size(), image.size(), false, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        events.clear();
        choose_stick(16000000000ull);
        machine.set_free_space(row.free_bytes);
        machine.reset_uses();
        publish_manifest(row.announced, sha256_hex(image), url);
        const std::string text = run_worker();
        const std::u16string asked = machine.free_space_folder();
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        EXPECT_EQ(std::wstring(asked.begin(), asked.end()), folder);
        if (row.refused) {
            EXPECT_EQ(text, no_room_text(row.size_text));
            EXPECT_EQ(machine.uses("CreateFileW"), 0u);
            EXPECT_FALSE(fetch_test::access_log_shows_before_marker("/worker-test/roomy.img"));
        } else {
            EXPECT_EQ(text, "Choose a bootable Tundra .img file.");  // downloaded, then refused
        }
        machine.remove_drive(1);
    }
}

// A drive that fills up during the download says so; other write failures
// keep the download text. The file goes either way.
TEST_F(WorkerTest, AFullDiskDuringTheDownloadSaysSo) {
    publish_release("full.img", pattern(8192, 8));
    const struct {
        DWORD error;
        std::string text;
    } rows[] = {
        {ERROR_DISK_FULL, no_room_text("0.1")},
        {ERROR_HANDLE_DISK_FULL, no_room_text("0.1")},
        {ERROR_WRITE_FAULT, NOT_DOWNLOADED},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        events.clear();
        choose_stick(16000000000ull);
        machine.reset_uses();
        machine.fail_call("WriteFile", row.error);
        EXPECT_EQ(run_worker(), row.text);
        // The file goes with its last handle, never by name.
        EXPECT_EQ(machine.uses("DeleteFileW"), 0u);
        EXPECT_EQ(own_temp_files(), 0);
        machine.clear_faults();
        machine.remove_drive(1);
    }
}

// Holds the engine at its first write to the stick until the run is asked to
// stop, as a long write would be when the session ends.
std::atomic<bool> engine_writing{false};
BOOL WINAPI write_held_until_stop(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done,
                                  LPOVERLAPPED ov) {
    if (ov != nullptr) {
        engine_writing = true;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!run::run_inputs.stop_requested && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return below.WriteFile(h, buffer, count, done, ov);
}

// The user's session ends in the middle of a write: the window asks the run
// to stop and answers only after the worker has let the stick go, deleted
// its file and stopped keeping the system awake.
TEST_F(WorkerTest, AnEndingSessionLeavesTheStickReleasedAndNoFile) {
    if (std::getenv("DISPLAY") == nullptr)
        GTEST_SKIP() << "needs an X display (Xvfb)";
    const Bytes image = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
    ASSERT_FALSE(image.empty());
    publish_release("session.img", image);
    choose_stick(image.size(), image.size());
    sys::calls.MessageBoxW = [](HWND, LPCWSTR, LPCWSTR, UINT) { return IDYES; };
    sys::calls.WriteFile = write_held_until_stop;
    engine_writing = false;
    run::run_inputs.stop_requested = false;
    ASSERT_TRUE(app::start_window());
    app_state.sticks.selected_stick = 0;
    app::update_action_enabled();
    app::request_write();
    ASSERT_TRUE(app_state.is_busy);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!engine_writing && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(engine_writing);
    EXPECT_EQ(own_temp_files(), 1);
    EXPECT_GT(machine.open_handle_count(), 0u);
    EXPECT_EQ(threads_keeping_awake(), 1u);
    EXPECT_EQ(SendMessageW(app_state.hwnd_main, WM_QUERYENDSESSION, 0, 0), 0);

    SendMessageW(app_state.hwnd_main, WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(run::run_inputs.stop_requested);
    MSG result{};
    EXPECT_TRUE(PeekMessageW(&result, app_state.hwnd_main, app::APP_MSG_WRITE_RESULT,
                             app::APP_MSG_WRITE_RESULT, PM_REMOVE));
    EXPECT_EQ(own_temp_files(), 0);
    EXPECT_EQ(machine.open_handle_count(), 0u);
    EXPECT_EQ(machine.held_lock_count(), 0u);
    EXPECT_EQ(threads_keeping_awake(), 0u);

    // The worker's thread ends right after its post; give it that moment
    // before the machine goes.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    DestroyWindow(app_state.hwnd_main);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    app::delete_fonts();
    UnregisterClassW(app::WINDOW_CLASS_NAME, GetModuleHandleW(nullptr));
    run::run_inputs.stop_requested = false;
}

}  // namespace
