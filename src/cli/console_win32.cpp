// Standard output and error on Windows: UTF-16 to a console, so that no code
// page garbles the engine's UTF-8; the UTF-8 bytes themselves to a file or a
// pipe.
#include "cli/console_text.h"
#include "cli/tool_output.h"
#include "sys/sys.h"

namespace cli {
namespace {

constexpr size_t CONSOLE_PIECE_UNITS = 2048;

void write_console(HANDLE console, text::ByteText text) {
    static WCHAR units[CONSOLE_PIECE_UNITS];
    for (size_t done = 0; done < text.length;) {
        size_t consumed = 0;
        const size_t count = console_units(text.data + done, text.length - done, units,
                                           CONSOLE_PIECE_UNITS, consumed);
        DWORD written = 0;
        if (count == 0 ||
            !sys::WriteConsoleW(console, units, static_cast<DWORD>(count), &written, nullptr)) {
            return;
        }
        done += consumed;
    }
}

void write_bytes(HANDLE file, text::ByteText text) {
    for (size_t done = 0; done < text.length;) {
        DWORD written = 0;
        if (!sys::WriteFile(file, text.data + done, static_cast<DWORD>(text.length - done),
                            &written, nullptr) ||
            written == 0) {
            return;
        }
        done += written;
    }
}

void write_text(DWORD which, text::ByteText text) {
    const HANDLE handle = sys::GetStdHandle(which);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
        return;
    DWORD mode = 0;
    if (sys::GetConsoleMode(handle, &mode)) {
        write_console(handle, text);
    } else {
        write_bytes(handle, text);
    }
}

class ConsoleOutput final : public ToolOutput {
  public:
    void out(text::ByteText text) override { write_text(STD_OUTPUT_HANDLE, text); }
    void err(text::ByteText text) override { write_text(STD_ERROR_HANDLE, text); }
    // A redirected handle has no console mode.
    bool err_is_console() override {
        const HANDLE handle = sys::GetStdHandle(STD_ERROR_HANDLE);
        DWORD mode = 0;
        return handle != INVALID_HANDLE_VALUE && handle != nullptr &&
               sys::GetConsoleMode(handle, &mode);
    }
};

}  // namespace

ToolOutput& standard_output() {
    static ConsoleOutput output;
    return output;
}

}  // namespace cli
