#include "app/window/button_colours.h"

#include "app/window/control_ids.h"
#include "app/window/palette.h"

namespace app {
namespace {

constexpr uint32_t DIM_OUTLINE = 0x4E3335;
constexpr uint32_t DARK_FILL = 0x2A1817;

ButtonColours accent_colours(bool pressed_or_focused, bool disabled) {
    if (disabled)
        return {0x41252B, DIM_OUTLINE, COLOR_MUTED};
    return {pressed_or_focused ? 0xEF7AA3u : 0xFC9EC2u, COLOR_ACCENT, 0x310F1D};
}

// Close and plain buttons differ only in their pressed fill; their fill does
// not show the disabled state, their outline and text do.
ButtonColours dark_colours(uint32_t pressed_fill, bool pressed_or_focused, bool disabled) {
    return {pressed_or_focused ? pressed_fill : DARK_FILL,
            pressed_or_focused && !disabled ? COLOR_ACCENT : DIM_OUTLINE,
            disabled ? COLOR_MUTED : COLOR_TEXT};
}

}  // namespace

ButtonKind button_kind(int id) {
    if (id == ID_VERSION_TUNDRA || id == ID_ACTION)
        return ButtonKind::accent;
    if (id == ID_CLOSE)
        return ButtonKind::close;
    return ButtonKind::plain;
}

ButtonColours button_colours(ButtonKind kind, bool pressed_or_focused, bool disabled) {
    switch (kind) {
        case ButtonKind::accent:
            return accent_colours(pressed_or_focused, disabled);
        case ButtonKind::close:
            return dark_colours(0x3C256B, pressed_or_focused, disabled);
        case ButtonKind::plain:
            break;
    }
    return dark_colours(0x4E2D33, pressed_or_focused, disabled);
}

}  // namespace app
