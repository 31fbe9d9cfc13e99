// The palette: the colour tests elsewhere name these constants, so their
// values are checked here once, against the red, green and blue each colour
// is made of.
#include "app/window/palette.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr uint32_t rgb(uint32_t red, uint32_t green, uint32_t blue) {
    return red | green << 8 | blue << 16;  // COLORREF: 0x00BBGGRR
}

TEST(Palette, EachColourIsItsRedGreenAndBlue) {
    const struct {
        const char* name;
        uint32_t value;
        uint32_t expected;
    } colours[] = {
        {"text", app::COLOR_TEXT, rgb(235, 237, 250)},
        {"muted", app::COLOR_MUTED, rgb(161, 168, 193)},
        {"accent", app::COLOR_ACCENT, rgb(202, 171, 255)},
        {"warning", app::COLOR_WARNING, rgb(246, 199, 130)},
        {"success", app::COLOR_SUCCESS, rgb(107, 226, 183)},
    };
    for (const auto& colour : colours)
        EXPECT_EQ(colour.value, colour.expected) << colour.name;
}

}  // namespace
