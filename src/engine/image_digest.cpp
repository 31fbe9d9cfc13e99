#include "engine/image_digest.h"

#include "engine/engine_workspace.h"
#include "engine/stop_request.h"

namespace engine {

Result fail_for_no_digest(const char* what) {
    return fail("the SHA-256 of ", what, " could not be computed (Windows error ",
                sys::GetLastError(), ")");
}

Result check_image_digest(const DiskRegion& image, const uint8_t expected_sha256[32]) {
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
    uint8_t digest[hash::SHA256_BYTES];
    if (!hash::sha256_final(state, digest))
        return fail_for_no_digest("the image");
    // Not secret: an ordinary comparison is enough.
    for (size_t i = 0; i < sizeof digest; ++i) {
        if (digest[i] == expected_sha256[i])
            continue;
        // The tool's user made or chose the image: both digests tell them
        // whether the file or the digest they typed is the wrong one.
        if (run::run_inputs.stick_tool_texts) {
            return fail("the image's SHA-256 is ", text::Sha256Hex{digest}, ", not ",
                        text::Sha256Hex{expected_sha256}, " as --sha256 says: nothing written");
        }
        return fail(IMAGE_NOT_VERIFIED_TEXT);
    }
    return Result::Success;
}

const uint8_t* known_range_digest(const WriteOptions& options, uint64_t range_start,
                                  uint64_t range_length, uint64_t image_size) {
    if (!image_is_fixed(options) || range_start != 0 || range_length != image_size) {
        return nullptr;
    }
    return options.expected_sha256;
}

bool image_is_fixed(const WriteOptions& options) {
    // The image is opened with FILE_SHARE_READ alone exactly when its digest
    // is checked, and that check ran before any range is compared. An image
    // given as a handle is kept from writers by the caller's handle instead
    // (WriteOptions::image_file).
    return options.has_expected_sha256;
}

}  // namespace engine
