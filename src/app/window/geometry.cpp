#include "app/window/geometry.h"

#include <algorithm>

namespace app {

int32_t scale_px_at(int32_t v, int32_t dpi) {
    return static_cast<int32_t>(int64_t{v} * dpi / 96);
}

int32_t usable_dpi(uint32_t reported_dpi) {
    return reported_dpi < 96 || reported_dpi > INT32_MAX ? 96 : static_cast<int32_t>(reported_dpi);
}

PictureSpan picture_span_under(int32_t window_first, int32_t window_length, int32_t picture_length,
                               int32_t dpi) {
    // Window pixels w and picture pixels p meet where w = p * shown / picture.
    const int64_t picture = picture_length;
    const int64_t shown = scale_px_at(picture_length, dpi);
    const int64_t first = std::max<int64_t>(window_first, 0);
    const int64_t end = std::min<int64_t>(int64_t{window_first} + window_length, shown);
    if (picture <= 0 || shown <= 0 || end <= first)
        return {0, 0, 0, 0};
    const int64_t source_first = first * picture / shown;
    const int64_t source_end = std::min((end * picture + shown - 1) / shown, picture);
    const int64_t covered_first = source_first * shown / picture;
    const int64_t covered_end = (source_end * shown + picture - 1) / picture;
    return {static_cast<int32_t>(source_first), static_cast<int32_t>(source_end - source_first),
            static_cast<int32_t>(covered_first - window_first),
            static_cast<int32_t>(covered_end - covered_first)};
}

bool starts_window_drag(int32_t x, int32_t y, int32_t dpi) {
    if (y < 0 || y >= scale_px_at(HEADER_BAND_HEIGHT, dpi))
        return false;
    return x < scale_px_at(DRAG_ZONE_RIGHT, dpi);
}

}  // namespace app
