// Files by name and by handle: every call that names a file is written
// down, deletion by name included, so that a test can tell which files a
// program ever reached through a path; a file is reopened through its
// handle; and files under a network folder say so, as Windows tells them.
#include "sim/sim_state.h"

namespace sim {
namespace detail {

namespace {

WCHAR upper(WCHAR c) {
    return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 32) : c;
}

}  // namespace

void note_name(unsigned call, LPCWSTR path, DWORD access, DWORD share, DWORD disposition,
               DWORD flags) {
    if (records.name_count == NAME_CAPACITY) {
        records.names_dropped = true;
        return;
    }
    NameRecord& r = records.names[records.name_count++];
    r.call = call;
    size_t n = 0;
    for (; path != nullptr && path[n] != 0 && n + 1 < NAME_RECORD_UNITS; ++n)
        r.path[n] = path[n];
    r.path[n] = 0;
    r.access = access;
    r.share = share;
    r.disposition = disposition;
    r.flags = flags;
}

bool under_network_folder(LPCWSTR path) {
    for (const std::u16string& folder : machine->network_folders()) {
        size_t i = 0;
        while (i < folder.size() && path[i] != 0 &&
               upper(path[i]) == upper(static_cast<WCHAR>(folder[i]))) {
            ++i;
        }
        if (i == folder.size())
            return true;
    }
    return false;
}

BOOL WINAPI sim_DeleteFileW(LPCWSTR path) {
    note_name(CALL_DeleteFileW, path, 0, 0, 0, 0);
    return next.DeleteFileW(path);
}

HANDLE WINAPI sim_ReOpenFile(HANDLE original, DWORD access, DWORD share, DWORD flags) {
    HandleRecord* r = record_of(original);
    if (r != nullptr && r->kind != Kind::file) {
        next.SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const bool on_network = r != nullptr && r->on_network;
    HANDLE h = next.ReOpenFile(original, access, share, flags);
    if (h != INVALID_HANDLE_VALUE) {
        HandleRecord* copy = new_record(Kind::file, h);
        if (copy != nullptr) {
            copy->access = access;
            copy->flags = flags;
            copy->on_network = on_network;
        }
    }
    return h;
}

#ifdef _WIN32
BOOL remote_protocol_info(const HandleRecord& r, LPVOID info, DWORD size) {
    if (r.kind != Kind::file || !r.on_network)
        return fail_with(ERROR_INVALID_PARAMETER);
    if (size < sizeof(FILE_REMOTE_PROTOCOL_INFO))
        return fail_with(ERROR_BAD_LENGTH);
    FILE_REMOTE_PROTOCOL_INFO answer{};
    answer.StructureVersion = 1;
    answer.StructureSize = sizeof answer;
    answer.Protocol = WNNC_NET_SMB;
    answer.ProtocolMajorVersion = 3;
    *static_cast<FILE_REMOTE_PROTOCOL_INFO*>(info) = answer;
    return TRUE;
}
#endif

}  // namespace detail
}  // namespace sim
