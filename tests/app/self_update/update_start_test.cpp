// The start of the update check in the real window under Wine: the named
// mutex, the running executable's path and identity, the context and the
// status, and every way the start is skipped without a trace. The check
// thread is recorded, not run, so nothing here touches the network.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/self_update/update_check.h"
#include "app/self_update/update_test_support.h"
#include "app/window/palette.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;
using app_test::enabled;
using app_test::WindowTest;

const wchar_t* const MUTEX_NAME = L"Local\\RX4.TundraUsbInstaller.Update";
const std::wstring IDLE = L"Windows administrator access is required to write a USB stick.";

struct ThreadStart {
    int count = 0;
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
    HANDLE handle = nullptr;
} thread_start;

// Stands in for the check thread: records its start and hands back a real
// handle (an event) for the start-up to close.
HANDLE WINAPI record_thread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start,
                            LPVOID parameter, DWORD, LPDWORD) {
    ++thread_start.count;
    thread_start.start = start;
    thread_start.parameter = parameter;
    thread_start.handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return thread_start.handle;
}

// Every text the window was given, to tell whether a text was ever shown.
std::vector<std::wstring> texts_set;
decltype(sys::calls.SetWindowTextW) set_text_below = nullptr;

BOOL WINAPI record_text(HWND hwnd, LPCWSTR text) {
    texts_set.push_back(text);
    return set_text_below(hwnd, text);
}

bool checking_was_shown() {
    for (const std::wstring& text : texts_set) {
        if (text == L"Checking for installer updates…")
            return true;
    }
    return false;
}

// Whether another instance could take the update mutex now (a thread of its
// own stands in for it: a mutex is owned per thread).
bool mutex_is_free() {
    bool free = false;
    std::thread other([&free] {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, MUTEX_NAME);
        const DWORD wait = WaitForSingleObject(mutex, 0);
        free = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        if (free)
            ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    other.join();
    return free;
}

class UpdateStartTest : public WindowTest {
  protected:
    void SetUp() override {
        base_calls = sys::calls;
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        machine.set_elevated(false);
        allow_update_check();
        thread_start = {};
        sys::calls.CreateThread = record_thread;
        texts_set.clear();
        set_text_below = sys::calls.SetWindowTextW;
        sys::calls.SetWindowTextW = record_text;
        ASSERT_TRUE(update_test::write_file(running, update_test::pattern(3000, 5)));
        update_test::pretend_running_from(running);
    }

    void TearDown() override {
        if (app_state.update.has_value()) {
            ReleaseMutex(app_state.update->update_mutex);
            CloseHandle(app_state.update->update_mutex);
        }
        WindowTest::TearDown();
        sys::calls = base_calls;
    }

    // A skipped start leaves no trace: no context, the idle text of step 10,
    // the action button usable at once, no thread, and no mutex held.
    void expect_no_trace() {
        EXPECT_FALSE(app_state.update.has_value());
        EXPECT_FALSE(app_state.update_check_running);
        EXPECT_EQ(status(), IDLE);
        EXPECT_TRUE(enabled(app_state.hwnd_action));
        EXPECT_EQ(thread_start.count, 0);
        EXPECT_FALSE(checking_was_shown());
    }

    // Starts while another instance (a thread of ours here) holds the update
    // mutex, and lets that instance end afterwards.
    void start_while_another_instance_checks() {
        HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE finish = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread other([&] {
            HANDLE mutex = CreateMutexW(nullptr, FALSE, MUTEX_NAME);
            WaitForSingleObject(mutex, 0);
            SetEvent(taken);
            WaitForSingleObject(finish, INFINITE);
            ReleaseMutex(mutex);
            CloseHandle(mutex);
        });
        WaitForSingleObject(taken, INFINITE);
        start();
        SetEvent(finish);
        other.join();
        CloseHandle(taken);
        CloseHandle(finish);
    }

    sys::CallTable base_calls;
    update_test::Folder folder;
    std::filesystem::path running = folder / "tundra-usb-installer-x64.exe";
};

TEST_F(UpdateStartTest, TakesTheMutexAndStartsTheCheck) {
    start();
    ASSERT_TRUE(app_state.update.has_value());
    const app::UpdateContext& context = *app_state.update;
    EXPECT_EQ(std::wstring(context.exe_path.units, context.exe_path.length), running.wstring());
    EXPECT_EQ(context.exe_path.units[context.exe_path.length], 0);
    const app::FileIdentity identity = app::read_file_identity(running.c_str());
    EXPECT_TRUE(context.exe_identity.valid);
    EXPECT_TRUE(app::is_same_file(context.exe_identity, identity));
    EXPECT_EQ(context.exe_identity.nFileSizeLow, 3000u);
    EXPECT_TRUE(app_state.update_check_running);
    EXPECT_FALSE(enabled(app_state.hwnd_action));
    EXPECT_EQ(status(), L"Checking for installer updates…");
    EXPECT_EQ(app_state.status_color, app::COLOR_MUTED);
    EXPECT_EQ(thread_start.count, 1);
    EXPECT_EQ(thread_start.start, &app::update_check_thread);
    EXPECT_EQ(thread_start.parameter, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread_start.handle, 0), WAIT_FAILED);  // closed at once
    EXPECT_FALSE(mutex_is_free());
}

// A mutex whose owner ended without releasing it is taken all the same.
TEST_F(UpdateStartTest, AnAbandonedMutexCountsAsOwned) {
    std::thread ended_owner([] {
        HANDLE mutex = CreateMutexW(nullptr, TRUE, MUTEX_NAME);
        (void)mutex;  // neither released nor closed: the thread just ends
    });
    ended_owner.join();
    start();
    EXPECT_TRUE(app_state.update.has_value());
    EXPECT_EQ(thread_start.count, 1);
    EXPECT_EQ(status(), L"Checking for installer updates…");
}

TEST_F(UpdateStartTest, SkipsWhileAnotherInstanceChecks) {
    start_while_another_instance_checks();
    expect_no_trace();
}

// Each failure on the way skips the check and gives the mutex back.
TEST_F(UpdateStartTest, EachFailureOnTheWaySkipsWithoutATrace) {
    const std::wstring long_path = (folder / std::string(4100, 'x')).wstring();
    const struct {
        const char* name;
        std::function<void()> arrange;
        bool reads_identity;
    } cases[] = {
        {"the mutex cannot be made",
         [&] { machine.fail_call("CreateMutexW", ERROR_ACCESS_DENIED); }, false},
        {"the wait fails", [&] { machine.fail_call("WaitForSingleObject", ERROR_INVALID_HANDLE); },
         false},
        {"no module path", [&] { update_test::pretend_running_from(""); }, false},
        {"a path of 4032 units",
         [&] { update_test::pretend_running_from(long_path.substr(0, 4032)); }, false},
        {"a path of 4031 units whose file is missing",
         [&] { update_test::pretend_running_from(long_path.substr(0, 4031)); }, true},
        {"the executable cannot be opened",
         [&] { machine.fail_call("CreateFileW", ERROR_SHARING_VIOLATION); }, true},
        {"the executable cannot be queried",
         [&] { machine.fail_call("GetFileInformationByHandle", ERROR_GEN_FAILURE); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        machine.clear_faults();
        machine.reset_uses();
        c.arrange();
        start();
        expect_no_trace();
        EXPECT_EQ(machine.uses("CreateFileW") > 0, c.reads_identity);
        EXPECT_EQ(machine.open_handle_count(), 0u);
        EXPECT_TRUE(mutex_is_free());
    }
}

TEST_F(UpdateStartTest, AThreadThatCannotStartEndsTheCheckAtOnce) {
    sys::calls.CreateThread = [](LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                 DWORD, LPDWORD) -> HANDLE {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    };
    start();
    EXPECT_FALSE(app_state.update.has_value());
    EXPECT_FALSE(app_state.update_check_running);
    EXPECT_TRUE(enabled(app_state.hwnd_action));
    EXPECT_EQ(status(), IDLE);
    EXPECT_EQ(app_state.status_color, app::COLOR_MUTED);
    EXPECT_EQ(machine.uses("ReleaseMutex"), 1u);
    EXPECT_TRUE(mutex_is_free());
}

TEST_F(UpdateStartTest, AnElevatedInstanceNeverTakesTheMutex) {
    machine.set_elevated(true);
    start();
    EXPECT_EQ(machine.uses("CreateMutexW"), 0u);
    EXPECT_EQ(thread_start.count, 0);
    EXPECT_FALSE(app_state.update.has_value());
    EXPECT_FALSE(checking_was_shown());
    EXPECT_TRUE(mutex_is_free());
}

// What earlier updates left beside the executable goes at the next start of
// the instance that holds the mutex: only the names an update makes, only
// plain files with one name, and nothing of another name.
class LeftoversTest : public UpdateStartTest {
  protected:
    void SetUp() override {
        UpdateStartTest::SetUp();
        if (IsSkipped())
            return;
        const update_test::Bytes bytes = update_test::pattern(100, 9);
        for (const char* name : {
                 "tundra-usb-installer-x64.exe.tundra-previous-1a2c-5f3e02",
                 "tundra-usb-installer-x64.exe.tundra-new-1a2c-5f3e01",
                 "tundra-usb-installer-x64.exe.tundra-previous-3b-ffffffffffffffff",
                 "TUNDRA-USB-INSTALLER-X64.EXE.tundra-new-7-7",
                 // Not an update's names:
                 "other.exe.tundra-previous-1-2",
                 "tundra-usb-installer-x64.exe.tundra-previous-1a2c",
                 "tundra-usb-installer-x64.exe.tundra-previous-1a2c-5f3e02.txt",
                 "tundra-usb-installer-x64.exe.tundra-previous-1A2C-5",
                 "tundra-usb-installer-x64.exe.tundra-old-1-2",
                 "tundra-usb-installer-x64.exe.tundra-new-123456789-1",
                 "keep.bin",
             }) {
            ASSERT_TRUE(update_test::write_file(folder / name, bytes)) << name;
        }
        // An update's name on a folder, and on a second name of another file.
        ASSERT_TRUE(std::filesystem::create_directory(
            folder / "tundra-usb-installer-x64.exe.tundra-new-5-5"));
        linked = CreateHardLinkW((folder / "tundra-usb-installer-x64.exe.tundra-new-6-6").c_str(),
                                 (folder / "keep.bin").c_str(), nullptr) != FALSE;
    }

    std::vector<std::string> all_names() const {
        std::vector<std::string> names = {
            "TUNDRA-USB-INSTALLER-X64.EXE.tundra-new-7-7",
            "keep.bin",
            "other.exe.tundra-previous-1-2",
            "tundra-usb-installer-x64.exe",
            "tundra-usb-installer-x64.exe.tundra-new-123456789-1",
            "tundra-usb-installer-x64.exe.tundra-new-1a2c-5f3e01",
            "tundra-usb-installer-x64.exe.tundra-new-5-5",
            "tundra-usb-installer-x64.exe.tundra-old-1-2",
            "tundra-usb-installer-x64.exe.tundra-previous-1A2C-5",
            "tundra-usb-installer-x64.exe.tundra-previous-1a2c",
            "tundra-usb-installer-x64.exe.tundra-previous-1a2c-5f3e02",
            "tundra-usb-installer-x64.exe.tundra-previous-1a2c-5f3e02.txt",
            "tundra-usb-installer-x64.exe.tundra-previous-3b-ffffffffffffffff",
        };
        if (linked)
            names.push_back("tundra-usb-installer-x64.exe.tundra-new-6-6");
        std::sort(names.begin(), names.end());
        return names;
    }

    bool linked = false;
};

TEST_F(LeftoversTest, TheNextStartRemovesThemAndNothingElse) {
    start();
    ASSERT_TRUE(app_state.update.has_value());
    std::vector<std::string> expected = all_names();
    for (const char* gone : {"TUNDRA-USB-INSTALLER-X64.EXE.tundra-new-7-7",
                             "tundra-usb-installer-x64.exe.tundra-new-1a2c-5f3e01",
                             "tundra-usb-installer-x64.exe.tundra-previous-1a2c-5f3e02",
                             "tundra-usb-installer-x64.exe.tundra-previous-3b-ffffffffffffffff"}) {
        expected.erase(std::find(expected.begin(), expected.end(), gone));
    }
    EXPECT_EQ(folder.names(), expected);
    EXPECT_EQ(update_test::read_file(folder / "keep.bin"), update_test::pattern(100, 9));
    EXPECT_EQ(machine.open_handle_count(), 0u);
    if (!linked)
        std::printf("no hard link could be made here: that case was not tried\n");
}

// Only through a handle, never by name: a name deleted or renamed by path
// could by then be another file.
TEST_F(LeftoversTest, EachGoesThroughTheHandleOpenedOnIt) {
    machine.reset_uses();
    start();
    EXPECT_EQ(machine.uses("DeleteFileW"), 0u);
    EXPECT_EQ(machine.uses("MoveFileExW"), 0u);
    EXPECT_EQ(machine.uses("SetFileInformationByHandle"), 4u);
}

// A leftover that another program holds stays for the next start; the start
// goes on.
TEST_F(LeftoversTest, AHeldLeftoverStaysAndTheStartGoesOn) {
    HANDLE held =
        CreateFileW((folder / "tundra-usb-installer-x64.exe.tundra-previous-1a2c-5f3e02").c_str(),
                    GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    start();
    CloseHandle(held);
    EXPECT_TRUE(app_state.update.has_value());
    EXPECT_EQ(thread_start.count, 1);
    const std::vector<std::string> names = folder.names();
    EXPECT_NE(std::find(names.begin(), names.end(),
                        "tundra-usb-installer-x64.exe.tundra-previous-1a2c-5f3e02"),
              names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(),
                        "tundra-usb-installer-x64.exe.tundra-new-1a2c-5f3e01"),
              names.end());
}

// An instance that does not hold the mutex touches none of them: another
// instance may be installing right now.
TEST_F(LeftoversTest, WithoutTheMutexNothingIsRemoved) {
    start_while_another_instance_checks();
    EXPECT_FALSE(app_state.update.has_value());
    EXPECT_EQ(folder.names(), all_names());
}

}  // namespace
