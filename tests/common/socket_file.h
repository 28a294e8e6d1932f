// A Unix socket in the file system, as tests plant one where the program expects a file.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace dz::testing_support {

// Makes a socket at `path`, however long the path: a socket's address holds some hundred bytes
// only, so it is bound through its folder's descriptor (/proc/self/fd/N/name). False when none
// was made.
inline bool MakeSocketFile(const std::filesystem::path& path) {
    const int dir = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    const std::string at = "/proc/self/fd/" + std::to_string(dir) + "/" + path.filename().string();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    bool made = at.size() < sizeof addr.sun_path;
    if (made) {
        std::memcpy(addr.sun_path, at.c_str(), at.size() + 1);
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        made = s >= 0 && ::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
        if (s >= 0) ::close(s);
    }
    ::close(dir);
    return made;
}

}  // namespace dz::testing_support
