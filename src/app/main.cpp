// The installer's process entry. The window, its controls and the message
// loop come next; until then the program starts and ends at once.
#include "sys/sys.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
