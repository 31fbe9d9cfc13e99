// Scaling by DPI and the header drag zone.
#include "app/window/geometry.h"

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

TEST(Geometry, PictureBeneathASpanOfTheWindow) {
    struct Case {
        int32_t first;
        int32_t length;
        int32_t picture;
        int32_t dpi;
        app::PictureSpan expected;
    };
    const Case cases[] = {
        // The action button's columns and rows at 96 DPI: the same pixels.
        {260, 220, 764, 96, {260, 220, 0, 220}},
        {385, 43, 468, 96, {385, 43, 0, 43}},
        // At 144 DPI its columns fall on whole picture pixels; its top row
        // (577) lies two thirds into picture row 384, which starts at 576.
        {390, 330, 764, 144, {260, 220, 0, 330}},
        {577, 64, 468, 144, {384, 44, -1, 66}},
        {481, 53, 468, 120, {384, 44, -1, 55}},
        // Only what lies on the picture is covered.
        {1140, 20, 764, 144, {760, 4, 0, 6}},
        {-10, 20, 764, 96, {0, 10, 10, 10}},
        {800, 10, 764, 96, {0, 0, 0, 0}},
        {100, 0, 764, 96, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const app::PictureSpan s = app::picture_span_under(c.first, c.length, c.picture, c.dpi);
        EXPECT_EQ(s.source_first, c.expected.source_first) << c.first << " at " << c.dpi;
        EXPECT_EQ(s.source_length, c.expected.source_length) << c.first << " at " << c.dpi;
        EXPECT_EQ(s.offset, c.expected.offset) << c.first << " at " << c.dpi;
        EXPECT_EQ(s.length, c.expected.length) << c.first << " at " << c.dpi;
    }
}

TEST(Geometry, PictureBeneathASpanCoversItAtThePicturesScale) {
    const int32_t picture = app::WINDOW_HEIGHT;
    for (int32_t dpi : {96, 110, 120, 144, 168, 192, 240}) {
        const int64_t shown = app::scale_px_at(picture, dpi);
        for (int32_t first = 0; first + 64 <= shown; ++first) {
            const app::PictureSpan s = app::picture_span_under(first, 64, picture, dpi);
            SCOPED_TRACE(testing::Message() << first << " at " << dpi);
            const int64_t covered_first = int64_t{first} + s.offset;
            const int64_t covered_end = covered_first + s.length;
            // The whole span is covered, and beyond it by less than one
            // picture pixel on either side (plus the rounding to whole
            // window pixels).
            ASSERT_LE(covered_first, first);
            ASSERT_GE(covered_end, first + 64);
            ASSERT_LT((first - covered_first - 1) * picture, shown);
            ASSERT_LT((covered_end - (first + 64) - 1) * picture, shown);
            // Where the covered part starts and how long it is follow the
            // whole picture's stretch, to within the one-pixel rounding at
            // each end.
            ASSERT_LE(covered_first * picture, int64_t{s.source_first} * shown);
            ASSERT_GT((covered_first + 1) * picture, int64_t{s.source_first} * shown);
            const int64_t exact_times_picture = int64_t{s.source_length} * shown;
            ASSERT_GE(s.length * int64_t{picture}, exact_times_picture);
            ASSERT_LT(s.length * int64_t{picture}, exact_times_picture + 2 * picture);
        }
    }
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
