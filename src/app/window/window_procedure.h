// The main window's message handler.
#pragma once

#include "sys/sys.h"

namespace app {

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace app
