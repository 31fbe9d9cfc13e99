// What the stick tool does with a stick besides writing it: copy its logs,
// and back it up whole into a new file. Both open the target read-only, as a
// dry run does, and hold the stick's volumes locked, but mounted, while they
// read. The same rules as write_stick apply: one run at a time,
// run_inputs filled first, the failure reason after Failed, a stop
// request honoured between pieces, and nothing held after the call.
#pragma once

#include "engine/run_names.h"
#include "engine/write_options.h"

namespace engine {

// Copies the logs of the stick that `options` names (serial or target file)
// into options.logs_dir. Fails when a log could not be copied under its name,
// after copying the others.
Result copy_stick_logs(const WriteOptions& options);

// Reads the whole stick into `out_path`, a file that must not exist yet, and
// reports its size and SHA-256. A backup that fails half-way is deleted, so
// that no partial file can pass for a backup.
Result back_up_stick(const WriteOptions& options, WideText out_path);

}  // namespace engine
