// Each icon pixel averages 4 × 4 samples, so the tile's corners and the
// star's thin points stay smooth down to 16 pixels.
#include "app/window/logo_icon.h"

#include <cmath>

#include "app/window/logo_mark.h"

namespace app {
namespace {

constexpr int32_t SAMPLES = 4;
// The tile shows this many of the window's pixels across, centred on the
// mark: the star's points (9 pixels from its centre) end just short of the
// tile's edge.
constexpr float TILE_SPAN = 2.0f * LOGO_MARK_SIZE * 1.15f;
constexpr float CORNER_SHARE = 0.22f;  // corner radius ÷ tile size
// The header band's colour at the picture's top-left corner, 0x121424.
constexpr float TILE_R = 18.0f;
constexpr float TILE_G = 20.0f;
constexpr float TILE_B = 36.0f;

// Whether the point (in icon pixels, 0..size) lies on the rounded tile.
bool on_tile(float u, float v, float size) {
    const float radius = size * CORNER_SHARE;
    const float dx = fmaxf(fabsf(u - size / 2.0f) - (size / 2.0f - radius), 0.0f);
    const float dy = fmaxf(fabsf(v - size / 2.0f) - (size / 2.0f - radius), 0.0f);
    return dx * dx + dy * dy <= radius * radius;
}

// The window-picture coordinate that an icon coordinate shows.
float picture_x(float u, float size) {
    return LOGO_MARK_CENTRE_X + (u / size - 0.5f) * TILE_SPAN;
}

float picture_y(float v, float size) {
    return LOGO_MARK_CENTRE_Y + (v / size - 0.5f) * TILE_SPAN;
}

}  // namespace

uint32_t logo_icon_pixel(int32_t x, int32_t y, int32_t size) {
    const float s = static_cast<float>(size);
    int32_t covered = 0;
    float strength = 0.0f;
    for (int32_t j = 0; j < SAMPLES; ++j) {
        for (int32_t i = 0; i < SAMPLES; ++i) {
            const float u = static_cast<float>(x) + (static_cast<float>(i) + 0.5f) / SAMPLES;
            const float v = static_cast<float>(y) + (static_cast<float>(j) + 0.5f) / SAMPLES;
            if (!on_tile(u, v, s))
                continue;
            ++covered;
            strength += logo_mark_strength(picture_x(u, s), picture_y(v, s));
        }
    }
    if (covered == 0)
        return 0;
    const uint32_t alpha = static_cast<uint32_t>(covered * 255 / (SAMPLES * SAMPLES));
    const float mean = strength / static_cast<float>(covered);
    return (alpha << 24) | with_logo_mark(TILE_R, TILE_G, TILE_B, mean);
}

}  // namespace app
