// verify-release, verify-update and publish: everything that reads signed
// manifests back and checks them as the installer will.
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "commands.h"
#include "release/https_url.h"
#include "release/manifest.h"
#include "tool_files.h"
#include "tool_keys.h"

namespace tool {

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "tundra-release: %s\n", message.c_str());
    return 1;
}

std::string str(text::ByteText t) {
    return std::string(t.data, t.length);
}

// A manifest file read and checked against a key. The body stays alive
// beside the record, whose slices point into it.
struct CheckedRelease {
    std::vector<uint8_t> body;
    release::ReleaseManifest manifest;
};
struct CheckedUpdate {
    std::vector<uint8_t> body;
    release::UpdateManifest manifest;
};

std::optional<text::ByteText> read_signed(const std::string& key_hex, const std::string& path,
                                          size_t max_bytes, std::vector<uint8_t>& body,
                                          std::string& error) {
    uint8_t key[32];
    if (!parse_public_key(key_hex, key, error))
        return std::nullopt;
    if (!read_small_file(path, max_bytes, body, error))
        return std::nullopt;
    const text::ByteText bytes{reinterpret_cast<const char*>(body.data()), body.size()};
    auto text = release::verify_signed_text_with_key(bytes, key);
    if (!text)
        error = "refused: " + path + " is not signed with this key, or its framing is wrong";
    return text;
}

bool check_release(const std::string& key_hex, const std::string& path, CheckedRelease& out,
                   std::string& error) {
    const auto text =
        read_signed(key_hex, path, release::MAX_RELEASE_MANIFEST_BYTES, out.body, error);
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

bool check_update(const std::string& key_hex, const std::string& path, CheckedUpdate& out,
                  std::string& error) {
    const auto text =
        read_signed(key_hex, path, release::MAX_UPDATE_MANIFEST_BYTES, out.body, error);
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

bool is_name_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

// The file path under the host folder at which the image URL's path is
// served. Only plain names are laid out, so that no URL can place a file
// outside the folder or over a manifest.
bool image_file_path(text::ByteText url, std::string& relative, std::string& error) {
    const std::string path = str(release::parse_https_url(url).path);
    bool plain = path.size() > 1;
    size_t segment_start = 1;
    for (size_t i = 1; plain && i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string segment = path.substr(segment_start, i - segment_start);
            plain = !segment.empty() && segment != "." && segment != "..";
            segment_start = i + 1;
        } else {
            plain = is_name_byte(path[i]);
        }
    }
    relative = path.substr(1);
    const bool reserved = relative == "install/releases/tundra.txt" ||
                          relative == "install/updates/x64.txt" ||
                          relative == "install/tundra-usb-installer-x64.exe";
    if (!plain || reserved) {
        error = "cannot lay out the image at \"" + path +
                "\": a static host needs a path of plain names (letters, digits, \".\", \"-\", "
                "\"_\") that is not one of the manifests or the installer";
        return false;
    }
    return true;
}

bool place(const std::string& from, const std::string& folder, const std::string& relative,
           std::string& error) {
    const std::string to = folder + "/" + relative;
    const size_t slash = to.rfind('/');
    if (!make_folders(to.substr(0, slash), error))
        return false;
    if (!copy_file_atomically(from, to, error))
        return false;
    std::printf("placed %s\n", to.c_str());
    return true;
}

}  // namespace

int verify_release(const Args& args) {
    if (args.size() != 2)
        return fail("usage: verify-release PUBLIC-KEY-HEX MANIFEST-FILE");
    CheckedRelease checked;
    std::string error;
    if (!check_release(args[0], args[1], checked, error))
        return fail(error);
    const release::ReleaseManifest& m = checked.manifest;
    std::printf(
        "release manifest verified\nversion: %s\nimage_size: %llu\nimage_sha256: %s\n"
        "image_url: %s\n",
        str(m.version).c_str(), static_cast<unsigned long long>(m.image_size),
        to_hex(m.image_sha256, 32).c_str(), str(m.image_url).c_str());
    return 0;
}

int verify_update(const Args& args) {
    if (args.size() != 2)
        return fail("usage: verify-update PUBLIC-KEY-HEX MANIFEST-FILE");
    CheckedUpdate checked;
    std::string error;
    if (!check_update(args[0], args[1], checked, error))
        return fail(error);
    const release::UpdateManifest& m = checked.manifest;
    std::printf("update manifest verified\nrelease: %u\nexe_size: %llu\nexe_sha256: %s\n",
                m.release, static_cast<unsigned long long>(m.exe_size),
                to_hex(m.exe_sha256, 32).c_str());
    return 0;
}

int publish(const Args& args) {
    if (args.size() != 6) {
        return fail(
            "usage: publish PUBLIC-KEY-HEX HOST-FOLDER RELEASE-MANIFEST IMAGE-FILE "
            "UPDATE-MANIFEST EXE-FILE");
    }
    const std::string& folder = args[1];
    CheckedRelease rel;
    CheckedUpdate upd;
    std::string error;
    std::string image_path;
    const bool checked =
        check_release(args[0], args[2], rel, error) && check_update(args[0], args[4], upd, error) &&
        image_file_path(rel.manifest.image_url, image_path, error) &&
        file_matches(args[3], rel.manifest.image_size, rel.manifest.image_sha256, error) &&
        file_matches(args[5], upd.manifest.exe_size, upd.manifest.exe_sha256, error);
    if (!checked)
        return fail(error);
    // The files that the manifests name go first and the manifests last, so
    // that a host serving the folder meanwhile never announces a file it
    // does not have yet.
    const bool placed = place(args[3], folder, image_path, error) &&
                        place(args[5], folder, "install/tundra-usb-installer-x64.exe", error) &&
                        place(args[4], folder, "install/updates/x64.txt", error) &&
                        place(args[2], folder, "install/releases/tundra.txt", error);
    if (!placed)
        return fail(error);
    std::printf("image URL: %s\n", str(rel.manifest.image_url).c_str());
    return 0;
}

}  // namespace tool
