// The descriptor is written out byte by byte in its self-relative form,
// which CreateDirectoryW and NtCreateFile take as it is: three well-known SIDs need no
// lookup, no token and no allocation. In SDDL it reads
// "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)": a protected DACL
// (nothing inherited from the folder above) that gives full access to
// SYSTEM, Administrators and OWNER RIGHTS (the owner, without the owner's
// implicit right to change the DACL), and passes it on to every file and
// folder inside.
#include "run/owner_only_security.h"

#include <cstdint>

namespace run {
namespace {

constexpr uint8_t ACE_INHERITED_BY_FILES_AND_FOLDERS = 0x01 | 0x02;     // OI | CI
constexpr uint8_t FILE_ALL_ACCESS_BYTES[4] = {0xFF, 0x01, 0x1F, 0x00};  // 0x001F01FF

#define TUNDRA_ACE(sid_bytes, ...)                                             \
    0x00 /* ACCESS_ALLOWED_ACE_TYPE */, ACE_INHERITED_BY_FILES_AND_FOLDERS,    \
        static_cast<uint8_t>(8 + (sid_bytes)), 0x00, FILE_ALL_ACCESS_BYTES[0], \
        FILE_ALL_ACCESS_BYTES[1], FILE_ALL_ACCESS_BYTES[2], FILE_ALL_ACCESS_BYTES[3], __VA_ARGS__

constexpr uint32_t ACL_BYTES = 8 + (8 + 12) + (8 + 16) + (8 + 12);

alignas(4) constexpr uint8_t DESCRIPTOR[20 + ACL_BYTES] = {
    // SECURITY_DESCRIPTOR_RELATIVE: revision 1; control SE_SELF_RELATIVE |
    // SE_DACL_PROTECTED | SE_DACL_PRESENT; no owner, group or SACL (Windows
    // takes the owner and group from the caller's token); the DACL at 20.
    0x01,
    0x00,
    0x04,
    0x90,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    20,
    0,
    0,
    0,
    // ACL: revision 2, its size, three ACEs.
    0x02,
    0x00,
    static_cast<uint8_t>(ACL_BYTES),
    0x00,
    0x03,
    0x00,
    0x00,
    0x00,
    // S-1-5-18, SYSTEM
    TUNDRA_ACE(12, 0x01, 0x01, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0),
    // S-1-5-32-544, Administrators
    TUNDRA_ACE(16, 0x01, 0x02, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0),
    // S-1-3-4, OWNER RIGHTS
    TUNDRA_ACE(12, 0x01, 0x01, 0, 0, 0, 0, 0, 3, 4, 0, 0, 0),
};

#undef TUNDRA_ACE

SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), const_cast<uint8_t*>(DESCRIPTOR),
                               FALSE};

}  // namespace

LPSECURITY_ATTRIBUTES owner_only_security() {
    return &attributes;
}

}  // namespace run
