// Button colours by kind and state.
#include "app/window/button_colours.h"

#include <gtest/gtest.h>

#include "app/window/palette.h"

namespace {

using app::ButtonKind;

TEST(ButtonColours, KindByControlId) {
    EXPECT_EQ(app::button_kind(101), ButtonKind::accent);
    EXPECT_EQ(app::button_kind(104), ButtonKind::accent);
    EXPECT_EQ(app::button_kind(106), ButtonKind::close);
    for (int id : {102, 103, 105, 107})
        EXPECT_EQ(app::button_kind(id), ButtonKind::plain) << id;
}

TEST(ButtonColours, ByKindAndState) {
    struct Case {
        ButtonKind kind;
        bool pressed;
        bool disabled;
        uint32_t fill;
        uint32_t outline;
        uint32_t text;
    };
    const Case cases[] = {
        {ButtonKind::accent, false, false, 0xFC9EC2, app::COLOR_ACCENT, 0x310F1D},
        {ButtonKind::accent, true, false, 0xEF7AA3, app::COLOR_ACCENT, 0x310F1D},
        {ButtonKind::accent, true, true, 0x41252B, 0x4E3335, app::COLOR_MUTED},
        {ButtonKind::close, false, false, 0x2A1817, 0x4E3335, app::COLOR_TEXT},
        {ButtonKind::close, true, false, 0x3C256B, app::COLOR_ACCENT, app::COLOR_TEXT},
        {ButtonKind::close, true, true, 0x3C256B, 0x4E3335, app::COLOR_MUTED},
        {ButtonKind::plain, false, false, 0x2A1817, 0x4E3335, app::COLOR_TEXT},
        {ButtonKind::plain, true, false, 0x4E2D33, app::COLOR_ACCENT, app::COLOR_TEXT},
        {ButtonKind::plain, false, true, 0x2A1817, 0x4E3335, app::COLOR_MUTED},
        {ButtonKind::plain, true, true, 0x4E2D33, 0x4E3335, app::COLOR_MUTED},
    };
    for (const Case& c : cases) {
        const app::ButtonColours colours = app::button_colours(c.kind, c.pressed, c.disabled);
        SCOPED_TRACE(testing::Message() << "kind " << int(c.kind) << " pressed " << c.pressed
                                        << " disabled " << c.disabled);
        EXPECT_EQ(colours.fill, c.fill);
        EXPECT_EQ(colours.outline, c.outline);
        EXPECT_EQ(colours.text, c.text);
    }
}

}  // namespace
