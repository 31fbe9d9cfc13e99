// The action button: the elevated relaunch of an instance without
// administrator rights, and in an elevated one the confirmation of the
// erase and the start of the worker. The worker itself is not started
// here: CreateThread is recorded instead.
#include "app/window/write_request.h"

#include <filesystem>
#include <fstream>

#include "app/window/control_ids.h"
#include "app/window/dot_local.h"
#include "app/window/palette.h"
#include "app/window/window_controls.h"
#include "app/window/window_fixture.h"
#include "app/write_run/download_worker.h"

namespace {

using app::app_state;
using app_test::enabled;
using app_test::message_box_answer;
using app_test::message_boxes;
using app_test::text_of;
using app_test::WindowTest;

struct ShellRecord {
    int count = 0;
    HWND owner = nullptr;
    std::wstring verb, file;
    bool has_parameters = false, has_directory = false;
    INT show = 0;
    INT_PTR answer = 42;  // above 32: Windows started the program
};
ShellRecord shell;

HINSTANCE WINAPI record_shell_execute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                      LPCWSTR directory, INT show) {
    ++shell.count;
    shell.owner = owner;
    shell.verb = verb;
    shell.file = file;
    shell.has_parameters = parameters != nullptr;
    shell.has_directory = directory != nullptr;
    shell.show = show;
    return reinterpret_cast<HINSTANCE>(shell.answer);
}

HANDLE const FAKE_THREAD = reinterpret_cast<HANDLE>(0x7e57);

struct ThreadRecord {
    int count = 0;
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID param = reinterpret_cast<LPVOID>(1);
    SIZE_T stack = 1;
    DWORD flags = 1;
    int closed = 0;
    bool busy_when_started = false;
};
ThreadRecord thread;
sys::CallTable below;

HANDLE WINAPI record_create_thread(LPSECURITY_ATTRIBUTES, SIZE_T stack,
                                   LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                                   LPDWORD) {
    ++thread.count;
    thread.start = start;
    thread.param = param;
    thread.stack = stack;
    thread.flags = flags;
    thread.busy_when_started = app_state.is_busy;
    return FAKE_THREAD;
}

BOOL WINAPI record_close(HANDLE h) {
    if (h == FAKE_THREAD) {
        ++thread.closed;
        return TRUE;
    }
    return below.CloseHandle(h);
}

class WriteRequestTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        shell = {};
        thread = {};
        below = sys::calls;
        sys::calls.ShellExecuteW = record_shell_execute;
        sys::calls.CreateThread = record_create_thread;
        sys::calls.CloseHandle = record_close;
    }

    void click_action() { SendMessageW(app_state.hwnd_main, WM_COMMAND, app::ID_ACTION, 0); }

    // Elevated, two sticks, the second one chosen.
    void start_with_second_stick_chosen() {
        add_two_sticks();
        start();
        app_state.sticks.selected_stick = 1;
        app::update_action_enabled();
    }
};

TEST_F(WriteRequestTest, NotElevatedRelaunchesItselfThroughRunas) {
    machine.set_elevated(false);
    add_two_sticks();
    start();
    EXPECT_EQ(text_of(app_state.hwnd_action), L"Enable USB access");
    HWND window = app_state.hwnd_main;
    click_action();
    ASSERT_EQ(shell.count, 1);
    wchar_t own_path[4096] = {};
    GetModuleFileNameW(nullptr, own_path, 4096);
    EXPECT_EQ(shell.owner, window);
    EXPECT_EQ(shell.verb, L"runas");
    EXPECT_EQ(shell.file, own_path);
    EXPECT_FALSE(shell.has_parameters);
    EXPECT_FALSE(shell.has_directory);
    EXPECT_EQ(shell.show, SW_SHOWNORMAL);
    EXPECT_FALSE(IsWindow(window));  // this instance ends
    EXPECT_TRUE(app_test::pump_messages());
}

TEST_F(WriteRequestTest, ADeclinedRelaunchCanBeTriedAgain) {
    machine.set_elevated(false);
    start();
    shell.answer = SE_ERR_ACCESSDENIED;  // the user said no to the prompt
    click_action();
    EXPECT_EQ(status(), L"USB access was declined. You can try again.");
    EXPECT_EQ(app_state.status_color, app::COLOR_WARNING);
    EXPECT_TRUE(IsWindow(app_state.hwnd_main));
    EXPECT_TRUE(enabled(app_state.hwnd_action));
    click_action();
    EXPECT_EQ(shell.count, 2);

    // A path Windows cannot give is declined the same way, without a prompt.
    machine.fail_call("GetModuleFileNameW", ERROR_INSUFFICIENT_BUFFER);
    app::set_status(L"", app::COLOR_MUTED);
    click_action();
    EXPECT_EQ(shell.count, 2);
    EXPECT_EQ(status(), L"USB access was declined. You can try again.");
}

// "<installer>.local" beside the installer, as any program of the user
// could plant one in Downloads: the instance without administrator rights
// says why and does not ask for them, and an elevated one would not start.
TEST_F(WriteRequestTest, ADotLocalBesideTheInstallerIsNeverElevated) {
    wchar_t own_path[4096] = {};
    GetModuleFileNameW(nullptr, own_path, 4096);
    const std::filesystem::path planted = std::wstring(own_path) + L".local";
    std::error_code ignored;
    for (const bool as_folder : {false, true}) {
        SCOPED_TRACE(as_folder ? "a folder" : "a file");
        std::filesystem::remove_all(planted, ignored);
        if (as_folder)
            std::filesystem::create_directories(planted / "amd64_microsoft.windows.common-controls");
        else
            std::ofstream(planted) << "";
        machine.set_elevated(true);
        EXPECT_FALSE(app::may_start_here());
        machine.set_elevated(false);
        EXPECT_TRUE(app::may_start_here());
    }
    start();
    click_action();
    EXPECT_EQ(shell.count, 0) << "asked for administrator rights";
    EXPECT_EQ(message_boxes.count, 1);
    EXPECT_EQ(message_boxes.text.rfind(L"Beside this installer there is a file or folder", 0), 0u);
    EXPECT_EQ(status(), L"USB access was declined. You can try again.");
    EXPECT_TRUE(IsWindow(app_state.hwnd_main));
    std::filesystem::remove_all(planted, ignored);
    machine.set_elevated(true);
    EXPECT_TRUE(app::may_start_here());
    // A name that cannot be looked at counts as there: nothing says it is not.
    machine.fail_call("CreateFileW", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(app::may_start_here());
    machine.clear_faults();
}

TEST_F(WriteRequestTest, NothingHappensWhileTheUpdateCheckRuns) {
    machine.set_elevated(false);
    start();
    app_state.update_check_running = true;
    app::request_write();
    EXPECT_EQ(shell.count, 0);
}

TEST_F(WriteRequestTest, ElevatedWithoutAChoiceDoesNothing) {
    add_two_sticks();
    start();
    EXPECT_FALSE(enabled(app_state.hwnd_action));
    app::request_write();
    EXPECT_EQ(message_boxes.count, 0);
    EXPECT_EQ(thread.count, 0);
}

TEST_F(WriteRequestTest, TheConfirmationNamesTheStickAndNoChangesNothing) {
    start_with_second_stick_chosen();
    const std::wstring status_before = status();
    message_box_answer = IDNO;
    click_action();
    ASSERT_EQ(message_boxes.count, 1);
    EXPECT_EQ(message_boxes.owner, app_state.hwnd_main);
    EXPECT_EQ(message_boxes.text,
              L"Download Tundra and erase this USB stick?\n\n"
              L"Tundra Flash  ·  Disk 2  ·  16.0 GB  ·  TWO\n\n"
              L"Back up anything you need before continuing.");
    EXPECT_EQ(message_boxes.caption, L"Confirm USB erase");
    EXPECT_EQ(message_boxes.type, static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
    EXPECT_EQ(thread.count, 0);
    EXPECT_FALSE(app_state.is_busy);
    EXPECT_EQ(status(), status_before);
    EXPECT_EQ(app_state.sticks.selected_stick, 1u);
    EXPECT_TRUE(enabled(app_state.hwnd_action));
    EXPECT_TRUE(enabled(app_state.hwnd_refresh));
}

TEST_F(WriteRequestTest, YesTurnsTheWindowBusyAndStartsTheWorker) {
    start_with_second_stick_chosen();
    message_box_answer = IDYES;
    click_action();
    ASSERT_EQ(thread.count, 1);
    EXPECT_EQ(thread.start, &app::download_and_write_thread);
    EXPECT_EQ(thread.param, nullptr);
    EXPECT_EQ(thread.stack, 0u);
    EXPECT_EQ(thread.flags, 0u);
    EXPECT_EQ(thread.closed, 1);  // never waited for
    EXPECT_TRUE(thread.busy_when_started);
    EXPECT_TRUE(app_state.is_busy);
    EXPECT_EQ(app_state.sticks.selected_stick, 1u);
    EXPECT_FALSE(enabled(app_state.hwnd_version));
    EXPECT_FALSE(enabled(app_state.hwnd_refresh));
    EXPECT_FALSE(enabled(app_state.hwnd_stick));
    EXPECT_FALSE(enabled(app_state.hwnd_action));
    EXPECT_EQ(text_of(app_state.hwnd_action), L"Preparing USB…");
    EXPECT_EQ(status(), L"Finding the latest Tundra release…");
    EXPECT_EQ(app_state.status_color, app::COLOR_ACCENT);

    // A second click while busy asks nothing.
    app::request_write();
    EXPECT_EQ(message_boxes.count, 1);
}

TEST_F(WriteRequestTest, AWorkerThatCannotStartLeavesTheChoiceUsable) {
    start_with_second_stick_chosen();
    sys::calls.CreateThread = below.CreateThread;  // through the machine's fault rules
    machine.fail_call("CreateThread", ERROR_NOT_ENOUGH_MEMORY);
    message_box_answer = IDYES;
    click_action();
    EXPECT_FALSE(app_state.is_busy);
    EXPECT_EQ(status(), L"Windows could not start the write. Try again.");
    EXPECT_EQ(app_state.status_color, app::COLOR_WARNING);
    EXPECT_EQ(app_state.sticks.selected_stick, 1u);
    EXPECT_TRUE(enabled(app_state.hwnd_action));
    EXPECT_TRUE(enabled(app_state.hwnd_stick));
    EXPECT_EQ(text_of(app_state.hwnd_action), L"Download and write USB");
}

}  // namespace
