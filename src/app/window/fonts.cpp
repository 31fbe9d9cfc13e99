#include "app/window/fonts.h"

#include "app/window/app_state.h"
#include "app/window/window_controls.h"
#include "app/window/window_texts.h"

namespace app {
namespace {

struct FontDescription {
    HFONT AppState::*font;
    int32_t size_px;  // at 96 DPI
    int weight;
};

// In creation order.
constexpr FontDescription FONT_DESCRIPTIONS[FONT_COUNT] = {
    {&AppState::font_control, 15, 600},
    {&AppState::font_body, 14, 400},
    {&AppState::font_title, 32, 600},
    {&AppState::font_brand, 20, 600},
};

HFONT segoe_ui(const FontDescription& wanted) {
    return sys::CreateFontW(-scale_px(wanted.size_px), 0, 0, 0, wanted.weight, FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, FONT_FACE);
}

void delete_font(HFONT& font) {
    if (font != nullptr)
        (void)sys::DeleteObject(font);
    font = nullptr;
}

}  // namespace

void create_fonts() {
    for (const FontDescription& wanted : FONT_DESCRIPTIONS)
        app_state.*wanted.font = segoe_ui(wanted);
}

void delete_fonts() {
    for (const FontDescription& wanted : FONT_DESCRIPTIONS)
        delete_font(app_state.*wanted.font);
}

ReplacedFonts recreate_fonts() {
    ReplacedFonts replaced{};
    for (size_t i = 0; i < FONT_COUNT; ++i) {
        HFONT made = segoe_ui(FONT_DESCRIPTIONS[i]);
        if (made == nullptr)
            continue;
        HFONT& in_use = app_state.*FONT_DESCRIPTIONS[i].font;
        replaced.fonts[i] = in_use;
        in_use = made;
    }
    return replaced;
}

void delete_replaced_fonts(const ReplacedFonts& replaced) {
    for (HFONT font : replaced.fonts) {
        if (font != nullptr)
            (void)sys::DeleteObject(font);
    }
}

HFONT font_for(FontRole role) {
    switch (role) {
        case FontRole::control:
            return app_state.font_control;
        case FontRole::body:
            return app_state.font_body;
        case FontRole::title:
            return app_state.font_title;
        case FontRole::brand:
            break;
    }
    return app_state.font_brand;
}

}  // namespace app
