// Preloaded into the release tool by its test (never into anything
// shipped): writes down each fsync, with the path of the file or folder
// flushed, and each rename with its target, in order, to the file that
// TUNDRA_SHIM_LOG names. With TUNDRA_SHIM_EXIT_AFTER_RENAMES=N the process
// ends abruptly right after its Nth rename, as a publishing machine that
// loses power or is killed would, leaving the host folder as it was then.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

int rename(const char* from, const char* to) {
    static int (*real)(const char*, const char*) = NULL;
    static int renames = 0;
    if (real == NULL)
        real = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    const int result = real(from, to);
    if (result != 0)
        return result;
    char path[PATH_MAX];
    note("rename", realpath(to, path) != NULL ? path : to);
    const char* stop = getenv("TUNDRA_SHIM_EXIT_AFTER_RENAMES");
    if (stop != NULL && ++renames == atoi(stop))
        _exit(70);
    return result;
}
