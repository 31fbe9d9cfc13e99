// A test-only tool that reads the running installer's window from outside,
// as a user's assistive tool would: its place and size, and each control's
// id, enabled state and text. It also prints the background picture's
// expected pixels, so that a screenshot can be compared with them.
//
//   window_inspector controls
//     window LEFT TOP WIDTH HEIGHT
//     control ID ENABLED TEXT        (one line per control, in tab order)
//     focus ID                        (the control with the keyboard focus: 0 for
//                                      the main window itself, none when the
//                                      window's thread has no focus)
//   window_inspector keys
//     menu                            where the window's keys go now: its
//     box CAPTION                     popup menu's loop, a dialog of its
//     window                          thread that holds the focus, or the
//                                     main window
//   window_inspector expected-pixels X Y [X Y ...]
//     RRGGBB                          (one line per point)
//
// Exit code 3: no installer window.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/background.h"

namespace {

void print_utf8(const wchar_t* text) {
    char bytes[2048];
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (length > 1)
        fwrite(bytes, 1, static_cast<size_t>(length - 1), stdout);
}

// Another process's focus is read from the window's thread: GetFocus only
// answers for the calling thread.
void print_focus(HWND main) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info) ||
        info.hwndFocus == nullptr) {
        printf("focus none\n");
    } else if (info.hwndFocus == main) {
        printf("focus 0\n");
    } else {
        printf("focus %d\n", GetDlgCtrlID(info.hwndFocus));
    }
}

int print_controls() {
    HWND main = FindWindowW(L"TundraUsbInstaller", L"Tundra USB Installer");
    if (main == nullptr)
        return 3;
    RECT rect{};
    GetWindowRect(main, &rect);
    printf("window %ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
           rect.bottom - rect.top);
    for (HWND child = GetWindow(main, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t text[512] = {};
        GetWindowTextW(child, text, 512);
        printf("control %d %d ", GetDlgCtrlID(child), IsWindowEnabled(child) ? 1 : 0);
        print_utf8(text);
        printf("\n");
    }
    print_focus(main);
    return 0;
}

// A key sent before the menu's loop runs, or before the message box took
// the focus, reaches the main window and is lost: a script asks this first.
int print_key_target() {
    HWND main = FindWindowW(L"TundraUsbInstaller", L"Tundra USB Installer");
    if (main == nullptr)
        return 3;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info))
        return 4;
    HWND active = info.hwndActive;
    const bool focus_in_active =
        active != nullptr && (info.hwndFocus == active || IsChild(active, info.hwndFocus));
    if ((info.flags & GUI_INMENUMODE) != 0) {
        printf("menu\n");
    } else if (active != main && focus_in_active) {
        wchar_t caption[512] = {};
        GetWindowTextW(active, caption, 512);
        printf("box ");
        print_utf8(caption);
        printf("\n");
    } else {
        printf("window\n");
    }
    return 0;
}

int print_expected_pixels(int count, char** coordinates) {
    for (int i = 0; i + 1 < count; i += 2) {
        const int x = atoi(coordinates[i]);
        const int y = atoi(coordinates[i + 1]);
        printf("%06X\n", static_cast<unsigned>(app::background_pixel(x, y)));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // plain "\n" line ends for the test script
    if (argc >= 2 && strcmp(argv[1], "controls") == 0)
        return print_controls();
    if (argc >= 2 && strcmp(argv[1], "keys") == 0)
        return print_key_target();
    if (argc >= 2 && strcmp(argv[1], "expected-pixels") == 0) {
        return print_expected_pixels(argc - 2, argv + 2);
    }
    fprintf(stderr, "usage: window_inspector controls | keys | expected-pixels X Y ...\n");
    return 1;
}
