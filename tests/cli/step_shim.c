/* A preloaded library for the crash and concurrency tests. It counts the steps
 * after which a crash leaves something on disk (each rename, fsync, removal
 * and open of a file for writing) and, as the environment asks:
 *
 *   VELLUMO_STEPS_LOG=FILE        appends "PID KIND PATH" for each step
 *   VELLUMO_STEPS_KILL_AT=N       SIGKILL right after step N (from 1)
 *   VELLUMO_STEPS_KILL_AFTER_US=T SIGKILL T microseconds after the start
 *   VELLUMO_STEPS_GATE=FOLDER     at the first step below VELLUMO_STEPS_UNDER,
 *                                 creates FOLDER/held-PID and waits until
 *                                 FOLDER/open exists (at most five minutes)
 *   VELLUMO_STEPS_FAIL=KIND:SUFFIX  fails each fsync (KIND fsync) of a file,
 *                                 or each rename (KIND rename) from a path,
 *                                 whose path ends in SUFFIX, with EIO, as a
 *                                 failing disk does
 *
 * The variables and LD_PRELOAD are removed at load, so that the program's
 * children (the Python probe) run untouched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static char log_file[4096];
static char gate[4096];
static char under[4096];
static char fail_setting[4096];
static const char* fail_suffix = "";
static long kill_at;
static long steps;
static int gate_passed;

static void copy_setting(const char* name, char* to, size_t size) {
    const char* value = getenv(name);
    if (value) snprintf(to, size, "%s", value);
    unsetenv(name);
}

__attribute__((constructor)) static void load(void) {
    char number[32] = "";
    copy_setting("VELLUMO_STEPS_LOG", log_file, sizeof log_file);
    copy_setting("VELLUMO_STEPS_GATE", gate, sizeof gate);
    copy_setting("VELLUMO_STEPS_UNDER", under, sizeof under);
    copy_setting("VELLUMO_STEPS_FAIL", fail_setting, sizeof fail_setting);
    char* colon = strchr(fail_setting, ':');
    if (colon) {
        *colon = '\0';
        fail_suffix = colon + 1;
    }
    copy_setting("VELLUMO_STEPS_KILL_AT", number, sizeof number);
    kill_at = atol(number);
    number[0] = '\0';
    copy_setting("VELLUMO_STEPS_KILL_AFTER_US", number, sizeof number);
    const long after_us = atol(number);
    unsetenv("LD_PRELOAD");
    if (after_us > 0) {
        struct sigevent event = {.sigev_notify = SIGEV_SIGNAL, .sigev_signo = SIGKILL};
        timer_t timer;
        struct itimerspec when = {.it_value = {after_us / 1000000, after_us % 1000000 * 1000}};
        if (timer_create(CLOCK_MONOTONIC, &event, &timer) == 0) timer_settime(timer, 0, &when, NULL);
    }
}

static void path_of_fd(int fd, char* path, size_t size) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, size - 1);
    path[length > 0 ? length : 0] = '\0';
}

static void hold_at_gate(const char* path) {
    if (!gate[0] || gate_passed || strncmp(path, under, strlen(under)) != 0) return;
    gate_passed = 1;
    char name[4200];
    snprintf(name, sizeof name, "%s/held-%d", gate, (int)getpid());
    close(creat(name, 0600));
    snprintf(name, sizeof name, "%s/open", gate);
    for (int i = 0; i < 30000 && access(name, F_OK) != 0; ++i) usleep(10000);
}

/* Whether a step of `kind` on `path` is to fail. */
static int fails(const char* kind, const char* path) {
    const size_t length = strlen(path), suffix = strlen(fail_suffix);
    return suffix > 0 && strcmp(kind, fail_setting) == 0 && length >= suffix &&
           strcmp(path + length - suffix, fail_suffix) == 0;
}

static int fail_with_eio(void) {
    errno = EIO;
    return -1;
}

static int fd_fails(int fd) {
    char path[4096];
    path_of_fd(fd, path, sizeof path);
    return fails("fsync", path);
}

/* Called after each step has been made. */
static void step(const char* kind, const char* path, int fd) {
    char fd_path[4096];
    if (!path) {
        path_of_fd(fd, fd_path, sizeof fd_path);
        path = fd_path;
    }
    if (log_file[0]) {
        char line[8300];
        const int length = snprintf(line, sizeof line, "%d %s %s\n", (int)getpid(), kind, path);
        int (*real_open)(const char*, int, ...) = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
        const int out = real_open(log_file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (out >= 0) {
            if (write(out, line, (size_t)length) < 0) { /* the log is best effort */ }
            close(out);
        }
    }
    hold_at_gate(path);
    if (++steps == kill_at) raise(SIGKILL);
}

static int writes(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT)) != 0; }
static int mode_writes(const char* mode) { return strpbrk(mode, "wa+") != NULL; }

/* `real`: the function of that name that this library hides. */
#define REAL(name)                 \
    static __typeof__(&name) real; \
    if (!real) real = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

/* `mode`: open's optional argument, there only when a file may be created. */
#define CREATION_MODE(flags)                 \
    mode_t mode = 0;                         \
    if ((flags) & (O_CREAT | O_TMPFILE)) {   \
        va_list args;                        \
        va_start(args, flags);               \
        mode = va_arg(args, mode_t);         \
        va_end(args);                        \
    }

#define OPEN(name)                                            \
    int name(const char* path, int flags, ...) {              \
        REAL(name);                                           \
        CREATION_MODE(flags);                                 \
        const int fd = real(path, flags, mode);               \
        if (fd >= 0 && writes(flags)) step("open", path, fd); \
        return fd;                                            \
    }
OPEN(open)
OPEN(open64)

#define OPENAT(name)                                          \
    int name(int dir, const char* path, int flags, ...) {     \
        REAL(name);                                           \
        CREATION_MODE(flags);                                 \
        const int fd = real(dir, path, flags, mode);          \
        if (fd >= 0 && writes(flags)) step("open", NULL, fd); \
        return fd;                                            \
    }
OPENAT(openat)
OPENAT(openat64)

#define FOPEN(name)                                            \
    FILE* name(const char* path, const char* mode) {           \
        REAL(name);                                            \
        FILE* file = real(path, mode);                         \
        if (file && mode_writes(mode)) step("open", path, -1); \
        return file;                                           \
    }
FOPEN(fopen)
FOPEN(fopen64)

int rename(const char* from, const char* to) {
    REAL(rename);
    if (fails("rename", from)) return fail_with_eio();
    const int result = real(from, to);
    if (result == 0) step("rename", to, -1);
    return result;
}

int renameat(int from_dir, const char* from, int to_dir, const char* to) {
    REAL(renameat);
    if (fails("rename", from)) return fail_with_eio();
    const int result = real(from_dir, from, to_dir, to);
    if (result == 0) step("rename", to, -1);
    return result;
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
    REAL(renameat2);
    if (fails("rename", from)) return fail_with_eio();
    const int result = real(from_dir, from, to_dir, to, flags);
    if (result == 0) step("rename", to, -1);
    return result;
}

int fsync(int fd) {
    REAL(fsync);
    if (fd_fails(fd)) return fail_with_eio();
    const int result = real(fd);
    step("fsync", NULL, fd);
    return result;
}

int fdatasync(int fd) {
    REAL(fdatasync);
    if (fd_fails(fd)) return fail_with_eio();
    const int result = real(fd);
    step("fsync", NULL, fd);
    return result;
}

#define REMOVE(name)                               \
    int name(const char* path) {                   \
        REAL(name);                                \
        const int result = real(path);             \
        if (result == 0) step("remove", path, -1); \
        return result;                             \
    }
REMOVE(remove)
REMOVE(unlink)
REMOVE(rmdir)

int unlinkat(int dir, const char* path, int flags) {
    REAL(unlinkat);
    const int result = real(dir, path, flags);
    if (result == 0) step("remove", path, -1);
    return result;
}
