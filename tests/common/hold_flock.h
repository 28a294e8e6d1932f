// Another program holding a lock file, for tests of every layer: a child process that holds an
// exclusive flock on it until it is killed (KillHolder).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace dz::testing_support {

// The child makes `file` (mode 0600) when it is missing, takes the lock, and then, when `uid` is
// given (which needs root), becomes that user, its own group too: a holder of another user, who
// opened it while it was open to them. -1 when it could not.
inline pid_t HoldFlockInChild(const std::filesystem::path& file, uid_t uid = static_cast<uid_t>(-1)) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        const bool became = uid == static_cast<uid_t>(-1) || (::setgid(uid) == 0 && ::setuid(uid) == 0);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 && became ? '1' : '0';
        (void)!::write(fds[1], &ok, 1);
        for (;;) ::pause();
    }
    ::close(fds[1]);
    char ok = 0;
    const bool ready = child > 0 && ::read(fds[0], &ok, 1) == 1 && ok == '1';
    ::close(fds[0]);
    if (!ready && child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    return ready ? child : -1;
}

inline void KillHolder(pid_t holder) {
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
}

}  // namespace dz::testing_support
