// Crash points for the crash writer. A kill from outside lands on a random instruction; the
// moments that decide crash safety are the gaps between two writes, and some of them last a
// microsecond. With ALBUMORA_CRASH_AT=N in its environment the writer kills itself just before
// its N-th write, rename, delete or sync of a file, so that every such gap can be hit on purpose.
//
// These definitions take the place of the C library's in this program only (the engine's calls
// bind to them when the program is linked); each passes on to the next definition, which is the
// C library's or a sanitizer's.
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

long crashAt() {
    static const long at = [] {
        const char* v = getenv("ALBUMORA_CRASH_AT");
        return v ? strtol(v, nullptr, 10) : 0L;
    }();
    return at;
}

long count = 0;

// With ALBUMORA_CRASH_COUNT set, a writer that ends by itself says how many crash points it
// passed, so that a test can visit each of them.
struct CountAtExit {
    ~CountAtExit() {
        if (!getenv("ALBUMORA_CRASH_COUNT")) return;
        char line[64];
        const int n = snprintf(line, sizeof line, "crash points: %ld\n", count);
        if (n > 0) {
            ssize_t ignored = write(2, line, size_t(n));
            (void)ignored;
        }
    }
} countAtExit;

// With ALBUMORA_FAIL_AT=N (and no crash point) the N-th call fails instead, with the errno of
// ALBUMORA_FAIL_ERRNO (ENOSPC unless set); with ALBUMORA_FAIL_STICKY=1 every call from the N-th
// on fails, as on a disk that is full for good.
long failAt() {
    static const long at = [] {
        const char* v = getenv("ALBUMORA_FAIL_AT");
        return v ? strtol(v, nullptr, 10) : 0L;
    }();
    return at;
}

int failErrno() {
    static const int e = [] {
        const char* v = getenv("ALBUMORA_FAIL_ERRNO");
        return v ? int(strtol(v, nullptr, 10)) : ENOSPC;
    }();
    return e;
}

bool sticky() {
    static const bool s = getenv("ALBUMORA_FAIL_STICKY") != nullptr;
    return s;
}

// True when this call is to fail; the caller sets errno and returns -1.
bool failHere() {
    const long at = failAt();
    if (at <= 0) return false;
    if (count == at || (sticky() && count > at)) {
        if (count == at) {
            char line[96];
            const int n = snprintf(line, sizeof line, "failure point %ld\n", count);
            if (n > 0) {
                ssize_t ignored = write(2, line, size_t(n));
                (void)ignored;
            }
        }
        return true;
    }
    return false;
}

// With ALBUMORA_PAUSE_AT=N the writer sleeps ALBUMORA_PAUSE_MS (1000 unless set) just before
// its N-th crash point, saying so on stderr first: another process can act in that gap.
long pauseAt() {
    static const long at = [] {
        const char* v = getenv("ALBUMORA_PAUSE_AT");
        return v ? strtol(v, nullptr, 10) : 0L;
    }();
    return at;
}

void pauseHere() {
    const char* v = getenv("ALBUMORA_PAUSE_MS");
    const long ms = v ? strtol(v, nullptr, 10) : 1000L;
    char line[64];
    const int n = snprintf(line, sizeof line, "pause point %ld\n", count);
    if (n > 0) {
        ssize_t ignored = write(2, line, size_t(n));
        (void)ignored;
    }
    usleep(useconds_t(ms) * 1000);
}

void crashPoint(const char* call, long a, long b) {
    ++count;
    if (pauseAt() > 0 && count == pauseAt()) pauseHere();
    if (count != crashAt() || crashAt() <= 0) return;
    char line[160];
    const int n = snprintf(line, sizeof line, "crash point %ld: before %s(%ld, %ld)\n", count, call, a, b);
    if (n > 0) {
        ssize_t ignored = write(2, line, size_t(n));
        (void)ignored;
    }
    kill(getpid(), SIGKILL);
}

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
    static auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    crashPoint("pwrite", long(offset), long(n));
    if (failHere()) return errno = failErrno(), -1;
    return real(fd, buf, n, offset);
}

int rename(const char* from, const char* to) {
    static auto real = next<int (*)(const char*, const char*)>("rename");
    crashPoint("rename", 0, 0);
    if (failHere()) return errno = failErrno(), -1;
    return real(from, to);
}

int unlink(const char* path) {
    static auto real = next<int (*)(const char*)>("unlink");
    crashPoint("unlink", 0, 0);
    if (failHere()) return errno = failErrno(), -1;
    return real(path);
}

int fdatasync(int fd) {
    static auto real = next<int (*)(int)>("fdatasync");
    crashPoint("fdatasync", fd, 0);
    if (failHere()) return errno = failErrno(), -1;
    return real(fd);
}

int fsync(int fd) {
    static auto real = next<int (*)(int)>("fsync");
    crashPoint("fsync", fd, 0);
    if (failHere()) return errno = failErrno(), -1;
    return real(fd);
}

int ftruncate(int fd, off_t length) {
    static auto real = next<int (*)(int, off_t)>("ftruncate");
    crashPoint("ftruncate", fd, long(length));
    if (failHere()) return errno = failErrno(), -1;
    return real(fd, length);
}

}  // extern "C"
