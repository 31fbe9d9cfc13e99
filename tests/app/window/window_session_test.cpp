// The window and the user's session: the end of the session is blocked, and
// refused when asked, while a write runs; an end that cannot be refused
// stops the run and is answered once the run has let the stick go, within a
// bounded wait; and COM is ready on the window thread before anything may
// call ShellExecuteW. The session's messages come in the orders Windows
// sends them (sim::Machine::end_session). The worker is not started:
// CreateThread is recorded, and a test thread plays the worker where one is
// needed.
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
        run::run_inputs.machine_slept = false;
        WindowTest::TearDown();
    }

    // The user confirms a write; the worker's thread is recorded.
    void start_write() {
        app_test::message_box_answer = IDYES;
        send(WM_COMMAND, app::ID_ACTION);
    }

    decltype(sys::calls.CreateThread) create_thread_below = nullptr;
};

// Sign-out, restart and the Restart Manager ask first: while a write runs
// the window says no, Windows answers that the session goes on, and the
// write goes on untouched.
TEST_F(SessionTest, TheSessionCannotEndWhileAWriteRuns) {
    EXPECT_TRUE(machine.end_session(app_state.hwnd_main, ENDSESSION_CLOSEAPP).may_end);
    EXPECT_EQ(machine.shutdown_block_reason(), u"");

    start_write();
    ASSERT_EQ(threads_started, 1);
    EXPECT_EQ(machine.shutdown_block_reason(), REASON);
    const struct {
        const char* what;
        LPARAM flags;
    } asks[] = {
        {"shut down or restart", 0},
        {"Restart Manager", ENDSESSION_CLOSEAPP},
        {"sign-out", static_cast<LPARAM>(ENDSESSION_LOGOFF)},
    };
    for (const auto& ask : asks) {
        SCOPED_TRACE(ask.what);
        const sim::SessionEnd end = machine.end_session(app_state.hwnd_main, ask.flags);
        EXPECT_FALSE(end.may_end);
        EXPECT_LT(end.query_ms + end.end_ms, 1000);
        EXPECT_FALSE(run::run_inputs.stop_requested);
        EXPECT_TRUE(app_state.is_busy);
        EXPECT_EQ(machine.shutdown_block_reason(), REASON);
    }

    send(app::APP_MSG_WRITE_RESULT, 0, 0);
    EXPECT_EQ(machine.shutdown_block_reason(), u"");
    EXPECT_EQ(machine.shutdown_block_creates(), 1u);
    EXPECT_EQ(machine.shutdown_block_destroys(), 1u);
    EXPECT_TRUE(machine.end_session(app_state.hwnd_main, 0).may_end);
}

TEST_F(SessionTest, AWorkerThatCannotStartLeavesNoBlock) {
    sys::calls.CreateThread = create_thread_below;  // through the machine's fault rules
    machine.fail_call("CreateThread", ERROR_NOT_ENOUGH_MEMORY);
    start_write();
    EXPECT_FALSE(app_state.is_busy);
    EXPECT_EQ(machine.shutdown_block_reason(), u"");
    EXPECT_EQ(machine.shutdown_block_destroys(), machine.shutdown_block_creates());
    EXPECT_TRUE(machine.end_session(app_state.hwnd_main, 0).may_end);
}

// A session that ends while nothing runs asks nothing of anyone.
TEST_F(SessionTest, AnEndWithoutAWriteStopsNothing) {
    const sim::SessionEnd end =
        machine.end_session(app_state.hwnd_main, static_cast<LPARAM>(ENDSESSION_LOGOFF));
    EXPECT_TRUE(end.may_end);
    EXPECT_LT(end.query_ms + end.end_ms, 1000);
    EXPECT_FALSE(run::run_inputs.stop_requested);
}

// Plays the worker: once asked to stop, it takes a while to let the stick
// go and delete its file, then posts its result.
class StoppingWorker {
  public:
    explicit StoppingWorker(HWND window)
        : thread_([this, window] {
              const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
              while (!run::run_inputs.stop_requested && std::chrono::steady_clock::now() < give_up)
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              std::this_thread::sleep_for(std::chrono::milliseconds(600));
              cleaned_up = true;
              PostMessageW(window, app::APP_MSG_WRITE_RESULT, 0, 0);
          }) {}
    ~StoppingWorker() { thread_.join(); }
    std::atomic<bool> cleaned_up{false};

  private:
    std::thread thread_;
};

// An end that cannot be refused, during a write: the run is asked to stop
// while Windows still waits for the answer, and the window answers yes only
// once the worker has cleaned up and posted its result. The WM_ENDSESSION
// that follows has nothing left to wait for.
TEST_F(SessionTest, ACriticalEndStopsTheRunBeforeItIsAnswered) {
    start_write();
    sim::SessionEnd end;
    bool cleaned_when_answered = false;
    {
        StoppingWorker worker(app_state.hwnd_main);
        const LPARAM critical = static_cast<LPARAM>(ENDSESSION_CRITICAL | ENDSESSION_LOGOFF);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_NE(send(WM_QUERYENDSESSION, 0, critical), 0);
        end.query_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
        cleaned_when_answered = worker.cleaned_up;
        end.end_ms = timed_send(WM_ENDSESSION, TRUE);
    }
    EXPECT_TRUE(run::run_inputs.stop_requested);
    EXPECT_TRUE(cleaned_when_answered);
    EXPECT_LT(end.query_ms, static_cast<long long>(app::END_SESSION_WAIT_MS));
    EXPECT_LT(end.end_ms, 500);
}

// A run that does not end in time is not waited for past the bound:
// Windows waits five seconds for an answer, then lets the user end the program.
TEST_F(SessionTest, TheWaitForTheRunIsBounded) {
    start_write();
    const sim::SessionEnd end =
        machine.end_session(app_state.hwnd_main, static_cast<LPARAM>(ENDSESSION_CRITICAL));
    EXPECT_TRUE(end.may_end);
    EXPECT_TRUE(run::run_inputs.stop_requested);
    EXPECT_GE(end.query_ms, static_cast<long long>(app::END_SESSION_WAIT_MS) - 50);
    EXPECT_LT(end.query_ms, static_cast<long long>(app::END_SESSION_WAIT_MS) + 1000);
}

// The user closes the lid during a write: Windows does not ask, and waits
// about two seconds. The run is asked at once to stop at its next piece and
// to say that the machine slept; with nothing running, nothing is asked.
TEST_F(SessionTest, SleepDuringAWriteStopsTheRun) {
    EXPECT_LT(machine.suspend(app_state.hwnd_main), 500);
    EXPECT_FALSE(run::run_inputs.stop_requested);
    EXPECT_FALSE(run::run_inputs.machine_slept);

    start_write();
    EXPECT_LT(machine.suspend(app_state.hwnd_main), 500);
    EXPECT_TRUE(run::run_inputs.stop_requested);
    EXPECT_TRUE(run::run_inputs.machine_slept);
    EXPECT_TRUE(app_state.is_busy) << "the window waits for the run's own result";
}

// The next write starts without the stop request of an earlier one.
TEST_F(SessionTest, AWriteStartsWithoutAnEarlierStopRequest) {
    run::run_inputs.stop_requested = true;
    run::run_inputs.machine_slept = true;
    start_write();
    EXPECT_FALSE(run::run_inputs.stop_requested);
    EXPECT_FALSE(run::run_inputs.machine_slept);
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
