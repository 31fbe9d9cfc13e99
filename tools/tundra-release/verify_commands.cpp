// verify-release and verify-update: a manifest read back and checked as the
// installer will check it.
#include <cstdio>

#include "commands.h"
#include "manifest_files.h"
#include "tool_files.h"
#include "tool_keys.h"

namespace tool {

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "tundra-release: %s\n", message.c_str());
    return 1;
}

}  // namespace

int verify_release(const Args& args) {
    if (args.size() != 2)
        return fail("usage: verify-release PUBLIC-KEY-HEX MANIFEST-FILE");
    uint8_t key[32];
    CheckedRelease checked;
    std::string error;
    if (!parse_public_key(args[0], key, error) || !check_release(key, args[1], checked, error))
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
    uint8_t key[32];
    CheckedUpdate checked;
    std::string error;
    if (!parse_public_key(args[0], key, error) || !check_update(key, args[1], checked, error))
        return fail(error);
    const release::UpdateManifest& m = checked.manifest;
    std::printf("update manifest verified\nrelease: %u\nexe_size: %llu\nexe_sha256: %s\n",
                m.release, static_cast<unsigned long long>(m.exe_size),
                to_hex(m.exe_sha256, 32).c_str());
    return 0;
}

}  // namespace tool
