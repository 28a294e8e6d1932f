// What another user of a company sees: `body` runs in a child process that has become that user
// (root only can become one), and what it answers comes back to the test.
#pragma once

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace dz::testing_support {

// The text `body` answers as user `uid` of `groups` (the first its own group, the others those
// it is also a member of); "" when the child could not become that user or died.
inline std::string AnswerAs(uid_t uid, const std::vector<gid_t>& groups, const std::function<std::string()>& body) {
    int fds[2];
    if (groups.empty() || ::pipe(fds) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(groups.front()) != 0 || ::setuid(uid) != 0)
            ::_exit(100);
        const std::string text = body();
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) ::_exit(101);
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    return text;
}

// As user `uid` of group `gid`, its only group.
inline std::string AnswerAs(uid_t uid, gid_t gid, const std::function<std::string()>& body) {
    return AnswerAs(uid, std::vector<gid_t>{gid}, body);
}

}  // namespace dz::testing_support
