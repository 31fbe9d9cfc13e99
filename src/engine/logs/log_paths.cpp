#include "engine/logs/log_paths.h"

#include "engine/run_names.h"

namespace engine {
namespace {

WCHAR joined_path[LOG_PATH_CAPACITY];

bool is_separator(WCHAR unit) {
    return unit == '\\' || unit == '/';
}

}  // namespace

Result path_join(WideText folder, const WCHAR* name, uint32_t name_length, WideText& joined) {
    if (folder.length > LOG_PATH_CAPACITY || name_length + 2 > LOG_PATH_CAPACITY - folder.length) {
        return engine::fail("a path is too long");
    }
    uint64_t length = 0;
    for (; length < folder.length; ++length)
        joined_path[length] = folder.data[length];
    if (length > 0 && !is_separator(joined_path[length - 1]))
        joined_path[length++] = '\\';
    for (uint32_t i = 0; i < name_length; ++i)
        joined_path[length++] = name[i];
    joined_path[length] = 0;
    joined = {joined_path, length};
    return Result::Success;
}

Result path_join(WideText folder, const char* ascii_name, uint32_t name_length, WideText& joined) {
    WCHAR name[16];
    if (name_length > sizeof name / sizeof name[0])
        return engine::fail("a path is too long");
    for (uint32_t i = 0; i < name_length; ++i)
        name[i] = static_cast<WCHAR>(static_cast<uint8_t>(ascii_name[i]));
    return path_join(folder, name, name_length, joined);
}

}  // namespace engine
