// The window's background picture: a dark gradient with a lighter header
// band, the card at the left with its glow, rings, stars and sparkles, two
// separator lines and the logo mark. It is computed once at 764 × 468 and
// only stretched for other DPIs, so it is the same picture at every DPI.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/window/geometry.h"

namespace app {

constexpr size_t BACKGROUND_PIXEL_COUNT = size_t{WINDOW_WIDTH} * WINDOW_HEIGHT;

// One pixel, 0x00RRGGBB, of row y (0 at the top) and column x.
uint32_t background_pixel(int32_t x, int32_t y);

// Fills `pixels` row-major, top row first (BACKGROUND_PIXEL_COUNT entries).
void render_background(uint32_t* pixels);

}  // namespace app
