// Waiting for a child process with a time limit, for every test that starts one.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>

#include "support/wait_until.h"

// Waits for the child `pid` to end, for at most `limit`; a child that overruns is killed
// (SIGKILL) and reaped. Returns its wait status (for WIFEXITED and the like), or nothing when it
// had to be killed or could not be waited for. The end is awaited as an event on a pidfd where
// the kernel has them; elsewhere waitpid is asked every few milliseconds until the limit.
inline std::optional<int> waitForChild(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
#ifdef SYS_pidfd_open
    if (const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); fd >= 0) {
        pollfd ended{fd, POLLIN, 0};
        int ready;
        do {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            ready = poll(&ended, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        } while (ready < 0 && errno == EINTR);
        close(fd);
        if (ready > 0 && waitpid(pid, &status, 0) == pid) return status;
    } else
#endif
    {
        pid_t done = 0;
        waitUntil([&] { return (done = waitpid(pid, &status, WNOHANG)) != 0; },
                  std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now()),
                  std::chrono::milliseconds(10));
        if (done == pid) return status;
        if (done < 0) return std::nullopt;
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return std::nullopt;
}
