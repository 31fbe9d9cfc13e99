#include "app/window/taskbar_progress.h"

#include "app/window/app_state.h"

namespace app {
namespace {

constexpr ULONGLONG PERCENT_SCALE = 100;

// The window thread's alone, as the window's own state is.
struct TaskbarButton {
    UINT created_message = 0;
    ITaskbarList3* list = nullptr;
    TBPFLAG state = TBPF_NOPROGRESS;
    ULONGLONG percent = 0;
};
TaskbarButton button;

void apply_state() {
    if (button.list != nullptr)
        (void)button.list->SetProgressState(app_state.hwnd_main, button.state);
}

void apply_percent() {
    if (button.list != nullptr)
        (void)button.list->SetProgressValue(app_state.hwnd_main, button.percent, PERCENT_SCALE);
}

void drop_list() {
    if (button.list != nullptr)
        (void)button.list->Release();
    button.list = nullptr;
}

void show_state(TBPFLAG state) {
    if (button.state == state)
        return;
    button.state = state;
    apply_state();
}

}  // namespace

void listen_for_taskbar_button(HWND window) {
    button.created_message = sys::RegisterWindowMessageW(U16("TaskbarButtonCreated"));
    if (button.created_message != 0) {
        (void)sys::ChangeWindowMessageFilterEx(window, button.created_message, MSGFLT_ALLOW,
                                               nullptr);
    }
}

bool is_taskbar_button_created(UINT message) {
    return button.created_message != 0 && message == button.created_message;
}

void connect_taskbar_button() {
    drop_list();
    void* made = nullptr;
    if (FAILED(sys::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ITaskbarList3, &made)) ||
        made == nullptr) {
        return;
    }
    ITaskbarList3* list = static_cast<ITaskbarList3*>(made);
    if (FAILED(list->HrInit())) {
        (void)list->Release();
        return;
    }
    button.list = list;
    if (button.state == TBPF_NOPROGRESS)
        return;
    apply_state();
    if (button.state != TBPF_INDETERMINATE)
        apply_percent();
}

void release_taskbar_button() {
    drop_list();
    button.state = TBPF_NOPROGRESS;
    button.percent = 0;
}

void show_taskbar_searching() {
    show_state(TBPF_INDETERMINATE);
}

void show_taskbar_percent(uint64_t percent) {
    show_state(TBPF_NORMAL);
    const ULONGLONG shown = percent < PERCENT_SCALE ? percent : PERCENT_SCALE;
    if (button.percent == shown)
        return;
    button.percent = shown;
    apply_percent();
}

void show_taskbar_failure() {
    show_state(TBPF_ERROR);
}

void clear_taskbar_progress() {
    show_state(TBPF_NOPROGRESS);
    button.percent = 0;
}

void flash_if_in_background() {
    if (sys::GetForegroundWindow() == app_state.hwnd_main)
        return;
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = app_state.hwnd_main;
    flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
    (void)sys::FlashWindowEx(&flash);
}

}  // namespace app
