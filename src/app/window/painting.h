// How the window draws: the background picture, the owner-drawn buttons and
// the colours of the static texts.
#pragma once

#include "sys/sys.h"

namespace app {

// WM_PAINT: the background picture, computed at the first paint, stretched
// over the whole client area.
void paint_background(HWND hwnd);

// WM_DRAWITEM: one button: the picture beneath it, its shape in the colours
// of its kind and state, then its text. Without a brush or pen the shape is
// skipped, not the text.
void draw_button(const DRAWITEMSTRUCT& item);

// WM_CTLCOLORSTATIC: the picture beneath the static, painted into its
// device context before its text, and the text colour by the static's id;
// the returned brush paints nothing more.
LRESULT colour_static(HDC dc, HWND control);

}  // namespace app
