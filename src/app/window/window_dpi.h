// The window's DPI is its monitor's: read from the monitor where the window
// opens, confirmed by the window once it exists, and followed whenever
// Windows moves it to a monitor with another scale (WM_DPICHANGED). The
// manifest makes the process per-monitor aware, so Windows scales nothing
// for it: at each change the fonts are made again, the controls placed
// again from the control table and the window sized for the new DPI, and
// painting, which scales everything at the DPI of the moment, follows.
#pragma once

#include <cstdint>

#include "sys/sys.h"

namespace app {

// The DPI of the monitor at the window's opening place, the screen's
// top-left corner; the system's DPI when Windows cannot say (no shcore).
int32_t dpi_where_window_opens();

// Once the main window exists, before its controls: the DPI Windows gives
// the window itself, should it differ from the one it was made at (fonts
// and size follow it).
void adopt_window_dpi();

// WM_DPICHANGED: the new DPI in wParam, the rectangle Windows suggests for
// the window in lParam (screen coordinates).
void change_dpi(WPARAM wparam, LPARAM lparam);

}  // namespace app
