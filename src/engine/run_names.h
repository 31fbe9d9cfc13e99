// The ground's names as the engine uses them. Every step of the engine
// returns a Result, reads through DiskRegions, fails with fail() and reports
// with report(), as every other user of the ground does; the engine takes
// the names into its own namespace so that its code, and its callers' code,
// reads as the engine's.
#pragma once

#include "run/disk_region.h"
#include "run/path_text.h"
#include "run/result.h"
#include "run/run_inputs.h"
#include "run/wide_text.h"

namespace engine {

using run::DiskRegion;
using run::fail;
using run::failure_reason;
using run::path_text;
using run::progress_percent;
using run::ProgressObserver;
using run::read_at;
using run::read_exact_at;
using run::report;
using run::ReportObserver;
using run::Result;
using run::RunStage;
using run::set_report_observer;
using run::WideText;
using run::write_exact_at;

}  // namespace engine
