// The window and the user's session: the end of the session is blocked, and
// refused when asked, while a write runs; a session that ends all the same
// asks the run to stop and waits a bounded time for its result; and COM is
// ready on the window thread before anything may call ShellExecuteW. The
// worker is not started: CreateThread is recorded, and a test thread plays
// the worker where one is needed.
#include <atomic>
#include <chrono>
#include <thread>

#include "app/app_messages.h"
#include "app/window/control_ids.h"
#include "app/window/session_end.h"
#include "app/window/window_controls.h"
#include "app/window/window_fixture.h"
#include "run/run_inputs.h"

namespace {

using app::app_state;
using app_test::WindowTest;

int threads_started = 0;

// Hands back a real handle (an event) for the window to close.
HANDLE WINAPI record_thread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                            LPDWORD) {
    ++threads_started;
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

using app_test::send;

// Milliseconds that sending the message took.
long long timed_send(UINT message, WPARAM wparam) {
    const auto start = std::chrono::steady_clock::now();
    send(message, wparam);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

const std::u16string REASON = u"Writing the USB stick";

class SessionTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        threads_started = 0;
        create_thread_below = sys::calls.CreateThread;
        sys::calls.CreateThread = record_thread;
        run::run_inputs.stop_requested = false;
        add_two_sticks();
        start();
        app_state.sticks.selected_stick = 1;
        app::update_action_enabled();
    }

    void TearDown() override {
        run::run_inputs.stop_requested = false;
        WindowTest::TearDown();
    }

    // The user confirms a write; the worker's thread is recorded.
    void start_write() {
        app_test::message_box_answer = IDYES;
        send(WM_COMMAND, app::ID_ACTION);
    }

    decltype(sys::calls.CreateThread) create_thread_below = nullptr;
};

TEST_F(SessionTest, TheSessionCannotEndWhileAWriteRuns) {
    EXPECT_NE(send(WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP), 0);
    EXPECT_EQ(machine.shutdown_block_reason(), u"");

    start_write();
    ASSERT_EQ(threads_started, 1);
    EXPECT_EQ(machine.shutdown_block_reason(), REASON);
    EXPECT_EQ(send(WM_QUERYENDSESSION, 0, 0), 0);
    EXPECT_EQ(send(WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP), 0);  // Restart Manager
    EXPECT_EQ(send(WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), 0);
    EXPECT_TRUE(app_state.is_busy);

    send(app::APP_MSG_WRITE_RESULT, 0, 0);
    EXPECT_EQ(machine.shutdown_block_reason(), u"");
    EXPECT_EQ(machine.shutdown_block_creates(), 1u);
    EXPECT_EQ(machine.shutdown_block_destroys(), 1u);
    EXPECT_NE(send(WM_QUERYENDSESSION, 0, 0), 0);
}

TEST_F(SessionTest, AWorkerThatCannotStartLeavesNoBlock) {
    sys::calls.CreateThread = create_thread_below;  // through the machine's fault rules
    machine.fail_call("CreateThread", ERROR_NOT_ENOUGH_MEMORY);
    start_write();
    EXPECT_FALSE(app_state.is_busy);
    EXPECT_EQ(machine.shutdown_block_reason(), u"");
    EXPECT_EQ(machine.shutdown_block_destroys(), machine.shutdown_block_creates());
    EXPECT_NE(send(WM_QUERYENDSESSION, 0, 0), 0);
}

// A session that ends while nothing runs, or one that does not end after
// all, asks nothing of anyone.
TEST_F(SessionTest, AnEndWithoutAWriteStopsNothing) {
    EXPECT_LT(timed_send(WM_ENDSESSION, TRUE), 1000);
    EXPECT_FALSE(run::run_inputs.stop_requested);
    start_write();
    EXPECT_LT(timed_send(WM_ENDSESSION, FALSE), 1000);
    EXPECT_FALSE(run::run_inputs.stop_requested);
}

// The session ends during a write: the run is asked to stop, and the window
// answers only once the worker has cleaned up and posted its result.
TEST_F(SessionTest, AnEndingSessionStopsTheRunAndWaitsForItsResult) {
    start_write();
    std::atomic<bool> cleaned_up{false};
    HWND window = app_state.hwnd_main;
    std::thread worker([&cleaned_up, window] {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!run::run_inputs.stop_requested && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        // Letting the stick go and deleting the file take a while.
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        cleaned_up = true;
        PostMessageW(window, app::APP_MSG_WRITE_RESULT, 0, 0);
    });
    const long long took_ms = timed_send(WM_ENDSESSION, TRUE);
    const bool cleaned_when_answered = cleaned_up;
    worker.join();
    EXPECT_TRUE(run::run_inputs.stop_requested);
    EXPECT_TRUE(cleaned_when_answered);
    EXPECT_LT(took_ms, static_cast<long long>(app::END_SESSION_WAIT_MS));
}

// A run that does not end in time is not waited for past the bound:
// Windows ends a program that does not answer soon.
TEST_F(SessionTest, TheWaitForTheRunIsBounded) {
    start_write();
    const long long took_ms = timed_send(WM_ENDSESSION, TRUE);
    EXPECT_TRUE(run::run_inputs.stop_requested);
    EXPECT_GE(took_ms, static_cast<long long>(app::END_SESSION_WAIT_MS) - 50);
    EXPECT_LT(took_ms, static_cast<long long>(app::END_SESSION_WAIT_MS) + 1500);
}

// The next write starts without the stop request of an earlier one.
TEST_F(SessionTest, AWriteStartsWithoutAnEarlierStopRequest) {
    run::run_inputs.stop_requested = true;
    start_write();
    EXPECT_FALSE(run::run_inputs.stop_requested);
}

struct ComCall {
    int count = 0;
    DWORD model = 0;
    int shell_calls_before = 0;
} com;
int shell_calls = 0;

HRESULT WINAPI record_com(LPVOID, DWORD model) {
    ++com.count;
    com.model = model;
    com.shell_calls_before = shell_calls;
    return S_OK;
}

HINSTANCE WINAPI record_shell(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
    ++shell_calls;
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_ACCESSDENIED));
}

TEST_F(WindowTest, ComIsReadyBeforeTheFirstShellCall) {
    com = {};
    shell_calls = 0;
    sys::calls.CoInitializeEx = record_com;
    sys::calls.ShellExecuteW = record_shell;
    machine.set_elevated(false);
    start();
    SendMessageW(app_state.hwnd_main, WM_COMMAND, app::ID_ACTION, 0);  // the elevated relaunch
    EXPECT_EQ(shell_calls, 1);
    EXPECT_EQ(com.count, 1);
    EXPECT_EQ(com.model, static_cast<DWORD>(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    EXPECT_EQ(com.shell_calls_before, 0);
}

TEST_F(WindowTest, AWindowWithoutComStillStarts) {
    machine.fail_call("CoInitializeEx", static_cast<DWORD>(E_OUTOFMEMORY));
    start();
    EXPECT_EQ(machine.uses("CoInitializeEx"), 1u);
    EXPECT_TRUE(IsWindow(app_state.hwnd_main));
}

}  // namespace
