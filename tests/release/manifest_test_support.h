// Manifests for the tests: the lines of a valid one, which a test changes
// before signing it with the test key.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "release/manifest.h"

namespace manifest_test {

using Lines = std::vector<std::string>;

inline const std::string DIGEST_HEX =
    "00112233445566778899aabbccddeeff0123456789abcdef0f1e2d3c4b5a6978";

inline Lines update_lines() {
    return {"RX4-TUNDRA-INSTALLER-UPDATE-1", "x64", "6", "1048576", DIGEST_HEX};
}

inline Lines release_lines() {
    return {"RX4-TUNDRA-IMAGE-1", "tundra",   "2.1.0-rc_1",
            "1073741824",         DIGEST_HEX, "https://localhost/images/tundra-2.1.0.img"};
}

// Every line ended by a line feed, as the signed text has them.
inline std::string join(const Lines& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

inline text::ByteText view(const std::string& s) {
    return {s.data(), s.size()};
}
inline std::string str(text::ByteText t) {
    return std::string(t.data, t.length);
}

// The whole path a caller takes: verify, then parse.
inline std::optional<release::UpdateManifest> read_update(const std::string& body) {
    const auto text = release::verify_signed_text(view(body));
    if (!text)
        return std::nullopt;
    return release::parse_update_manifest(*text);
}

inline std::optional<release::ReleaseManifest> read_release(const std::string& body) {
    const auto text = release::verify_signed_text(view(body));
    if (!text)
        return std::nullopt;
    return release::parse_release_manifest(*text);
}

}  // namespace manifest_test
