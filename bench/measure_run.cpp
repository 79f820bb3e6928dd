// measure-run FOLDER PROGRAM [ARGUMENT...]: runs PROGRAM in FOLDER with
// standard input and output on /dev/null and prints "<wall seconds> <peak
// resident KiB>". vfork starts it without a copy of this process, so the peak
// is the program's own.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: measure-run FOLDER PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    const int null_in = open("/dev/null", O_RDONLY);
    const int null_out = open("/dev/null", O_WRONLY);
    if (null_in < 0 || null_out < 0) return 2;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = vfork();
    if (child == 0) {
        if (chdir(argv[1]) != 0 || dup2(null_in, 0) < 0 || dup2(null_out, 1) < 0) _exit(127);
        execv(argv[2], argv + 2);
        _exit(127);
    }
    if (child < 0) return 2;
    int status = 0;
    struct rusage usage {};
    if (wait4(child, &status, 0, &usage) != child) return 2;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%.6f %ld\n", elapsed.count(), usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
