#include "engine/log_paths.h"

#include "engine/run_names.h"

namespace engine {
namespace {

WCHAR joined_path[LOG_PATH_CAPACITY];
WCHAR folder_prefix[LOG_PATH_CAPACITY];

bool is_separator(WCHAR unit) {
    return unit == '\\' || unit == '/';
}

Result cannot_make(WideText path, DWORD code) {
    return engine::fail("cannot make the folder ", engine::path_text(path), " (Windows error ",
                        code, ")");
}

}  // namespace

Result path_join(WideText folder, const char* name, uint32_t name_length, WideText& joined) {
    if (folder.length > LOG_PATH_CAPACITY || name_length + 2 > LOG_PATH_CAPACITY - folder.length) {
        return engine::fail("a path is too long");
    }
    uint64_t length = 0;
    for (; length < folder.length; ++length)
        joined_path[length] = folder.data[length];
    if (length > 0 && !is_separator(joined_path[length - 1]))
        joined_path[length++] = '\\';
    for (uint32_t i = 0; i < name_length; ++i) {
        joined_path[length++] = static_cast<WCHAR>(static_cast<uint8_t>(name[i]));
    }
    joined_path[length] = 0;
    joined = {joined_path, length};
    return Result::Success;
}

Result make_folder(WideText path) {
    if (path.length >= LOG_PATH_CAPACITY)
        return engine::fail("a path is too long");
    for (uint64_t i = 1; i <= path.length; ++i) {
        if (i < path.length && !is_separator(path.data[i]))
            continue;
        if (i == 2 && path.data[1] == ':')
            continue;  // a drive such as C:
        for (uint64_t k = 0; k < i; ++k)
            folder_prefix[k] = path.data[k];
        folder_prefix[i] = 0;
        if (sys::CreateDirectoryW(folder_prefix, nullptr))
            continue;
        const DWORD code = sys::GetLastError();
        if (code == ERROR_ALREADY_EXISTS)
            continue;
        if (code == ERROR_ACCESS_DENIED && i < path.length)
            continue;
        return cannot_make(path, code);
    }
    return Result::Success;
}

}  // namespace engine
