// A file's or folder's immutable attribute (chattr +i), for tests of every layer that meet what
// only an administrator lifts.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>

namespace dz::testing_support {

// Sets or clears a file's or folder's immutable flag (root only); false where its file system has none.
inline bool SetImmutable(const std::filesystem::path& file, bool on) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

}  // namespace dz::testing_support
