// The engine's options record: filled by the caller, read only by the
// engine. Texts are slices (pointer and length); an empty pointer is "none".
// Beside it, the caller fills run::run_inputs before a run.
#pragma once

#include <cstdint>

#include "discovery/stick_record.h"
#include "run/run_inputs.h"
#include "run/wide_text.h"
#include "text/text_writer.h"

namespace engine {

constexpr uint64_t KEEP_GUID_CAPACITY = 8;

using run::WideText;

struct WriteOptions {
    WideText image_path;
    // An open handle of the image, or null. When given, the engine reads
    // that very file through a handle of its own (ReOpenFile) and never
    // opens image_path, which then only names the image in messages: the
    // caller's file may lie in a folder that someone else can change. The
    // caller's handle must refuse write sharing for the whole run, which
    // keeps the image as its digest was checked.
    HANDLE image_file = nullptr;
    text::ByteText serial;          // 0..128 bytes
    text::ByteText required_model;  // none, or a text the product must contain
    WideText logs_dir;
    WideText target_file;
    uint64_t keep_guid_count = 0;
    uint8_t keep_guids[KEEP_GUID_CAPACITY][16] = {};
    uint64_t max_gb = 256;
    discovery::StickRecord expected_stick;
    bool has_expected_stick = false;
    uint32_t chunk_bytes = 1048576;
    uint32_t queue_depth = 4;
    bool read_back_all = true;
    bool full = false;
    bool dry_run = false;
    bool other_machine = false;
    bool fresh = true;
    uint8_t expected_sha256[32] = {};
    bool has_expected_sha256 = false;
};

}  // namespace engine
