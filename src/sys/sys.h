// The OS seam. Every operating-system call of the system is written
// sys::Name(...) with the Windows name and signature, and goes through a
// table of function pointers. The defaults are the real Windows functions in
// the Windows build and a small POSIX stand-in in the host build; a test can
// replace any single entry, for example to make one call fail.
#pragma once

#include "sys/windows_api.h"

namespace sys {

struct CallTable {
#define SYS_CALL(ret, name, fail_value, params, args) ret(WINAPI* name) params;
#define SYS_PLAIN(ret, name, params, args) ret(WINAPI* name) params;
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN
};

// The table in force. Tests write to it; production code only reads it.
extern CallTable calls;

// The binding's own functions, as installed at start.
const CallTable& default_calls();

// Puts every entry back to its default.
void restore_default_calls();

#ifdef _WIN32
// The program's first act: restricts the DLL search to System32 and loads
// the calls of the DLLs that are not imported (calls.inc's loaded calls).
// False when a required one cannot be had; an optional one then fails
// where it is called. Test executables need not call it: a loaded call
// loads them on first use.
bool load_system_libraries();

// The first act of a program that calls none of the loaded calls (the
// stick tool): only the restriction of the DLL search to System32, with
// GetLastError telling why when it fails.
bool restrict_dll_search();
#endif

#define SYS_CALL(ret, name, fail_value, params, args) \
    inline ret name params { return calls.name args; }
#define SYS_PLAIN(ret, name, params, args) \
    inline ret name params { return calls.name args; }
#include "sys/calls.inc"
#undef SYS_CALL
#undef SYS_PLAIN

}  // namespace sys
