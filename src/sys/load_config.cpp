// The executable's load configuration, for one field: DependentLoadFlags
// (the old Reserved1 in mingw's header), which makes Windows 10 1607 and
// later take the DLLs that the executable imports from System32 alone. Our
// imports are all of DLLs that Windows takes from there anyway, and the
// others are loaded by the seam from System32; this closes the door once
// more, for any import a later change might add. The linker does not point
// the image's load-configuration directory at this record:
// cmake/set_load_config.sh does, after the link.
#include "sys/windows_api.h"

namespace {

constexpr IMAGE_LOAD_CONFIG_DIRECTORY64 load_configuration() {
    IMAGE_LOAD_CONFIG_DIRECTORY64 record{};
    record.Size = sizeof record;
    record.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;  // DependentLoadFlags
    return record;
}

}  // namespace

extern "C" __attribute__((used)) const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used =
    load_configuration();
