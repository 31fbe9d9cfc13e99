// A test-only tool that reads an executable's resources back the way
// Windows does: the manifest that the loader activates, the version
// information that Explorer's Details tab shows, and the icon group with
// each of its images turned into an icon.
//
//   resource_reader manifest EXE     the manifest's XML, as stored
//   resource_reader version EXE      "fixed A.B.C.D" and one "NAME=VALUE" line per text
//   resource_reader icons EXE        "icon W H" for each image that becomes an icon
//
// Exit code 1: the executable or the resource is missing.
#include <windows.h>

#include <cstdio>

namespace {

constexpr const wchar_t* VERSION_TEXTS[] = {
    L"CompanyName",    L"FileDescription",  L"FileVersion", L"InternalName",
    L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"};

HMODULE open_as_data(const wchar_t* path) {
    return LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

const BYTE* resource_bytes(HMODULE module, LPCWSTR name, LPCWSTR type, DWORD* size) {
    HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    *size = SizeofResource(module, found);
    return loaded == nullptr ? nullptr : static_cast<const BYTE*>(LockResource(loaded));
}

int print_manifest(HMODULE module) {
    DWORD size = 0;
    const BYTE* bytes = resource_bytes(module, MAKEINTRESOURCEW(1), RT_MANIFEST, &size);
    if (bytes == nullptr)
        return 1;
    fwrite(bytes, 1, size, stdout);
    return 0;
}

void print_utf8(const wchar_t* text) {
    char bytes[1024];
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (length > 1)
        fwrite(bytes, 1, static_cast<size_t>(length - 1), stdout);
}

int print_version(const wchar_t* path) {
    static BYTE info[65536];
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0 || size > sizeof info || !GetFileVersionInfoW(path, 0, size, info))
        return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info, L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr)
        return 1;
    printf("fixed %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
           LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
           LOWORD(fixed->dwFileVersionLS));
    for (const wchar_t* name : VERSION_TEXTS) {
        wchar_t query[128];
        swprintf(query, 128, L"\\StringFileInfo\\040904B0\\%ls", name);
        wchar_t* value = nullptr;
        if (!VerQueryValueW(info, query, reinterpret_cast<void**>(&value), &length))
            continue;
        print_utf8(name);
        printf("=");
        print_utf8(value);
        printf("\n");
    }
    return 0;
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

int print_icons(HMODULE module) {
    DWORD size = 0;
    const BYTE* group = resource_bytes(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON, &size);
    if (group == nullptr || size < 6)
        return 1;
    const WORD count = *reinterpret_cast<const WORD*>(group + 4);
    if (size < 6 + count * sizeof(GroupEntry))
        return 1;
    const auto* entries = reinterpret_cast<const GroupEntry*>(group + 6);
    for (WORD i = 0; i < count; ++i) {
        DWORD image_size = 0;
        const BYTE* image =
            resource_bytes(module, MAKEINTRESOURCEW(entries[i].id), RT_ICON, &image_size);
        HICON icon = image == nullptr
                         ? nullptr
                         : CreateIconFromResourceEx(const_cast<BYTE*>(image), image_size, TRUE,
                                                    0x00030000, 0, 0, LR_DEFAULTCOLOR);
        ICONINFO parts{};
        BITMAP bitmap{};
        if (icon == nullptr || !GetIconInfo(icon, &parts) ||
            GetObjectW(parts.hbmColor, sizeof bitmap, &bitmap) == 0)
            return 1;
        printf("icon %ld %ld\n", bitmap.bmWidth, bitmap.bmHeight);
        DeleteObject(parts.hbmColor);
        DeleteObject(parts.hbmMask);
        DestroyIcon(icon);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 2;
    const wchar_t* what = argv[1];
    if (wcscmp(what, L"version") == 0)
        return print_version(argv[2]);
    HMODULE module = open_as_data(argv[2]);
    if (module == nullptr)
        return 1;
    const int result = wcscmp(what, L"manifest") == 0 ? print_manifest(module)
                       : wcscmp(what, L"icons") == 0  ? print_icons(module)
                                                      : 2;
    FreeLibrary(module);
    return result;
}
