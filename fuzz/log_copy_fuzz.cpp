// `tundra-stick logs` over a fuzzed TUNDRA partition: the input is the
// partition, behind a fixed GPT, in a target file; the logs go into a
// folder of a temporary folder on tmpfs. The run is watched through the
// seam and the folder is walked afterwards. The harness aborts when
//  - a file or folder is created, or a file opened for writing, anywhere
//    but inside the logs folder;
//  - a created name is not one Windows would take as a plain file name in
//    the logs folder or its LOGS folder: a separator inside it, "." or "..", ":" (a stream), a byte
//    below 0x20, a trailing dot or space, or a device name (CON, NUL.TXT, COM1, LPT³);
//  - the run writes more than twice the stick's partition (the input, padded
//    to at least 64 KiB): a run copies each byte of the stick once at most;
//  - a file is created over one that is there already (two stick entries
//    whose names are equal, or become equal, or an earlier run's copy): a
//    copy must never replace another;
//  - a handle the run opened outlives it.
// Files and folders are made by name in folders the run holds open
// (NtCreateFile): their whole paths are the held folder's and the name.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/runs/read_only_runs.h"
#include "fuzz/fuzz_disk.h"
#include "sys/sys.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t MINIMUM_PARTITION_BYTES = 65536;
constexpr size_t MAXIMUM_INPUT_BYTES = 1 << 20;

sys::CallTable binding;  // the calls the watchers pass on to
std::string root;        // the temporary folder, made once
std::u16string stick_path, logs_path;
uint64_t written_bytes = 0;
uint64_t write_limit = 0;

constexpr size_t OPEN_CAPACITY = 64;
HANDLE open_handles[OPEN_CAPACITY];
std::u16string open_paths[OPEN_CAPACITY];  // what each was opened as
size_t open_count = 0;

std::string utf8(const char16_t* units) {
    std::string out;
    for (size_t i = 0; units[i] != 0; ++i) {
        const char16_t u = units[i];
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(u));
            out += hex;
        }
    }
    return out;
}

[[noreturn]] void violation(const char* what, const std::string& detail) {
    fprintf(stderr, "log_copy_fuzz: %s: %s\n", what, detail.c_str());
    abort();
}

bool is_separator(char16_t u) {
    return u == u'\\' || u == u'/';
}

// The POSIX path that the host binding makes of a Windows path.
std::string host_path(const char16_t* path) {
    std::u16string units(path);
    for (char16_t& u : units) {
        if (u == u'\\')
            u = u'/';
    }
    return fs::path(units).string();
}

char16_t upper(char16_t u) {
    return u >= u'a' && u <= u'z' ? static_cast<char16_t>(u - 32) : u;
}

bool base_is(const char16_t* base, size_t length, const char* word) {
    size_t i = 0;
    for (; word[i] != 0; ++i) {
        if (i == length || upper(base[i]) != static_cast<char16_t>(word[i]))
            return false;
    }
    return i == length;
}

// Windows reserves these names in every folder, with any extension and with
// spaces before the extension.
bool is_device_name(const char16_t* name, size_t length) {
    size_t base = 0;
    while (base < length && name[base] != u'.')
        ++base;
    while (base > 0 && name[base - 1] == u' ')
        --base;
    for (const char* word : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (base_is(name, base, word))
            return true;
    }
    if (base != 4 || !(base_is(name, 3, "COM") || base_is(name, 3, "LPT")))
        return false;
    const char16_t port = name[3];
    return (port >= u'0' && port <= u'9') || port == 0xB9 || port == 0xB2 || port == 0xB3;
}

bool is_plain_name(const char16_t* name, size_t length) {
    if (length == 0 || (length == 1 && name[0] == u'.') ||
        (length == 2 && name[0] == u'.' && name[1] == u'.')) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        const char16_t u = name[i];
        if (u < 0x20 || is_separator(u) ||
            std::u16string_view(u":*?\"<>|").find(u) != std::u16string_view::npos) {
            return false;
        }
    }
    if (name[length - 1] == u'.' || name[length - 1] == u' ')
        return false;
    return !is_device_name(name, length);
}

// The logs folder itself, or a plain name in it or in its LOGS folder (the
// only folder a run makes there), so that a separator inside a name shows.
bool is_in_logs_folder(const char16_t* path, bool folder_itself_allowed) {
    const std::u16string_view whole(path);
    if (whole.compare(0, logs_path.size(), logs_path) != 0)
        return false;
    if (whole.size() == logs_path.size())
        return folder_itself_allowed;
    if (!is_separator(whole[logs_path.size()]))
        return false;
    const std::u16string_view rest = whole.substr(logs_path.size() + 1);
    size_t separator = 0;
    while (separator < rest.size() && !is_separator(rest[separator]))
        ++separator;
    if (separator == rest.size())
        return is_plain_name(rest.data(), rest.size());
    const std::u16string_view name = rest.substr(separator + 1);
    return rest.substr(0, separator) == u"LOGS" && is_plain_name(name.data(), name.size());
}

void note_open(HANDLE handle, const char16_t* path) {
    if (open_count == OPEN_CAPACITY)
        violation("too many handles open at once", "");
    open_paths[open_count] = path;
    open_handles[open_count++] = handle;
}

const std::u16string* path_of(HANDLE handle) {
    for (size_t i = 0; i < open_count; ++i) {
        if (open_handles[i] == handle)
            return &open_paths[i];
    }
    return nullptr;
}

HANDLE WINAPI watched_CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                  DWORD disposition, DWORD flags, HANDLE template_file) {
    const bool may_create = disposition != OPEN_EXISTING;
    const bool may_write = (access & GENERIC_WRITE) != 0;
    const bool is_stick = std::u16string_view(path) == stick_path;
    if (is_stick ? may_create || may_write
                 : (may_create || may_write) && !is_in_logs_folder(path, true)) {
        violation(
            "a file created or opened for writing outside the logs folder or by a name "
            "that is not a plain file name",
            utf8(path));
    }
    // CREATE_NEW fails on a name that is taken, which is how a copy finds a
    // free one; every other way of creating opens what is there.
    std::error_code unused;
    if (may_create && disposition != CREATE_NEW && !is_stick &&
        fs::exists(fs::symlink_status(host_path(path), unused))) {
        violation("a file created over one that is there already", utf8(path));
    }
    const HANDLE handle =
        binding.CreateFileW(path, access, share, sa, disposition, flags, template_file);
    if (handle != INVALID_HANDLE_VALUE)
        note_open(handle, path);
    return handle;
}

// A name opened or made in a folder the run holds: its whole path is the
// folder's and the name, and what it may create is held to the same rules.
NTSTATUS WINAPI watched_NtCreateFile(PHANDLE h, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                     PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation,
                                     ULONG file_attributes, ULONG share, ULONG disposition,
                                     ULONG options, PVOID ea, ULONG ea_length) {
    const std::u16string* folder = path_of(attributes->RootDirectory);
    if (folder == nullptr)
        violation("a name opened in a folder the run does not hold", "");
    const UNICODE_STRING* object = attributes->ObjectName;
    const std::u16string name(object->Buffer, object->Length / sizeof(char16_t));
    std::u16string path = *folder;
    if (path.empty() || !is_separator(path.back()))
        path += u'/';
    path += name;
    std::error_code unused;
    const bool there = fs::exists(fs::symlink_status(host_path(path.c_str()), unused));
    const bool may_write = (access & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0 &&
                           (options & FILE_DIRECTORY_FILE) == 0;
    if (((!there && disposition != FILE_OPEN) || may_write) &&
        !is_in_logs_folder(path.c_str(), true)) {
        violation(
            "a file or folder created, or opened for writing, outside the logs folder or by a "
            "name that is not a plain file name",
            utf8(path.c_str()));
    }
    if (there && disposition != FILE_OPEN && disposition != FILE_CREATE &&
        (options & FILE_DIRECTORY_FILE) == 0) {
        violation("a file created over one that is there already", utf8(path.c_str()));
    }
    const NTSTATUS result = binding.NtCreateFile(h, access, attributes, status, allocation,
                                                 file_attributes, share, disposition, options, ea,
                                                 ea_length);
    if (NT_SUCCESS(result))
        note_open(*h, path.c_str());
    return result;
}

BOOL WINAPI watched_CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES sa) {
    const BOOL made = binding.CreateDirectoryW(path, sa);
    if (made && !is_in_logs_folder(path, true))
        violation("a folder created outside the logs folder or by a bad name", utf8(path));
    return made;
}

BOOL WINAPI watched_WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done,
                              LPOVERLAPPED ov) {
    if (count > write_limit - written_bytes) {
        violation(
            "the run writes more than twice the stick's partition",
            std::to_string(written_bytes + count) + " bytes, limit " + std::to_string(write_limit));
    }
    written_bytes += count;
    return binding.WriteFile(h, buffer, count, done, ov);
}

BOOL WINAPI watched_CloseHandle(HANDLE h) {
    for (size_t i = 0; i < open_count; ++i) {
        if (open_handles[i] == h) {
            --open_count;
            open_handles[i] = open_handles[open_count];
            open_paths[i] = open_paths[open_count];
            break;
        }
    }
    return binding.CloseHandle(h);
}

// What the run left: only plain names, in the logs folder, no links, and no
// more bytes than it was allowed to write.
void check_what_is_left() {
    uint64_t total = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
        const std::string name = entry.path().filename();
        if (name != "stick.img" && name != "logs")
            violation("left outside the logs folder", name);
    }
    if (!fs::exists(root + "/logs"))
        return;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root + "/logs")) {
        const std::u16string name = entry.path().filename().u16string();
        if (entry.is_symlink() || !(entry.is_regular_file() || entry.is_directory()) ||
            !is_plain_name(name.data(), name.size())) {
            violation("the logs folder holds what a run must not make", entry.path().string());
        }
        if (entry.is_regular_file())
            total += entry.file_size();
    }
    if (total > write_limit)
        violation("the logs folder holds too much", std::to_string(total));
}

void write_stick_file(const std::vector<uint8_t>& disk) {
    FILE* file = fopen((root + "/stick.img").c_str(), "wb");
    if (file == nullptr || fwrite(disk.data(), 1, disk.size(), file) != disk.size() ||
        fclose(file) != 0) {
        violation("cannot write the stick file", strerror(errno));
    }
}

void remove_root() {
    fs::remove_all(root);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/dev/shm/tundra-log-copy-fuzz.XXXXXX";
    if (mkdtemp(folder) == nullptr)
        violation("cannot make a temporary folder", strerror(errno));
    root = folder;
    atexit(remove_root);
    const std::u16string root16(root.begin(), root.end());
    stick_path = root16 + u"/stick.img";
    logs_path = root16 + u"/logs";
    binding = sys::calls;
    sys::calls.CreateFileW = watched_CreateFileW;
    sys::calls.CreateDirectoryW = watched_CreateDirectoryW;
    sys::calls.NtCreateFile = watched_NtCreateFile;
    sys::calls.WriteFile = watched_WriteFile;
    sys::calls.CloseHandle = watched_CloseHandle;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > MAXIMUM_INPUT_BYTES)
        return 0;
    const std::vector<uint8_t> disk =
        fuzz::with_tundra_partition(data, size, MINIMUM_PARTITION_BYTES);
    write_stick_file(disk);
    fs::remove_all(root + "/logs");
    written_bytes = 0;
    write_limit = 2 * (disk.size() - fuzz::TUNDRA_PARTITION_LBA * 512);

    engine::WriteOptions options;
    options.target_file = {stick_path.c_str(), stick_path.size()};
    options.logs_dir = {logs_path.c_str(), logs_path.size()};
    (void)engine::copy_stick_logs(options);

    if (open_count != 0)
        violation("a handle outlives the run", std::to_string(open_count));
    check_what_is_left();
    return 0;
}
