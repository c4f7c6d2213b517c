// albumora-peak-memory RESULT PROGRAM ARGS...: runs PROGRAM and writes its peak resident set in
// KiB to the file RESULT. The benchmarks cannot read a child's peak themselves: Linux carries the
// peak of the process that called exec over into the new program, so a child started from the
// large benchmark process would report at least the benchmark's own size. Started from this
// small program, it reports its own.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: albumora-peak-memory RESULT PROGRAM [ARGS...]\n");
        return 2;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("albumora-peak-memory: fork");
        return 2;
    }
    if (pid == 0) {
        execv(argv[2], argv + 2);
        std::fprintf(stderr, "albumora-peak-memory: cannot start %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("albumora-peak-memory: wait4");
        return 2;
    }
    if (FILE* f = std::fopen(argv[1], "w")) {
        std::fprintf(f, "%ld\n", usage.ru_maxrss);
        std::fclose(f);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
