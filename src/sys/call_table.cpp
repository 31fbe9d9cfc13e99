#include "sys/sys.h"

namespace sys {

CallTable calls = default_calls();

void restore_default_calls() { calls = default_calls(); }

}  // namespace sys
