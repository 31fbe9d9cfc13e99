#include "manifest_files.h"

#include <cstring>
#include <optional>

#include "tool_files.h"

namespace tool {

namespace {

std::optional<text::ByteText> read_signed(const uint8_t (&key)[32], const std::string& path,
                                          size_t max_bytes, std::vector<uint8_t>& body,
                                          std::string& error) {
    if (!read_small_file(path, max_bytes, body, error))
        return std::nullopt;
    const text::ByteText bytes{reinterpret_cast<const char*>(body.data()), body.size()};
    auto text = release::verify_signed_text_with_key(bytes, key);
    if (!text)
        error = "refused: " + path + " is not signed with this key, or its framing is wrong";
    return text;
}

}  // namespace

std::string str(text::ByteText t) {
    return std::string(t.data, t.length);
}

bool check_release(const uint8_t (&key)[32], const std::string& path, CheckedRelease& out,
                   std::string& error) {
    const auto text = read_signed(key, path, release::MAX_RELEASE_MANIFEST_BYTES, out.body, error);
    if (!text)
        return false;
    const auto manifest = release::parse_release_manifest(*text);
    if (!manifest) {
        error = "refused: " + path + " is signed but is not a valid release manifest";
        return false;
    }
    out.manifest = *manifest;
    return true;
}

bool check_update(const uint8_t (&key)[32], const std::string& path, CheckedUpdate& out,
                  std::string& error) {
    const auto text = read_signed(key, path, release::MAX_UPDATE_MANIFEST_BYTES, out.body, error);
    if (!text)
        return false;
    const auto manifest = release::parse_update_manifest(*text);
    if (!manifest) {
        error = "refused: " + path + " is signed but is not a valid update manifest";
        return false;
    }
    out.manifest = *manifest;
    return true;
}

bool file_matches(const std::string& path, uint64_t size, const uint8_t (&sha256)[32],
                  std::string& error) {
    uint64_t actual_size = 0;
    uint8_t actual[32];
    if (!hash_file(path, actual_size, actual, error))
        return false;
    if (actual_size != size || std::memcmp(actual, sha256, 32) != 0) {
        error = path + " does not have the size and SHA-256 that its manifest states";
        return false;
    }
    return true;
}

}  // namespace tool
