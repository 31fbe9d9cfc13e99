#include "discovery/error_boxes_off.h"

namespace discovery {

ErrorBoxesOff::ErrorBoxesOff()
    : changed_(sys::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_mode_) != FALSE) {}

ErrorBoxesOff::~ErrorBoxesOff() {
    if (changed_)
        (void)sys::SetThreadErrorMode(previous_mode_, nullptr);
}

}  // namespace discovery
