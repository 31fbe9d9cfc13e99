// The taskbar button shows how far a write is, for a user who has turned to
// other windows meanwhile: searching while the release is found, then the
// download's and the write's percentages, red when the write failed, and
// nothing once the result is shown. Without a taskbar (no Explorer, or COM
// cannot make its interface) none of this shows and the write is the same.
#pragma once

#include <cstdint>

#include "sys/sys.h"

namespace app {

// Before the window shows: Explorer announces each new button with a
// registered message, which an elevated window must agree to receive from
// the unelevated Explorer.
void listen_for_taskbar_button(HWND window);

bool is_taskbar_button_created(UINT message);

// The button exists (again, after Explorer restarted): takes its interface
// and shows on it what the window shows now.
void connect_taskbar_button();

// Lets the interface go; with the window, or at exit.
void release_taskbar_button();

void show_taskbar_searching();
// A percentage 0..100 (larger values show as 100).
void show_taskbar_percent(uint64_t percent);
void show_taskbar_failure();
void clear_taskbar_progress();

// When a write ends while the user works in another window: the button
// flashes until the window comes to the front.
void flash_if_in_background();

}  // namespace app
