// The Windows binding: every entry of the table is the real function. The
// calls of DLLs that Windows does not always take from its system folder
// (winhttp, dwmapi) are not imported: an installer runs from the Downloads
// folder, where a planted DLL of the same name would otherwise be loaded
// first, and then again with administrator rights after "Enable USB access".
// They are loaded from System32 alone by load_system_libraries.
#include "sys/sys.h"

namespace sys {
namespace {

CallTable& binding_table();

// Guards the loaded entries of the binding's table: the program loads them
// at start, before any thread runs, but a test executable loads them on
// first use, from whichever thread comes first.
SRWLOCK load_lock = SRWLOCK_INIT;

// Until its DLL is loaded, a loaded call loads the DLLs (only test
// executables get here: the programs load them at start) and then forwards
// to what was loaded; when its DLL cannot be had, it fails as the call
// fails.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define SYS_CALL(ret, name, fail_value, params, args)
#define SYS_PLAIN(ret, name, params, args)
#define SYS_LOADED_CALL(dll, required, ret, name, fail_value, params, args) \
    ret WINAPI not_loaded_##name params;                                    \
    ret WINAPI not_loaded_##name params {                                   \
        (void)load_system_libraries();                                      \
        ::AcquireSRWLockShared(&load_lock);                                 \
        const auto loaded = binding_table().name;                           \
        ::ReleaseSRWLockShared(&load_lock);                                 \
        if (loaded == not_loaded_##name) {                                  \
            ::SetLastError(ERROR_PROC_NOT_FOUND);                           \
            return fail_value;                                              \
        }                                                                   \
        return loaded args;                                                 \
    }
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
#undef SYS_LOADED_CALL
#pragma GCC diagnostic pop

CallTable& binding_table() {
    static CallTable table = {
#define SYS_CALL(ret, name, fail_value, params, args) ::name,
#define SYS_PLAIN(ret, name, params, args) ::name,
#define SYS_LOADED_CALL(dll, required, ret, name, fail_value, params, args) not_loaded_##name,
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
#undef SYS_LOADED_CALL
    };
    return table;
}

// Takes one function of a DLL from System32 into the table. True when it was
// taken, or when the DLL is not required and the call may simply fail.
template <typename Function>
bool load_call(LPCWSTR dll, const char* name, bool required, Function& entry) {
    HMODULE module = sys::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const FARPROC function = module != nullptr ? sys::GetProcAddress(module, name) : nullptr;
    if (function == nullptr)
        return !required;
    entry = reinterpret_cast<Function>(reinterpret_cast<void*>(function));
    return true;
}

}  // namespace

const CallTable& default_calls() {
    return binding_table();
}

bool restrict_dll_search() {
    // From here on, every DLL that Windows loads for this process comes from
    // System32 alone, including those that system DLLs load themselves.
    return sys::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

bool load_system_libraries() {
    if (!restrict_dll_search())
        return false;
    ::AcquireSRWLockExclusive(&load_lock);
    CallTable& table = binding_table();
    bool complete = true;
#define SYS_CALL(ret, name, fail_value, params, args)
#define SYS_PLAIN(ret, name, params, args)
#define SYS_LOADED_CALL(dll, required, ret, name, fail_value, params, args) \
    complete = load_call(dll, #name, required, table.name) && complete;
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
#undef SYS_LOADED_CALL
    ::ReleaseSRWLockExclusive(&load_lock);
    return complete;
}

}  // namespace sys
