#include "platform/datafile/lock_file.h"

#include "platform/datafile/locks.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace dz::xio {
namespace {

std::chrono::milliseconds g_wait{10000};

constexpr int kOpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

std::string failure_text(int err, const char* doing) {
    switch (err) {
        case ELOOP: return "is a symbolic link, which is not used as a lock file";
        case EISDIR: return "is a folder, not a lock file";
        default: return std::string(doing) + ": " + std::strerror(err);
    }
}

// What the lock file must be: its mode, owner and group, fixed from what it guards.
struct Wanted {
    mode_t mode = 0600;
    uid_t owner = 0;
    gid_t group = 0;
    struct stat guarded {};
    bool known = false;  // what it guards stands: an existing lock file may be judged by it
};

Wanted wanted_of(const LockFileSpec& spec, int dirFd) {
    Wanted w;
    struct stat folder {};
    const bool folderKnown = ::fstat(dirFd, &folder) == 0;
    if (spec.kind == LockKind::OwnerOnly) {
        w.owner = folder.st_uid;
        w.group = folder.st_gid;
        w.guarded = folder;
        w.known = folderKnown;
        return w;
    }
    struct stat& g = w.guarded;
    if (::stat(spec.guarded.c_str(), &g) == 0) {
        w.known = true;
    } else if (folderKnown) {
        // Made before what it guards: until it is fitted, whoever may make files in the
        // folder may use it.
        g = folder;
    } else {
        g.st_mode = 0600;
        g.st_uid = ::geteuid();
        g.st_gid = ::getegid();
    }
    if (spec.kind == LockKind::DataFile) {
        w.mode = 0600 | (g.st_mode & 0066);
    } else {
        if (g.st_mode & S_IWGRP) w.mode |= 0060;
        if (g.st_mode & S_IWOTH) w.mode |= 0006;
    }
    w.owner = ::geteuid() == 0 ? g.st_uid : ::geteuid();
    w.group = g.st_gid;
    return w;
}

// Whether a lock file of status `st` is as `w` wants it.
bool fits(const LockFileSpec& spec, const Wanted& w, const struct stat& st) {
    if ((st.st_mode & 07777) != w.mode) return false;
    if (spec.kind == LockKind::OwnerOnly) return st.st_uid == w.owner;
    if (st.st_uid != w.guarded.st_uid && write_right(st.st_uid, w.guarded) != WriteRight::Yes) return false;
    return (w.mode & 0070) == 0 || st.st_gid == w.group;
}

// Whether this user may make the lock file afresh: one who may take what it guards, or root.
bool may_fit(const LockFileSpec& spec, const Wanted& w, const struct stat& st) {
    if (!spec.make || !w.known) return false;
    if (spec.kind == LockKind::OwnerOnly && spec.refuseOtherOwner && st.st_uid != w.owner) return false;
    const uid_t me = ::geteuid();
    if (me == 0) return true;
    if (spec.kind == LockKind::OwnerOnly) return me == w.owner;
    return ::faccessat(AT_FDCWD, spec.guarded.c_str(), W_OK, AT_EACCESS) == 0;
}

// Whether a holder of the lock file is one of those it is for (this program, root, the
// folder's owner, one who may write what it guards; one whose user cannot be seen counts too).
bool entitled(const LockFileSpec& spec, const Wanted& w, const LockHolder& h) {
    if (h.pid == ::getpid() || !h.uidKnown || h.uid == 0) return true;
    if (spec.kind == LockKind::OwnerOnly) return h.uid == w.owner;
    const struct stat& g = w.guarded;
    if (h.uid == g.st_uid) return g.st_mode & S_IWUSR;
    if (std::find(h.groups.begin(), h.groups.end(), g.st_gid) != h.groups.end()) return g.st_mode & S_IWGRP;
    return g.st_mode & S_IWOTH;
}

bool held_by_entitled(const LockFileSpec& spec, const Wanted& w, dev_t dev, ino_t ino, std::string* who = nullptr) {
    for (const auto& h : lock_holders(dev, ino))
        if (entitled(spec, w, h)) {
            if (who) *who = h.words();
            return true;
        }
    return false;
}

// A descriptor just opened, kept only when it is a regular file of one link: a pipe would
// never answer a lock, and a second name could tie the locks of another file to these.
LockFileOpened checked(int fd, bool writable, LockFileOpened o) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        o.error = errno;
        o.why = failure_text(o.error, "cannot be examined");
    } else if (!S_ISREG(st.st_mode)) {
        o.error = EINVAL;
        o.why = "is not a regular file (a pipe, a device or a socket)";
    } else if (st.st_nlink != 1) {
        o.error = EMLINK;
        o.why = "has other names (hard links), so it is not used as a lock file";
    } else {
        o.fd = fd;
        o.writable = writable;
        o.dev = st.st_dev;
        o.ino = st.st_ino;
        return o;
    }
    ::close(fd);
    return o;
}

// Gives a file just made its mode, and its owner and group as `w` wants them.
void give(int fd, const LockFileSpec& spec, const Wanted& w) {
    ::fchmod(fd, w.mode);  // past the umask
    const uid_t me = ::geteuid();
    if (me == 0 || (spec.kind == LockKind::OwnerOnly && me != w.owner))
        (void)!::fchown(fd, w.owner, w.group);
    else if ((w.mode & 0070) != 0)
        (void)!::fchown(fd, static_cast<uid_t>(-1), w.group);  // a group this user is not in stays as it was
}

// Makes the lock file afresh under a name of its own and renames it over the one of status
// `old` (never while one it is for holds that one). The new descriptor, or -1 (left as it was).
int make_afresh(int dirFd, const LockFileSpec& spec, const Wanted& w, const struct stat& old, std::string& held) {
    if (held_by_entitled(spec, w, old.st_dev, old.st_ino, &held)) return -1;
    const std::string aside = spec.name + ".new" + std::to_string(::getpid());
    ::unlinkat(dirFd, aside.c_str(), 0);  // left by a program of this number killed midway
    const int fd = ::openat(dirFd, aside.c_str(), O_RDWR | O_CREAT | O_EXCL | kOpenFlags, w.mode);
    if (fd < 0) return -1;
    give(fd, spec, w);
    if (held_by_entitled(spec, w, old.st_dev, old.st_ino, &held) ||
        ::renameat(dirFd, aside.c_str(), dirFd, spec.name.c_str()) != 0) {
        ::unlinkat(dirFd, aside.c_str(), 0);
        ::close(fd);
        return -1;
    }
    // One that locked the old file in between finds its name gone (see take_lock_file) and
    // lets it go: it is waited for.
    const auto deadline = std::chrono::steady_clock::now() + g_wait;
    while (held_by_entitled(spec, w, old.st_dev, old.st_ino, &held)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return -2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return fd;
}

std::string with_slash(std::string folder) {
    if (folder.empty()) folder = ".";
    if (folder.back() != '/') folder += '/';
    return folder;
}

// A lock file that fits but is held only by outsiders (a descriptor opened while it was wider,
// before it was narrowed): made afresh, so that their lock holds nothing. The new descriptor,
// or -1 when it is not for this user to do, or one it is for holds it.
int afresh_from_outsiders(const LockFileSpec& spec, dev_t dev, ino_t ino) {
    if (!spec.make) return -1;
    int dirFd = spec.dirFd;
    int ownDir = -1;
    if (dirFd < 0 && (dirFd = ownDir = ::open(with_slash(spec.folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0)
        return -1;
    int fd = -1;
    struct stat st {};
    const Wanted w = wanted_of(spec, dirFd);
    std::string held;
    if (::fstatat(dirFd, spec.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == dev && st.st_ino == ino &&
        may_fit(spec, w, st))
        fd = make_afresh(dirFd, spec, w, st, held);
    if (ownDir >= 0) ::close(ownDir);
    return fd < 0 ? -1 : fd;
}

}  // namespace

LockFileOpened open_lock_file(const LockFileSpec& spec) {
    LockFileOpened o;
    o.path = with_slash(spec.folder) + spec.name;
    int dirFd = spec.dirFd;
    int ownDir = -1;
    if (dirFd < 0) {
        ownDir = ::open(with_slash(spec.folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (ownDir < 0) {
            o.error = errno;
            o.why = failure_text(o.error, "cannot be opened");
            return o;
        }
        dirFd = ownDir;
    }
    struct CloseDir {
        int fd;
        ~CloseDir() {
            if (fd >= 0) ::close(fd);
        }
    } closeDir{ownDir};
    const Wanted w = wanted_of(spec, dirFd);
    const char* name = spec.name.c_str();
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::openat(dirFd, name, O_RDWR | kOpenFlags);
        int err = fd < 0 ? errno : 0;
        if (fd < 0 && err == ENOENT) {
            if (!spec.make || !spec.create) {
                o.error = ENOENT;
                o.why = failure_text(ENOENT, "cannot be opened");
                return o;
            }
            fd = ::openat(dirFd, name, O_RDWR | O_CREAT | O_EXCL | kOpenFlags, w.mode);
            if (fd >= 0) {
                give(fd, spec, w);
                return checked(fd, true, o);
            }
            if (errno == EEXIST) continue;  // made meanwhile by another program: opened as it stands
            o.error = errno;
            o.why = failure_text(o.error, "cannot be made");
            return o;
        }
        struct stat st {};
        if (fd >= 0 ? ::fstat(fd, &st) != 0 : ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (fd >= 0) ::close(fd);
            if (errno == ENOENT) continue;
            o.error = errno;
            o.why = failure_text(o.error, "cannot be examined");
            return o;
        }
        // Too wide, too narrow (this user may not open it), or of the wrong owner: made afresh.
        if (S_ISREG(st.st_mode) && st.st_nlink == 1 && (fd < 0 || !fits(spec, w, st)) && may_fit(spec, w, st)) {
            std::string held;
            const int fresh = make_afresh(dirFd, spec, w, st, held);
            if (fresh >= 0) {
                if (fd >= 0) ::close(fd);
                return checked(fresh, true, o);
            }
            if (fresh == -2 || (fd < 0 && !held.empty())) {
                if (fd >= 0) ::close(fd);
                o.error = EWOULDBLOCK;
                o.why = "is held by " + held;
                return o;
            }
        }
        if (fd < 0) {
            if (!spec.mustWrite && (err == EACCES || err == EROFS)) {
                fd = ::openat(dirFd, name, O_RDONLY | kOpenFlags);
                if (fd >= 0) {
                    o.writeWhy = failure_text(err, "cannot be opened for writing");
                    return checked(fd, false, o);
                }
            }
            o.error = err;
            o.why = failure_text(err, "cannot be opened");
            return o;
        }
        // One of another owner that could not be made afresh is not used: its owner could let
        // anyone hold it. One its owner widened is used while a program of theirs holds it.
        if (spec.kind == LockKind::OwnerOnly && st.st_uid != w.owner) {
            ::close(fd);
            o.error = EPERM;
            o.why = "cannot be used (it must be a file of the folder's owner alone, with one link)";
            return o;
        }
        return checked(fd, true, o);
    }
    o.error = EAGAIN;
    o.why = "cannot be made: it keeps appearing and going";
    return o;
}

std::string process_words(pid_t pid) {
    std::string who = "process " + std::to_string(pid);
    struct stat st {};
    if (::stat(("/proc/" + std::to_string(pid)).c_str(), &st) == 0) {
        std::string name;
        gid_t group = 0;
        who += " of user " + (find_user(st.st_uid, name, group) ? name : std::to_string(st.st_uid));
    }
    return who;
}

std::string LockHolder::words() const {
    if (!uidKnown) return "process " + std::to_string(pid);
    std::string name;
    gid_t group = 0;
    return "process " + std::to_string(pid) + " of user " + (find_user(uid, name, group) ? name : std::to_string(uid));
}

std::vector<LockHolder> lock_holders(dev_t dev, ino_t ino) {
    std::vector<LockHolder> holders;
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:10952970 0 EOF"; a waiter's line has "->".
        std::istringstream fields(line);
        std::string id, kind, advisory, type, pid, where;
        if (!(fields >> id >> kind) || kind == "->") continue;
        if (!(fields >> advisory >> type >> pid >> where)) continue;
        unsigned maj = 0, min = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &maj, &min, &inode) != 3) continue;
        if (::makedev(maj, min) != dev || inode != static_cast<unsigned long long>(ino)) continue;
        LockHolder h;
        h.pid = static_cast<pid_t>(std::strtol(pid.c_str(), nullptr, 10));
        if (h.pid <= 0) continue;
        h.shared = type == "READ";
        // Its own credentials (a user of no account, groups given it alone), as it runs.
        std::ifstream status("/proc/" + pid + "/status");
        for (std::string field; std::getline(status, field);) {
            std::istringstream values(field);
            std::string key;
            values >> key;
            if (key == "Uid:") {
                unsigned long real = 0, effective = 0;
                h.uidKnown = static_cast<bool>(values >> real >> effective);
                h.uid = static_cast<uid_t>(effective);
            } else if (key == "Gid:" || key == "Groups:") {
                unsigned long gid = 0, effective = 0;
                if (key == "Gid:" && values >> gid >> effective) h.groups.push_back(static_cast<gid_t>(effective));
                while (key == "Groups:" && values >> gid) h.groups.push_back(static_cast<gid_t>(gid));
            }
        }
        holders.push_back(h);
    }
    return holders;
}

int take_lock_file(const LockFileSpec& spec, bool exclusive, LockWaitFailure& failure) {
    const auto deadline = std::chrono::steady_clock::now() + g_wait;
    for (;;) {
        LockFileOpened o = open_lock_file(spec);
        if (o.fd < 0) {
            failure.error = o.error;
            failure.cause = "the lock file " + o.path + " " + o.why;
            if (o.error == EWOULDBLOCK) {
                failure.holder = o.why.substr(std::string("is held by ").size());
                failure.next = {ui::Step::AgainWhenFinished, {failure.holder}};
            }
            return -1;
        }
        for (bool looked = false;; looked = true) {
            if (::flock(o.fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) break;
            if (errno == EWOULDBLOCK && !looked) {
                if (const int fresh = afresh_from_outsiders(spec, o.dev, o.ino); fresh >= 0) {
                    ::close(o.fd);
                    o.fd = fresh;
                    struct stat st {};
                    ::fstat(fresh, &st);
                    o.dev = st.st_dev;
                    o.ino = st.st_ino;
                    continue;
                }
                errno = EWOULDBLOCK;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                failure.error = errno;
                failure.cause = "the lock file " + o.path + " cannot be locked: " + std::strerror(errno);
                ::close(o.fd);
                return -1;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                const auto holders = lock_holders(o.dev, o.ino);
                ::close(o.fd);
                failure.error = EWOULDBLOCK;
                failure.cause = "the lock file " + o.path + " is held by ";
                if (holders.empty()) {
                    failure.cause += "another program";
                } else {
                    failure.holder = holders.front().words();
                    failure.cause += failure.holder + (holders.front().shared ? ", a program reading it" : "");
                }
                failure.next = {ui::Step::AgainWhenFinished, {}};
                if (!failure.holder.empty()) failure.next.args.push_back(failure.holder);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // Made afresh by another program while this one waited: the lock is on a file nobody
        // else will look at any more.
        struct stat now {};
        const std::string path = o.path;
        if (::lstat(path.c_str(), &now) == 0 && now.st_dev == o.dev && now.st_ino == o.ino) return o.fd;
        ::close(o.fd);
    }
}

void set_lock_wait_for_tests(std::chrono::milliseconds wait) { g_wait = wait; }
std::chrono::milliseconds lock_wait() { return g_wait; }

}  // namespace dz::xio
