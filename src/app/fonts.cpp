#include "app/fonts.h"

#include "app/app_state.h"
#include "app/window_controls.h"
#include "app/window_texts.h"

namespace app {
namespace {

HFONT segoe_ui(int32_t size_px, int weight) {
    return sys::CreateFontW(-scale_px(size_px), 0, 0, 0, weight, FALSE, FALSE, FALSE,
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
    app_state.font_control = segoe_ui(15, 600);
    app_state.font_body = segoe_ui(14, 400);
    app_state.font_title = segoe_ui(32, 600);
    app_state.font_brand = segoe_ui(20, 600);
}

void delete_fonts() {
    delete_font(app_state.font_control);
    delete_font(app_state.font_body);
    delete_font(app_state.font_title);
    delete_font(app_state.font_brand);
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
