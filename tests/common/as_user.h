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

// Why user nobody cannot reach every one of `paths` (a folder above one closed to others, as a
// checkout in a folder only its owner may enter is): what a test that runs the program as another
// user needs. "" when each can be read.
inline std::string UnreachableToOthers(const std::vector<std::string>& paths) {
    const std::string first = AnswerAs(65534, 65534, [&] {
        for (const std::string& p : paths)
            if (::access(p.c_str(), R_OK) != 0) return p;
        return std::string("-");
    });
    if (first == "-") return {};
    return "other users cannot reach " + (first.empty() ? paths.front() : first) + ", where the tests were built";
}

}  // namespace dz::testing_support

// Skips a test that runs the program as other users where they cannot reach it or its data.
#define DZ_SKIP_UNLESS_OTHERS_REACH(...)                                                                        \
    if (const std::string dzUnreached = ::dz::testing_support::UnreachableToOthers(                            \
            {DZ_SOURCE_DATA_DIR "/messages/messages.toml" __VA_OPT__(, ) __VA_ARGS__});                         \
        !dzUnreached.empty())                                                                                   \
    GTEST_SKIP() << dzUnreached
