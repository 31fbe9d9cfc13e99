// The one record of application state. It lives in static storage for the
// whole process and nothing in it is allocated. The window thread owns it;
// a worker writes only the fields named for it, before posting its message.
#pragma once

#include <cstdint>
#include <optional>

#include "app/update_hooks.h"
#include "app/window/background.h"
#include "app/window/control_table.h"
#include "app/window/status_stage.h"
#include "discovery/stick_record.h"
#include "release/manifest.h"
#include "sys/sys.h"

namespace app {

constexpr uint64_t UPDATE_BUFFER_BYTES = release::MAX_EXE_BYTES + 1;

struct AppState {
    HWND hwnd_main;
    HINSTANCE instance;
    HFONT font_control;
    HFONT font_title;
    HFONT font_body;
    HFONT font_brand;
    HWND hwnd_version;  // id 101
    HWND hwnd_refresh;  // id 102
    HWND hwnd_stick;    // id 103
    HWND hwnd_action;   // id 104
    HWND hwnd_status;   // id 201
    // Where the keyboard focus goes back to when the window is activated
    // again: the control that had it when the window was deactivated, or
    // the one a state change chose while the window was in the background.
    HWND hwnd_saved_focus;
    HWND controls[CONTROL_COUNT];  // every control, in the order of the control table
    std::optional<UpdateContext> update;
    discovery::StickList sticks;  // with stick_count and selected_stick
    int32_t dpi;                  // of the monitor the window is on, never below 96
    COLORREF status_color;
    StatusStage status_stage;  // of the text the status line shows
    bool is_elevated;
    bool is_busy;
    bool update_check_running;
    // Written by the worker threads before they post (the engine's own
    // inputs, perf_frequency and disk_io_event, are held beside the engine).
    uint64_t result_text_length;
    uint64_t download_size_bytes;  // the image's, before its download's first post
    bool update_ready;
    uint64_t update_length;
    // The new executable, verified when update_ready is set: at most 8 MiB,
    // and one byte more so that a longer body fills it and is refused.
    uint8_t update_buffer[UPDATE_BUFFER_BYTES];
    bool background_rendered;
    uint32_t background_pixels[BACKGROUND_PIXEL_COUNT];
};

extern AppState app_state;

// Ends the update context: zeroes it whole, handle and path included, and
// leaves `update` absent.
void clear_update_context();

// Puts every field back to its start value; the background picture is only
// marked as not rendered. For tests, which run the window more than once.
void reset_app_state();

}  // namespace app
