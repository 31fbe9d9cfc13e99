#include "engine/logs/log_copy.h"

#include <cstring>
#include <optional>

#include "engine/logs/log_names.h"
#include "engine/run_names.h"
#include "engine/stop_request.h"
#include "formats/gpt.h"
#include "run/held_folder.h"
#include "run/owner_only_security.h"

namespace engine {

using formats::ATTRIBUTE_DIRECTORY;
using formats::cluster_offset;
using formats::directory_buffer;
using formats::DirItem;
using formats::FatVolume;
using formats::find_item;
using formats::find_tundra_partition;
using formats::forget_fat_window;
using formats::GptTable;
using formats::has_cluster;
using formats::list_directory;
using formats::next_cluster;
using formats::parse_boot_sector;
using formats::read_gpt;
using formats::root_directory;

namespace {

constexpr char TUNDRA_NAME[11] = {'T', 'U', 'N', 'D', 'R', 'A', ' ', ' ', ' ', ' ', ' '};
constexpr char LOGS_NAME[11] = {'L', 'O', 'G', 'S', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
constexpr char KLOG_OLD_NAME[11] = {'K', 'L', 'O', 'G', ' ', ' ', ' ', ' ', 'O', 'L', 'D'};
constexpr char LOGS_FOLDER[] = "LOGS";
// The most numbered names tried for one file: "LOG (2).TXT" to "LOG (99).TXT".
constexpr uint32_t MOST_NUMBERED_NAMES = 99;

// The root and then, in its place, the TUNDRA directory; and TUNDRA\LOGS.
DirItem tundra_listing[LOG_LISTING_CAPACITY];
DirItem logs_listing[LOG_LISTING_CAPACITY];
WCHAR logs_folder_path[LOG_PATH_CAPACITY];

// What one copy holds until it ends: the folders it writes into, and every
// file it made, open, so that a copy that fails takes back all it wrote
// through the very handles (never by name, which another user of the
// folder could point elsewhere meanwhile).
struct CopyRun {
    // The logs folder and every level above it, and then LOGS below it.
    run::HeldFolder folder;
    bool logs_held = false;
    HANDLE files[LOG_FILES_CAPACITY];
    uint32_t file_count = 0;
};
CopyRun copy_run;

// One bit per cluster of the stick that this copy has read for a file (or
// for a LOGS directory): a chain that loops, chains that cross, or a second
// entry for the same directory would otherwise copy the same bytes again
// and again, far past the stick's size.
constexpr uint64_t CLUSTER_MARK_CAPACITY = uint64_t{1} << 28;  // FAT32's cluster numbers
uint64_t copied_clusters[CLUSTER_MARK_CAPACITY / 64];

bool is_marked(uint32_t cluster) {
    return (copied_clusters[cluster / 64] & (uint64_t{1} << (cluster % 64))) != 0;
}

bool mark_cluster(uint32_t cluster) {
    uint64_t& word = copied_clusters[cluster / 64];
    const uint64_t bit = uint64_t{1} << (cluster % 64);
    if ((word & bit) != 0)
        return false;
    word |= bit;
    return true;
}

// Every cluster of a run, marked; false when one was copied already.
bool mark_run(uint32_t first, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        if (!mark_cluster(first + i))
            return false;
    }
    return true;
}

// Folders for logs are made owner-only, and no level is gone through that
// another user could have made a link.
run::FolderWalk logs_walk() {
    return {run::MissingLevels::Make, run::owner_only_security(), "no logs are written through it"};
}

// Every cluster of every directory the copy lists goes into the same marks
// as the files' clusters: a stick whose directories share a chain (256
// LOGS entries on one long chain of deleted entries) would otherwise make
// each listing read it all again, far past the stick's size. Between
// clusters, a stop request is honoured.
Result watch_directory_cluster(uint32_t cluster, void*) {
    if (stop_if_requested() != Result::Success)
        return Result::Failed;
    if (!mark_cluster(cluster)) {
        return engine::fail(
            "a directory on the TUNDRA partition runs into clusters read already");
    }
    return Result::Success;
}
const formats::ClusterWatch DIRECTORY_WATCH{watch_directory_cluster, nullptr};

bool is_directory(const DirItem& item) {
    return (item.attributes & ATTRIBUTE_DIRECTORY) != 0;
}

bool is_tundra_log(const DirItem& item) {
    if (is_directory(item))
        return false;
    const char* extension = item.name + 8;
    return memcmp(extension, "TXT", 3) == 0 || memcmp(extension, "BIN", 3) == 0 ||
           memcmp(item.name, KLOG_OLD_NAME, 11) == 0;
}

// Consecutive clusters from `first`, up to what is still wanted and at most
// LOG_RUN_BYTES; `after` is the cluster that follows the run when it was
// looked up already.
struct ClusterRun {
    uint32_t first;
    uint32_t last;
    uint32_t length;
    bool after_known;
    std::optional<uint32_t> after;
};

Result gather_run(const FatVolume& volume, uint32_t first, uint64_t remaining, ClusterRun& run) {
    run = {first, first, 1, false, std::nullopt};
    const uint64_t cluster_bytes = volume.cluster_size;
    while (run.length * cluster_bytes < remaining &&
           (run.length + 1) * cluster_bytes <= LOG_RUN_BYTES) {
        if (next_cluster(volume, run.last, run.after) != Result::Success)
            return Result::Failed;
        run.after_known = true;
        if (!run.after.has_value() || *run.after != run.last + 1)
            break;
        run.last = *run.after;
        ++run.length;
        run.after_known = false;
    }
    return Result::Success;
}

// Moves the file's bytes into the open file, a run of clusters per read.
Result copy_clusters(const FatVolume& volume, const DirItem& item, HANDLE file, const LogName& name,
                     const char* label) {
    uint64_t remaining = item.size;
    if (remaining == 0)
        return Result::Success;
    uint32_t cluster = item.first_cluster;
    if (!has_cluster(volume, cluster)) {
        return engine::fail(label, "\\", name, " starts at cluster ", cluster,
                            ", which the volume does not have");
    }
    uint8_t* buffer = directory_buffer();
    for (uint64_t clusters_read = 0;;) {
        ClusterRun run;
        if (gather_run(volume, cluster, remaining, run) != Result::Success)
            return Result::Failed;
        clusters_read += run.length;
        if (clusters_read > volume.cluster_count || !mark_run(run.first, run.length)) {
            return engine::fail(label, "\\", name,
                                "'s chain loops, or runs into clusters copied already");
        }
        const uint64_t run_bytes = uint64_t{run.length} * volume.cluster_size;
        const uint32_t count = static_cast<uint32_t>(remaining < run_bytes ? remaining : run_bytes);
        if (engine::read_at(volume.partition, cluster_offset(volume, run.first), buffer, count) !=
            Result::Success) {
            return Result::Failed;
        }
        DWORD written = 0;
        if (!sys::WriteFile(file, buffer, count, &written, nullptr) || written != count) {
            return engine::fail("cannot write ", name);
        }
        if (count == remaining)
            return Result::Success;
        if (!run.after_known && next_cluster(volume, run.last, run.after) != Result::Success) {
            return Result::Failed;
        }
        remaining -= count;
        if (!run.after.has_value()) {
            return engine::fail(label, "\\", name, "'s chain ends before its size");
        }
        cluster = *run.after;
    }
}

// A listing that filled its array: what is past its end is not copied,
// which must stop a write as surely as a log that could not be copied.
void report_full_listing(const char* label, uint32_t& skipped) {
    engine::report("WARNING: ", label, " holds more than ", LOG_LISTING_CAPACITY,
                   " entries; those after the first ", LOG_LISTING_CAPACITY, " were not copied\n");
    ++skipped;
}

// The TUNDRA directory's own logs, into the folder.
Result copy_tundra_logs(const FatVolume& volume, uint32_t count, WideText folder,
                        uint32_t& skipped) {
    for (uint32_t i = 0; i < count; ++i) {
        if (!is_tundra_log(tundra_listing[i]))
            continue;
        if (copy_log_file(volume, tundra_listing[i], folder, "TUNDRA", skipped) !=
            Result::Success) {
            return Result::Failed;
        }
    }
    return Result::Success;
}

// Every file of one TUNDRA\LOGS directory, into the LOGS sub-folder.
Result copy_logs_directory(const FatVolume& volume, const DirItem& logs, WideText folder,
                           uint32_t& skipped) {
    if (has_cluster(volume, logs.first_cluster) && is_marked(logs.first_cluster))
        return engine::fail("TUNDRA\\LOGS is named twice for the same directory on the stick");
    WideText joined;
    if (path_join(folder, LOGS_FOLDER, sizeof LOGS_FOLDER - 1, joined) != Result::Success) {
        return Result::Failed;
    }
    // The path buffer is reused for each file's path: keep the folder's own.
    memcpy(logs_folder_path, joined.data, (joined.length + 1) * sizeof(WCHAR));
    const WideText logs_folder{logs_folder_path, joined.length};
    if (!copy_run.logs_held) {
        WCHAR name[sizeof LOGS_FOLDER - 1];
        for (uint32_t i = 0; i < sizeof name / sizeof name[0]; ++i)
            name[i] = static_cast<WCHAR>(LOGS_FOLDER[i]);
        if (run::hold_subfolder(copy_run.folder, logs_folder, name, sizeof name / sizeof name[0],
                                logs_walk()) != Result::Success) {
            return Result::Failed;
        }
        copy_run.logs_held = true;
    }
    uint32_t count = 0;
    bool full = false;
    if (list_directory(volume, {false, logs.first_cluster}, logs_listing, LOG_LISTING_CAPACITY,
                       count, full, &DIRECTORY_WATCH) != Result::Success) {
        return Result::Failed;
    }
    if (full)
        report_full_listing("TUNDRA\\LOGS", skipped);
    for (uint32_t i = 0; i < count; ++i) {
        if (is_directory(logs_listing[i]))
            continue;
        if (copy_log_file(volume, logs_listing[i], logs_folder, "TUNDRA\\LOGS", skipped) !=
            Result::Success) {
            return Result::Failed;
        }
    }
    return Result::Success;
}

// The first cluster of the root's TUNDRA entry, whatever its attributes;
// `present` is false when the root has none.
Result find_tundra_directory(const FatVolume& volume, bool& present, uint32_t& first_cluster,
                             uint32_t& skipped) {
    present = false;
    uint32_t count = 0;
    bool full = false;
    if (list_directory(volume, root_directory(volume), tundra_listing, LOG_LISTING_CAPACITY, count,
                       full, &DIRECTORY_WATCH) != Result::Success) {
        return Result::Failed;
    }
    const DirItem* tundra = find_item(tundra_listing, count, TUNDRA_NAME);
    if (tundra == nullptr && full) {
        // The TUNDRA folder may be among the entries past the listing's end.
        report_full_listing("the stick's root folder", skipped);
        return Result::Success;
    }
    if (tundra == nullptr)
        return Result::Success;
    present = true;
    first_cluster = tundra->first_cluster;
    return Result::Success;
}

// Everything the TUNDRA directory holds for the folder: its own logs, then
// each LOGS directory's files.
Result copy_tundra_directory(const FatVolume& volume, uint32_t first_cluster, WideText folder,
                             uint32_t& skipped) {
    uint32_t count = 0;
    bool full = false;
    if (list_directory(volume, {false, first_cluster}, tundra_listing, LOG_LISTING_CAPACITY, count,
                       full, &DIRECTORY_WATCH) != Result::Success) {
        return Result::Failed;
    }
    if (full)
        report_full_listing("TUNDRA", skipped);
    if (copy_tundra_logs(volume, count, folder, skipped) != Result::Success)
        return Result::Failed;
    for (uint32_t i = 0; i < count; ++i) {
        const DirItem& item = tundra_listing[i];
        if (!is_directory(item) || memcmp(item.name, LOGS_NAME, 11) != 0)
            continue;
        if (copy_logs_directory(volume, item, folder, skipped) != Result::Success) {
            return Result::Failed;
        }
    }
    return Result::Success;
}

}  // namespace

namespace {

// Creates the file under its own name, or under the first numbered name
// that is free: never over a file that is there (an earlier copy, the user's
// own, or a link that another user put in its place), and never through a
// link at the name.
Result create_log_file(WideText folder, const LogName& name, LogName& made, HANDLE& file) {
    for (uint32_t n = 1; n <= MOST_NUMBERED_NAMES; ++n) {
        made = n == 1 ? name : numbered_name(name, n);
        WideText path;
        if (path_join(folder, made.units, made.length, path) != Result::Success)
            return Result::Failed;
        // Made in the held folder by name, owner-only like the folders.
        DWORD code = ERROR_SUCCESS;
        file = run::create_new_file(copy_run.folder, made.units, made.length,
                                    GENERIC_WRITE | DELETE, run::owner_only_security(), code);
        if (file != INVALID_HANDLE_VALUE)
            return Result::Success;
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            return engine::fail("cannot write ", engine::path_text(path), " (Windows error ", code,
                                ")");
        }
    }
    WideText first;
    (void)path_join(folder, name.units, name.length, first);
    return engine::fail("cannot write ", engine::path_text(first),
                        ": it and each numbered name up to (", MOST_NUMBERED_NAMES, ") are taken");
}

// Whether the folder's volume has room for `size` more bytes.
Result check_room(WideText folder, const char* label, const LogName& name, uint64_t size) {
    ULARGE_INTEGER available{};
    if (!sys::GetDiskFreeSpaceExW(folder.data, &available, nullptr, nullptr)) {
        return engine::fail("cannot learn the free space of ", engine::path_text(folder),
                            " (Windows error ", sys::GetLastError(), ")");
    }
    if (size > available.QuadPart) {
        return engine::fail("no room for ", label, "\\", name, " (", size, " bytes) in ",
                            engine::path_text(folder), ", which has ", available.QuadPart,
                            " bytes free");
    }
    return Result::Success;
}

// Ends a copy: every file it made is closed, and deleted through its handle
// when the copy failed; then the folders are let go.
void end_copy_run(Result result) {
    for (uint32_t i = 0; i < copy_run.file_count; ++i) {
        if (result != Result::Success) {
            FILE_DISPOSITION_INFO disposition{TRUE};
            (void)sys::SetFileInformationByHandle(copy_run.files[i], FileDispositionInfo,
                                                  &disposition, sizeof disposition);
        }
        (void)sys::CloseHandle(copy_run.files[i]);
    }
    copy_run.file_count = 0;
    run::let_go(copy_run.folder);
    copy_run.logs_held = false;
}

}  // namespace

Result copy_log_file(const FatVolume& volume, const DirItem& item, WideText folder,
                     const char* label, uint32_t& skipped) {
    const LogName name = log_file_name(item.name);
    const NameProblem problem = name_problem(name);
    if (problem != NameProblem::None) {
        engine::report("WARNING: ", label, "\\", name, " (", item.size,
                       " bytes) was not copied: ", name_problem_text(problem), "\n");
        ++skipped;
        return Result::Success;
    }
    if (item.size > data_area_bytes(volume)) {
        return engine::fail(label, "\\", name, " claims ", item.size,
                            " bytes, more than the TUNDRA partition holds");
    }
    if (copy_run.file_count == LOG_FILES_CAPACITY) {
        return engine::fail("the stick has more than ", LOG_FILES_CAPACITY,
                            " logs, more than one copy takes");
    }
    LogName made;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (check_room(folder, label, name, item.size) != Result::Success ||
        create_log_file(folder, name, made, file) != Result::Success) {
        return Result::Failed;
    }
    copy_run.files[copy_run.file_count++] = file;
    if (copy_clusters(volume, item, file, name, label) != Result::Success)
        return Result::Failed;
    if (made.length == name.length) {
        engine::report("copied ", label, "\\", name, " (", item.size, " bytes)\n");
    } else {
        engine::report("copied ", label, "\\", name, " (", item.size, " bytes) as ", made, ", as ",
                       name, " is taken\n");
    }
    return Result::Success;
}

Result copy_logs(const TargetDisk& stick, WideText folder, uint32_t& skipped) {
    skipped = 0;
    const DiskRegion disk{stick.handle, 0, stick.size, stick.is_disk ? stick.bytes_per_sector : 1u,
                          stick.overlapped};
    static GptTable table;
    if (read_gpt(disk, table) != Result::Success)
        return Result::Failed;
    const std::optional<DiskRegion> partition = find_tundra_partition(table, disk);
    if (!partition.has_value()) {
        engine::report(
            "no TUNDRA partition on the stick (no GPT with an EFI partition): no logs to copy\n");
        return Result::Success;
    }
    forget_fat_window();
    FatVolume volume;
    bool present = false;
    uint32_t tundra_cluster = 0;
    if (parse_boot_sector(*partition, volume) != Result::Success)
        return Result::Failed;
    if (uint64_t{volume.cluster_count} + 2 > CLUSTER_MARK_CAPACITY) {
        return engine::fail("the TUNDRA partition's FAT has more clusters than FAT32 can number");
    }
    memset(copied_clusters, 0, (uint64_t{volume.cluster_count} + 2 + 63) / 64 * 8);
    if (find_tundra_directory(volume, present, tundra_cluster, skipped) != Result::Success)
        return Result::Failed;
    if (!present) {
        if (skipped == 0)
            engine::report("no TUNDRA folder on the stick: no logs to copy\n");
        return Result::Success;
    }
    Result result = run::hold_folder(folder, logs_walk(), copy_run.folder);
    if (result == Result::Success)
        result = copy_tundra_directory(volume, tundra_cluster, folder, skipped);
    // Silence here would read as a copy that worked.
    if (result == Result::Success && copy_run.file_count == 0 && skipped == 0) {
        engine::report(
            "the stick's TUNDRA folder holds no logs (no TXT, BIN or KLOG.OLD file, nothing in "
            "TUNDRA\\LOGS): nothing copied\n");
    }
    end_copy_run(result);
    return result;
}

Result fail_for_skipped_logs(uint32_t skipped) {
    if (skipped == 1)
        return engine::fail("1 log was not copied (the warning above says why)");
    return engine::fail(skipped, " logs were not copied (the warnings above say why)");
}

Result copy_logs_first(const TargetDisk& stick, WideText folder, const char* done) {
    uint32_t skipped = 0;
    const Result copied = copy_logs(stick, folder, skipped);
    if (copied == Result::Success && skipped == 0)
        return Result::Success;
    if (copied == Result::Success)
        (void)fail_for_skipped_logs(skipped);
    report("WARNING: the logs were not copied: ", failure_reason(), "\n");
    return fail("nothing ", done,
                ", so the logs stay on the stick (copy them with tundra-stick logs, or pass no "
                "--logs)");
}

}  // namespace engine
