// The program's icon: the sparkle mark on a rounded tile in the colour of
// the window's header band, drawn at any of the sizes Windows asks for. The
// build writes the icon file from it (tools/tundra-icon).
#pragma once

#include <cstdint>

namespace app {

constexpr int32_t LOGO_ICON_MAX_SIZE = 256;

// One pixel of the icon of `size` × `size` pixels, row y from the top,
// as 0xAARRGGBB with straight (not premultiplied) alpha.
uint32_t logo_icon_pixel(int32_t x, int32_t y, int32_t size);

}  // namespace app
