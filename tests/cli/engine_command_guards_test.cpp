// The stick tool around an engine run: Windows is kept from sleeping for
// the length of write, backup and logs, and let go on every path; Ctrl+C
// asks the run to stop, and the tool exits with the stop's reason and the
// stick released.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/run_guards.h"
#include "cli/session_window.h"
#include "cli/tool_commands.h"
#include "fixtures/disk_image.h"
#include "fixtures/run_points.h"
#include "fixtures/temp_file.h"
#include "fixtures/temp_folder.h"
#include "sim/sim_machine.h"

namespace {

using fixtures::WideString;

struct Captured : cli::ToolOutput {
    std::string out_text;
    std::string err_text;
    void out(text::ByteText t) override { out_text.append(t.data, t.length); }
    void err(text::ByteText t) override { err_text.append(t.data, t.length); }
};

// Runs the tool with these arguments after "tundra-stick".
int run_tool(const std::vector<std::string>& arguments, Captured& output) {
    std::vector<WideString> texts{fixtures::widen("tundra-stick")};
    for (const std::string& a : arguments)
        texts.push_back(fixtures::widen(a));
    std::vector<const WCHAR*> argv;
    for (const WideString& t : texts)
        argv.push_back(t.c_str());
    return cli::run_tool(static_cast<int>(argv.size()), argv.data(), output);
}

// The console's handler as the tool installs and removes it; nothing real is
// installed.
std::vector<BOOL> handler_changes;
PHANDLER_ROUTINE console_handler = nullptr;

BOOL WINAPI recording_ctrl_handler(PHANDLER_ROUTINE routine, BOOL add) {
    handler_changes.push_back(add);
    console_handler = add ? routine : nullptr;
    return TRUE;
}

class EngineCommandGuards : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.add_system_disk(0);
        handler_changes.clear();
        console_handler = nullptr;
        sys::calls.SetConsoleCtrlHandler = recording_ctrl_handler;
    }

    sim::Machine machine;
};

// Which event the run's transfers wait on: made after the guards' own, and
// on Windows after the one the session window's thread starts with.
#ifdef _WIN32
constexpr unsigned RUN_EVENT = 3;
#else
constexpr unsigned RUN_EVENT = 2;
#endif

constexpr EXECUTION_STATE HELD = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
constexpr EXECUTION_STATE LET_GO = ES_CONTINUOUS;

TEST_F(EngineCommandGuards, SleepIsHeldOffForTheRunAndAllowedAgainOnEveryPath) {
    const fixtures::Bytes image = fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
    const fixtures::Bytes logs = fixtures::read_file(fixtures::real_image_path("logs.img"));
    fixtures::TempFile image_file("guard-image.img", image);
    fixtures::TempFile target("guard-target.img", fixtures::Bytes(image.size(), 0));
    fixtures::TempFile log_stick("guard-logs.img", logs);
    fixtures::TempFolder folder("guards");
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        bool no_event;
        int exit_code;
    } cases[] = {
        {"write done",
         {"write", "--image", image_file.narrow(), "--target", target.narrow(), "--fresh"},
         false,
         cli::EXIT_DONE},
        {"write failed",
         {"write", "--image", folder.narrow("none.img"), "--target", target.narrow()},
         false,
         cli::EXIT_FAILED},
        {"no event for the run",
         {"write", "--image", image_file.narrow(), "--target", target.narrow(), "--fresh"},
         true,
         cli::EXIT_FAILED},
        {"backup done",
         {"backup", "--target", target.narrow(), "--out", folder.narrow("backup.img")},
         false,
         cli::EXIT_DONE},
        {"backup failed",
         {"backup", "--target", target.narrow(), "--out", folder.narrow("backup.img")},
         false,
         cli::EXIT_FAILED},
        {"logs done",
         {"logs", "--target", log_stick.narrow(), "--logs", folder.narrow("logs")},
         false,
         cli::EXIT_DONE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t states_before = machine.execution_states().size();
        if (c.no_event)
            machine.fail_call("CreateEventW", ERROR_NOT_ENOUGH_MEMORY, RUN_EVENT);
        Captured output;
        EXPECT_EQ(run_tool(c.arguments, output), c.exit_code) << output.err_text;
        const std::vector<EXECUTION_STATE> all = machine.execution_states();
        EXPECT_EQ(std::vector<EXECUTION_STATE>(all.begin() + states_before, all.end()),
                  (std::vector<EXECUTION_STATE>{HELD, LET_GO}));
        EXPECT_EQ(machine.open_handle_count(), 0u);
    }
    EXPECT_EQ(handler_changes.size() % 2, 0u);
    EXPECT_EQ(console_handler, nullptr) << "the console's handler is removed after each run";
}

const std::u16string STICK_VOLUME = u"\\\\?\\Volume{0d15c0de-0000-0000-0000-000000000004}";
constexpr uint64_t MIB = 1048576;

// Ctrl+C while writes are in flight: the run stops at its next place, every
// transfer ends before the lock is let go, and the tool says what the stick
// was left as. The next run is not stopped by the last one's Ctrl+C.
TEST_F(EngineCommandGuards, CtrlCDuringAWriteStopsTheRunCleanly) {
    const fixtures::Bytes image = fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
    fixtures::TempFile image_file("ctrl-c.img", image);
    machine.add_stick({4, "Tundra", "Flash", "RS0004", 16 * MIB}).contents.assign(16 * MIB, 0);
    machine.add_volume(STICK_VOLUME, {{4, MIB, 15 * MIB}});
    const std::vector<std::string> write = {
        "write", "--image", image_file.narrow(), "--serial", "RS0004", "--fresh", "--full"};
    Captured output;
    int exit_code = 0;
    {
        fixtures::ActAt press(fixtures::RunPoint::SlotWrite, 3, [] {
            ASSERT_NE(console_handler, nullptr);
            EXPECT_TRUE(console_handler(CTRL_C_EVENT));
        });
        exit_code = run_tool(write, output);
    }
    EXPECT_EQ(exit_code, cli::EXIT_FAILED);
    EXPECT_EQ(output.err_text,
              "stopped on request: the stick was left partly written and must be written again\n");
    EXPECT_EQ(handler_changes, (std::vector<BOOL>{TRUE, FALSE}));
    EXPECT_EQ(machine.writes().size(), 3u);
    EXPECT_EQ(machine.held_lock_count(), 0u);
    EXPECT_EQ(machine.open_handle_count(), 0u);
    const std::vector<sim::Happening> timeline = machine.timeline();
    const auto released = std::find_if(timeline.begin(), timeline.end(), [](const auto& h) {
        return h.kind == sim::Happening::Kind::LockReleased;
    });
    ASSERT_NE(released, timeline.end());
    EXPECT_TRUE(std::none_of(released, timeline.end(), [](const auto& h) {
        return h.kind == sim::Happening::Kind::TransferEnded;
    })) << "a transfer ended after the lock was let go";

    Captured again;
    EXPECT_EQ(run_tool(write, again), cli::EXIT_DONE) << again.err_text;
}

#ifdef _WIN32
// The tool's hidden window, while a run has it: this process's own, since
// test processes that run at once share one desktop, and each may hold a
// window of the same class.
HWND session_window() {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, cli::SESSION_WINDOW_CLASS, nullptr)) !=
           nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId())
            return window;
    }
    return nullptr;
}

const std::string SLEPT =
    "the computer went to sleep during the write: the stick was left partly written and must be "
    "written again\n";

class SessionGuards : public EngineCommandGuards {
  protected:
    void SetUp() override {
        // The hidden window needs Wine's display driver.
        if (std::getenv("DISPLAY") == nullptr)
            GTEST_SKIP() << "needs an X display (Xvfb)";
        EngineCommandGuards::SetUp();
        const fixtures::Bytes image =
            fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
        image_file = std::make_unique<fixtures::TempFile>("session.img", image);
        machine.add_stick({4, "Tundra", "Flash", "RS0004", 16 * MIB}).contents.assign(16 * MIB, 0);
        machine.add_volume(STICK_VOLUME, {{4, MIB, 15 * MIB}});
        write = {"write",   "--image", image_file->narrow(), "--serial", "RS0004",
                 "--fresh", "--full"};
    }
    void TearDown() override { run::run_inputs.machine_slept = false; }

    // Everything the run held is let go, and so is the session.
    void expect_all_released() {
        EXPECT_EQ(machine.held_lock_count(), 0u);
        EXPECT_EQ(machine.open_handle_count(), 0u);
        EXPECT_EQ(machine.shutdown_block_reason(), u"");
        EXPECT_EQ(machine.shutdown_block_creates(), machine.shutdown_block_destroys());
        EXPECT_EQ(session_window(), nullptr);
    }

    std::unique_ptr<fixtures::TempFile> image_file;
    std::vector<std::string> write;
};

// The user signs out during a write. The tool never hears of it through its
// console; its hidden window is asked, says yes at once (Windows would end a
// console program that says no), and when the session ends stops the run
// and answers only once the stick is released, well within the five seconds
// Windows waits. When another program refuses, the session and the write go
// on.
TEST_F(SessionGuards, TheEndOfTheSessionStopsAWriteCleanly) {
    for (const bool another_refuses : {false, true}) {
        SCOPED_TRACE(another_refuses ? "another program refuses" : "the session ends");
        sim::SessionEnd end;
        std::thread ending;
        std::u16string reason;
        bool window_found = false;
        const size_t writes_before = machine.writes().size();
        Captured output;
        int exit_code = 0;
        {
            fixtures::ActAt sign_out(fixtures::RunPoint::SlotWrite, 3, [&] {
                EXPECT_FALSE(machine.console_event(CTRL_LOGOFF_EVENT));
                const HWND window = session_window();
                window_found = window != nullptr;
                reason = machine.shutdown_block_reason();
                ending = std::thread([&, window] {
                    end = machine.end_session(window, static_cast<LPARAM>(ENDSESSION_LOGOFF),
                                              another_refuses);
                });
                if (another_refuses) {
                    ending.join();
                    return;
                }
                const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (!run::run_inputs.stop_requested &&
                       std::chrono::steady_clock::now() < give_up)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            });
            exit_code = run_tool(write, output);
        }
        if (ending.joinable())
            ending.join();
        EXPECT_TRUE(window_found);
        EXPECT_EQ(reason, u"tundra-stick is using a USB stick");
        EXPECT_TRUE(end.may_end);
        EXPECT_LT(end.query_ms, 1000);
        if (another_refuses) {
            EXPECT_EQ(exit_code, cli::EXIT_DONE) << output.err_text;
            EXPECT_GT(machine.writes().size() - writes_before, 3u);
        } else {
            EXPECT_EQ(exit_code, cli::EXIT_FAILED);
            EXPECT_EQ(output.err_text,
                      "stopped on request: the stick was left partly written and must be written "
                      "again\n");
            EXPECT_EQ(machine.writes().size() - writes_before, 3u);
            EXPECT_LT(end.end_ms, static_cast<long long>(cli::CLOSE_WAIT_MS))
                << "answered by the end of the wait, not by the end of the run";
        }
        expect_all_released();
        machine.drive(4)->contents.assign(16 * MIB, 0);
    }
}

// The user closes the lid during a write: the window hears it, the run is
// asked to stop, and when the transfer in flight fails with a device error
// on waking, the tool says that the computer slept, not which error came.
TEST_F(SessionGuards, SleepDuringAWriteStopsItAndSaysSo) {
    long long suspend_ms = -1;
    Captured output;
    int exit_code = 0;
    {
        fixtures::ActAt lid(fixtures::RunPoint::SlotWrite, 3, [&] {
            const HWND window = session_window();
            ASSERT_NE(window, nullptr);
            suspend_ms = machine.suspend(window);
            machine.fail_call("WriteFile", ERROR_DEV_NOT_EXIST);
        });
        exit_code = run_tool(write, output);
    }
    EXPECT_EQ(exit_code, cli::EXIT_FAILED);
    EXPECT_EQ(output.err_text, SLEPT);
    EXPECT_GE(suspend_ms, 0);
    EXPECT_LT(suspend_ms, 1000) << "Windows waits about two seconds";
    expect_all_released();
}
#endif

// Ctrl+C once every byte is written, while the stick is read back: the
// stick holds the image but no one has seen it, and the same command again
// verifies it without writing a byte.
TEST_F(EngineCommandGuards, CtrlCDuringTheReadBackSaysTheStickIsWrittenButNotVerified) {
    const fixtures::Bytes image = fixtures::read_file(fixtures::real_image_path("real-fat12.img"));
    fixtures::TempFile image_file("read-back-stop.img", image);
    machine.add_stick({4, "Tundra", "Flash", "RS0004", 16 * MIB}).contents.assign(16 * MIB, 0);
    machine.add_volume(STICK_VOLUME, {{4, MIB, 15 * MIB}});
    const std::vector<std::string> write = {
        "write", "--image", image_file.narrow(), "--serial", "RS0004", "--fresh", "--full"};
    Captured output;
    int exit_code = 0;
    {
        fixtures::ActAt press(fixtures::RunPoint::SlotReadAfterWrites, 2,
                              [] { EXPECT_TRUE(console_handler(CTRL_C_EVENT)); });
        exit_code = run_tool(write, output);
    }
    EXPECT_EQ(exit_code, cli::EXIT_FAILED);
    EXPECT_EQ(output.err_text,
              "stopped on request after every byte was written, before the read-back ended: the "
              "stick holds what was written, but it was not verified; run the same command "
              "again, without --full, to verify it: it writes nothing where the stick holds the "
              "image\n");
    const size_t writes = machine.writes().size();
    std::vector<std::string> without_full = write;
    without_full.pop_back();
    Captured again;
    EXPECT_EQ(run_tool(without_full, again), cli::EXIT_DONE) << again.err_text;
    EXPECT_NE(again.out_text.find("the stick already holds this image: nothing written\n"),
              std::string::npos)
        << again.out_text;
    EXPECT_EQ(machine.writes().size(), writes) << "the second run wrote";
}

// Ctrl+C during a backup: the partial file is removed and the reason says so.
decltype(sys::calls.WriteFile) write_below = nullptr;
int backup_pieces = 0;
BOOL WINAPI press_ctrl_c_at_second_piece(HANDLE h, LPCVOID bytes, DWORD count, LPDWORD done,
                                         LPOVERLAPPED ov) {
    if (ov == nullptr && count == 4 * MIB && ++backup_pieces == 2) {
        EXPECT_TRUE(console_handler(CTRL_C_EVENT));
    }
    return write_below(h, bytes, count, done, ov);
}

TEST_F(EngineCommandGuards, CtrlCDuringABackupRemovesItsFileAndSaysSo) {
    fixtures::TempFile stick("backup-stop-stick.img", fixtures::Bytes(16 * MIB, 7));
    fixtures::TempFolder folder("backup-stop");
    const std::string out = folder.narrow("backup.img");
    write_below = sys::calls.WriteFile;
    backup_pieces = 0;
    sys::calls.WriteFile = press_ctrl_c_at_second_piece;
    Captured output;
    const int exit_code = run_tool({"backup", "--target", stick.narrow(), "--out", out}, output);
    sys::calls.WriteFile = write_below;
    EXPECT_EQ(exit_code, cli::EXIT_FAILED);
    EXPECT_EQ(output.err_text, "stopped on request: the stick is as it was; the partial backup " +
                                   out + " was removed\n");
    EXPECT_EQ(backup_pieces, 2);
    EXPECT_FALSE(std::ifstream(out).good()) << "the partial backup is still there";
}

// A backup shows how far it is, on a console, in the same line as a write:
// the percent named for what it counts.
TEST_F(EngineCommandGuards, ABackupShowsItsProgressOnAConsole) {
    struct Console : Captured {
        bool err_is_console() override { return true; }
    };
    fixtures::TempFile stick("backup-progress-stick.img", fixtures::Bytes(16 * MIB, 7));
    fixtures::TempFolder folder("backup-progress");
    Console output;
    EXPECT_EQ(
        run_tool({"backup", "--target", stick.narrow(), "--out", folder.narrow("b.img")}, output),
        cli::EXIT_DONE)
        << output.err_text;
    for (const char* shown :
         {"\r25% overall, backing up", "\r50% overall, backing up", "\r100% overall, backing up"}) {
        EXPECT_NE(output.err_text.find(shown), std::string::npos) << shown;
    }
}

// Windows ends the process as soon as the handler of a closing console
// returns: it returns only once the run is over (and so has released the
// stick), while Ctrl+C returns at once and leaves the process running. On
// the build's own calls: the handler runs on a thread of its own, as on
// Windows.
TEST(ConsoleClose, TheCloseWaitsForTheRunToEnd) {
    handler_changes.clear();
    sys::calls.SetConsoleCtrlHandler = recording_ctrl_handler;
    std::atomic<bool> returned{false};
    {
        cli::RunGuards guards;
        ASSERT_NE(console_handler, nullptr);
        const PHANDLER_ROUTINE handler = console_handler;
        EXPECT_TRUE(handler(CTRL_C_EVENT));
        EXPECT_TRUE(run::run_inputs.stop_requested);
        std::thread closing([&] {
            EXPECT_TRUE(handler(CTRL_CLOSE_EVENT));
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(returned) << "the close returned while the run was still on";
        guards.run_over();
        closing.join();
        EXPECT_TRUE(returned);
    }
    sys::restore_default_calls();
    run::run_inputs.stop_requested = false;
    EXPECT_EQ(handler_changes, (std::vector<BOOL>{TRUE, FALSE}));
}

}  // namespace
