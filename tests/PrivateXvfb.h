#pragma once
// A private Xvfb for tests that draw. Xvfb picks a free display itself and
// writes its number to a pipe, so parallel test processes never race for a
// display number; it dies with the test process, however that ends.

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

#include <csignal>
#include <string>

// The server's process id, or -1; *display receives ":N".
inline pid_t StartPrivateXvfb(std::string* display)
{
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        close(fds[0]);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // Its notes on display numbers already taken are of no interest.
        int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, STDERR_FILENO);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return child; // started, but gave no display: the caller stops it
    *display = ":" + number;
    return child;
}
