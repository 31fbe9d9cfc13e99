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
