// Reparse points, which neither Wine nor the host has as Windows has them:
// junctions and symbolic links that lead elsewhere unless they are opened
// themselves, and tags that are no links (cloud placeholders, deduplicated
// folders). Paths are followed through them as Windows follows them, by
// name, for CreateFileW and CreateDirectoryW and for NtCreateFile's names
// in a held folder; a folder held without delete sharing, or with anything
// open inside, cannot be swapped for one.
#include "sim/sim_state.h"

namespace sim {
namespace detail {
namespace {

bool is_separator(char16_t unit) {
    return unit == '\\' || unit == '/';
}

char16_t upper(char16_t unit) {
    return unit >= 'a' && unit <= 'z' ? static_cast<char16_t>(unit - 32) : unit;
}

uint64_t length_of(const WCHAR* path) {
    uint64_t n = 0;
    while (path[n] != 0)
        ++n;
    return n;
}

// How `path` relates to the folder `folder`: 0 unrelated, 1 the folder
// itself, 2 inside it (then `rest` is where the part inside starts).
int relation(const WCHAR* path, const std::u16string& folder, uint64_t& rest) {
    uint64_t i = 0;
    for (; i < folder.size(); ++i) {
        const char16_t unit = static_cast<char16_t>(path[i]);
        if (unit == 0)
            return 0;
        if (upper(unit) != upper(folder[i]) && !(is_separator(unit) && is_separator(folder[i])))
            return 0;
    }
    if (path[i] == 0 || (is_separator(static_cast<char16_t>(path[i])) && path[i + 1] == 0))
        return 1;
    if (!is_separator(static_cast<char16_t>(path[i])))
        return 0;
    rest = i;
    return 2;
}

void copy_units(WCHAR* out, const WCHAR* from) {
    uint64_t n = 0;
    for (; from[n] != 0 && n + 1 < NAME_RECORD_UNITS; ++n)
        out[n] = from[n];
    out[n] = 0;
}

bool same_units(const WCHAR* a, const WCHAR* b) {
    uint64_t i = 0;
    for (; a[i] != 0 && a[i] == b[i]; ++i) {
    }
    return a[i] == b[i];
}

// target + the part of the path inside the link, into `out`.
void lead_to(WCHAR* out, const std::u16string& target, const WCHAR* inside) {
    WCHAR joined[NAME_RECORD_UNITS];
    uint64_t n = 0;
    for (; n < target.size() && n + 1 < NAME_RECORD_UNITS; ++n)
        joined[n] = static_cast<WCHAR>(target[n]);
    for (uint64_t i = 0; inside[i] != 0 && n + 1 < NAME_RECORD_UNITS; ++i)
        joined[n++] = inside[i];
    joined[n] = 0;
    copy_units(out, joined);
}

// The name of an NtCreateFile, as a NUL-terminated path: the held folder's
// path, a separator and the name (or the name alone without a folder).
bool path_of_name(const OBJECT_ATTRIBUTES* attributes, WCHAR* out) {
    uint64_t n = 0;
    if (attributes->RootDirectory != nullptr) {
        const HandleRecord* folder = record_of(attributes->RootDirectory);
        if (folder == nullptr || folder->path[0] == 0)
            return false;
        for (; folder->path[n] != 0; ++n)
            out[n] = folder->path[n];
        if (n > 0 && !is_separator(static_cast<char16_t>(out[n - 1])))
            out[n++] = '\\';
    }
    const uint64_t count = attributes->ObjectName->Length / sizeof(WCHAR);
    if (n + count + 1 > NAME_RECORD_UNITS)
        return false;
    for (uint64_t i = 0; i < count; ++i)
        out[n++] = attributes->ObjectName->Buffer[i];
    out[n] = 0;
    return true;
}

// A path as NtCreateFile takes it without a folder: the NT form on Windows.
void nt_form(const WCHAR* path, WCHAR* out) {
    uint64_t n = 0;
#ifdef _WIN32
    for (const char* prefix = "\\??\\"; *prefix != 0; ++prefix)
        out[n++] = static_cast<WCHAR>(*prefix);
#endif
    for (uint64_t i = 0; path[i] != 0 && n + 1 < NAME_RECORD_UNITS; ++i)
        out[n++] = path[i];
    out[n] = 0;
}

}  // namespace

void resolve_path(const WCHAR* path, bool open_last_itself, WCHAR* out, DWORD& tag) {
    copy_units(out, path);
    tag = 0;
    // A few rounds: a link may lead through another.
    for (int round = 0; round < 8; ++round) {
        bool led = false;
        for (const ReparsePoint& point : machine->reparse_points()) {
            uint64_t rest = 0;
            const int where = relation(out, point.path, rest);
            const bool surrogate = IsReparseTagNameSurrogate(point.tag);
            if (where == 1 && (!surrogate || open_last_itself)) {
                tag = point.tag;
            } else if (where != 0 && surrogate) {
                WCHAR inside[NAME_RECORD_UNITS];
                copy_units(inside, where == 2 ? out + rest : out + length_of(out));
                lead_to(out, point.target, inside);
                tag = 0;
                led = true;
                break;
            }
        }
        if (!led)
            return;
    }
}

void after_name(const WCHAR* path) {
    static thread_local bool watching = false;
    const auto& watcher = machine->name_watcher();
    if (!watcher || watching)
        return;
    watching = true;
    std::u16string named;
    for (uint64_t i = 0; path[i] != 0; ++i)
        named.push_back(static_cast<char16_t>(path[i]));
    watcher(*machine, named);
    watching = false;
}

void keep_path(HandleRecord& r, const WCHAR* path, DWORD share, DWORD tag) {
    copy_units(r.path, path);
    r.share = share;
    r.reparse_tag = tag;
}

BOOL WINAPI sim_CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES sa) {
    WCHAR resolved[NAME_RECORD_UNITS];
    DWORD tag = 0;
    // A folder is never made in a link's place: the link is there.
    resolve_path(path, true, resolved, tag);
    note_name(CALL_CreateDirectoryW, path, 0, 0, 0, 0);
    const BOOL made =
        tag != 0 ? fail_with(ERROR_ALREADY_EXISTS) : next.CreateDirectoryW(resolved, sa);
    const DWORD code = next.GetLastError();
    after_name(path);
    next.SetLastError(code);
    return made;
}

NTSTATUS WINAPI sim_NtCreateFile(PHANDLE h, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                 PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation,
                                 ULONG file_attributes, ULONG share, ULONG disposition,
                                 ULONG options, PVOID ea, ULONG ea_length) {
    WCHAR path[NAME_RECORD_UNITS];
    if (!path_of_name(attributes, path)) {
        return next.NtCreateFile(h, access, attributes, status, allocation, file_attributes, share,
                                 disposition, options, ea, ea_length);
    }
    note_name(CALL_NtCreateFile, path, access, share, disposition, options);
    WCHAR resolved[NAME_RECORD_UNITS];
    DWORD tag = 0;
    resolve_path(path, (options & FILE_OPEN_REPARSE_POINT) != 0, resolved, tag);
    NTSTATUS result = STATUS_OBJECT_NAME_COLLISION;
    if (tag != 0 && disposition == FILE_CREATE) {
        // FILE_CREATE never opens what is there, a reparse point included.
    } else if (same_units(resolved, path)) {
        result = next.NtCreateFile(h, access, attributes, status, allocation, file_attributes,
                                   share, disposition, options, ea, ea_length);
    } else {
        // Led elsewhere by a link at the name: opened there, by its whole path.
        WCHAR whole[NAME_RECORD_UNITS];
        nt_form(resolved, whole);
        UNICODE_STRING name{static_cast<USHORT>(length_of(whole) * sizeof(WCHAR)),
                            static_cast<USHORT>(length_of(whole) * sizeof(WCHAR)), whole};
        OBJECT_ATTRIBUTES led = *attributes;
        led.RootDirectory = nullptr;
        led.ObjectName = &name;
        result = next.NtCreateFile(h, access, &led, status, allocation, file_attributes, share,
                                   disposition, options, ea, ea_length);
    }
    if (NT_SUCCESS(result)) {
        HandleRecord* r = new_record(Kind::file, *h);
        if (r != nullptr)
            keep_path(*r, path, share, tag);
    }
    after_name(path);
    return result;
}

BOOL WINAPI sim_GetFileInformationByHandleEx(HANDLE h, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                             DWORD size) {
    HandleRecord* r = record_of(h);
    if (r != nullptr && kind == FileAttributeTagInfo && r->reparse_tag != 0) {
        if (!next.GetFileInformationByHandleEx(h, kind, info, size))
            return FALSE;
        auto* answer = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info);
        answer->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        answer->ReparseTag = r->reparse_tag;
        return TRUE;
    }
#ifdef _WIN32
    if (r != nullptr && kind == FileRemoteProtocolInfo)
        return remote_protocol_info(*r, info, size);
#endif
    return next.GetFileInformationByHandleEx(h, kind, info, size);
}

}  // namespace detail

bool Machine::swap_for_junction(const std::u16string& path, const std::u16string& target) {
    for (const detail::HandleRecord& r : detail::records.handles) {
        if (r.kind != detail::Kind::file || r.path[0] == 0)
            continue;
        uint64_t rest = 0;
        const int where = detail::relation(r.path, path, rest);
        if ((where == 1 && (r.share & FILE_SHARE_DELETE) == 0) || where == 2)
            return false;
    }
    add_reparse_point(path, IO_REPARSE_TAG_MOUNT_POINT, target);
    return true;
}

}  // namespace sim
