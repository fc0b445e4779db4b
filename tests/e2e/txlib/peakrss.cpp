// Runs a command and writes the peak resident memory it used, in KiB, to a
// file: peakrss FILE COMMAND [ARGUMENTS...]. Its exit status is the
// command's (127 when it could not be started, 128 + N after signal N).
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: peakrss FILE COMMAND [ARGUMENTS...]\n");
        return 2;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::perror("peakrss: fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::perror("peakrss: exec");
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(child, &status, 0, &usage) != child) {
        std::perror("peakrss: wait");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out || std::fprintf(out, "%ld\n", usage.ru_maxrss) < 0 || std::fclose(out) != 0) {
        std::perror("peakrss: cannot write the result");
        return 2;
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
