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
    "      make a key pair; the secret key goes to a new owner-only file, the\n"
    "      public key is printed in hex and as the constant to compile in\n"
    "  public-key SECRET-KEY-FILE\n"
    "  sign-release SECRET-KEY-FILE VERSION IMAGE-FILE IMAGE-URL OUT-FILE\n"
    "  sign-update SECRET-KEY-FILE RELEASE EXE-FILE OUT-FILE\n"
    "  verify-release PUBLIC-KEY-HEX MANIFEST-FILE\n"
    "  verify-update PUBLIC-KEY-HEX MANIFEST-FILE\n"
    "  publish PUBLIC-KEY-HEX HOST-FOLDER RELEASE-MANIFEST IMAGE-FILE UPDATE-MANIFEST EXE-FILE\n"
    "      check both manifests and both files, then lay out install/releases/tundra.txt,\n"
    "      install/updates/x64.txt, install/tundra-usb-installer-x64.exe and the image\n"
    "      at its URL's path under HOST-FOLDER\n";

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
