#include "engine/image_digest.h"

#include <cstring>

#include "engine/engine_workspace.h"
#include "engine/hash_lane.h"
#include "engine/stop_request.h"

namespace engine {
namespace {

// The whole image's digest, read in pieces of 256 KiB on this thread.
Result digest_of_image(const DiskRegion& image, uint8_t digest[32]) {
    hash::Sha256& state = workspace.image_hash;
    hash::sha256_init(state);
    const uint64_t size = image.end - image.first;
    for (uint64_t offset = 0; offset < size; offset += IMAGE_HASH_CHUNK) {
        const uint64_t rest = size - offset;
        const uint64_t piece = rest < IMAGE_HASH_CHUNK ? rest : IMAGE_HASH_CHUNK;
        if (stop_if_requested() != Result::Success ||
            read_at(image, offset, workspace.image_hash_chunk, piece) != Result::Success) {
            return Result::Failed;
        }
        hash::sha256_update(state, workspace.image_hash_chunk, piece);
    }
    if (!hash::sha256_final(state, digest))
        return fail_for_no_digest("the image");
    return Result::Success;
}

}  // namespace

Result fail_for_no_digest(const char* what) {
    return fail("the SHA-256 of ", what, " could not be computed (Windows error ",
                sys::GetLastError(), ")");
}

Result judge_image_digest(const uint8_t sha256[32], const uint8_t expected_sha256[32]) {
    // Not secret: an ordinary comparison is enough.
    if (memcmp(sha256, expected_sha256, 32) == 0)
        return Result::Success;
    // The tool's user made or chose the image: both digests tell them
    // whether the file or the digest they typed is the wrong one.
    if (run::run_inputs.stick_tool_texts) {
        return fail("the image's SHA-256 is ", text::Sha256Hex{sha256}, ", not ",
                    text::Sha256Hex{expected_sha256}, " as --sha256 says: nothing written");
    }
    return fail(IMAGE_NOT_VERIFIED_TEXT);
}

Result hash_image_span(const TransferContext& context, uint64_t first, uint64_t end,
                       uint8_t digests) {
    uint32_t turn = 0;
    for (uint64_t at = first; at < end; turn = (turn + 1) % context.queue_depth) {
        if (stop_if_requested() != Result::Success)
            return Result::Failed;
        const uint64_t rest = end - at;
        const uint32_t piece =
            static_cast<uint32_t>(rest < context.chunk_bytes ? rest : context.chunk_bytes);
        uint8_t* const buffer = workspace.image_slots[turn];
        await_buffer(buffer);
        if (read_exact_at(context.image, false, at, buffer, piece) != Result::Success)
            return Result::Failed;
        hash_buffer(buffer, piece, digests);
        at += piece;
    }
    return Result::Success;
}

void recheck_image_after_failure(const DiskRegion& image, const uint8_t expected_sha256[32]) {
    char reason[run::FAILURE_REASON_CAPACITY];
    const size_t length = run::buffers.failure_reason_length;
    memcpy(reason, run::buffers.failure_reason, length);
    uint8_t digest[32];
    if (digest_of_image(image, digest) == Result::Success &&
        judge_image_digest(digest, expected_sha256) != Result::Success) {
        return;
    }
    memcpy(run::buffers.failure_reason, reason, length);
    run::buffers.failure_reason_length = length;
}

bool image_is_fixed(const WriteOptions& options) {
    // The image is opened with FILE_SHARE_READ alone exactly when its digest
    // is checked, and that check ends before anything is written. An image
    // given as a handle is kept from writers by the caller's handle instead
    // (WriteOptions::image_file).
    return options.has_expected_sha256;
}

}  // namespace engine
