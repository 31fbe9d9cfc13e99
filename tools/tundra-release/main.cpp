// tundra-release: the publisher's tool for the download host. It makes the
// Ed25519 key pair, signs release and update manifests, checks manifests
// against a public key, and lays out the folder that the host serves.
#include <sodium.h>

#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

constexpr char USAGE[] =
    "usage: tundra-release COMMAND ARGUMENTS\n"
    "  keygen SECRET-KEY-FILE\n"
    "      make a key pair; the secret key goes to a new owner-only file, flushed to\n"
    "      disk; the public key is printed in hex, to build the installer with\n"
    "  public-key SECRET-KEY-FILE\n"
    "  sign-release SECRET-KEY-FILE VERSION IMAGE-FILE IMAGE-URL OUT-FILE\n"
    "  sign-release SECRET-KEY-FILE VERSION IMAGE-SIZE IMAGE-SHA256 IMAGE-URL OUT-FILE\n"
    "      the second form signs without the image, from its stated size and digest\n"
    "  sign-update SECRET-KEY-FILE RELEASE EXE-FILE OUT-FILE\n"
    "      RELEASE must be above 5 and be the release that EXE-FILE is\n"
    "  verify-release PUBLIC-KEY-HEX MANIFEST-FILE\n"
    "  verify-update PUBLIC-KEY-HEX MANIFEST-FILE\n"
    "  publish PUBLIC-KEY-HEX HOST-FOLDER RELEASE-MANIFEST IMAGE-FILE [UPDATE-MANIFEST EXE-FILE]\n"
    "  publish-update PUBLIC-KEY-HEX HOST-FOLDER UPDATE-MANIFEST EXE-FILE\n"
    "      check the manifests against the product's public key, the files against the\n"
    "      manifests and the host folder's current manifests, then lay out the image at\n"
    "      its URL's path, install/tundra-usb-installer-x64.exe, install/updates/x64.txt,\n"
    "      install/releases/tundra.txt and the page install/index.html, in that order\n";

struct Command {
    const char* name;
    int (*run)(const tool::Args&);
};

constexpr Command COMMANDS[] = {
    {"keygen", tool::keygen},
    {"public-key", tool::public_key},
    {"sign-release", tool::sign_release},
    {"sign-update", tool::sign_update},
    {"verify-release", tool::verify_release},
    {"verify-update", tool::verify_update},
    {"publish", tool::publish},
    {"publish-update", tool::publish_update},
};

}  // namespace

int main(int argc, char** argv) {
    if (sodium_init() < 0) {
        std::fprintf(stderr, "tundra-release: libsodium cannot start\n");
        return 1;
    }
    if (argc >= 2) {
        for (const Command& command : COMMANDS) {
            if (std::strcmp(argv[1], command.name) == 0) {
                return command.run(tool::Args(argv + 2, argv + argc));
            }
        }
        std::fprintf(stderr, "tundra-release: unknown command \"%s\"\n", argv[1]);
    }
    std::fputs(USAGE, stderr);
    return 2;
}
