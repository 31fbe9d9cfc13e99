// The engine's options record: filled by the caller, read only by the
// engine. Texts are slices (pointer and length); an empty pointer is "none".
#pragma once

#include <cstdint>

#include "discovery/stick_record.h"
#include "sys/sys.h"
#include "text/text_writer.h"

namespace engine {

constexpr uint64_t KEEP_GUID_CAPACITY = 8;

// A UTF-16 text, NUL-terminated at `length` units.
struct WideText {
    const WCHAR* data = nullptr;
    uint64_t length = 0;

    bool is_none() const { return data == nullptr; }
};

struct WriteOptions {
    WideText image_path;
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

// What the caller provides beside the options before a run: the performance
// counter frequency that every reported duration divides by, and the event
// (manual reset, unnamed) that the engine's single positioned transfers wait
// on. The caller closes the event after the run.
struct EngineInputs {
    int64_t perf_frequency = 0;
    HANDLE disk_io_event = nullptr;
};

extern EngineInputs engine_inputs;

}  // namespace engine
