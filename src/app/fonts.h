// The window's four fonts. A font that cannot be created stays null; the
// controls then use the system font.
#pragma once

#include "app/control_table.h"
#include "sys/sys.h"

namespace app {

void create_fonts();
void delete_fonts();
HFONT font_for(FontRole role);

}  // namespace app
