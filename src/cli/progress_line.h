// A write's progress on a console: one line on standard error, rewritten in
// place as the run goes on, and wiped before any other text so that report
// lines and the failure reason start on a clean line. Shown only on a
// console; redirected output gets nothing of it.
#pragma once

#include <cstdint>

#include "cli/tool_output.h"
#include "engine/run_names.h"

namespace cli {

class ProgressLine {
  public:
    explicit ProgressLine(ToolOutput& output) : output_(output) {}

    // The engine's progress observer; `context` is a ProgressLine.
    static void observe(void* context, engine::RunStage stage, uint64_t done_bytes,
                        uint64_t total_bytes);

    void show(engine::RunStage stage, uint64_t done_bytes, uint64_t total_bytes);
    // Before any other text reaches the console.
    void wipe();

  private:
    ToolOutput& output_;
    bool showing_ = false;
    engine::RunStage stage_ = engine::RunStage::Compare;
    uint64_t percent_ = 0;
};

}  // namespace cli
