#include "ui_log.h"

#include <cstdio>
#include <cstring>

#include "sys/sys.h"

namespace gui_test {
namespace {

constexpr int STATUS_LINE_ID = 201;

FILE* log_file = nullptr;
sys::CallTable below;
bool runas_accepted = false;
bool message_loop_logged = false;

void write_utf8(const wchar_t* text) {
    for (; *text != 0; ++text) {
        if (*text == L'\n') {
            fputs("\\n", log_file);
            continue;
        }
        char bytes[8];
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, text, 1 + IS_HIGH_SURROGATE(*text), bytes, sizeof bytes,
                                nullptr, nullptr);
        fwrite(bytes, 1, length > 0 ? static_cast<size_t>(length) : 0, log_file);
        if (IS_HIGH_SURROGATE(*text) && text[1] != 0)
            ++text;
    }
}

BOOL WINAPI logged_track(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                         const RECT* rect) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[300] = {};
        GetMenuStringW(menu, i, text, 300, MF_BYPOSITION);
        const bool checked = (GetMenuState(menu, i, MF_BYPOSITION) & MF_CHECKED) != 0;
        fprintf(log_file, "menu %u %d ", GetMenuItemID(menu, i), checked ? 1 : 0);
        write_utf8(text);
        fputc('\n', log_file);
    }
    fflush(log_file);
    const BOOL chosen = below.TrackPopupMenu(menu, flags, x, y, reserved, owner, rect);
    // Written before the caller acts on the answer: a script that reads it
    // knows the menu is gone and what it answered.
    fprintf(log_file, "menu-closed %d\n", chosen);
    fflush(log_file);
    return chosen;
}

int WINAPI logged_message_box(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    fprintf(log_file, "message-box %x ", type);
    write_utf8(caption);
    fputc('|', log_file);
    write_utf8(text);
    fputc('\n', log_file);
    fflush(log_file);
    const int answer = below.MessageBoxW(owner, text, caption, type);
    fprintf(log_file, "message-box-closed %d\n", answer);
    fflush(log_file);
    return answer;
}

// The status line changes faster than a script can poll the window.
BOOL WINAPI logged_set_text(HWND hwnd, LPCWSTR text) {
    if (GetDlgCtrlID(hwnd) == STATUS_LINE_ID) {
        fputs("status ", log_file);
        write_utf8(text);
        fputc('\n', log_file);
        fflush(log_file);
    }
    return below.SetWindowTextW(hwnd, text);
}

// The first message the program asks for ends its start-up: whatever the
// start-up decided (the update check taken or skipped) is logged by then.
BOOL WINAPI logged_get_message(LPMSG msg, HWND hwnd, UINT first, UINT last) {
    if (!message_loop_logged) {
        message_loop_logged = true;
        fputs("message-loop\n", log_file);
        fflush(log_file);
    }
    return below.GetMessageW(msg, hwnd, first, last);
}

// The stand-in taskbar list: only the button's progress is kept.
class LoggedTaskbar final : public ITaskbarList3 {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override {
        fprintf(log_file, "taskbar progress %llu\n",
                static_cast<unsigned long long>(total == 0 ? 0 : done * 100 / total));
        fflush(log_file);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG state) override {
        const char* name = state == TBPF_NOPROGRESS      ? "none"
                           : state == TBPF_INDETERMINATE ? "indeterminate"
                           : state == TBPF_NORMAL        ? "normal"
                           : state == TBPF_ERROR         ? "error"
                                                         : "other";
        fprintf(log_file, "taskbar %s\n", name);
        fflush(log_file);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return E_NOTIMPL; }
};
LoggedTaskbar taskbar;
bool button_announced = false;

HRESULT WINAPI logged_create_instance(REFCLSID class_id, LPUNKNOWN outer, DWORD context,
                                      REFIID interface_id, LPVOID* object) {
    if (!IsEqualCLSID(class_id, CLSID_TaskbarList) || !IsEqualIID(interface_id, IID_ITaskbarList3))
        return below.CoCreateInstance(class_id, outer, context, interface_id, object);
    *object = static_cast<ITaskbarList3*>(&taskbar);
    return S_OK;
}

// As Explorer does when it adds the button of a new top-level window.
BOOL WINAPI announcing_show(HWND hwnd, int command) {
    const BOOL was_visible = below.ShowWindow(hwnd, command);
    wchar_t class_name[64] = {};
    GetClassNameW(hwnd, class_name, 64);
    if (!button_announced && wcscmp(class_name, L"TundraUsbInstaller") == 0 &&
        IsWindowVisible(hwnd)) {
        button_announced = true;
        PostMessageW(hwnd, RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
    }
    return was_visible;
}

BOOL WINAPI logged_flash(PFLASHWINFO flash) {
    fputs("flash\n", log_file);
    fflush(log_file);
    return below.FlashWindowEx(flash);
}

HINSTANCE WINAPI answered_runas(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
    if (log_file != nullptr && wcscmp(verb, L"runas") == 0) {
        fputs("runas ", log_file);
        write_utf8(file);
        fputc('\n', log_file);
        fflush(log_file);
    }
    return reinterpret_cast<HINSTANCE>(runas_accepted ? 42 : SE_ERR_ACCESSDENIED);
}

}  // namespace

bool install_ui_log(const char* path) {
    log_file = fopen(path, "wb");
    if (log_file == nullptr)
        return false;
    below = sys::calls;
    sys::calls.TrackPopupMenu = logged_track;
    sys::calls.MessageBoxW = logged_message_box;
    sys::calls.SetWindowTextW = logged_set_text;
    sys::calls.GetMessageW = logged_get_message;
    sys::calls.ShowWindow = announcing_show;
    sys::calls.CoCreateInstance = logged_create_instance;
    sys::calls.FlashWindowEx = logged_flash;
    return true;
}

bool install_runas_answer(const char* answer) {
    if (strcmp(answer, "accepted") != 0 && strcmp(answer, "declined") != 0)
        return false;
    runas_accepted = strcmp(answer, "accepted") == 0;
    sys::calls.ShellExecuteW = answered_runas;
    return true;
}

}  // namespace gui_test
