// Preloaded into the release tool by its test (never into anything
// shipped): writes down each fsync, with the path of the file or folder
// flushed, and each rename with its target, in order, to the file that
// TUNDRA_SHIM_LOG names. With TUNDRA_SHIM_EXIT_AFTER_RENAMES=N the process
// ends abruptly right after its Nth rename, as a publishing machine that
// loses power or is killed would, leaving the host folder as it was then.
//
// With TUNDRA_SHIM_GATE=PATH the process stops once, at the point that
// TUNDRA_SHIM_PAUSE_AT names ("flock": right after its first flock returns;
// "rename": right before its first rename), creates PATH.reached and waits
// until PATH.go exists, so that a test can act while it stands there.
//
// It also writes down each mlock (its length) and each PR_SET_DUMPABLE.
//
// With TUNDRA_SHIM_SECRET_FILE=KEY-FILE, at the process's end the shim
// looks through every writable mapping of the process for the key file's
// secret, as its text and as its 32 bytes (or a long piece of either), and
// writes "secret left in
// memory" to the log when it finds either: the tool must wipe it after use.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

static void note(const char* what, const char* path) {
    const char* log = getenv("TUNDRA_SHIM_LOG");
    if (log == NULL)
        return;
    char line[PATH_MAX + 32];
    const int length = snprintf(line, sizeof line, "%s %s\n", what, path);
    const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (length > 0)
        (void)!write(fd, line, (size_t)length);
    close(fd);
}

int fsync(int fd) {
    static int (*real)(int) = NULL;
    if (real == NULL)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    const int result = real(fd);
    char link[64];
    char path[PATH_MAX] = "?";
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    path[length > 0 ? length : 1] = 0;
    note("fsync", path);
    return result;
}

static void pause_at(const char* point) {
    static int paused = 0;
    const char* gate = getenv("TUNDRA_SHIM_GATE");
    const char* at = getenv("TUNDRA_SHIM_PAUSE_AT");
    if (paused || gate == NULL || at == NULL || strcmp(at, point) != 0)
        return;
    paused = 1;
    char path[PATH_MAX];
    snprintf(path, sizeof path, "%s.reached", gate);
    close(open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    snprintf(path, sizeof path, "%s.go", gate);
    while (access(path, F_OK) != 0)
        usleep(10000);
}

int flock(int fd, int operation) {
    static int (*real)(int, int) = NULL;
    if (real == NULL)
        real = (int (*)(int, int))dlsym(RTLD_NEXT, "flock");
    const int result = real(fd, operation);
    if (result == 0)
        pause_at("flock");
    return result;
}

static int renames = 0;

// Notes a rename that happened, and ends the process when the test says so.
static void renamed(const char* target) {
    note("rename", target);
    const char* stop = getenv("TUNDRA_SHIM_EXIT_AFTER_RENAMES");
    if (stop != NULL && ++renames == atoi(stop))
        _exit(70);
}

int rename(const char* from, const char* to) {
    static int (*real)(const char*, const char*) = NULL;
    if (real == NULL)
        real = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    pause_at("rename");
    const int result = real(from, to);
    if (result != 0)
        return result;
    char path[PATH_MAX];
    renamed(realpath(to, path) != NULL ? path : to);
    return result;
}

// A rename between names in folders held by descriptor: the target is
// written down as its folder's path and its name.
int renameat(int from_folder, const char* from, int to_folder, const char* to) {
    static int (*real)(int, const char*, int, const char*) = NULL;
    if (real == NULL)
        real = (int (*)(int, const char*, int, const char*))dlsym(RTLD_NEXT, "renameat");
    pause_at("rename");
    const int result = real(from_folder, from, to_folder, to);
    if (result != 0)
        return result;
    char link[64];
    char folder[PATH_MAX] = "?";
    snprintf(link, sizeof link, "/proc/self/fd/%d", to_folder);
    const ssize_t length = readlink(link, folder, sizeof folder - 1);
    folder[length > 0 ? length : 1] = 0;
    char path[PATH_MAX + NAME_MAX + 2];
    snprintf(path, sizeof path, "%s/%s", folder, to);
    renamed(path);
    return result;
}

// Pages locked in memory, and the process made undumpable: written down so
// that the test can tell the secret key's pages stay out of swap and cores.
int mlock(const void* address, size_t length) {
    static int (*real)(const void*, size_t) = NULL;
    if (real == NULL)
        real = (int (*)(const void*, size_t))dlsym(RTLD_NEXT, "mlock");
    char bytes[32];
    snprintf(bytes, sizeof bytes, "%zu", length);
    note("mlock", bytes);
    return real(address, length);
}

int prctl(int option, unsigned long a, unsigned long b, unsigned long c, unsigned long d) {
    static int (*real)(int, unsigned long, unsigned long, unsigned long, unsigned long) = NULL;
    if (real == NULL) {
        real = (int (*)(int, unsigned long, unsigned long, unsigned long, unsigned long))dlsym(
            RTLD_NEXT, "prctl");
    }
    if (option == 4 /* PR_SET_DUMPABLE */)
        note("dumpable", a == 0 ? "0" : "1");
    return real(option, a, b, c, d);
}

// ---- the secret left in memory ----------------------------------------------

// The secret is held here only masked, so that the search cannot find
// these copies themselves.
#define MASK 0x5A
static unsigned char masked_text[64];
static unsigned char masked_seed[32];

static int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Byte by byte, so that no buffer of the shim ever holds the text.
static int load_secret(const char* key_file) {
    const int fd = open(key_file, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int loaded = 1;
    for (int i = 0; i < 64 && loaded; ++i) {
        unsigned char c = 0;
        loaded = read(fd, &c, 1) == 1 && hex_value(c) >= 0;
        masked_text[i] = (unsigned char)(c ^ MASK);
        c = 0;
    }
    close(fd);
    for (int i = 0; i < 32 && loaded; ++i) {
        const int high = hex_value((unsigned char)(masked_text[2 * i] ^ MASK));
        const int low = hex_value((unsigned char)(masked_text[2 * i + 1] ^ MASK));
        masked_seed[i] = (unsigned char)(((high << 4) | low) ^ MASK);
    }
    return loaded;
}

static int holds(const unsigned char* at, size_t room, const unsigned char* masked, size_t n) {
    if (room < n)
        return 0;
    for (size_t k = 0; k < n; ++k) {
        if ((unsigned char)(at[k] ^ MASK) != masked[k])
            return 0;
    }
    return 1;
}

// Any long enough piece of it counts: an allocator that takes a freed
// buffer back writes its own links over the buffer's first bytes, and what
// follows them is still the secret. 24 hexadecimal digits, or 16 bytes,
// occur in no other memory by chance.
#define TEXT_PIECE 24
#define SEED_PIECE 16
static unsigned char piece_starts[256];

static void note_piece_starts(void) {
    for (int w = 0; w + TEXT_PIECE <= 64; ++w)
        piece_starts[masked_text[w] ^ MASK] = 1;
    for (int w = 0; w + SEED_PIECE <= 32; ++w)
        piece_starts[masked_seed[w] ^ MASK] = 1;
}

static int holds_a_piece(const unsigned char* at, size_t room) {
    for (int w = 0; w + TEXT_PIECE <= 64; ++w) {
        if (holds(at, room, masked_text + w, TEXT_PIECE))
            return 1;
    }
    for (int w = 0; w + SEED_PIECE <= 32; ++w) {
        if (holds(at, room, masked_seed + w, SEED_PIECE))
            return 1;
    }
    return 0;
}

static int region_holds_secret(const unsigned char* start, const unsigned char* end) {
    for (const unsigned char* at = start; at < end; ++at) {
        if (piece_starts[*at] && holds_a_piece(at, (size_t)(end - at)))
            return 1;
    }
    return 0;
}

// Writable mappings of a plausible size: heaps, stacks, the data of every
// loaded object. The sanitizers' shadow memory, terabytes reserved, is not.
static int memory_holds_secret(void) {
    static char maps[1 << 20];
    const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t length = 0;
    ssize_t got = 0;
    while (length < sizeof maps - 1 &&
           (got = read(fd, maps + length, sizeof maps - 1 - length)) > 0)
        length += (size_t)got;
    close(fd);
    maps[length] = 0;
    int found = 0;
    for (char* line = maps; *line != 0 && !found;) {
        char* next = strchr(line, '\n');
        if (next != NULL)
            *next = 0;
        unsigned long start = 0, end = 0;
        char perms[8] = "";
        if (sscanf(line, "%lx-%lx %7s", &start, &end, perms) == 3 && perms[0] == 'r' &&
            perms[1] == 'w' && end - start <= (512ul << 20)) {
            found = region_holds_secret((const unsigned char*)start, (const unsigned char*)end);
        }
        if (next == NULL)
            break;
        line = next + 1;
    }
    return found;
}

__attribute__((destructor)) static void look_for_the_secret(void) {
    const char* key_file = getenv("TUNDRA_SHIM_SECRET_FILE");
    if (key_file == NULL)
        return;
    if (!load_secret(key_file)) {
        note("cannot read", key_file);
        return;
    }
    note_piece_starts();
    note(memory_holds_secret() ? "secret left in memory" : "secret wiped", key_file);
}
