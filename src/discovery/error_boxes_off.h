// Opening a device with no medium in it (an empty card-reader slot, a
// floppy drive) can make Windows show a modal "There is no disk in the
// drive" box that holds the calling thread until someone clicks it. Code
// that opens every disk or volume of the machine runs inside one of these,
// which turns such boxes off for the thread and puts its previous mode back
// when it goes out of scope.
#pragma once

#include "sys/sys.h"

namespace discovery {

class ErrorBoxesOff {
  public:
    ErrorBoxesOff();
    ~ErrorBoxesOff();
    ErrorBoxesOff(const ErrorBoxesOff&) = delete;
    ErrorBoxesOff& operator=(const ErrorBoxesOff&) = delete;

  private:
    DWORD previous_mode_ = 0;
    bool changed_ = false;  // when the mode could not be set, there is nothing to put back
};

}  // namespace discovery
