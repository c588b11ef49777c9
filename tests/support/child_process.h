// Runs a piece of a test in a forked child process, as another program that shares the
// files would, and gives its exit status.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

namespace fetchora::testing {

// Runs body in a child process and returns its exit status (99 when body raised, -1 when
// the child did not exit normally).
template <typename Body> int inChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int status = 1;
        try {
            status = body();
        } catch (...) {
            status = 99;
        }
        ::_exit(status);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace fetchora::testing
