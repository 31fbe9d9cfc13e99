// Window geometry is written in 96-DPI pixels and scaled to the DPI of the
// monitor the window is on: at creation, and again whenever that changes.
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

// The DPI the window uses: what Windows reports, but never below 96.
int32_t usable_dpi(uint32_t reported_dpi);

// The stretch of the background picture beneath one span of the window (a
// control's columns or rows), along one axis: the picture's pixels
// [source_first, source_first + source_length) cover the window's pixels
// from the span's start + offset for `length` pixels, at the same scale as
// the whole picture, which is `picture_length` pixels stretched to
// scale_px(picture_length). The covered part may reach past the span on
// either side by less than one picture pixel; the control's own bounds clip
// it. A span outside the picture gives source_length 0.
struct PictureSpan {
    int32_t source_first;
    int32_t source_length;
    int32_t offset;
    int32_t length;
};
PictureSpan picture_span_under(int32_t window_first, int32_t window_length, int32_t picture_length,
                               int32_t dpi);

// Whether a client point starts a window drag: inside the header band and
// left of the minimise and close buttons.
bool starts_window_drag(int32_t x, int32_t y, int32_t dpi);

}  // namespace app
