// The "new build" of the self-update tests: a tiny Windows program that
// carries an installer's user agent text for release 6, so that the release
// tool signs and publishes it as that release, and that leaves a mark when
// it is started: the file "<its own path>.started", holding its path and
// that text. It shows no window and ends at once.
#include <windows.h>

#include <cstdio>

namespace {

const wchar_t RELEASE_TEXT[] = L"Tundra USB Installer release 6";

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t path[4096];
    const DWORD length = GetModuleFileNameW(nullptr, path, 4000);
    if (length == 0 || length >= 4000)
        return 1;
    wchar_t mark[4096];
    swprintf(mark, 4096, L"%ls.started", path);
    FILE* file = _wfopen(mark, L"wb");
    if (file == nullptr)
        return 1;
    fprintf(file, "%ls\n%ls\n", path, RELEASE_TEXT);
    fclose(file);
    return 0;
}
