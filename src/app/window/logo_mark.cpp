#include "app/window/logo_mark.h"

#include <cmath>

namespace app {
namespace {

float clamp01(float v) {
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

uint32_t channel(float v) {
    return static_cast<uint32_t>(fminf(v, 255.0f));
}

}  // namespace

float four_pointed_star(float x, float y, float cx, float cy, float s) {
    return clamp01((1.0f - sqrtf(fabsf(x - cx) / s) - sqrtf(fabsf(y - cy) / s)) * 9.0f);
}

float logo_mark_strength(float x, float y) {
    return 187.0f * four_pointed_star(x, y, LOGO_MARK_CENTRE_X, LOGO_MARK_CENTRE_Y, LOGO_MARK_SIZE);
}

uint32_t with_logo_mark(float r, float g, float b, float strength) {
    return (channel(r + strength) << 16) | (channel(g + 0.79f * strength) << 8) |
           channel(b + strength);
}

}  // namespace app
