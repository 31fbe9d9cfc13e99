#include "app/self_update/update_paths.h"

#include "text/number_format.h"
#include "text/text_writer.h"

namespace app {

static_assert(sizeof PREVIOUS_FILE_MARK - 1 + 8 + 1 + 16 <= BESIDE_NAME_BYTES,
              "the longest appended name fits its buffer");

bool path_beside(const WidePath& exe_path, const char* mark, uint32_t process_id, uint64_t tick,
                 WidePath& out) {
    out.length = 0;
    out.units[0] = 0;
    char name[BESIDE_NAME_BYTES];
    text::TextWriter writer(name, sizeof name);
    text::compose(writer, mark, text::LowerHex{process_id}, "-", text::LowerHex{tick});
    if (writer.was_cut() || exe_path.length > MAX_BESIDE_PATH_UNITS ||
        writer.length() > MAX_BESIDE_PATH_UNITS - exe_path.length) {
        return false;
    }
    for (uint64_t i = 0; i < exe_path.length; ++i)
        out.units[i] = exe_path.units[i];
    // The name is ASCII: each byte is one unit.
    for (size_t i = 0; i < writer.length(); ++i)
        out.units[exe_path.length + i] = static_cast<WCHAR>(name[i]);
    out.length = exe_path.length + writer.length();
    out.units[out.length] = 0;
    return true;
}

}  // namespace app
