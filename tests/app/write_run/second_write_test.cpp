// A second write without a second download: the verified image stays with
// the window after a run, and the next run writes it again when the
// release still names it; a newer release is downloaded anew and the
// older image goes; closing the window deletes what is kept.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/window/startup.h"
#include "worker_fixture.h"

namespace {

using namespace worker_test;

constexpr uint64_t MIB = 1048576;

bool posted(uint64_t progress) {
    return std::any_of(events.begin(), events.end(), [progress](const Event& e) {
        return e.kind == Event::progress && e.value == progress;
    });
}

bool downloaded() {
    return std::any_of(events.begin(), events.end(),
                       [](const Event& e) { return e.kind == Event::progress && e.value <= 100; });
}

// The paths of this process's temporary images now.
std::vector<std::wstring> own_temp_paths() {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring pattern_text = std::wstring(folder) + L"tundra-installer-" + [] {
        wchar_t pid[16];
        swprintf(pid, 16, L"%lx", GetCurrentProcessId());
        return std::wstring(pid);
    }() + L"-*.img";
    std::vector<std::wstring> paths;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern_text.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return paths;
    do
        paths.push_back(std::wstring(folder) + found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return paths;
}

class SecondWriteTest : public WorkerTest {
  protected:
    void SetUp() override {
        WorkerTest::SetUp();
        image = fixtures::read_file(fixtures::real_image_path("real-fat32.img"));
        ASSERT_EQ(image.size(), 64 * MIB);
    }

    std::string publish(const std::string& name, const Bytes& bytes) {
        publish_image(name, bytes);
        const std::string uri = fetch_test::own_request("/worker-test/" + name);
        publish_manifest(bytes.size(), sha256_hex(bytes), "https://localhost" + uri);
        return uri;
    }

    // The user plugs in another stick and picks it.
    sim::Drive& another_stick(uint32_t number, const char* serial) {
        machine.remove_drive(1);
        machine.remove_drive(2);
        sim::Drive& drive = machine.add_stick({number, "Tundra", "Flash", serial, image.size()});
        drive.contents.resize(image.size());
        discovery::build_stick_list(app_state.sticks, true);
        app_state.sticks.selected_stick = 0;
        return drive;
    }

    Bytes image;
};

// The first stick fails its read-back; the second is written from the
// image kept from the first run, which the host sends only once.
TEST_F(SecondWriteTest, ASecondStickAfterAFailedOneNeedsNoSecondDownload) {
    const std::string uri = publish("second.img", image);
    sim::Drive& worn = choose_stick(image.size(), image.size());
    worn.flip_after_first_write = {20 * MIB + 5};
    EXPECT_NE(run_worker(true), "");
    EXPECT_EQ(kept_files, 1) << "the verified image stays for the next write";
    EXPECT_TRUE(downloaded());

    events.clear();
    sim::Drive& good = another_stick(2, "WORKER2");
    EXPECT_EQ(run_worker(true), "");
    EXPECT_TRUE(good.contents == image);
    EXPECT_TRUE(posted(app::PROGRESS_KEPT_IMAGE));
    EXPECT_TRUE(posted(app::PROGRESS_WRITING));
    EXPECT_FALSE(downloaded());
    EXPECT_EQ(fetch_test::access_log_count(uri), 1u) << "the image was asked for again";
    EXPECT_EQ(kept_files, 1);
    // The engine checked the kept image again, through its own handle.
    EXPECT_GE(machine.uses("ReOpenFile"), 1u);
}

// A newer release between the two writes: its image is downloaded, and the
// older one is gone from the disk before the newer one comes.
TEST_F(SecondWriteTest, ANewerReleaseIsDownloadedAndTheOlderImageGoes) {
    publish("older.img", image);
    choose_stick(image.size(), image.size());
    EXPECT_EQ(run_worker(true), "");
    const std::vector<std::wstring> older = own_temp_paths();
    ASSERT_EQ(older.size(), 1u);

    Bytes newer = image;
    newer[60 * MIB + 3] ^= 0x5A;  // in the data partition's free space
    const std::string uri = publish("newer.img", newer);
    events.clear();
    virtual_ms += 60000;  // a minute later: the new file's name differs
    sim::Drive& stick = another_stick(2, "WORKER2");
    EXPECT_EQ(run_worker(true), "");
    EXPECT_TRUE(stick.contents == newer);
    EXPECT_TRUE(downloaded());
    EXPECT_FALSE(posted(app::PROGRESS_KEPT_IMAGE));
    EXPECT_EQ(fetch_test::access_log_count(uri), 1u);
    const std::vector<std::wstring> now = own_temp_paths();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_NE(now[0], older[0]);
    EXPECT_EQ(GetFileAttributesW(older[0].c_str()), INVALID_FILE_ATTRIBUTES);
}

// The engine finds the kept image changed: it is not kept again, and the
// next run downloads it anew.
HANDLE WINAPI change_kept_then_reopen(HANDLE file, DWORD access, DWORD share, DWORD flags) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(30 * MIB);
    const uint8_t byte = 0xA5;
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, &byte, 1, &written, &at));
    return below.ReOpenFile(file, access, share, flags);
}

TEST_F(SecondWriteTest, AKeptImageTheEngineRefusesIsNotKept) {
    const std::string uri = publish("refused.img", image);
    choose_stick(image.size(), image.size());
    EXPECT_EQ(run_worker(true), "");
    events.clear();
    sys::calls.ReOpenFile = change_kept_then_reopen;
    EXPECT_EQ(run_worker(true), "Tundra image verification failed. Download it again.");
    EXPECT_TRUE(posted(app::PROGRESS_KEPT_IMAGE));
    EXPECT_EQ(kept_files, 0);
    sys::calls.ReOpenFile = below.ReOpenFile;
    events.clear();
    EXPECT_EQ(run_worker(true), "");
    EXPECT_TRUE(downloaded());
    EXPECT_EQ(fetch_test::access_log_count(uri), 2u);
}

// Closing the window deletes the kept image.
TEST_F(SecondWriteTest, ClosingTheWindowDeletesTheKeptImage) {
    if (std::getenv("DISPLAY") == nullptr)
        GTEST_SKIP() << "needs an X display (Xvfb)";
    publish("closing.img", image);
    choose_stick(image.size(), image.size());
    EXPECT_EQ(run_worker(true), "");
    ASSERT_EQ(own_temp_paths().size(), 1u);
    sys::calls.GetTickCount64 = below.GetTickCount64;
    sys::calls.Sleep = below.Sleep;
    ASSERT_TRUE(app::start_window());
    DestroyWindow(app_state.hwnd_main);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    app::delete_fonts();
    UnregisterClassW(app::WINDOW_CLASS_NAME, GetModuleHandleW(nullptr));
    EXPECT_TRUE(own_temp_paths().empty());
}

}  // namespace
