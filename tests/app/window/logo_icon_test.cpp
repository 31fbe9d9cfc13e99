// The program's icon is the window's sparkle mark on a rounded tile: the
// same colours as the mark in the picture, at every size Windows uses.
#include "app/window/logo_icon.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using app::logo_icon_pixel;

constexpr int32_t SIZES[] = {16, 20, 24, 32, 40, 48, 64, 128, 256};
constexpr uint32_t OPAQUE = 0xFF000000u;
constexpr uint32_t TILE = 0xFF121424u;  // the header band's colour

uint32_t alpha(uint32_t pixel) {
    return pixel >> 24;
}

uint32_t lightness(uint32_t pixel) {
    return ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF);
}

TEST(LogoIcon, CentreIsTheMarkAsTheWindowPaintsIt) {
    // The centre of the mark in the picture, pixel (24, 21), is 0xCDA7DF.
    EXPECT_EQ(logo_icon_pixel(128, 128, 256), OPAQUE | 0x00CDA7DFu);
}

TEST(LogoIcon, RoundedTileWithTheMarkAtEverySize) {
    for (int32_t size : SIZES) {
        const int32_t last = size - 1;
        const int32_t half = size / 2;
        for (auto [x, y] : {std::pair{0, 0}, {last, 0}, {0, last}, {last, last}})
            EXPECT_EQ(alpha(logo_icon_pixel(x, y, size)), 0u)
                << size << ": corner " << x << "," << y;
        for (auto [x, y] : {std::pair{0, half}, {last, half}, {half / 2, 0}, {half / 2, last}})
            EXPECT_EQ(logo_icon_pixel(x, y, size), TILE) << size << ": edge " << x << "," << y;
        const uint32_t centre = logo_icon_pixel(half, half, size);
        EXPECT_EQ(alpha(centre), 0xFFu) << size;
        EXPECT_GT(lightness(centre), lightness(TILE) + 300) << size << ": the mark is missing";
    }
}

TEST(LogoIcon, StarPointsReachAlongTheAxesOnly) {
    const uint32_t on_point = logo_icon_pixel(128, 40, 256);  // above the centre
    const uint32_t off_point = logo_icon_pixel(70, 70, 256);  // on the diagonal
    EXPECT_GT(lightness(on_point), lightness(TILE) + 100);
    EXPECT_EQ(off_point, TILE);
}

}  // namespace
