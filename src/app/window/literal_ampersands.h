// Windows takes a single "&" in a menu item's or a button's text as the
// mark of its access key: it hides it, underlines the next character, and
// screen readers leave it out of the name. Stick names come from the
// device and may hold one ("M&M"); doubled, it is shown and read as written.
#pragma once

#include <cstddef>

#include "text/utf8_to_utf16.h"

namespace app {

// UTF-8 to UTF-16 as for any window text (at most CAPACITY units with the
// NUL), then every "&" doubled, which needs at most twice the room.
template <size_t CAPACITY>
text::Utf16Text<2 * CAPACITY> with_literal_ampersands(const char* bytes, size_t length) {
    const text::Utf16Text<CAPACITY> plain = text::to_utf16<CAPACITY>(bytes, length);
    text::Utf16Text<2 * CAPACITY> shown;
    for (size_t i = 0; i < plain.length; ++i) {
        if (plain.units[i] == L'&')
            shown.units[shown.length++] = L'&';
        shown.units[shown.length++] = plain.units[i];
    }
    shown.units[shown.length] = 0;
    return shown;
}

}  // namespace app
