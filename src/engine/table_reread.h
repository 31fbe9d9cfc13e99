// Asking Windows to read a stick's partition table again after it changed.
#pragma once

#include "sys/sys.h"

namespace engine {

// Nothing depends on its result: Windows reads the table anyway when the
// stick is next plugged in.
void ask_windows_to_reread_the_table(HANDLE disk);

}  // namespace engine
