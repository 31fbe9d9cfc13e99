// Window geometry is written in 96-DPI pixels and scaled once, at creation,
// to the system DPI.
#pragma once

#include <cstdint>

namespace app {

constexpr int32_t WINDOW_WIDTH = 764;
constexpr int32_t WINDOW_HEIGHT = 468;
constexpr int32_t HEADER_BAND_HEIGHT = 43;
constexpr int32_t DRAG_ZONE_RIGHT = 666;  // the minimise and close buttons start at 679
constexpr int32_t BUTTON_CORNER = 12;

// v × dpi / 96, truncated toward zero.
int32_t scale_px_at(int32_t v, int32_t dpi);

// The DPI the window uses: what the system reports, but never below 96.
int32_t usable_dpi(uint32_t system_dpi);

// Whether a client point starts a window drag: inside the header band and
// left of the minimise and close buttons.
bool starts_window_drag(int32_t x, int32_t y, int32_t dpi);

}  // namespace app
