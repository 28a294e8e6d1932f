#include "platform/datafile/file_aside.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace dz::xio {

std::string with_slash(std::string folder) {
    if (folder.empty()) return "./";
    if (folder.back() != '/') folder += '/';
    return folder;
}

int sync_folder(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno ? errno : EIO;
    const int err = ::fsync(fd) == 0 ? 0 : (errno ? errno : EIO);
    ::close(fd);
    return err;
}

std::string aside_name(const std::string& target, int n) {
    return target + ".restore" + std::to_string(::getpid()) + (n > 0 ? "_" + std::to_string(n) : "");
}

bool parse_aside_name(const std::string& name, std::string& target, std::string& process) {
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() <= 9 && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
    };
    const auto at = name.rfind(".restore");
    if (at == std::string::npos || at == 0) return false;
    process = name.substr(at + 8);
    if (const auto under = process.find('_'); under != std::string::npos) {
        if (!digits(process.substr(under + 1))) return false;
        process.resize(under);
    }
    if (!digits(process)) return false;
    target = name.substr(0, at);
    return true;
}

int copy_bytes(int in, int out, StreamHash* hash) {
    std::vector<char> buf(1 << 16);
    for (off_t at = 0;;) {
        const ssize_t r = ::pread(in, buf.data(), buf.size(), at);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return errno ? errno : EIO;
        if (r == 0) return 0;
        at += r;
        if (hash) hash->Add(std::string_view(buf.data(), static_cast<std::size_t>(r)));
        for (ssize_t done = 0; done < r;) {
            const ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(r - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) return errno ? errno : EIO;
            done += w;
        }
    }
}

int write_aside(int in, const std::string& target, mode_t mode, Aside& aside, const AsideOwner* missing) {
    aside = Aside{};
    int out = -1;
    for (int n = 0; n < 100 && out < 0; ++n) {
        aside.path = aside_name(target, n);
        out = ::open(aside.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (out < 0 && errno != EEXIST) break;
    }
    if (out < 0) return errno ? errno : EEXIST;
    int err = copy_bytes(in, out, &aside.hash);
    // The owner and group first (a change of owner clears the set-ID bits a mode may give).
    AsideOwner wanted;
    bool want = false;
    if (struct stat st {}; ::lstat(target.c_str(), &st) == 0) {
        wanted = {st.st_uid, st.st_gid};
        want = true;
    } else if (missing) {
        wanted = *missing;
        want = true;
    }
    if (err == 0 && want && ::fchown(out, wanted.uid, wanted.gid) != 0) {
        // Not root: the group at least, when this user belongs to it.
        aside.groupKept = ::fchown(out, static_cast<uid_t>(-1), wanted.gid) == 0;
        aside.ownerKept = wanted.uid == ::geteuid();
    }
    if (err == 0 && ::fchmod(out, mode) != 0) err = errno;
    if (err == 0 && ::fsync(out) != 0) err = errno;
    if (::close(out) != 0 && err == 0) err = errno;
    if (err != 0) ::unlink(aside.path.c_str());
    return err;
}

}  // namespace dz::xio
