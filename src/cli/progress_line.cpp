#include "cli/progress_line.h"

#include "text/number_format.h"

namespace cli {
namespace {

// Wider than any line shown, so that a wipe covers every one of them.
constexpr size_t LINE_WIDTH = 32;

const char* stage_name(engine::RunStage stage) {
    switch (stage) {
        case engine::RunStage::Compare:
            return "comparing";
        case engine::RunStage::Write:
            return "writing";
        case engine::RunStage::ReadBack:
            return "reading back";
        case engine::RunStage::Backup:
            return "backing up";
    }
    return "";
}

}  // namespace

void ProgressLine::observe(void* context, engine::RunStage stage, uint64_t done_bytes,
                           uint64_t total_bytes) {
    static_cast<ProgressLine*>(context)->show(stage, done_bytes, total_bytes);
}

void ProgressLine::show(engine::RunStage stage, uint64_t done_bytes, uint64_t total_bytes) {
    if (total_bytes == 0)
        return;
    const uint64_t percent = engine::progress_percent(done_bytes, total_bytes);
    if (showing_ && stage == stage_ && percent == percent_)
        return;
    char bytes[LINE_WIDTH];
    text::TextWriter line(bytes, sizeof bytes);
    // The percent is of the whole run (compare, write and read-back
    // together), not of the stage beside it.
    text::compose(line, "\r", percent, "% overall, ", stage_name(stage));
    // Spaces over what a longer line before it left.
    while (line.length() < LINE_WIDTH)
        line.put_char(' ');
    output_.err({line.data(), line.length()});
    showing_ = true;
    stage_ = stage;
    percent_ = percent;
}

void ProgressLine::wipe() {
    if (!showing_)
        return;
    char bytes[LINE_WIDTH + 2];
    text::TextWriter line(bytes, sizeof bytes);
    line.put_char('\r');
    while (line.length() < LINE_WIDTH)
        line.put_char(' ');
    line.put_char('\r');
    output_.err({line.data(), line.length()});
    showing_ = false;
}

}  // namespace cli
