// The small operations by which the window changes what the user sees.
#pragma once

#include <cstdint>

#include "app/window/status_stage.h"
#include "sys/sys.h"

namespace app {

// v × dpi / 96 at the window's DPI.
int32_t scale_px(int32_t v);

// A child of the main window at 96-DPI coordinates, with its font set.
// Returns null when Windows cannot create it.
HWND create_control(const WCHAR* class_name, const WCHAR* text, int id, DWORD style, int x, int y,
                    int width, int height, HFONT font);

// Shows `text` in the status line in `colour` and repaints the status line
// alone, which paints the picture beneath its text itself. Each new text
// is announced to screen readers as a change of the status line's name.
void set_status(const WCHAR* text, COLORREF colour);

// The same for a text of a write's stage: announced only when the stage
// changes, so that a text that changes every second is not read out every
// second.
void set_stage_status(StatusStage stage, const WCHAR* text, COLORREF colour);

// Enables the action button exactly when the state allows it. Called after
// every change of is_busy, update_check_running, is_elevated or the choice,
// and so after every change of what the buttons offer: it also moves the
// keyboard focus off a button that can no longer be used.
void update_action_enabled();

// Enters or leaves the busy state of a running write.
void set_busy(bool busy);

}  // namespace app
