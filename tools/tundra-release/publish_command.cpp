// publish and publish-update: lay out the folder that the download host
// serves, without ever leaving it in a state that strands the installers in
// the field. Everything is checked before anything is written: the given
// manifests against the product's key and against the files they name, and
// the folder's current manifests against the same key (a key that differs
// from the one the host already uses is the wrong key for the installers
// out there). An update never announces less than the host already does,
// and an image is never replaced by other bytes at the same path, where
// installers may be downloading it. The files go first and the manifests
// that name them after, each through a durable temporary file and a rename.
// One publish into a folder at a time: an exclusive lock on a lock file in
// it is held from the checks of what the host serves to the page, so that
// two publishes cannot both pass their checks against the same old state.
// What lands on the host is what was checked: the manifests from the bytes
// that were verified, the image and the executable hashed again as they
// are copied.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "commands.h"
#include "exe_release.h"
#include "install_page.h"
#include "manifest_files.h"
#include "release/https_url.h"
#include "tool_files.h"
#include "tool_keys.h"

namespace tool {

namespace {

constexpr char RELEASE_MANIFEST_AT[] = "install/releases/tundra.txt";
constexpr char UPDATE_MANIFEST_AT[] = "install/updates/x64.txt";
constexpr char INSTALLER_AT[] = "install/tundra-usb-installer-x64.exe";
constexpr char PAGE_AT[] = "install/index.html";

int fail(const std::string& message) {
    std::fprintf(stderr, "tundra-release: %s\n", message.c_str());
    return 1;
}

bool is_name_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

// The file path under the host folder at which the image URL's path is
// served. Only plain names are laid out, so that no URL can place a file
// outside the folder or over a manifest, the installer or the page.
bool image_file_path(text::ByteText url, std::string& relative, std::string& error) {
    const std::string path = str(release::parse_https_url(url).path);
    bool plain = path.size() > 1;
    size_t segment_start = 1;
    for (size_t i = 1; plain && i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string segment = path.substr(segment_start, i - segment_start);
            // A name that starts with "." is never served (the host hides
            // dot-files, a publish's temporary files among them).
            plain = !segment.empty() && segment[0] != '.';
            segment_start = i + 1;
        } else {
            plain = is_name_byte(path[i]);
        }
    }
    relative = path.substr(1);
    const bool reserved = relative == RELEASE_MANIFEST_AT || relative == UPDATE_MANIFEST_AT ||
                          relative == INSTALLER_AT || relative == PAGE_AT;
    if (!plain || reserved) {
        error = "cannot lay out the image at \"" + path +
                "\": a static host needs a path of plain names (letters, digits, \".\", \"-\", "
                "\"_\"; none starting with \".\") that is not one of the manifests, the "
                "installer or the page";
        return false;
    }
    return true;
}

// What one run publishes; either part may be absent.
struct Publication {
    std::string folder;
    uint8_t key[32];
    std::string release_manifest, image;
    std::string update_manifest, exe;
    CheckedRelease release;
    CheckedUpdate update;
    std::string image_at;
    bool image_already_there = false;
};

bool is_test_key(const uint8_t (&key)[32]) {
    return to_hex(key, 32) == TUNDRA_TEST_PUBLIC_KEY_HEX;
}

bool check_release_part(Publication& p, std::string& error) {
    const release::ReleaseManifest& m = p.release.manifest;
    return check_release(p.key, p.release_manifest, p.release, error) &&
           image_file_path(m.image_url, p.image_at, error) &&
           file_matches(p.image, m.image_size, m.image_sha256, error);
}

bool check_update_part(Publication& p, std::string& error) {
    const release::UpdateManifest& m = p.update.manifest;
    if (!check_update(p.key, p.update_manifest, p.update, error) ||
        !file_matches(p.exe, m.exe_size, m.exe_sha256, error)) {
        return false;
    }
    if (m.release <= OLDEST_FIELD_RELEASE) {
        error = "refused: " + p.update_manifest + " announces release " +
                std::to_string(m.release) + ", which no installer takes (they take only a " +
                "release above their own, " + std::to_string(OLDEST_FIELD_RELEASE) + " or more)";
        return false;
    }
    return check_exe_is_release(p.exe, m.release, error);
}

// A file under the host folder, opened without going through a link, and
// the path by which the checks read that very file.
struct HostFile {
    int fd = -1;
    ~HostFile() {
        if (fd >= 0)
            close(fd);
    }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd); }
};

// Opens `relative` for a check; the check's message names it as the host
// folder shows it.
template <typename Check>
bool check_host_file(const HostFolder& host, const std::string& relative, std::string& error,
                     Check check) {
    HostFile file;
    file.fd = host.open_file(relative, error);
    if (file.fd < 0)
        return false;
    if (check(file.path()))
        return true;
    const std::string read_as = file.path();
    for (size_t at = error.find(read_as); at != std::string::npos; at = error.find(read_as))
        error.replace(at, read_as.size(), host.shown(relative));
    return false;
}

// The host's current manifests must verify with the same key, and the
// update must not announce less than the host does now.
bool check_host_tree(Publication& p, const HostFolder& host, std::string& error) {
    const char* other_key =
        " (the installers in the field trust the key that signed what the host serves now: "
        "manifests signed with another key would strand them)";
    CheckedRelease current_release;
    if (host.has(RELEASE_MANIFEST_AT) &&
        !check_host_file(host, RELEASE_MANIFEST_AT, error, [&](const std::string& path) {
            return check_release(p.key, path, current_release, error);
        })) {
        error += other_key;
        return false;
    }
    CheckedUpdate current_update;
    if (host.has(UPDATE_MANIFEST_AT)) {
        if (!check_host_file(host, UPDATE_MANIFEST_AT, error, [&](const std::string& path) {
                return check_update(p.key, path, current_update, error);
            })) {
            error += other_key;
            return false;
        }
        const uint32_t now = current_update.manifest.release;
        if (!p.update_manifest.empty() && p.update.manifest.release < now) {
            error = "refused: the host announces installer release " + std::to_string(now) +
                    "; publishing release " + std::to_string(p.update.manifest.release) +
                    " would lower it, and installers of release " + std::to_string(now) +
                    " would never update again";
            return false;
        }
    }
    if (p.release_manifest.empty())
        return true;
    const std::string image_now = host.shown(p.image_at);
    if (!host.has(p.image_at))
        return true;
    const release::ReleaseManifest& m = p.release.manifest;
    std::string differs;
    if (!check_host_file(host, p.image_at, differs, [&](const std::string& path) {
            return file_matches(path, m.image_size, m.image_sha256, differs);
        })) {
        error = "refused: " + image_now +
                " already holds other bytes; an image is never replaced at its path, where "
                "installers may be downloading it (give the new image a new URL)";
        return false;
    }
    p.image_already_there = true;
    return true;
}

// Copies a file the manifest describes, and places it only if its bytes
// are still those the manifest states.
bool place_file(const std::string& from, uint64_t size, const uint8_t (&sha256)[32],
                const HostFolder& host, const std::string& relative, std::string& error) {
    const std::string to = host.shown(relative);
    if (!copy_file_checked(from, host, relative, size, sha256, error))
        return false;
    std::printf("placed %s\n", to.c_str());
    return true;
}

// A manifest from the bytes that were verified, not from its file again.
bool place_manifest(const std::vector<uint8_t>& body, const HostFolder& host,
                    const std::string& relative, std::string& error) {
    const std::string to = host.shown(relative);
    if (!write_file_durably(host, relative, body.data(), body.size(), error))
        return false;
    std::printf("placed %s\n", to.c_str());
    return true;
}

// The page describes what the host announces after this run.
bool write_page(const Publication& p, const HostFolder& host, std::string& error) {
    CheckedRelease release;
    CheckedUpdate update;
    std::string ignored;
    const bool has_release =
        check_host_file(host, RELEASE_MANIFEST_AT, ignored, [&](const std::string& path) {
            return check_release(p.key, path, release, ignored);
        });
    const bool has_update =
        check_host_file(host, UPDATE_MANIFEST_AT, ignored, [&](const std::string& path) {
            return check_update(p.key, path, update, ignored);
        });
    const std::string page =
        install_page(has_release ? &release : nullptr, has_update ? &update : nullptr);
    const std::string to = host.shown(PAGE_AT);
    if (!write_file_durably(host, PAGE_AT, reinterpret_cast<const uint8_t*>(page.data()),
                            page.size(), error)) {
        return false;
    }
    std::printf("placed %s\n", to.c_str());
    return true;
}

int run(Publication& p, const std::string& key_hex) {
    std::string error;
    if (!parse_public_key(key_hex, p.key, error))
        return fail(error);
    if (is_test_key(p.key)) {
        std::fprintf(stderr,
                     "tundra-release: warning: %s is the TEST key, whose secret half is "
                     "published with the sources; no product build trusts it\n",
                     key_hex.c_str());
    }
    const bool inputs_checked = (p.release_manifest.empty() || check_release_part(p, error)) &&
                                (p.update_manifest.empty() || check_update_part(p, error));
    if (!inputs_checked)
        return fail(error);
    FolderLock lock;
    HostFolder host;
    if (!host.open(p.folder, error) || !lock.take(p.folder, error))
        return fail(error);
    // Under the lock no other publish is writing: any temporary file here
    // was left by one that was killed, and the host would serve it.
    host.remove_stale_temporary_files();
    if (!check_host_tree(p, host, error))
        return fail(error);
    const release::ReleaseManifest& image = p.release.manifest;
    const release::UpdateManifest& exe = p.update.manifest;
    const bool placed =
        (p.release_manifest.empty() || p.image_already_there ||
         place_file(p.image, image.image_size, image.image_sha256, host, p.image_at, error)) &&
        (p.update_manifest.empty() ||
         place_file(p.exe, exe.exe_size, exe.exe_sha256, host, INSTALLER_AT, error)) &&
        (p.update_manifest.empty() ||
         place_manifest(p.update.body, host, UPDATE_MANIFEST_AT, error)) &&
        (p.release_manifest.empty() ||
         place_manifest(p.release.body, host, RELEASE_MANIFEST_AT, error)) &&
        write_page(p, host, error);
    if (!placed)
        return fail(error);
    if (!p.release_manifest.empty())
        std::printf("image URL: %s\n", str(p.release.manifest.image_url).c_str());
    return 0;
}

}  // namespace

int publish(const Args& args) {
    if (args.size() != 4 && args.size() != 6) {
        return fail(
            "usage: publish PUBLIC-KEY-HEX HOST-FOLDER RELEASE-MANIFEST IMAGE-FILE "
            "[UPDATE-MANIFEST EXE-FILE]");
    }
    Publication p;
    p.folder = args[1];
    p.release_manifest = args[2];
    p.image = args[3];
    if (args.size() == 6) {
        p.update_manifest = args[4];
        p.exe = args[5];
    }
    return run(p, args[0]);
}

int publish_update(const Args& args) {
    if (args.size() != 4)
        return fail("usage: publish-update PUBLIC-KEY-HEX HOST-FOLDER UPDATE-MANIFEST EXE-FILE");
    Publication p;
    p.folder = args[1];
    p.update_manifest = args[2];
    p.exe = args[3];
    return run(p, args[0]);
}

}  // namespace tool
