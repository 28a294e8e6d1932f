// A disk a test can fill: a tmpfs of a few kilobytes of its own, seen by one child process
// (and the programs it runs) in place of a folder.
#pragma once

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

namespace dz::testing_support {

namespace fs = std::filesystem;

// Runs `body` in a child process that sees `folder` (with what it holds) on a tmpfs of
// `kilobytes` of its own, gone with the child: the disk a test can fill (FillDiskOf). The child's
// failures are printed there. 0 when `body` passed, 77 when no such disk can be made here (no
// mount namespace for this user: skip), else 1. Close every data file first; `body` reopens.
inline int OnSmallDisk(const fs::path& folder, int kilobytes, const std::function<bool()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(77);
        const fs::path kept = folder.string() + ".kept";
        std::error_code ec;
        fs::copy(folder, kept, fs::copy_options::recursive, ec);
        const fs::perms perms = fs::status(folder, ec).permissions();
        const std::string size = "size=" + std::to_string(kilobytes) + "k";
        if (ec || ::mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) != 0) ::_exit(77);
        fs::permissions(folder, perms, ec);  // the folder as it was, but for its room
        fs::copy(kept, folder, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
        fs::remove_all(kept);
        if (ec) ::_exit(1);
        ::_exit(body() && !::testing::Test::HasFailure() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 1;
    return WEXITSTATUS(status);
}

}  // namespace dz::testing_support
