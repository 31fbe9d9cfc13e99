// What the stick tool asks of the files a command line names before it runs
// the engine on them.
#pragma once

#include "engine/write_options.h"

namespace cli {

// Whether the path names a folder (false when it names nothing).
bool is_folder(engine::WideText path);

// Whether two paths name one file, by the identity Windows keeps for it
// (volume serial number and file index), so that "./x", "x" and a link to x
// are all the same. False when either cannot be opened: the run then says
// why in its own words.
bool same_file(engine::WideText first, engine::WideText second);

}  // namespace cli
