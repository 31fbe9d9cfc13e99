// The taskbar button's progress through a write, recorded call by call: the
// taskbar's interface is a test double that COM hands out in place of
// Explorer's, and the flash and the dialog are recorded beside it.
#include "app/window/taskbar_progress.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/app_messages.h"
#include "app/window/control_ids.h"
#include "app/window/startup.h"
#include "app/window/window_controls.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;
using app_test::WindowTest;

std::vector<std::string> calls_made;

void note(const std::string& call) {
    calls_made.push_back(call);
}

class RecordingTaskbar : public ITaskbarList3 {
  public:
    HRESULT init_result = S_OK;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        note("Release");
        return --references;
    }
    HRESULT STDMETHODCALLTYPE HrInit() override {
        note("HrInit");
        return init_result;
    }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND hwnd, ULONGLONG done,
                                               ULONGLONG total) override {
        note("SetProgressValue " + std::to_string(done) + "/" + std::to_string(total) +
             window_note(hwnd));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND hwnd, TBPFLAG state) override {
        const char* name = state == TBPF_NOPROGRESS      ? "none"
                           : state == TBPF_INDETERMINATE ? "indeterminate"
                           : state == TBPF_NORMAL        ? "normal"
                           : state == TBPF_ERROR         ? "error"
                                                         : "other";
        note(std::string("SetProgressState ") + name + window_note(hwnd));
        return S_OK;
    }
    // Nothing else of the interface is for the window to call.
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return unexpected("AddTab"); }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return unexpected("DeleteTab"); }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return unexpected("ActivateTab"); }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return unexpected("SetActiveAlt"); }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override {
        return unexpected("MarkFullscreenWindow");
    }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return unexpected("RegisterTab"); }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return unexpected("UnregisterTab"); }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return unexpected("SetTabOrder"); }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override {
        return unexpected("SetTabActive");
    }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return unexpected("ThumbBarAddButtons");
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return unexpected("ThumbBarUpdateButtons");
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override {
        return unexpected("ThumbBarSetImageList");
    }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override {
        return unexpected("SetOverlayIcon");
    }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override {
        return unexpected("SetThumbnailTooltip");
    }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override {
        return unexpected("SetThumbnailClip");
    }

    ULONG references = 0;

  private:
    static std::string window_note(HWND hwnd) {
        return hwnd == app_state.hwnd_main ? "" : " (another window)";
    }
    static HRESULT unexpected(const char* name) {
        note(name);
        return E_NOTIMPL;
    }
};

RecordingTaskbar taskbars[2];
int taskbars_made = 0;
bool taskbar_available = true;

HRESULT WINAPI make_taskbar(REFCLSID class_id, LPUNKNOWN outer, DWORD context, REFIID interface_id,
                            LPVOID* object) {
    *object = nullptr;
    if (!IsEqualCLSID(class_id, CLSID_TaskbarList))
        return REGDB_E_CLASSNOTREG;  // the window's other COM objects are not looked at here
    note("CoCreateInstance");
    if (!taskbar_available)
        return REGDB_E_CLASSNOTREG;
    EXPECT_TRUE(IsEqualCLSID(class_id, CLSID_TaskbarList));
    EXPECT_TRUE(IsEqualIID(interface_id, IID_ITaskbarList3));
    EXPECT_EQ(outer, nullptr);
    EXPECT_EQ(context, static_cast<DWORD>(CLSCTX_INPROC_SERVER));
    RecordingTaskbar& made = taskbars[taskbars_made++ % 2];
    made.references = 1;
    *object = static_cast<ITaskbarList3*>(&made);
    return S_OK;
}

HWND foreground = nullptr;

HWND WINAPI recorded_foreground() {
    return foreground;
}

BOOL WINAPI record_flash(PFLASHWINFO flash) {
    EXPECT_EQ(flash->cbSize, sizeof(FLASHWINFO));
    EXPECT_EQ(flash->hwnd, app_state.hwnd_main);
    EXPECT_EQ(flash->dwFlags, static_cast<DWORD>(FLASHW_ALL | FLASHW_TIMERNOFG));
    EXPECT_EQ(flash->uCount, 0u);
    note("FlashWindowEx");
    return FALSE;
}

int WINAPI record_dialog(HWND, LPCWSTR, LPCWSTR, UINT) {
    note("MessageBoxW");
    return IDOK;
}

HANDLE WINAPI no_worker(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                        LPDWORD) {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);  // a handle to close, standing in
}

UINT button_created() {
    return RegisterWindowMessageW(L"TaskbarButtonCreated");
}

using app_test::send;

// An elevated window with a stick chosen, whose write is confirmed and
// reported as a worker would report it.
class TaskbarTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        calls_made.clear();
        taskbars_made = 0;
        taskbar_available = true;
        taskbars[0].init_result = taskbars[1].init_result = S_OK;
        sys::calls.CoCreateInstance = make_taskbar;
        sys::calls.GetForegroundWindow = recorded_foreground;
        sys::calls.FlashWindowEx = record_flash;
        sys::calls.MessageBoxW = record_dialog;
        sys::calls.CreateThread = no_worker;
        add_two_sticks();
        start();
        foreground = app_state.hwnd_main;
        app_state.sticks.selected_stick = 1;
        app::update_action_enabled();
    }

    void confirm_write() {
        app_test::message_box_answer = IDYES;
        sys::calls.MessageBoxW = app_test::record_message_box;
        send(WM_COMMAND, app::ID_ACTION);
        sys::calls.MessageBoxW = record_dialog;
        ASSERT_TRUE(app_state.is_busy);
    }

    void report_download_and_write() {
        for (const WPARAM percent : {1, 50, 100})
            send(app::APP_MSG_PROGRESS, percent);
        send(app::APP_MSG_PROGRESS, app::PROGRESS_WRITING);
        for (const WPARAM percent : {12, 100})
            send(app::APP_MSG_WRITE_PROGRESS, percent);
    }
};

const std::vector<std::string> DOWNLOAD_AND_WRITE = {
    "SetProgressState indeterminate", "SetProgressState normal",  "SetProgressValue 1/100",
    "SetProgressValue 50/100",        "SetProgressValue 100/100", "SetProgressValue 0/100",
    "SetProgressValue 12/100",        "SetProgressValue 100/100",
};

std::vector<std::string> joined(std::vector<std::string> first,
                                const std::vector<std::string>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

TEST_F(TaskbarTest, ASuccessfulWriteInTheBackground) {
    send(button_created());
    confirm_write();
    report_download_and_write();
    foreground = nullptr;  // the user works elsewhere
    send(app::APP_MSG_WRITE_RESULT, 0, 0);
    DestroyWindow(app_state.hwnd_main);
    EXPECT_EQ(calls_made, joined(joined({"CoCreateInstance", "HrInit"}, DOWNLOAD_AND_WRITE),
                                 {"FlashWindowEx", "SetProgressState none", "Release"}));
}

TEST_F(TaskbarTest, AFailedWriteInFrontIsRedUntilItsDialogCloses) {
    static const char reason[] = "the stick moved 0 of 512 bytes at 0";
    send(button_created());
    confirm_write();
    report_download_and_write();
    app_state.result_text_length = strlen(reason);
    send(app::APP_MSG_WRITE_RESULT, 0, reinterpret_cast<LPARAM>(reason));
    EXPECT_EQ(calls_made,
              joined(joined({"CoCreateInstance", "HrInit"}, DOWNLOAD_AND_WRITE),
                     {"SetProgressState error", "MessageBoxW", "SetProgressState none"}));
    EXPECT_EQ(status(), L"Flash failed. Review the error and try again.");
}

// Without a taskbar the write goes on as before: the same texts, the same
// end; only the flash, which is the window's own, remains.
TEST_F(TaskbarTest, NoTaskbarLeavesTheWriteAsItWas) {
    const struct {
        const char* name;
        bool available;
        HRESULT init_result;
        std::vector<std::string> calls;
    } cases[] = {
        {"no taskbar list", false, S_OK, {"CoCreateInstance", "FlashWindowEx"}},
        {"no Explorer behind it",
         true,
         E_FAIL,
         {"CoCreateInstance", "HrInit", "Release", "FlashWindowEx"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calls_made.clear();
        taskbar_available = c.available;
        taskbars[0].init_result = taskbars[1].init_result = c.init_result;
        send(button_created());
        confirm_write();
        report_download_and_write();
        EXPECT_EQ(status(), L"Writing and verifying the USB stick… 100%");
        foreground = nullptr;
        send(app::APP_MSG_WRITE_RESULT, 0, 0);
        foreground = app_state.hwnd_main;
        EXPECT_EQ(calls_made, c.calls);
        EXPECT_EQ(status(), L"Verified. Eject the stick and boot Tundra.");
        EXPECT_FALSE(app_state.is_busy);
    }
}

// Explorer restarted during the write: the new button shows at once what
// the old one showed.
TEST_F(TaskbarTest, ANewButtonShowsTheWriteWhereItIs) {
    send(button_created());
    confirm_write();
    report_download_and_write();
    calls_made.clear();
    send(button_created());
    EXPECT_EQ(calls_made,
              (std::vector<std::string>{"Release", "CoCreateInstance", "HrInit",
                                        "SetProgressState normal", "SetProgressValue 100/100"}));
    EXPECT_EQ(taskbars[0].references, 0u);
}

// The whole program: the button's message is let through to the elevated
// window before it shows, and at exit the interface goes before COM does.
BOOL WINAPI record_filter(HWND hwnd, UINT message, DWORD action, PCHANGEFILTERSTRUCT status) {
    EXPECT_EQ(message, button_created());
    EXPECT_EQ(action, static_cast<DWORD>(MSGFLT_ALLOW));
    EXPECT_EQ(status, nullptr);
    note(IsWindowVisible(hwnd) ? "ChangeWindowMessageFilterEx (visible)"
                               : "ChangeWindowMessageFilterEx");
    return TRUE;
}

BOOL WINAPI button_then_quit(LPMSG, HWND, UINT, UINT) {
    send(button_created());
    return 0;
}

void WINAPI record_uninitialize() {
    note("CoUninitialize");
}

HRESULT WINAPI record_initialize(LPVOID, DWORD) {
    note("CoInitializeEx");
    return S_OK;
}

TEST_F(WindowTest, TheProgramLetsTheButtonsMessageInAndReleasesItBeforeCom) {
    calls_made.clear();
    taskbars_made = 0;
    taskbar_available = true;
    taskbars[0].init_result = S_OK;
    add_two_sticks();
    sys::calls.ChangeWindowMessageFilterEx = record_filter;
    sys::calls.CoCreateInstance = make_taskbar;
    sys::calls.CoInitializeEx = record_initialize;
    sys::calls.CoUninitialize = record_uninitialize;
    sys::calls.GetMessageW = button_then_quit;
    EXPECT_EQ(app::run_installer(), 0);
    EXPECT_EQ(calls_made, (std::vector<std::string>{"CoInitializeEx", "ChangeWindowMessageFilterEx",
                                                    "CoCreateInstance", "HrInit", "Release",
                                                    "CoUninitialize"}));
}

}  // namespace
