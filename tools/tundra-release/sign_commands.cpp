// keygen, public-key, sign-release and sign-update.
#include <sodium.h>

#include <cstdio>
#include <vector>

#include "commands.h"
#include "exe_release.h"
#include "release/hex_digits.h"
#include "release/https_url.h"
#include "release/manifest.h"
#include "release/manifest_fields.h"
#include "tool_files.h"
#include "tool_keys.h"

namespace tool {

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "tundra-release: %s\n", message.c_str());
    return 1;
}

text::ByteText view(const std::string& s) {
    return {s.data(), s.size()};
}

// The signed body: the text (every line ended by a line feed), then the
// signature of exactly those bytes in lower-case hex and a line feed.
std::string sign_text(const KeyPair& keys, const std::string& text) {
    uint8_t signature[crypto_sign_ed25519_BYTES];
    crypto_sign_ed25519_detached(signature, nullptr,
                                 reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                                 keys.secret_key);
    return text + to_hex(signature, sizeof signature) + "\n";
}

bool version_is_valid(const std::string& version) {
    if (version.empty() || version.size() > release::MAX_VERSION_BYTES)
        return false;
    for (char c : version) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

// Writes the manifest only after the installer's own code has accepted it.
int write_checked(const KeyPair& keys, const std::string& body, size_t max_bytes, bool is_release,
                  const std::string& out) {
    if (body.size() > max_bytes)
        return fail("the manifest would exceed " + std::to_string(max_bytes) + " bytes");
    const auto text = release::verify_signed_text_with_key(view(body), keys.public_key);
    const bool parsed = text && (is_release ? release::parse_release_manifest(*text).has_value()
                                            : release::parse_update_manifest(*text).has_value());
    if (!parsed)
        return fail("internal error: the signed manifest does not check");
    std::string error;
    if (!write_file_durably(out, reinterpret_cast<const uint8_t*>(body.data()), body.size(),
                            error)) {
        return fail(error);
    }
    std::printf("wrote %s (%zu bytes)\n", out.c_str(), body.size());
    return 0;
}

}  // namespace

int keygen(const Args& args) {
    if (args.size() != 1)
        return fail("usage: keygen SECRET-KEY-FILE");
    KeyPair keys;
    std::string error;
    if (!create_key_file(args[0], keys, error))
        return fail(error);
    const std::string hex = to_hex(keys.public_key, 32);
    std::printf("secret key written to %s (owner-only, on disk); keep it off every repository\n",
                args[0].c_str());
    std::printf("public key: %s\n", hex.c_str());
    std::printf("build the installer with it: scripts/build-installer --public-key %s\n",
                hex.c_str());
    return 0;
}

int public_key(const Args& args) {
    if (args.size() != 1)
        return fail("usage: public-key SECRET-KEY-FILE");
    KeyPair keys;
    std::string error;
    if (!read_key_file(args[0], keys, error))
        return fail(error);
    std::printf("%s\n", to_hex(keys.public_key, 32).c_str());
    return 0;
}

namespace {

// The image's size and digest: from the image itself, or as stated by
// whoever holds it, so that the secret key need never meet the image.
bool image_size_and_digest(const Args& args, uint64_t& size, uint8_t (&sha256)[32],
                           std::string& error) {
    if (args.size() == 5)
        return hash_file(args[2], size, sha256, error);
    const auto number = release::parse_decimal(view(args[2]), UINT64_MAX);
    if (!number) {
        error = "image size \"" + args[2] + "\" is not a number of bytes";
        return false;
    }
    size = *number;
    if (args[3].size() != 64 || !release::decode_hex(args[3].data(), 32, sha256)) {
        error = "image SHA-256 \"" + args[3] + "\" is not 64 hexadecimal digits";
        return false;
    }
    return true;
}

}  // namespace

int sign_release(const Args& args) {
    if (args.size() != 5 && args.size() != 6) {
        return fail(
            "usage: sign-release SECRET-KEY-FILE VERSION (IMAGE-FILE | IMAGE-SIZE IMAGE-SHA256) "
            "IMAGE-URL OUT-FILE");
    }
    const std::string& version = args[1];
    const std::string& url = args[args.size() - 2];
    const std::string& out = args.back();
    if (!version_is_valid(version)) {
        return fail("version \"" + version +
                    "\" must be 1 to 48 letters, digits, \".\", \"-\" or \"_\"");
    }
    if (!release::parse_https_url(view(url)).ok) {
        return fail("image URL \"" + url +
                    "\" is not a plain https:// URL of a host name and a path");
    }
    // The image is hashed before the key is read: the secret stays in
    // memory only for the signing, not for the minutes a large image takes.
    std::string error;
    uint64_t size = 0;
    uint8_t sha256[32];
    if (!image_size_and_digest(args, size, sha256, error))
        return fail(error);
    if (size < release::MIN_IMAGE_BYTES || size > release::MAX_IMAGE_BYTES ||
        size % release::IMAGE_SIZE_UNIT != 0) {
        return fail("image " + args[2] + " has " + std::to_string(size) +
                    " bytes; it must be 4096 bytes to 16 GiB and a multiple of 512");
    }
    KeyPair keys;
    if (!read_key_file(args[0], keys, error))
        return fail(error);
    const std::string text = std::string(release::RELEASE_MANIFEST_KIND) + "\n" +
                             release::RELEASE_PRODUCT + "\n" + version + "\n" +
                             std::to_string(size) + "\n" + to_hex(sha256, 32) + "\n" + url + "\n";
    return write_checked(keys, sign_text(keys, text), release::MAX_RELEASE_MANIFEST_BYTES, true,
                         out);
}

int sign_update(const Args& args) {
    if (args.size() != 4)
        return fail("usage: sign-update SECRET-KEY-FILE RELEASE EXE-FILE OUT-FILE");
    const auto number = release::parse_decimal(view(args[1]), UINT32_MAX);
    if (!number)
        return fail("release \"" + args[1] + "\" must be a number from 0 to 4294967295");
    const uint32_t announced = static_cast<uint32_t>(*number);
    if (announced <= OLDEST_FIELD_RELEASE) {
        return fail("release " + std::to_string(announced) + " is not above " +
                    std::to_string(OLDEST_FIELD_RELEASE) +
                    ": installers take only a release above their own, so none would take it");
    }
    std::string error;
    uint64_t size = 0;
    uint8_t sha256[32];
    if (!hash_file(args[2], size, sha256, error))
        return fail(error);
    if (size < 1 || size > release::MAX_EXE_BYTES) {
        return fail("executable " + args[2] + " has " + std::to_string(size) +
                    " bytes; it must be 1 byte to 8 MiB");
    }
    if (!check_exe_is_release(args[2], announced, error))
        return fail(error);
    KeyPair keys;
    if (!read_key_file(args[0], keys, error))
        return fail(error);
    const std::string text = std::string(release::UPDATE_MANIFEST_KIND) + "\n" +
                             release::UPDATE_ARCHITECTURE + "\n" + std::to_string(announced) +
                             "\n" + std::to_string(size) + "\n" + to_hex(sha256, 32) + "\n";
    return write_checked(keys, sign_text(keys, text), release::MAX_UPDATE_MANIFEST_BYTES, false,
                         args[3]);
}

}  // namespace tool
