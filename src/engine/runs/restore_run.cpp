#include "engine/runs/restore_run.h"

#include <cstring>

#include "engine/engine_workspace.h"
#include "engine/logs/log_copy.h"
#include "engine/stop_request.h"
#include "engine/table_reread.h"
#include "engine/target_disk.h"
#include "engine/volume_lock.h"
#include "formats/stick_layout.h"
#include "formats/volume_label.h"

namespace engine {
namespace {

using formats::FileSystem;
using formats::StickLayout;

constexpr uint64_t GIB = 1073741824;
constexpr uint32_t PIECE_BYTES = SLOT_BUFFER_BYTES;
const WCHAR DEFAULT_LABEL[] = {'U', 'S', 'B', 0};

const char* name_of(FileSystem fs) {
    return fs == FileSystem::Fat32 ? "FAT32" : "exFAT";
}

FileSystem chosen_file_system(FileSystemChoice choice, uint64_t disk_bytes) {
    if (choice == FileSystemChoice::Fat32)
        return FileSystem::Fat32;
    if (choice == FileSystemChoice::Exfat)
        return FileSystem::Exfat;
    return disk_bytes <= formats::FAT32_DEFAULT_LIMIT_BYTES ? FileSystem::Fat32 : FileSystem::Exfat;
}

// A number the new MBR and volume are known by, different on each restore.
uint32_t fresh_number(uint32_t salt) {
    LARGE_INTEGER now{};
    (void)sys::QueryPerformanceCounter(&now);
    const uint64_t mixed = (static_cast<uint64_t>(now.QuadPart) ^ (sys::GetTickCount64() << 20)) *
                           0x9E3779B97F4A7C15ull * (salt | 1);
    const uint32_t number = static_cast<uint32_t>(mixed >> 32);
    return number != 0 ? number : 0x54554E44;
}

Result refuse_label(FileSystem fs, WideText label) {
    if (fs == FileSystem::Fat32) {
        return fail(
            "the label ", path_text(label),
            " does not suit FAT32: at most 11 letters, digits, spaces and ! # $ % & ' ( ) - "
            "@ ^ _ ` { } ~, not starting or ending with a space (--fs exfat takes more)");
    }
    return fail("the label ", path_text(label),
                " does not suit exFAT: at most 11 characters, none of \" * / : < > ? \\ | and no "
                "control characters");
}

Result refuse_layout(formats::LayoutFault fault, FileSystem fs, const TargetDisk& target) {
    switch (fault) {
        case formats::LayoutFault::SectorSize:
            return fail("the stick has ", target.bytes_per_sector,
                        "-byte sectors: only 512 to 4096 bytes can be restored");
        case formats::LayoutFault::TooSmall:
            return fail("the stick (", text::Mib{target.size}, " MiB) is too small for ",
                        name_of(fs),
                        fs == FileSystem::Fat32 ? ": --fs exfat fits smaller sticks" : "");
        case formats::LayoutFault::TooLarge:
            return fail("the stick (", text::Gb{target.size}, " GB) is too large for ", name_of(fs),
                        " in an MBR partition table");
        case formats::LayoutFault::None:
            break;
    }
    return Result::Success;
}

Result plan_layout(const TargetDisk& target, const RestoreChoice& choice, StickLayout& layout) {
    const FileSystem fs = chosen_file_system(choice.file_system, target.size);
    const WideText given = choice.label.is_none() ? WideText{DEFAULT_LABEL, 3} : choice.label;
    formats::VolumeLabel label;
    if (formats::check_label(fs, reinterpret_cast<const uint16_t*>(given.data), given.length,
                             label) != formats::LabelFault::None) {
        return refuse_label(fs, given);
    }
    const formats::LayoutFault fault = formats::plan_stick_layout(
        target.size, target.bytes_per_sector, fs, label, fresh_number(1), fresh_number(2), layout);
    return refuse_layout(fault, fs, target);
}

// The label as the file system keeps it, for the closing line.
struct LabelText {
    WCHAR units[formats::LABEL_CAPACITY + 1];
    WideText text;
};

void label_text(const StickLayout& layout, LabelText& out) {
    for (uint32_t i = 0; i < layout.label.length; ++i)
        out.units[i] = static_cast<WCHAR>(layout.label.units[i]);
    out.units[layout.label.length] = 0;
    out.text = {out.units, layout.label.length};
}

uint64_t written_bytes(const StickLayout& layout) {
    formats::ByteRange ranges[formats::RESTORE_RANGE_COUNT];
    formats::restore_ranges(layout, ranges);
    uint64_t total = 0;
    for (const formats::ByteRange& range : ranges)
        total += range.length;
    return total;
}

void report_plan(const StickLayout& layout, bool dry_run) {
    LabelText label;
    label_text(layout, label);
    report("restore: an MBR with one partition from 1 MiB to the end (",
           text::Mib{formats::partition_bytes(layout)}, " MiB), ", name_of(layout.file_system),
           " with ", formats::cluster_bytes(layout), "-byte clusters, label ",
           path_text(label.text), "\n");
    report(dry_run ? "would write " : "writing ", text::Mib{written_bytes(layout)},
           " MiB: the file system's structures, the new MBR, and zeros over the old partition "
           "tables\n");
}


// A failure once writing has begun: the reason, and the state it left.
Result left_partly_written() {
    char reason[run::FAILURE_REASON_CAPACITY];
    const text::ByteText was = failure_reason();
    memcpy(reason, was.data, was.length);
    return fail(text::ByteText{reason, was.length},
                ": the stick was left partly written and must be restored again");
}

uint32_t piece_at(const formats::ByteRange& range, uint64_t at) {
    const uint64_t rest = range.offset + range.length - at;
    return rest < PIECE_BYTES ? static_cast<uint32_t>(rest) : PIECE_BYTES;
}

Result write_layout(const TargetDisk& target, const StickLayout& layout) {
    formats::ByteRange ranges[formats::RESTORE_RANGE_COUNT];
    formats::restore_ranges(layout, ranges);
    uint8_t* piece = workspace.stick_slots[0];
    for (const formats::ByteRange& range : ranges) {
        for (uint64_t at = range.offset; at < range.offset + range.length;) {
            const uint32_t count = piece_at(range, at);
            if (stop_if_requested() != Result::Success)
                return Result::Failed;
            formats::restored_bytes(layout, at, piece, count);
            bool started = false;
            const Result written =
                write_exact_at(target.handle, target.overlapped, at, piece, count, &started);
            if (started)
                note_stick_written();
            if (written != Result::Success)
                return stick_was_written() ? left_partly_written() : Result::Failed;
            at += count;
        }
    }
    if (!sys::FlushFileBuffers(target.handle)) {
        (void)fail("Windows could not flush the stick (Windows error ", sys::GetLastError(), ")");
        return left_partly_written();
    }
    return Result::Success;
}

uint32_t first_difference(const uint8_t* a, const uint8_t* b, uint32_t count) {
    uint32_t i = 0;
    while (i < count && a[i] == b[i])
        ++i;
    return i;
}

// Every byte written is read back and compared with what it should be.
Result read_back(const TargetDisk& target, const StickLayout& layout) {
    formats::ByteRange ranges[formats::RESTORE_RANGE_COUNT];
    formats::restore_ranges(layout, ranges);
    uint8_t* expected = workspace.stick_slots[0];
    uint8_t* read = workspace.stick_slots[1];
    for (const formats::ByteRange& range : ranges) {
        for (uint64_t at = range.offset; at < range.offset + range.length;) {
            const uint32_t count = piece_at(range, at);
            if (stop_if_requested() != Result::Success)
                return Result::Failed;
            if (read_exact_at(target.handle, target.overlapped, at, read, count) !=
                Result::Success) {
                return left_partly_written();
            }
            formats::restored_bytes(layout, at, expected, count);
            const uint32_t differs = first_difference(expected, read, count);
            if (differs < count) {
                (void)fail("the stick does not hold what was written: byte ", at + differs,
                           " reads back differently");
                return left_partly_written();
            }
            at += count;
        }
    }
    return Result::Success;
}

void report_closing_line(const StickLayout& layout) {
    LabelText label;
    label_text(layout, label);
    const uint64_t bytes = formats::partition_bytes(layout);
    const uint64_t tenths = (bytes * 10 + GIB / 2) / GIB;
    if (bytes < GIB) {
        report("the stick is an ordinary USB stick again: ", name_of(layout.file_system), ", ",
               text::Mib{bytes}, " MiB, label ", path_text(label.text), "\n");
        return;
    }
    report("the stick is an ordinary USB stick again: ", name_of(layout.file_system), ", ",
           tenths / 10, ".", tenths % 10, " GiB, label ", path_text(label.text), "\n");
}

Result restore_steps(const WriteOptions& options, const RestoreChoice& choice, TargetDisk& target) {
    if (open_target(options, target) != Result::Success)
        return Result::Failed;
    StickLayout layout;
    if (plan_layout(target, choice, layout) != Result::Success)
        return Result::Failed;
    report_plan(layout, options.dry_run);
    if (stop_if_requested() != Result::Success)
        return Result::Failed;
    if (target.is_disk && !options.dry_run &&
        lock_and_dismount(target.disk_number) != Result::Success) {
        return Result::Failed;
    }
    if (stop_if_requested() != Result::Success)
        return Result::Failed;
    if (!options.logs_dir.is_none() &&
        copy_logs_first(target, options.logs_dir, "restored") != Result::Success) {
        return Result::Failed;
    }
    if (options.dry_run) {
        report("--dry-run: nothing written\n");
        return Result::Success;
    }
    if (write_layout(target, layout) != Result::Success ||
        read_back(target, layout) != Result::Success) {
        return Result::Failed;
    }
    if (target.is_disk)
        ask_windows_to_reread_the_table(target.handle);
    report_closing_line(layout);
    return Result::Success;
}

}  // namespace

Result restore_stick(const WriteOptions& options, const RestoreChoice& choice) {
    begin_stoppable_run("restored");
    TargetDisk target;
    const Result result = restore_steps(options, choice, target);
    release_volumes();
    if (target.handle != INVALID_HANDLE_VALUE)
        (void)sys::CloseHandle(target.handle);
    return result;
}

}  // namespace engine
