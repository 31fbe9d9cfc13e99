#include "app/window/status_stage.h"

namespace app {
namespace {

bool is_digit(WCHAR unit) {
    return unit >= U16('0') && unit <= U16('9');
}

// The units before the first digit; the whole length when there is none.
size_t stage_length(const WCHAR* text, bool& has_number) {
    size_t n = 0;
    while (text[n] != 0 && !is_digit(text[n]))
        ++n;
    has_number = text[n] != 0;
    return n;
}

}  // namespace

bool starts_new_stage(const WCHAR* shown, const WCHAR* next) {
    if (shown == nullptr || next == nullptr)
        return true;
    bool shown_has_number = false;
    bool next_has_number = false;
    const size_t shown_length = stage_length(shown, shown_has_number);
    const size_t next_length = stage_length(next, next_has_number);
    if (!shown_has_number || !next_has_number || shown_length != next_length)
        return true;
    for (size_t i = 0; i < next_length; ++i) {
        if (shown[i] != next[i])
            return true;
    }
    return false;
}

}  // namespace app
