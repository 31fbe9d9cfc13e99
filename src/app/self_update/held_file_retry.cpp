#include "app/self_update/held_file_retry.h"

namespace app {

bool is_held_file_error(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

}  // namespace app
