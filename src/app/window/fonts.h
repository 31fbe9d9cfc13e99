// The window's four fonts. A font that cannot be created stays null; the
// controls then use the system font.
#pragma once

#include "app/window/control_table.h"
#include "sys/sys.h"

namespace app {

constexpr size_t FONT_COUNT = 4;

void create_fonts();
void delete_fonts();
HFONT font_for(FontRole role);

// The fonts that a change of DPI took out of use, to be deleted once no
// control holds them any more.
struct ReplacedFonts {
    HFONT fonts[FONT_COUNT];
};

// Makes the four fonts again at the window's DPI, in creation order. A font
// that cannot be made keeps the one in use, which stays valid at its old
// size rather than leaving its controls to the system font; only the fonts
// actually replaced are handed back.
ReplacedFonts recreate_fonts();
void delete_replaced_fonts(const ReplacedFonts& replaced);

}  // namespace app
