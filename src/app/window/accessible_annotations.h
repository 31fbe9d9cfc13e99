// What screen readers are told beyond the controls' own texts, through
// Windows' accessibility annotations (IAccPropServices):
// - the status line is a polite live region, so that Narrator announces a
//   new stage and the result wherever the user is looking (set_status
//   raises the event, for the changes status_stage.h counts as news);
// - the minimise and close buttons are named "Minimize" and "Close": their
//   glyphs, which stay as drawn, read as "minus" and "multiplication sign".
// Without the annotation service the window works as before, unannotated.
#pragma once

#include "sys/sys.h"

namespace app {

constexpr WCHAR MINIMIZE_NAME[] = U16("Minimize");
constexpr WCHAR CLOSE_NAME[] = U16("Close");

// After the controls exist, on the window thread with COM ready.
void annotate_controls();

// Before the controls go: the annotations are taken back and the service
// let go.
void clear_annotations();

// The status line's text has just changed in a way that matters.
void announce_status_change();

}  // namespace app
