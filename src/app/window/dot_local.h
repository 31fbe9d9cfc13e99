// "<program>.exe.local" beside the program. Windows' loader may take a DLL
// from such a file's folder, or a side-by-side assembly's files (Common
// Controls among them) from such a folder, instead of its own copies.
// Microsoft documents that a manifest makes Windows ignore it, unless DLL
// redirection is switched on for the whole machine (DevOverrideEnable);
// on a machine where it is, any process of the user could plant one in
// Downloads and have it run behind a correctly signed elevation prompt. So
// the elevated instance never starts beside one, and the instance without
// administrator rights does not ask for them while one is there.
#pragma once

namespace app {

// Whether "<program>.local" is there, as a file or folder of any kind.
// True as well when that cannot be told (the program's path cannot be had,
// or the name cannot be looked at): nothing then says it is not there.
bool dot_local_beside_program();

// The first act of the program: false (the program ends at once, before
// it loads a DLL of its own choosing) when it runs elevated beside a
// "<program>.local".
bool may_start_here();

}  // namespace app
