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
//   window_inspector places
//     place ID LEFT TOP WIDTH HEIGHT  (one line per control, in tab order,
//                                      in the window's client coordinates)
//   window_inspector expected-pixels X Y [X Y ...]
//     RRGGBB                          (one line per point)
//   window_inspector expected-pixels-at DPI X Y [X Y ...]
//     the same for the picture as the window shows it at DPI: stretched
//     with StretchDIBits to the window's size at that DPI, as it paints
//   window_inspector dpi-changed DPI LEFT TOP
//     sends the window WM_DPICHANGED as Windows does when it moves to a
//     monitor of DPI, suggesting the window's size at that DPI with its
//     top-left corner at LEFT, TOP; prints the window's place afterwards
//     as `controls` does
//
// Exit code 3: no installer window.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/window/background.h"
#include "app/window/geometry.h"

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

HWND installer_window() {
    return FindWindowW(L"TundraUsbInstaller", L"Tundra USB Installer");
}

int print_controls() {
    HWND main = installer_window();
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
    HWND main = installer_window();
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

int print_places() {
    HWND main = installer_window();
    if (main == nullptr)
        return 3;
    for (HWND child = GetWindow(main, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&rect), 2);
        printf("place %d %ld %ld %ld %ld\n", GetDlgCtrlID(child), rect.left, rect.top,
               rect.right - rect.left, rect.bottom - rect.top);
    }
    return 0;
}

// The picture as the window paints it at `dpi`: one StretchDIBits of the
// whole picture to the window's size, here into a bitmap of that size.
int print_stretched_pixels(int dpi, int count, char** coordinates) {
    static uint32_t picture[app::BACKGROUND_PIXEL_COUNT];
    app::render_background(picture);
    const int width = app::scale_px_at(app::WINDOW_WIDTH, dpi);
    const int height = app::scale_px_at(app::WINDOW_HEIGHT, dpi);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = app::WINDOW_WIDTH;
    info.bmiHeader.biHeight = -app::WINDOW_HEIGHT;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    BITMAPINFO shown_info = info;
    shown_info.bmiHeader.biWidth = width;
    shown_info.bmiHeader.biHeight = -height;
    void* shown_bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP shown = CreateDIBSection(dc, &shown_info, DIB_RGB_COLORS, &shown_bits, nullptr, 0);
    if (dc == nullptr || shown == nullptr)
        return 1;
    HGDIOBJ old = SelectObject(dc, shown);
    StretchDIBits(dc, 0, 0, width, height, 0, 0, app::WINDOW_WIDTH, app::WINDOW_HEIGHT, picture,
                  &info, DIB_RGB_COLORS, SRCCOPY);
    GdiFlush();
    const uint32_t* pixels = static_cast<const uint32_t*>(shown_bits);
    for (int i = 0; i + 1 < count; i += 2) {
        const int x = atoi(coordinates[i]);
        const int y = atoi(coordinates[i + 1]);
        const bool inside = x >= 0 && x < width && y >= 0 && y < height;
        printf("%06X\n", inside ? static_cast<unsigned>(pixels[y * width + x] & 0xFFFFFF) : 0u);
    }
    SelectObject(dc, old);
    DeleteObject(shown);
    DeleteDC(dc);
    return 0;
}

// WM_DPICHANGED carries a pointer to the suggested rectangle, which must be
// readable in the window's own process: it is written there.
int send_dpi_changed(int dpi, int left, int top) {
    HWND main = installer_window();
    if (main == nullptr)
        return 3;
    const RECT suggested{left, top, left + app::scale_px_at(app::WINDOW_WIDTH, dpi),
                         top + app::scale_px_at(app::WINDOW_HEIGHT, dpi)};
    DWORD process_id = 0;
    GetWindowThreadProcessId(main, &process_id);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, process_id);
    void* remote = process != nullptr ? VirtualAllocEx(process, nullptr, sizeof suggested,
                                                       MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)
                                      : nullptr;
    if (remote == nullptr ||
        !WriteProcessMemory(process, remote, &suggested, sizeof suggested, nullptr)) {
        fprintf(stderr, "cannot hand the rectangle to the window's process\n");
        return 1;
    }
    SendMessageW(main, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return print_controls();
}

// Posts a message to the installer's window, as a worker of its own would:
// for the screenshots of the texts a write shows.
int post_to_window(unsigned message, unsigned long long wparam, long long lparam) {
    HWND main = installer_window();
    if (main == nullptr)
        return 3;
    return PostMessageW(main, message, static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam))
               ? 0
               : 1;
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
    if (argc >= 2 && strcmp(argv[1], "places") == 0)
        return print_places();
    if (argc >= 3 && strcmp(argv[1], "expected-pixels-at") == 0)
        return print_stretched_pixels(atoi(argv[2]), argc - 3, argv + 3);
    if (argc == 5 && strcmp(argv[1], "post") == 0)
        return post_to_window(static_cast<unsigned>(strtoul(argv[2], nullptr, 0)),
                              strtoull(argv[3], nullptr, 10), strtoll(argv[4], nullptr, 10));
    if (argc == 5 && strcmp(argv[1], "dpi-changed") == 0)
        return send_dpi_changed(atoi(argv[2]), atoi(argv[3]), atoi(argv[4]));
    fprintf(stderr,
            "usage: window_inspector controls | keys | places | expected-pixels X Y ... |"
            " expected-pixels-at DPI X Y ... | dpi-changed DPI LEFT TOP\n");
    return 1;
}
