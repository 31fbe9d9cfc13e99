// The window's 18 controls, in creation order (which is also the tab order
// of the buttons). Positions and sizes are 96-DPI pixels of the client area.
#pragma once

#include <cstddef>

#include "sys/windows_api.h"

namespace app {

enum class ControlKind { label, button };
enum class FontRole { control, body, title, brand };

struct ControlSpec {
    ControlKind kind;
    const WCHAR* text;  // null for the action button: its text depends on elevation
    int id;
    int x;
    int y;
    int width;
    int height;
    FontRole font;
};

constexpr size_t CONTROL_COUNT = 18;

extern const ControlSpec CONTROLS[CONTROL_COUNT];

// The text a control is created with.
const WCHAR* initial_text(const ControlSpec& control, bool is_elevated);

}  // namespace app
