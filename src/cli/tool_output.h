// Where the stick tool's texts go: report lines and results to standard
// output, failure reasons and usage errors to standard error. Texts are
// UTF-8; each front end's binding shows them as its console wants them.
#pragma once

#include <cstddef>

#include "text/text_writer.h"

namespace cli {

class ToolOutput {
  public:
    virtual ~ToolOutput() = default;
    virtual void out(text::ByteText text) = 0;
    virtual void err(text::ByteText text) = 0;
    // Whether standard error is a console, where a line can be rewritten in
    // place; a file or a pipe keeps only what is written for good.
    virtual bool err_is_console() { return false; }
};

// Standard output and standard error of this process.
ToolOutput& standard_output();

}  // namespace cli
