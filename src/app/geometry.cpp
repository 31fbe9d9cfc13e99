#include "app/geometry.h"

namespace app {

int32_t scale_px_at(int32_t v, int32_t dpi) {
    return static_cast<int32_t>(int64_t{v} * dpi / 96);
}

int32_t usable_dpi(uint32_t system_dpi) {
    return system_dpi < 96 || system_dpi > INT32_MAX ? 96 : static_cast<int32_t>(system_dpi);
}

bool starts_window_drag(int32_t x, int32_t y, int32_t dpi) {
    if (y < 0 || y >= scale_px_at(HEADER_BAND_HEIGHT, dpi))
        return false;
    return x < scale_px_at(DRAG_ZONE_RIGHT, dpi);
}

}  // namespace app
