// The Windows binding: every entry of the table is the real function.
#include "sys/sys.h"

namespace sys {

const CallTable& default_calls() {
    static const CallTable table = {
#define SYS_CALL(ret, name, fail_value, params, args) ::name,
#define SYS_PLAIN(ret, name, params, args) ::name,
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
    };
    return table;
}

}  // namespace sys
