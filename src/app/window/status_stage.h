// The stage of a write that the status line is in. Within one stage the
// text may change every second (a new percent, the next second of a
// countdown). The status line is a live region: a screen reader hears each
// new stage and each text of its own (the result, a failure) wherever it is
// looking, but not every number, or it would recite every step of a long
// download.
#pragma once

#include <cstdint>

namespace app {

enum class StatusStage : uint8_t {
    none,         // a text of its own, outside the stages of a write
    downloading,  // the image's percent, amount and time left
    retrying,     // waiting to ask the host again
    kept_image,   // the image downloaded earlier is used
    writing,      // the stick is written and read back
};

}  // namespace app
