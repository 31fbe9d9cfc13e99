// The access that files and folders made by a run get: only SYSTEM,
// Administrators and the owner (whoever ran it) may do anything with them,
// whatever the folder above allows. A folder made with the default access
// under C:\ would let every local user add to it, or replace what is in it,
// between this run and the next; a copied log or a backup could be read by
// anyone.
#pragma once

#include "sys/sys.h"

namespace run {

// The security attributes to make such a file or folder with; they live as
// long as the program.
LPSECURITY_ATTRIBUTES owner_only_security();

}  // namespace run
