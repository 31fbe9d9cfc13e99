// Which status changes Narrator announces by itself. The status line is a
// live region: a change that matters (a new stage of the work, the result)
// is announced wherever the reader is looking; a text whose only change is
// its number (a percentage, an amount, a time left) is not, or a reader
// would recite every step of a long download.
#pragma once

#include "sys/windows_api.h"

namespace app {

// Whether `next` replacing `shown` is a new stage to announce. The same
// stage with a new number is a text whose part before its first digit is
// the same as before.
bool starts_new_stage(const WCHAR* shown, const WCHAR* next);

}  // namespace app
