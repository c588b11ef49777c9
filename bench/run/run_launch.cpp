// The measuring launcher of the transfer-run benchmark: starts one command as its child,
// waits for it (killing it after a time limit) and writes the child's wall time, peak
// resident size (ru_maxrss from wait4) and exit status to a result file. It is a small
// program of its own because a child's ru_maxrss is never below the resident size of the
// process that started it: started from here, that floor is about a megabyte.
//
// usage: run_bench_launch RESULT_FILE TIMEOUT_SECONDS COMMAND [ARGS...]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double now() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int openPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: run_bench_launch RESULT_FILE TIMEOUT_SECONDS COMMAND [ARGS...]\n");
        return 2;
    }
    const char* resultFile = argv[1];
    const double timeout = std::atof(argv[2]);
    char** command = argv + 3;

    const double start = now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("run_bench_launch: fork");
        return 1;
    }
    if (pid == 0) {
        ::execvp(command[0], command);
        std::fprintf(stderr, "run_bench_launch: cannot start %s: %s\n", command[0],
                     std::strerror(errno));
        ::_exit(127);
    }

    // The child's end is awaited through a pidfd when the kernel has them, so that its
    // wall time is taken the moment it ends; otherwise by polling every millisecond.
    const int pidfd = openPidFd(pid);
    const double deadline = start + timeout;
    int status = 0;
    rusage usage{};
    bool timedOut = false;
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR) {
            std::perror("run_bench_launch: wait4");
            return 1;
        }
        const double remaining = deadline - now();
        if (remaining <= 0) {
            std::fprintf(stderr, "run_bench_launch: %s did not end within %.0f s; stopped\n",
                         command[0], timeout);
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            timedOut = true;
            break;
        }
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>((remaining < 1.0 ? remaining : 1.0) * 1000) + 1);
        } else {
            ::usleep(1000);
        }
    }
    const double seconds = now() - start;
    if (pidfd >= 0)
        ::close(pidfd);

    const bool ok = !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok && !timedOut)
        std::fprintf(stderr, "run_bench_launch: %s ended with status %d\n", command[0],
                     WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    std::FILE* out = std::fopen(resultFile, "w");
    if (out == nullptr) {
        std::perror("run_bench_launch: result file");
        return 1;
    }
    std::fprintf(out, "%.6f %ld %d\n", seconds, usage.ru_maxrss, ok ? 1 : 0);
    std::fclose(out);
    return 0;
}
