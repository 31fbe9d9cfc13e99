// The installer's process entry. It reads no command line: everything the
// program knows comes from the user's clicks, the disks and its downloads.
#include "app/window/startup.h"
#include "sys/sys.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return app::run_installer();
}
