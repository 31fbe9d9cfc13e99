// Resource numbers shared by the resource script and the code that loads
// them; plain defines, because the resource compiler reads this file too.
#pragma once

#define TUNDRA_ICON_ID 1
