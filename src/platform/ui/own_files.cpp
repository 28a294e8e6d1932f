#include "platform/ui/own_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::files {
namespace {

struct Claims {
    std::mutex mutex;
    std::map<std::string, int> fds;
};

Claims& claims() {
    static Claims c;
    return c;
}

}  // namespace

int create_new_file(const std::string& path, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool claim_new_file(const std::string& path, mode_t mode) {
    const int fd = create_new_file(path, mode);
    if (fd < 0) return false;
    std::lock_guard<std::mutex> lock(claims().mutex);
    auto [it, added] = claims().fds.emplace(path, fd);
    if (!added) {  // a second claim of a name this process already holds cannot happen: O_EXCL
        ::close(it->second);
        it->second = fd;
    }
    return true;
}

int take_claimed_file(const std::string& path) {
    std::lock_guard<std::mutex> lock(claims().mutex);
    auto it = claims().fds.find(path);
    if (it == claims().fds.end()) return -1;
    const int fd = it->second;
    claims().fds.erase(it);
    return fd;
}

void drop_claimed_file(const std::string& path) {
    const int fd = take_claimed_file(path);
    if (fd < 0) return;
    struct stat mine {}, named {};
    if (::fstat(fd, &mine) == 0 && mine.st_size == 0 && ::lstat(path.c_str(), &named) == 0 &&
        named.st_dev == mine.st_dev && named.st_ino == mine.st_ino)
        ::unlink(path.c_str());
    ::close(fd);
}

int open_output_file(const std::string& path, std::string& why) {
    // O_NONBLOCK: a FIFO planted under the name must not hold the program up.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        why = errno == ELOOP ? "it is a symbolic link" : std::string(std::strerror(errno));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "it is not a regular file";
    } else if (st.st_nlink > 1) {
        why = "it has other names (hard links)";
    } else {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        return fd;
    }
    ::close(fd);
    return -1;
}

namespace {

// A data file begins with the header of its storage engine.
bool BeginsAsDataFile(int fd) {
    static constexpr char kMagic[] = "SQLite format 3";  // with its closing NUL: 16 bytes
    char head[sizeof kMagic] = {};
    const ssize_t r = ::pread(fd, head, sizeof head, 0);
    return r == static_cast<ssize_t>(sizeof head) && std::memcmp(head, kMagic, sizeof head) == 0;
}

}  // namespace

namespace {

// A character device named as itself (/dev/null, a terminal): written as a stream, where there is
// no file to replace. A link to one is not taken, so nothing planted can lead a report there.
bool NamesCharacterDevice(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

}  // namespace

int open_report_file(const std::string& path, std::string& why) {
    if (NamesCharacterDevice(path)) {
        int fd;
        do {
            fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            return fd;
        }
        why = fd < 0 ? std::string(std::strerror(errno)) : "it is not a character device any more";
        if (fd >= 0) ::close(fd);
        return -1;
    }
    const int fd = open_output_file(path, why);
    if (fd < 0) return -1;
    if (BeginsAsDataFile(fd)) {
        why = "it is a data file";
    } else if (::ftruncate(fd, 0) != 0) {
        why = std::strerror(errno);
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

std::string report_file_refusal(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "";  // a new file
    if (S_ISCHR(st.st_mode)) return "";  // a device takes a stream and replaces nothing
    if (S_ISLNK(st.st_mode)) return "it is a symbolic link";
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (st.st_nlink > 1) return "it has other names (hard links)";
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "";  // the write will say why
    const bool data = BeginsAsDataFile(fd);
    ::close(fd);
    return data ? "it is a data file" : "";
}

bool same_file(int fd, const std::string& path) {
    struct stat a {}, b {};
    return ::fstat(fd, &a) == 0 && ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool write_all(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<std::size_t>(w);
    }
    return true;
}

std::string file_kind(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISREG(mode)) return "a file";
    return "not a file";
}

InputOpen open_input_file(const std::string& path, int& fd, std::string& what, unsigned long long* size) {
    fd = -1;
    what.clear();
    int f;
    do {
        f = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (f < 0 && errno == EINTR);
    if (f < 0) {
        const int err = errno;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            what = file_kind(st.st_mode);
            return InputOpen::NotRegular;
        }
        what = std::strerror(err);
        return InputOpen::CannotOpen;
    }
    struct stat st {};
    if (::fstat(f, &st) != 0) {
        what = std::strerror(errno);
        ::close(f);
        return InputOpen::CannotOpen;
    }
    if (!S_ISREG(st.st_mode)) {
        what = file_kind(st.st_mode);
        ::close(f);
        return InputOpen::NotRegular;
    }
    // A regular file never blocks; reads go on as usual.
    const int flags = ::fcntl(f, F_GETFL);
    if (flags >= 0) (void)::fcntl(f, F_SETFL, flags & ~O_NONBLOCK);
    if (size) *size = static_cast<unsigned long long>(st.st_size);
    fd = f;
    return InputOpen::Ok;
}

HeadRead read_file_head(const std::string& path, std::size_t limit, std::string& out) {
    out.clear();
    int fd = -1;
    std::string what;
    const InputOpen opened = open_input_file(path, fd, what);
    if (opened != InputOpen::Ok) return opened == InputOpen::NotRegular ? HeadRead::NotRegular : HeadRead::CannotOpen;
    out.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t r = ::read(fd, out.data() + got, limit - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            ::close(fd);
            out.clear();
            return HeadRead::CannotOpen;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    out.resize(got);
    ::close(fd);
    return HeadRead::Ok;
}

bool replace_file_atomically(const std::string& path, std::string_view bytes, mode_t mode, std::string& why,
                             const KeepRights& keep) {
    const std::string aside = path + ".new";
    // A leftover aside of a crashed write, or a name someone planted: unlink removes a link
    // itself, never what it points to.
    ::unlink(aside.c_str());
    const int fd = create_new_file(aside, mode);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    // The file replaced keeps its permissions and its group (root: its owner too): in a company
    // shared by a group, a save under this user's umask or primary group must not shut the
    // others out.
    struct stat was {};
    int err = 0;
    if (::stat(path.c_str(), &was) == 0 && S_ISREG(was.st_mode)) {
        if (keep) {
            err = keep(fd, was);
        } else {
            ::fchmod(fd, was.st_mode & 0777);
            // A group this user is not in stays this user's.
            (void)!::fchown(fd, ::geteuid() == 0 ? was.st_uid : static_cast<uid_t>(-1), was.st_gid);
        }
    }
    bool ok = err == 0 && write_all(fd, bytes);
    if (!ok && err == 0) err = errno;
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        err = errno;
    }
    ::close(fd);
    if (ok && ::rename(aside.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(aside.c_str());
        why = std::strerror(err ? err : EIO);
        errno = err ? err : EIO;  // the caller may tell a full disk from other failures
    }
    return ok;
}

bool append_to_file(const std::string& path, std::string_view text, mode_t mode, const std::string& sharedLike) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st {};
    const bool plain = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
    // Made by one user of a shared folder under a umask that drops the group's write, the file
    // would take the others' lines away from them without a word: it is fitted to its model.
    if (struct stat like {}; plain && !sharedLike.empty() && st.st_uid == ::geteuid() && ::stat(sharedLike.c_str(), &like) == 0) {
        if (st.st_gid != like.st_gid) (void)::fchown(fd, static_cast<uid_t>(-1), like.st_gid);
        const mode_t want = (like.st_mode & 0666) | 0600;
        if ((st.st_mode & 07777) != want) (void)::fchmod(fd, want);
    }
    const bool ok = plain && write_all(fd, text);
    ::close(fd);
    return ok;
}

}  // namespace dz::files
