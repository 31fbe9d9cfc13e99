// A stand-in for a DLL that someone planted beside the installer in the
// Downloads folder: when Windows loads it, it leaves a mark file named after
// itself in its own folder. Built under the names of DLLs the installer
// uses (dwmapi.dll, winhttp.dll), it exports nothing: a program that loaded
// it instead of Windows' own copy would fail to start, and the mark says so
// either way.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t path[MAX_PATH + 16] = {};
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    lstrcatW(path, L".planted-mark");
    HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (mark != INVALID_HANDLE_VALUE)
        CloseHandle(mark);
    return TRUE;
}
