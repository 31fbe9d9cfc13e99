// The background picture against known pixels: the header, the logo mark,
// the separator lines and the card's left border.
#include "app/window/background.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using app::background_pixel;

// Every pixel is 0x00RRGGBB: summing channels compares lightness.
uint32_t lightness(uint32_t pixel) {
    return ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF);
}

// The base gradient of a row, as the picture starts before anything is added.
uint32_t base_gradient(int32_t y) {
    const float fy = static_cast<float>(y);
    const auto r = static_cast<uint32_t>(fy * 6.0f / 468.0f + 8.0f);
    const auto g = static_cast<uint32_t>(fy * 4.0f / 468.0f + 10.0f);
    const auto b = static_cast<uint32_t>(fy * 14.0f / 468.0f + 20.0f);
    return (r << 16) | (g << 8) | b;
}

TEST(Background, KnownPixels) {
    EXPECT_EQ(background_pixel(0, 0), 0x00121424u);     // base plus header band
    EXPECT_EQ(background_pixel(24, 21), 0x00CDA7DFu);   // centre of the logo mark
    EXPECT_EQ(background_pixel(100, 43), 0x002D2A4Fu);  // the line under the header
}

TEST(Background, RenderFillsRowMajorTopRowFirst) {
    static uint32_t pixels[app::BACKGROUND_PIXEL_COUNT];
    app::render_background(pixels);
    for (int32_t y : {0, 21, 43, 200, 365, 467}) {
        for (int32_t x : {0, 24, 126, 400, 763}) {
            EXPECT_EQ(pixels[size_t(y) * 764 + size_t(x)], background_pixel(x, y)) << x << "," << y;
        }
    }
    for (uint32_t pixel : pixels)
        ASSERT_EQ(pixel >> 24, 0u);
}

TEST(Background, HeaderSeparatorIsLighterAcrossTheWholeWidth) {
    for (int32_t x = 0; x < 764; ++x) {
        EXPECT_GT(lightness(background_pixel(x, 43)), lightness(background_pixel(x, 42))) << x;
        EXPECT_GT(lightness(background_pixel(x, 43)), lightness(background_pixel(x, 44))) << x;
    }
}

TEST(Background, ActionSeparatorSpansTheMainColumnOnly) {
    for (int32_t x = 240; x < 764; ++x) {
        const bool on_line = x >= 260 && x <= 739;
        const uint32_t row = background_pixel(x, 365);
        EXPECT_EQ(row != base_gradient(365), on_line) << x;
        EXPECT_EQ(lightness(row) > lightness(background_pixel(x, 364)), on_line) << x;
    }
}

TEST(Background, CardBorderOnColumn17CoversRows76To431) {
    const uint32_t border_colour_rows[] = {76, 200, 431};
    for (uint32_t y : border_colour_rows) {
        const uint32_t pixel = background_pixel(17, int32_t(y));
        EXPECT_GE((pixel >> 16) & 0xFF, 24u + 7u) << y;  // base + card + border light
        EXPECT_NE(pixel, base_gradient(int32_t(y))) << y;
    }
    for (int32_t y = 62; y <= 445; ++y) {
        const bool on_card = y >= 76 && y <= 431;
        EXPECT_EQ(background_pixel(17, y) != base_gradient(y), on_card) << y;
    }
    EXPECT_EQ(background_pixel(17, 75), base_gradient(75));
    EXPECT_EQ(background_pixel(17, 432), base_gradient(432));
}

TEST(Background, OutsideTheCardAndLinesOnlyTheGradientShows) {
    for (int32_t y : {44, 100, 300, 364, 366, 467}) {
        for (int32_t x : {0, 10, 240, 500, 763}) {
            EXPECT_EQ(background_pixel(x, y), base_gradient(y)) << x << "," << y;
        }
    }
}

}  // namespace
