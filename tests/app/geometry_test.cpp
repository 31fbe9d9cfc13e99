// Scaling by DPI and the header drag zone.
#include "app/geometry.h"

#include <gtest/gtest.h>

namespace {

TEST(Geometry, ScalePxTruncatesAtCommonDpis) {
    struct Case {
        int32_t dpi;
        int32_t value;
        int32_t expected;
    };
    const Case cases[] = {
        {96, 764, 764}, {96, 468, 468}, {144, 764, 1146}, {144, 468, 702}, {144, 43, 64},
        {120, 43, 53},  {120, 15, 18},  {120, 32, 40},    {120, 14, 17},   {120, 20, 25},
        {144, 15, 22},  {96, -15, -15}, {120, -15, -18},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(app::scale_px_at(c.value, c.dpi), c.expected) << c.value << " at " << c.dpi;
    }
}

TEST(Geometry, DpiIsNeverBelow96) {
    EXPECT_EQ(app::usable_dpi(0), 96);
    EXPECT_EQ(app::usable_dpi(72), 96);
    EXPECT_EQ(app::usable_dpi(96), 96);
    EXPECT_EQ(app::usable_dpi(97), 97);
    EXPECT_EQ(app::usable_dpi(144), 144);
}

TEST(Geometry, HeaderBandDragZone) {
    struct Case {
        int32_t x;
        int32_t y;
        int32_t dpi;
        bool drags;
    };
    const Case cases[] = {
        {600, 10, 96, true},  {0, 0, 96, true},     {665, 42, 96, true},   {666, 10, 96, false},
        {670, 10, 96, false}, {700, 10, 96, false}, {600, 43, 96, false},  {600, 200, 96, false},
        {600, -1, 96, false}, {998, 63, 144, true}, {999, 10, 144, false}, {600, 64, 144, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(app::starts_window_drag(c.x, c.y, c.dpi), c.drags)
            << c.x << "," << c.y << " at " << c.dpi;
    }
}

}  // namespace
