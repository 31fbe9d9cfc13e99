// The colours of the owner-drawn buttons, by kind and item state.
#pragma once

#include <cstdint>

namespace app {

enum class ButtonKind { accent, close, plain };

struct ButtonColours {
    uint32_t fill;
    uint32_t outline;
    uint32_t text;
};

// The Tundra and action buttons are accent buttons, the close button has its
// own kind, every other button is plain.
ButtonKind button_kind(int id);

ButtonColours button_colours(ButtonKind kind, bool pressed_or_focused, bool disabled);

}  // namespace app
