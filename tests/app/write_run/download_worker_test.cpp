// The download-and-write worker under Wine, against the local download host
// and the simulated machine. Each test publishes its own release manifest
// (signed with the test key) and image in the host's tree, runs the worker
// on this thread, and reads what it posted to the window.
#include "app/write_run/download_worker.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
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
#include "app/window/app_state.h"
#include "app/window/fonts.h"
#include "app/window/startup.h"
#include "app/window/window_controls.h"
#include "app/window/window_texts.h"
#include "app/window/write_request.h"
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

#include "worker_fixture.h"

namespace {

using namespace worker_test;

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

// The manifest's buffer holds 1600 bytes, so that a body that fills it is
// known to be too long: a validly signed body of 1599 bytes is read (the
// stick is too small for its image, which only a read manifest can tell),
// one of exactly 1600 is refused. The size line is padded with underscores,
// which the number's syntax skips, so both bodies are signed and valid.
TEST_F(WorkerTest, AManifestThatFillsItsBufferIsRefused) {
    const struct {
        size_t body_bytes;
        const std::string& text;
    } rows[] = {
        {1599, TOO_SMALL},
        {1600, NO_RELEASE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.body_bytes);
        events.clear();
        choose_stick(4096);
        manifest_test::Lines lines = manifest_test::release_lines();
        lines[3] = "8192";
        const size_t unpadded = test_signing::sign(manifest_test::join(lines)).size();
        ASSERT_LT(unpadded, row.body_bytes);
        lines[3] = "8" + std::string(row.body_bytes - unpadded, '_') + "192";
        const std::string body = test_signing::sign(manifest_test::join(lines));
        ASSERT_EQ(body.size(), row.body_bytes);
        ASSERT_TRUE(write_host_file(MANIFEST_FILE, body));
        EXPECT_EQ(run_worker(), row.text);
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

// A slow but steady line: four minutes pass with each chunk of the
// download (the seam's clock, not a real wait), so that the 1024 chunks of
// the image take days, far beyond any fixed deadline; each chunk still
// comes within the stall limit, and the run ends with a verified stick.
BOOL WINAPI download_write_slowly(HANDLE h, LPCVOID b, DWORD n, LPDWORD done, LPOVERLAPPED ov) {
    if (ov == nullptr)
        virtual_ms += 4 * 60 * 1000;
    return below.WriteFile(h, b, n, done, ov);
}

TEST_F(WorkerTest, ASlowSteadyDownloadIsNeverCutShort) {
    const Bytes image = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
    publish_release("slow.img", image);
    sim::Drive& stick = choose_stick(image.size(), image.size());
    sys::calls.WriteFile = download_write_slowly;
    const ULONGLONG start = virtual_ms;
    EXPECT_EQ(run_worker(), "");
    EXPECT_GT(virtual_ms - start, 45 * 60 * 1000ull);
    EXPECT_TRUE(stick.contents == image);
    EXPECT_FALSE(std::any_of(events.begin(), events.end(),
                             [](const Event& e) { return e.kind == Event::retry; }));
}

TEST_F(WorkerTest, AnEventThatCannotBeMadeFailsBeforeTheEngine) {
    publish_release("fine.img", pattern(65536, 5));
    choose_stick(16000000000ull);
    machine.fail_call("CreateEventW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(run_worker(), NOT_PREPARED);
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
    // Beside them, the amount received, rising to the whole image.
    std::vector<uint64_t> percents;
    std::vector<uint64_t> amounts;
    size_t i = 0;
    for (; i < events.size() &&
           (events[i].kind == Event::progress || events[i].kind == Event::amount);
         ++i) {
        (events[i].kind == Event::progress ? percents : amounts).push_back(events[i].value);
    }
    ASSERT_FALSE(amounts.empty());
    EXPECT_TRUE(std::is_sorted(amounts.begin(), amounts.end()));
    EXPECT_EQ(amounts.back(), image.size());
    EXPECT_EQ(app_state.download_size_bytes, image.size());
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

// The image changes on disk after its download, before the engine checks
// it: one byte in the middle, written through the worker's own handle (the
// only one that may write it) just as the engine takes the file over.
constexpr uint64_t MIB = 1048576;
constexpr uint64_t CHANGED_IMAGE_BYTE = 50 * MIB + 7;
HANDLE WINAPI change_image_then_reopen(HANDLE file, DWORD access, DWORD share, DWORD flags) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(CHANGED_IMAGE_BYTE);
    const uint8_t byte = 0xA5;
    DWORD written = 0;
    if (!WriteFile(file, &byte, 1, &written, &at) || written != 1)
        ADD_FAILURE() << "the image could not be changed";
    return below.ReOpenFile(file, access, share, flags);
}

// What the worker asks of the engine, seen in whole runs: the stick that
// was picked and no other, the image exactly as it was verified, the whole
// image over an old Tundra stick, and the whole range read back.
TEST_F(WorkerTest, TheEngineRunsWithTheDesktopsOptions) {
    const Bytes image = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
    ASSERT_EQ(image.size(), 64 * MIB);
    publish_release("real-fat32.img", image);
    // An old Tundra stick: the same partitions, with its own data area
    // (the image's second partition, from 41 MiB).
    Bytes old_stick = image;
    std::fill(old_stick.begin() + 42 * MIB, old_stick.begin() + 60 * MIB, 0x6B);
    // The stick already holds the image but for one piece, which alone is
    // written.
    Bytes one_piece_off = image;
    one_piece_off[50 * MIB + 7] ^= 0xFF;
    const std::string NOT_VERIFIED = "Tundra image verification failed. Download it again.";
    const std::string NOT_THE_PICKED_STICK =
        "Windows could not verify the selected USB drive. Refresh and choose it again.";
    const std::string READ_BACK_DIFFERS =
        "after writing, 65536 bytes of the stick still differ from the image";
    const std::string VERIFIED;  // no text: the stick holds the image
    const struct {
        const char* name;
        std::function<void(sim::Drive&)> arrange;
        const std::string& text;
        bool stick_written;
    } rows[] = {
        {"an old Tundra stick is replaced whole", [&](sim::Drive& d) { d.contents = old_stick; },
         VERIFIED, true},
        {"a byte changed outside the written piece is found by the read-back",
         [&](sim::Drive& d) {
             d.contents = one_piece_off;
             d.flip_after_first_write = {20 * MIB + 5};
         },
         READ_BACK_DIFFERS, true},
        {"an image changed after its download is refused",
         [&](sim::Drive&) { sys::calls.ReOpenFile = change_image_then_reopen; }, NOT_VERIFIED,
         false},
        {"another stick in its place with the same description is refused",
         [&](sim::Drive&) {
             machine.remove_drive(1);
             machine.add_stick({2, "Tundra", "Flash", "WORKER1", image.size()}).contents =
                 old_stick;
         },
         NOT_THE_PICKED_STICK, false},
    };
    const sys::CallTable recording = sys::calls;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        events.clear();
        machine.reset_uses();
        row.arrange(choose_stick(image.size(), image.size()));
        const size_t writes_before = machine.writes().size();
        EXPECT_EQ(run_worker(), row.text);
        EXPECT_EQ(machine.writes().size() > writes_before, row.stick_written);
        // Disk 2 is there only in the last row (the record of its opening lasts).
        EXPECT_FALSE(machine.drive_opened_for_writing(2));
        if (row.text.empty()) {
            ASSERT_NE(machine.drive(1), nullptr);
            EXPECT_TRUE(machine.drive(1)->contents == image);
        }
        sys::calls = recording;
        machine.remove_drive(1);
        machine.remove_drive(2);
    }
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
        EXPECT_EQ(own_temp_files(nullptr, child.hProcess), 0);
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

// GetTempPathW as Windows may answer it: nothing, the size of a buffer it
// would need (the path longer than the one given), or a folder that leaves
// no room for the file's name.
enum class TempAnswer { none, beyond_buffer, no_room_for_name };
TempAnswer temp_answer = TempAnswer::none;
DWORD WINAPI bad_temp_path(DWORD capacity, LPWSTR buffer) {
    if (temp_answer == TempAnswer::none) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const DWORD folder = temp_answer == TempAnswer::beyond_buffer ? capacity : 4032;
    for (DWORD i = 0; i < capacity; ++i)
        buffer[i] = L'x';
    if (temp_answer == TempAnswer::beyond_buffer)
        return capacity + 100;
    buffer[0] = L'C';
    buffer[1] = L':';
    buffer[2] = L'\\';
    buffer[folder - 1] = L'\\';
    buffer[folder] = 0;
    return folder;
}

// Windows reports the write done, with a byte less than asked.
BOOL WINAPI short_file_write(HANDLE h, LPCVOID bytes, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    return below.WriteFile(h, bytes, ov == nullptr && count > 1 ? count - 1 : count, done, ov);
}

// Where the temporary file cannot be made or kept as downloaded, the run
// ends with the download text and leaves no file. A user's temporary folder
// that Windows cannot give sends the file to the Windows folder's Temp, and
// nowhere else.
TEST_F(WorkerTest, ATemporaryFileThatCannotBeMadeOrKeptLeavesNone) {
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::u16string windows_folder(windows, windows + wcslen(windows));
    const std::wstring windows_temp = std::wstring(windows) + L"\\Temp\\";
    const std::u16string in_windows_temp(windows_temp.begin(), windows_temp.end());
    wchar_t user[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, user), 0u);
    const std::u16string in_user_temp(user, user + wcslen(user));
    const std::u16string nowhere;
    const std::string NOT_BOOTABLE = "Choose a bootable Tundra .img file.";  // downloaded
    publish_release("temp-faults.img", pattern(65536, 9));
    const auto bad_temp_folder = [](TempAnswer answer) {
        return [answer] {
            temp_answer = answer;
            sys::calls.GetTempPathW = bad_temp_path;
        };
    };
    const struct {
        const char* name;
        std::function<void()> arrange;
        bool windows_folder;
        const std::string& text;
        const std::u16string& made_in;  // empty: no file named at all
    } rows[] = {
        {"no temporary folder, no Windows folder", bad_temp_folder(TempAnswer::none), false,
         NOT_DOWNLOADED, nowhere},
        {"a temporary folder longer than the buffer, no Windows folder",
         bad_temp_folder(TempAnswer::beyond_buffer), false, NOT_DOWNLOADED, nowhere},
        {"a temporary folder without room for the name, no Windows folder",
         bad_temp_folder(TempAnswer::no_room_for_name), false, NOT_DOWNLOADED, nowhere},
        {"no temporary folder", bad_temp_folder(TempAnswer::none), true, NOT_BOOTABLE,
         in_windows_temp},
        {"a short write to the file", [] { sys::calls.WriteFile = short_file_write; }, true,
         NOT_DOWNLOADED, in_user_temp},
        {"a failed flush of the file",
         [&] { machine.fail_call("FlushFileBuffers", ERROR_WRITE_FAULT); }, true, NOT_DOWNLOADED,
         in_user_temp},
    };
    const sys::CallTable recording = sys::calls;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        events.clear();
        // The stick list needs the Windows folder to tell the system disk.
        machine.set_windows_directory(windows_folder);
        choose_stick(16000000000ull);
        machine.set_windows_directory(row.windows_folder ? windows_folder : u"");
        const size_t names_before = machine.name_uses().size();
        row.arrange();
        EXPECT_EQ(run_worker(), row.text);
        // Every file the run named, whatever its name became (a record keeps
        // only the start of a long path); the stick's device names aside.
        std::vector<std::u16string> files;
        const std::vector<sim::NameUse> names = machine.name_uses();
        for (size_t i = names_before; i < names.size(); ++i) {
            if (names[i].path.compare(0, 4, u"\\\\.\\") != 0)
                files.push_back(names[i].path);
        }
        ASSERT_EQ(files.size(), row.made_in.empty() ? 0u : 1u);
        for (const std::u16string& file : files)
            EXPECT_EQ(file.compare(0, row.made_in.size(), row.made_in), 0);
        EXPECT_EQ(own_temp_files(windows_temp.c_str()), 0);
        EXPECT_EQ(progress_posted(app::PROGRESS_WRITING), row.text != NOT_DOWNLOADED);
        EXPECT_TRUE(machine.writes().empty());
        sys::calls = recording;
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

// The user signs out in the middle of a write. Asked first, the window says
// no and the write goes on; when the end cannot be refused, the window asks
// the run to stop and answers only after the worker has let the stick go,
// deleted its file and stopped keeping the system awake.
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
    // The window and the session's end wait on the real clock.
    sys::calls.GetTickCount64 = below.GetTickCount64;
    sys::calls.Sleep = below.Sleep;
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
    const LPARAM sign_out = static_cast<LPARAM>(ENDSESSION_LOGOFF);
    EXPECT_FALSE(machine.end_session(app_state.hwnd_main, sign_out).may_end);
    EXPECT_FALSE(run::run_inputs.stop_requested);
    EXPECT_EQ(own_temp_files(), 1);

    EXPECT_TRUE(machine.end_session(app_state.hwnd_main, sign_out | ENDSESSION_CRITICAL).may_end);
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
