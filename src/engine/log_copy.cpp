#include "engine/log_copy.h"

#include <cstring>
#include <optional>

#include "engine/log_names.h"
#include "engine/run_names.h"
#include "formats/gpt.h"

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

// The root and then, in its place, the TUNDRA directory; and TUNDRA\LOGS.
DirItem tundra_listing[LOG_LISTING_CAPACITY];
DirItem logs_listing[LOG_LISTING_CAPACITY];
WCHAR logs_folder_path[LOG_PATH_CAPACITY];

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
        if (clusters_read > volume.cluster_count) {
            return engine::fail(label, "\\", name, "'s chain loops");
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
    WideText joined;
    if (path_join(folder, LOGS_FOLDER, sizeof LOGS_FOLDER - 1, joined) != Result::Success) {
        return Result::Failed;
    }
    // The path buffer is reused for each file's path: keep the folder's own.
    memcpy(logs_folder_path, joined.data, (joined.length + 1) * sizeof(WCHAR));
    const WideText logs_folder{logs_folder_path, joined.length};
    uint32_t count = 0;
    if (make_folder(logs_folder) != Result::Success ||
        list_directory(volume, {false, logs.first_cluster}, logs_listing, LOG_LISTING_CAPACITY,
                       count) != Result::Success) {
        return Result::Failed;
    }
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
Result find_tundra_directory(const FatVolume& volume, bool& present, uint32_t& first_cluster) {
    present = false;
    uint32_t count = 0;
    if (list_directory(volume, root_directory(volume), tundra_listing, LOG_LISTING_CAPACITY,
                       count) != Result::Success) {
        return Result::Failed;
    }
    const DirItem* tundra = find_item(tundra_listing, count, TUNDRA_NAME);
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
    if (list_directory(volume, {false, first_cluster}, tundra_listing, LOG_LISTING_CAPACITY,
                       count) != Result::Success ||
        copy_tundra_logs(volume, count, folder, skipped) != Result::Success) {
        return Result::Failed;
    }
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
    WideText path;
    if (path_join(folder, name.bytes, name.length, path) != Result::Success)
        return Result::Failed;
    const HANDLE file = sys::CreateFileW(path.data, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return engine::fail("cannot write ", engine::path_text(path), " (Windows error ",
                            sys::GetLastError(), ")");
    }
    const Result result = copy_clusters(volume, item, file, name, label);
    if (result == Result::Success) {
        engine::report("copied ", label, "\\", name, " (", item.size, " bytes)\n");
    }
    (void)sys::CloseHandle(file);
    return result;
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
    if (parse_boot_sector(*partition, volume) != Result::Success ||
        find_tundra_directory(volume, present, tundra_cluster) != Result::Success) {
        return Result::Failed;
    }
    if (!present) {
        engine::report("no TUNDRA folder on the stick: no logs to copy\n");
        return Result::Success;
    }
    if (make_folder(folder) != Result::Success)
        return Result::Failed;
    return copy_tundra_directory(volume, tundra_cluster, folder, skipped);
}

Result fail_for_skipped_logs(uint32_t skipped) {
    if (skipped == 1) {
        return engine::fail(
            "1 log file has a name that cannot be a file name here, so it was not "
            "copied (the warning above names it)");
    }
    return engine::fail(skipped,
                        " log files have names that cannot be file names here, so they were not "
                        "copied (the warnings above name them)");
}

}  // namespace engine
