// The access that folders made for logs get: only SYSTEM, Administrators
// and the folder's owner (whoever ran the copy) may do anything in them,
// whatever the folder above allows. A folder made with the default access
// under C:\ would let every local user add to it, or replace what is in it,
// between this run and the next.
#pragma once

#include "sys/sys.h"

namespace engine {

// The security attributes to make a logs folder with; they live as long as
// the program.
LPSECURITY_ATTRIBUTES log_folder_security();

}  // namespace engine
