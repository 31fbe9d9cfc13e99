// The download-and-write worker's tests under Wine share this fixture: the
// local download host, the simulated machine, what the worker posted, and
// a clock of the seam's that the worker's pauses move without waiting.
#pragma once

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
#include "app/write_run/download_worker.h"
#include "app/write_run_hooks.h"
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

namespace worker_test {

using app::app_state;
using Bytes = std::vector<uint8_t>;
using fixtures::sha256_hex;

const char MANIFEST_FILE[] = "site/install/releases/tundra.txt";

// What the worker did, in order: its posts, and the flush of the file.
// Each post also notes how many threads kept the system awake then.
struct Event {
    enum Kind { progress, result, flush, write_progress, amount, retry } kind;
    uint64_t value;         // the percentage, the posted text pointer, the bytes or the seconds
    int64_t time_left = 0;  // of an amount
    unsigned threads_keeping_awake = 0;
};
inline std::vector<Event> events;
inline sys::CallTable below;

inline unsigned threads_keeping_awake() {
    return sim::Machine::current()->threads_keeping_awake();
}

// Posts reach a real window only where a test made one.
// The seam's clock for the worker: it stands still but for the pauses,
// which move it at once instead of waiting, and for what a test adds.
inline std::atomic<ULONGLONG> virtual_ms{0};
inline ULONGLONG WINAPI virtual_tick() {
    return virtual_ms;
}
inline void WINAPI virtual_sleep(DWORD ms) {
    virtual_ms += ms;
    Sleep(0);
}

inline BOOL WINAPI record_post(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == app::APP_MSG_PROGRESS)
        events.push_back({Event::progress, wparam, 0, threads_keeping_awake()});
    else if (message == app::APP_MSG_WRITE_PROGRESS)
        events.push_back({Event::write_progress, wparam, 0, threads_keeping_awake()});
    else if (message == app::APP_MSG_DOWNLOAD_AMOUNT)
        events.push_back({Event::amount, wparam, static_cast<int64_t>(lparam)});
    else if (message == app::APP_MSG_DOWNLOAD_RETRY)
        events.push_back({Event::retry, wparam});
    else if (message == app::APP_MSG_WRITE_RESULT)
        events.push_back(
            {Event::result, static_cast<uint64_t>(lparam), 0, threads_keeping_awake()});
    return hwnd != nullptr ? below.PostMessageW(hwnd, message, wparam, lparam) : TRUE;
}

inline BOOL WINAPI record_flush(HANDLE h) {
    events.push_back({Event::flush, 0});
    return below.FlushFileBuffers(h);
}

inline Bytes pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 131 + seed + (i >> 9));
    return bytes;
}

inline bool write_host_file(const std::string& relative, const std::string& bytes) {
    FILE* file = std::fopen(fetch_test::host_file(relative).c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// The worker's temporary files of a process still in a folder (by default
// the temporary folder, and this process). The name carries only the
// process id, which Wine hands out again: a file written before the process
// started was left by an earlier one of the same id.
inline int own_temp_files(const wchar_t* in_folder = nullptr,
                          HANDLE process = GetCurrentProcess()) {
    FILETIME started{}, unused{};
    if (!GetProcessTimes(process, &started, &unused, &unused, &unused))
        return -1;
    wchar_t folder[MAX_PATH] = {};
    if (in_folder != nullptr)
        wcsncpy(folder, in_folder, MAX_PATH - 1);
    else
        GetTempPathW(MAX_PATH, folder);
    wchar_t pattern_text[MAX_PATH + 64];
    swprintf(pattern_text, MAX_PATH + 64, L"%lstundra-installer-%lx-*.img", folder,
             static_cast<unsigned long>(GetProcessId(process)));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern_text, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    do {
        if (CompareFileTime(&found.ftLastWriteTime, &started) >= 0)
            ++count;
    } while (FindNextFileW(search, &found));
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
        virtual_ms = 1000000;
        sys::calls.GetTickCount64 = virtual_tick;
        sys::calls.Sleep = virtual_sleep;
        ASSERT_EQ(own_temp_files(), 0);
    }

    void TearDown() override {
        app::forget_kept_image();
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
    // The image a run keeps for a second write is let go here, as when the
    // window closes, unless the test keeps it for its next run (`keep`);
    // `kept_files` says how many of the run's files were left before that.
    std::string run_worker(bool keep = false) {
        const size_t calls_before = machine.execution_state_calls().size();
        EXPECT_EQ(app::download_and_write_thread(nullptr), 0u);
        kept_files = own_temp_files();
        EXPECT_LE(kept_files, 1);
        if (!keep)
            app::forget_kept_image();
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
        EXPECT_EQ(own_temp_files(), keep ? kept_files : 0);
        // The kept image's handle is the only one a run leaves open.
        EXPECT_EQ(machine.open_handle_count(), keep ? static_cast<size_t>(kept_files) : 0u);
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

    int kept_files = 0;
    sim::Machine machine;
    fetch_test::WinHttpRecorder recorder;
    Bytes saved_manifest;
};

// The texts the user reads, written out here rather than taken from the
// worker's header, so that a changed or cut text shows in every run.
const std::string NO_RELEASE = "The latest Tundra release is unavailable. Try again later.";
const std::string TOO_SMALL = "The selected USB stick is too small for this release.";
const std::string NOT_DOWNLOADED =
    "Tundra could not be downloaded or verified. Check your connection and try again.";
const std::string NOT_PREPARED = "Windows could not prepare to write the USB stick.";

}  // namespace worker_test
