// Copying a stick's logs into a folder on the computer before anything is
// written: TUNDRA\*.TXT, TUNDRA\*.BIN and TUNDRA\KLOG.OLD into the folder,
// every file of TUNDRA\LOGS into its LOGS sub-folder.
#pragma once

#include <cstdint>

#include "engine/logs/log_paths.h"
#include "engine/target_disk.h"
#include "formats/fat.h"

namespace engine {

// The most that one read of a file moves: a run of consecutive clusters.
constexpr uint32_t LOG_RUN_BYTES = 262144;
constexpr uint32_t LOG_LISTING_CAPACITY = 256;
// The most files one copy makes: each is held open until the copy ends.
constexpr uint32_t LOG_FILES_CAPACITY = 512;

static_assert(LOG_RUN_BYTES <= formats::DIRECTORY_BUFFER_BYTES);

// Copies the logs; a stick without a TUNDRA partition or folder has none.
// A file whose name cannot be a file name here is not copied, nor what lies
// past a listing that filled its array: a warning line says so and
// `skipped` counts it. No copy lands on a name that is there already; a
// copy that fails deletes every file it made.
Result copy_logs(const TargetDisk& stick, WideText folder, uint32_t& skipped);

// One file into `folder`; `label` names its folder on the stick in messages.
Result copy_log_file(const formats::FatVolume& volume, const formats::DirItem& item,
                     WideText folder, const char* label, uint32_t& skipped);

// The failure reason for logs that were skipped.
Result fail_for_skipped_logs(uint32_t skipped);

// The logs are safe in the folder before anything is written to the stick,
// or nothing is written at all: a log that could not be copied under its
// name counts as not copied. On failure the reason says that nothing was
// `done` ("written", "restored"), so the logs stay on the stick.
Result copy_logs_first(const TargetDisk& stick, WideText folder, const char* done);

}  // namespace engine
