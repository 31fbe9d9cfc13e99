// Installing a verified update, in the real window under Wine: the update
// message arrives with the new build in the buffer, and the files beside a
// "running" build in a folder of its own end as they must, whatever step
// fails. The new copy's start is recorded, not made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/app_messages.h"
#include "app/self_update/held_file_retry.h"
#include "app/self_update/update_test_support.h"
#include "app/window/palette.h"
#include "app/window/window_controls.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;
using update_test::Bytes;

const Bytes RUNNING = update_test::pattern(3000, 5);
const Bytes NEW_BUILD = update_test::pattern(5000, 6);
const std::wstring WARNING =
    L"Update available at localhost/install. This copy could not be replaced.";
constexpr DWORD PROCESS_ID = 0x1a2c;

struct Launch {
    int count = 0;
    HWND owner = nullptr;
    std::wstring verb, file;
    bool no_parameters = false;
    INT show = 0;
} launch;
INT_PTR launch_result = 42;  // above 32: started

HINSTANCE WINAPI record_launch(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                               LPCWSTR directory, INT show) {
    ++launch.count;
    launch.owner = owner;
    launch.verb = verb;
    launch.file = file;
    launch.no_parameters = parameters == nullptr && directory == nullptr;
    launch.show = show;
    return reinterpret_cast<HINSTANCE>(launch_result);
}

struct Move {
    std::wstring from, to;
    DWORD flags;
};
std::vector<Move> moves;
decltype(sys::calls.MoveFileExW) move_below = nullptr;

// The renames (counted from 1) that fail, as a rename onto a file that
// appeared meanwhile does: an error that no retry outlasts.
std::vector<size_t> failing_moves;

BOOL WINAPI record_move(LPCWSTR from, LPCWSTR to, DWORD flags) {
    moves.push_back({from, to, flags});
    if (std::find(failing_moves.begin(), failing_moves.end(), moves.size()) !=
        failing_moves.end()) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    return move_below(from, to, flags);
}

struct Disposition {
    int count = 0;
    FILE_INFO_BY_HANDLE_CLASS kind{};
    DWORD flags = 0;
    DWORD size = 0;
    BOOL result = FALSE;
    DWORD error = 0;
} disposition;
decltype(sys::calls.SetFileInformationByHandle) set_information_below = nullptr;

BOOL WINAPI record_disposition(HANDLE h, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    ++disposition.count;
    disposition.kind = kind;
    disposition.size = size;
    if (size >= sizeof(DWORD))
        memcpy(&disposition.flags, info, sizeof(DWORD));
    disposition.result = set_information_below(h, kind, info, size);
    disposition.error = GetLastError();
    return disposition.result;
}

// Tick counts as the installer reads them: one for each name it makes.
ULONGLONG next_tick = 0;
ULONGLONG WINAPI test_ticks() {
    return next_tick++;
}
DWORD WINAPI test_process_id() {
    return PROCESS_ID;
}

// A short write: Windows reports success with fewer bytes written.
decltype(sys::calls.WriteFile) write_below = nullptr;
BOOL WINAPI short_write(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    return write_below(h, buffer, count - 1, done, ov);
}

class InstallUpdateTest : public app_test::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        base_calls = sys::calls;
        start_checking();
    }

    // A new window that is checking, as start-up left it, whose check thread
    // has verified NEW_BUILD; the running build is RUNNING in its folder.
    void start_checking() {
        if (app_state.hwnd_main != nullptr)
            WindowTest::TearDown();
        sys::calls = base_calls;
        WindowTest::SetUp();
        machine.set_elevated(false);
        machine.clear_faults();
        std::filesystem::remove_all(folder / "");
        std::filesystem::create_directories(folder / "");
        ASSERT_TRUE(update_test::write_file(running, RUNNING));
        start();
        launch = {};
        launch_result = 42;
        sys::calls.ShellExecuteW = record_launch;
        moves.clear();
        failing_moves.clear();
        move_below = sys::calls.MoveFileExW;
        sys::calls.MoveFileExW = record_move;
        disposition = {};
        set_information_below = sys::calls.SetFileInformationByHandle;
        sys::calls.SetFileInformationByHandle = record_disposition;
        next_tick = 0x5f3e01;
        sys::calls.GetTickCount64 = test_ticks;
        sys::calls.GetCurrentProcessId = test_process_id;

        app::UpdateContext& context = app_state.update.emplace();
        context.update_mutex = CreateMutexW(nullptr, TRUE, nullptr);
        const std::wstring path = running.wstring();
        std::copy(path.begin(), path.end(), context.exe_path.units);
        context.exe_path.length = path.size();
        context.exe_identity = app::read_file_identity(context.exe_path.units);
        ASSERT_TRUE(context.exe_identity.valid);
        app_state.update_check_running = true;
        app::update_action_enabled();
        app_state.update_ready = true;
        app_state.update_length = NEW_BUILD.size();
        memcpy(app_state.update_buffer, NEW_BUILD.data(), NEW_BUILD.size());
        window = app_state.hwnd_main;
        machine.reset_uses();
    }

    void deliver_update() { SendMessageW(app_state.hwnd_main, app::APP_MSG_UPDATE_RESULT, 0, 0); }

    // What lies in the folder: each name with its bytes.
    std::map<std::string, Bytes> files() const {
        std::map<std::string, Bytes> found;
        for (const std::string& name : folder.names())
            found[name] = *update_test::read_file(folder / name);
        return found;
    }

    // The check ended without installing: the warning, the mutex given
    // back, the action button usable, nothing left open.
    void expect_gave_up() {
        EXPECT_TRUE(IsWindow(app_state.hwnd_main));
        EXPECT_FALSE(app_state.update.has_value());
        EXPECT_FALSE(app_state.update_check_running);
        EXPECT_EQ(status(), WARNING);
        EXPECT_EQ(app_state.status_color, app::COLOR_WARNING);
        EXPECT_TRUE(app_test::enabled(app_state.hwnd_action));
        EXPECT_EQ(machine.uses("ReleaseMutex"), 1u);
        EXPECT_EQ(machine.open_handle_count(), 0u);
    }

    void expect_relaunched() {
        EXPECT_EQ(launch.count, 1);
        EXPECT_FALSE(IsWindow(app_state.hwnd_main));
        EXPECT_FALSE(app_state.update.has_value());
        EXPECT_FALSE(app_state.update_check_running);
        EXPECT_EQ(machine.uses("ReleaseMutex"), 1u);
        EXPECT_EQ(machine.open_handle_count(), 0u);
        EXPECT_EQ(update_test::read_file(running), NEW_BUILD);
    }

    sys::CallTable base_calls;
    HWND window = nullptr;
    update_test::Folder folder;
    const std::filesystem::path running = folder / "tundra-usb-installer-x64.exe";
    const std::string new_name = "tundra-usb-installer-x64.exe.tundra-new-1a2c-5f3e01";
    const std::string previous_name = "tundra-usb-installer-x64.exe.tundra-previous-1a2c-5f3e02";
};

TEST_F(InstallUpdateTest, SwapsTheBuildsAndStartsTheNewOne) {
    deliver_update();
    expect_relaunched();
    EXPECT_EQ(launch.owner, window);
    EXPECT_EQ(launch.verb, L"open");
    EXPECT_EQ(launch.file, running.wstring());
    EXPECT_TRUE(launch.no_parameters);
    EXPECT_EQ(launch.show, SW_SHOWNORMAL);
    // Two renames, neither of which may replace an existing file.
    const std::wstring exe = running.wstring();
    const std::wstring new_file = (folder / new_name).wstring();
    const std::wstring previous = (folder / previous_name).wstring();
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0].from, exe);
    EXPECT_EQ(moves[0].to, previous);
    EXPECT_EQ(moves[1].from, new_file);
    EXPECT_EQ(moves[1].to, exe);
    for (const Move& m : moves)
        EXPECT_EQ(m.flags, static_cast<DWORD>(MOVEFILE_WRITE_THROUGH));
    // The previous build is asked to go at once, POSIX-style. Wine refuses
    // (error 87): the previous build then stays beside the new one.
    EXPECT_EQ(disposition.count, 1);
    EXPECT_EQ(disposition.kind, FileDispositionInfoEx);
    EXPECT_EQ(disposition.flags, static_cast<DWORD>(FILE_DISPOSITION_FLAG_DELETE |
                                                    FILE_DISPOSITION_FLAG_POSIX_SEMANTICS));
    EXPECT_EQ(disposition.size, 4u);
    const auto left = files();
    EXPECT_EQ(left.count(new_name), 0u);
    if (disposition.result) {
        EXPECT_EQ(left.size(), 1u);
    } else {
        std::printf("POSIX delete refused with error %lu: the previous build stays\n",
                    static_cast<unsigned long>(disposition.error));
        ASSERT_EQ(left.count(previous_name), 1u);
        EXPECT_EQ(left.at(previous_name), RUNNING);
    }
}

// Each call of the installation failing at each of its uses, with an error
// that no retry outlasts (a write-protected medium): before the new copy
// starts, the running build stays at its path and nothing is left beside
// it; once it has started, nothing can stop the relaunch.
TEST_F(InstallUpdateTest, EachFailingCallLeavesTheFilesAsTheyMustBe) {
    deliver_update();
    std::vector<std::pair<std::string, unsigned>> uses;
    for (const std::string& name : sim::Machine::failable_calls()) {
        const unsigned count = machine.uses(name.c_str());
        // The window's own end is not the installation's: DestroyWindow
        // cannot fail for the window of the calling thread.
        if (name == "DestroyWindow")
            continue;
        for (unsigned nth = 1; nth <= count; ++nth)
            uses.emplace_back(name, nth);
    }
    // Before the new copy starts: making the new file, writing and flushing
    // it, reading the running build's identity, and the two renames.
    const std::vector<std::pair<std::string, unsigned>> give_up = {
        {"CreateFileW", 1},
        {"WriteFile", 1},
        {"FlushFileBuffers", 1},
        {"CreateFileW", 2},
        {"GetFileInformationByHandle", 1},
        {"MoveFileExW", 1},
        {"MoveFileExW", 2},
    };
    for (const auto& step : give_up)
        EXPECT_NE(std::find(uses.begin(), uses.end(), step), uses.end()) << step.first;
    for (const auto& [name, nth] : uses) {
        SCOPED_TRACE(name + " failing at use " + std::to_string(nth));
        start_checking();
        machine.fail_call(name.c_str(), ERROR_WRITE_PROTECT, nth);
        deliver_update();
        const bool gives_up =
            std::find(give_up.begin(), give_up.end(), std::make_pair(name, nth)) != give_up.end();
        if (gives_up) {
            expect_gave_up();
            EXPECT_EQ(launch.count, 0);
            EXPECT_EQ(files(),
                      (std::map<std::string, Bytes>{{"tundra-usb-installer-x64.exe", RUNNING}}));
        } else {
            expect_relaunched();
            EXPECT_EQ(files().count(new_name), 0u);
        }
    }
}

// Where putting the running build back fails too, both builds stay where
// the last rename that worked left them; the warning says so either way.
TEST_F(InstallUpdateTest, FailuresWhileGivingUpLeaveBothBuildsFindable) {
    const std::string exe_name = "tundra-usb-installer-x64.exe";
    const struct {
        const char* name;
        std::function<void()> arrange;
        std::map<std::string, Bytes> left;
    } cases[] = {
        {"a short write",
         [] {
             write_below = sys::calls.WriteFile;
             sys::calls.WriteFile = short_write;
         },
         {{exe_name, RUNNING}}},
        {"the new copy does not start",
         [] { launch_result = SE_ERR_ACCESSDENIED; },
         {{exe_name, RUNNING}}},
        {"the second rename and the way back fail",
         [] {
             failing_moves = {2, 3};
         },
         {{previous_name, RUNNING}}},
        {"no start, and the new build cannot step aside",
         [] {
             launch_result = SE_ERR_ACCESSDENIED;
             failing_moves = {3};
         },
         {{exe_name, NEW_BUILD}, {previous_name, RUNNING}}},
        {"no start, and the running build cannot come back",
         [] {
             launch_result = SE_ERR_ACCESSDENIED;
             failing_moves = {4};
         },
         {{previous_name, RUNNING}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start_checking();
        c.arrange();
        deliver_update();
        expect_gave_up();
        EXPECT_EQ(files(), c.left);
    }
}

// The file at the executable's path as Windows describes it just before the
// swap: the running build's own answer with one field changed.
std::function<void(BY_HANDLE_FILE_INFORMATION&)> change_identity;
decltype(sys::calls.GetFileInformationByHandle) identity_below = nullptr;
BOOL WINAPI changed_identity(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
    const BOOL answered = identity_below(file, info);
    if (answered)
        change_identity(*info);
    return answered;
}

// Another file at the executable's path (the running build replaced or
// restored from a backup) differs from it in its volume, its index, its
// size or its last write: any one of them alone keeps the swap from
// moving it aside. What a running program's file may see change (its
// attributes, links, access time) does not.
TEST_F(InstallUpdateTest, OnlyTheRunningBuildItselfIsMovedAside) {
    using Info = BY_HANDLE_FILE_INFORMATION;
    const struct {
        const char* field;
        std::function<void(Info&)> change;
        bool still_the_running_build;
    } cases[] = {
        {"volume", [](Info& i) { i.dwVolumeSerialNumber ^= 1; }, false},
        {"index, high part", [](Info& i) { i.nFileIndexHigh ^= 1; }, false},
        {"index, low part", [](Info& i) { i.nFileIndexLow ^= 1; }, false},
        {"size, high part", [](Info& i) { i.nFileSizeHigh ^= 1; }, false},
        {"size, low part", [](Info& i) { i.nFileSizeLow ^= 1; }, false},
        {"last write, high part", [](Info& i) { i.ftLastWriteTime.dwHighDateTime ^= 1; }, false},
        {"last write, low part", [](Info& i) { i.ftLastWriteTime.dwLowDateTime ^= 1; }, false},
        {"attributes", [](Info& i) { i.dwFileAttributes ^= FILE_ATTRIBUTE_ARCHIVE; }, true},
        {"creation", [](Info& i) { i.ftCreationTime.dwLowDateTime ^= 1; }, true},
        {"last access", [](Info& i) { i.ftLastAccessTime.dwLowDateTime ^= 1; }, true},
        {"links", [](Info& i) { i.nNumberOfLinks += 1; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        start_checking();
        change_identity = c.change;
        identity_below = sys::calls.GetFileInformationByHandle;
        sys::calls.GetFileInformationByHandle = changed_identity;
        deliver_update();
        if (c.still_the_running_build) {
            expect_relaunched();
        } else {
            expect_gave_up();
            EXPECT_EQ(launch.count, 0);
            EXPECT_TRUE(moves.empty());
            EXPECT_EQ(files(),
                      (std::map<std::string, Bytes>{{"tundra-usb-installer-x64.exe", RUNNING}}));
        }
    }
}

// A scanner quarantines the new build between the swap and its start: the
// start fails, the new build cannot step aside (it is gone), and the running
// build still returns to its own name.
HINSTANCE WINAPI quarantine_and_fail(HWND, LPCWSTR, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
    ++launch.count;
    DeleteFileW(file);
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_FNF));
}

TEST_F(InstallUpdateTest, ANewBuildRemovedBeforeItsStartLeavesTheRunningOneAtItsName) {
    sys::calls.ShellExecuteW = quarantine_and_fail;
    deliver_update();
    expect_gave_up();
    EXPECT_EQ(launch.count, 1);
    EXPECT_EQ(files(), (std::map<std::string, Bytes>{{"tundra-usb-installer-x64.exe", RUNNING}}));
}

// A scanner or sync client that holds a new file for a moment: each rename
// and delete tries again, a short pause apart, and only so often.
TEST_F(InstallUpdateTest, RenamesAndDeletesOutlastABriefHold) {
    const std::map<std::string, Bytes> untouched = {{"tundra-usb-installer-x64.exe", RUNNING}};
    const struct {
        const char* name;
        std::function<void()> arrange;
        bool relaunched;
        unsigned renames;
        uint64_t slept_ms;
    } cases[] = {
        {"the first rename refused twice for sharing",
         [&] {
             // Each rule fails the next use that no earlier rule failed.
             machine.fail_call("MoveFileExW", ERROR_SHARING_VIOLATION, 1);
             machine.fail_call("MoveFileExW", ERROR_SHARING_VIOLATION, 1);
         },
         true, 4, 300},
        {"the swap refused once for access",
         [&] { machine.fail_call("MoveFileExW", ERROR_ACCESS_DENIED, 2); }, true, 3, 150},
        {"the swap refused once for a lock",
         [&] { machine.fail_call("MoveFileExW", ERROR_LOCK_VIOLATION, 2); }, true, 3, 150},
        {"the first rename held for good",
         [&] { machine.fail_call("MoveFileExW", ERROR_SHARING_VIOLATION, 0); }, false,
         app::HELD_FILE_ATTEMPTS, 150 * (app::HELD_FILE_ATTEMPTS - 1)},
        {"an error that does not pass is not retried",
         [&] { machine.fail_call("MoveFileExW", ERROR_WRITE_PROTECT, 1); }, false, 1, 0},
        {"the new file's delete refused twice",
         [&] {
             machine.fail_call("MoveFileExW", ERROR_WRITE_PROTECT, 1);
             machine.fail_call("DeleteFileW", ERROR_SHARING_VIOLATION, 1);
             machine.fail_call("DeleteFileW", ERROR_SHARING_VIOLATION, 1);
         },
         false, 1, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start_checking();
        const uint64_t slept_before = machine.slept_ms();
        c.arrange();
        deliver_update();
        EXPECT_EQ(machine.slept_ms() - slept_before, c.slept_ms);
        if (c.relaunched) {
            expect_relaunched();
            EXPECT_EQ(files().count(new_name), 0u);
        } else {
            expect_gave_up();
            EXPECT_EQ(files(), untouched);
        }
        EXPECT_EQ(moves.size(), c.renames);
    }
}

}  // namespace
