// Single-precision arithmetic throughout: the picture must come out the same
// in every build, so each step is written in the order it is evaluated.
#include "app/window/background.h"

#include <cmath>

#include "app/window/logo_mark.h"

namespace app {
namespace {

struct Rgb {
    float r;
    float g;
    float b;
};

float ramp(float v) {
    return v > 0.0f ? v : 0.0f;
}

float squared(float v) {
    return v * v;
}

float star(float x, float y, float cx, float cy, float s) {
    return four_pointed_star(x, y, cx, cy, s);
}

// A thin ring: 1 on the ellipse of radius `radius`, fading over `width`.
float ring(float e, float radius, float width) {
    return squared(ramp(1.0f - fabsf(e - radius) / width));
}

// About one pixel in 64 sparkles; the choice is a fixed hash of the place.
bool sparkles(int32_t x, int32_t y) {
    const uint32_t h =
        static_cast<uint32_t>(y) * 0x27D4EB2Fu + static_cast<uint32_t>(x) * 0x165667B1u;
    const uint32_t t = (h ^ (h >> 13)) * 0x4BF19F61u;
    return t < 0x4000000u;
}

// Distance from the pixel to the rectangle x 35..218, y 80..427: the card is
// that rectangle with corners rounded to 18.5.
float card_distance(float fx, float fy) {
    const float dx = ramp(fabsf(fx - 126.5f) - 91.5f);
    const float dy = ramp(fabsf(fy - 253.5f) - 173.5f);
    return sqrtf(dx * dx + dy * dy);
}

bool in_card_box(int32_t x, int32_t y) {
    return y >= 62 && y <= 445 && x >= 17 && x <= 236;
}

void add_card_light(Rgb& c, int32_t x, int32_t y, float fx, float fy) {
    const float X = fx - 126.0f;  // the card's centre of light
    const float Y = fy - 189.0f;
    const float u = 0.89f * X + 0.45f * Y;
    const float v = (0.89f * Y - 0.45f * X) * 2.12f;
    const float e = sqrtf(u * u + v * v);
    const float rings = 26.0f * ring(e, 84.0f, 2.25f) + 15.0f * ring(e, 61.0f, 1.6f) +
                        10.0f * ring(e, 103.0f, 1.2f);
    const float stars =
        185.0f * star(fx, fy, 126.0f, 189.0f, 37.0f) + 86.0f * star(fx, fy, 66.0f, 150.0f, 10.0f) +
        75.0f * star(fx, fy, 190.0f, 229.0f, 8.0f) + 60.0f * star(fx, fy, 79.0f, 253.0f, 7.0f);
    const float centre = sqrtf(X * X + Y * Y);
    const float glow = squared(ramp(1.0f - centre / 130.0f));
    const float sparkle = sparkles(x, y) ? 19.0f * squared(ramp(1.0f - centre / 150.0f)) : 0.0f;
    c.r += 7.0f + 73.0f * glow + rings + stars + sparkle;
    c.g += 6.0f + 33.0f * glow + 0.6f * rings + 0.88f * stars + sparkle;
    c.b += 13.0f + 109.0f * glow + 1.9f * rings + stars + 2.3f * sparkle;
}

void add(Rgb& c, float r, float g, float b) {
    c.r += r;
    c.g += g;
    c.b += b;
}

}  // namespace

uint32_t background_pixel(int32_t x, int32_t y) {
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    Rgb c{fy * 6.0f / 468.0f + 8.0f, fy * 4.0f / 468.0f + 10.0f, fy * 14.0f / 468.0f + 20.0f};
    if (in_card_box(x, y)) {
        const float d = card_distance(fx, fy);
        if (d < 18.5f) {
            add_card_light(c, x, y, fx, fy);
            const bool border = d > 17.2f || x == 17 || x == 236 || y == 62 || y == 445;
            if (border)
                add(c, 24.0f, 22.0f, 37.0f);
        }
    } else if (y < HEADER_BAND_HEIGHT) {
        add(c, 10.0f, 10.0f, 16.0f);
    }
    if (y == 43 || (y == 365 && x >= 260 && x <= 739))
        add(c, 37.0f, 32.0f, 58.0f);
    return with_logo_mark(c.r, c.g, c.b, logo_mark_strength(fx, fy));
}

void render_background(uint32_t* pixels) {
    for (int32_t y = 0; y < WINDOW_HEIGHT; ++y) {
        for (int32_t x = 0; x < WINDOW_WIDTH; ++x) {
            pixels[size_t(y) * WINDOW_WIDTH + size_t(x)] = background_pixel(x, y);
        }
    }
}

}  // namespace app
