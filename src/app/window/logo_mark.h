// The product's sparkle mark: the small four-pointed star left of the brand
// word in the window's header. The window paints it into its background
// picture and the build draws the program's icon from it, so both show the
// same mark.
#pragma once

#include <cstdint>

namespace app {

// Where the mark sits in the window's picture (96-DPI pixels) and how far
// its points reach from the centre.
constexpr float LOGO_MARK_CENTRE_X = 24.0f;
constexpr float LOGO_MARK_CENTRE_Y = 21.0f;
constexpr float LOGO_MARK_SIZE = 9.0f;

// A four-pointed star of size s centred at (cx, cy): 1 at its centre, 0
// beyond its points.
float four_pointed_star(float x, float y, float cx, float cy, float s);

// The mark's strength at a point of the window's picture, 0 away from it.
float logo_mark_strength(float x, float y);

// A colour (0x00RRGGBB) with the mark of the given strength added to it,
// as the window paints it over its header band.
uint32_t with_logo_mark(float r, float g, float b, float strength);

}  // namespace app
