#include "platform/datafile/lock_file.h"

#include "platform/datafile/file_aside.h"
#include "platform/datafile/users.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <dirent.h>
#include <functional>
#include <signal.h>
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
        case ENXIO: return "is a socket, not a lock file";
        default: return std::string(doing) + ": " + std::strerror(err);
    }
}

// What stands under the name of a lock file that is none: "a pipe (FIFO)" and so on.
std::string kind_words(mode_t mode) {
    if (S_ISFIFO(mode)) return "is a pipe (FIFO), not a lock file";
    if (S_ISSOCK(mode)) return "is a socket, not a lock file";
    if (S_ISDIR(mode)) return "is a folder, not a lock file";
    if (S_ISLNK(mode)) return "is a symbolic link, which is not used as a lock file";
    return "is a device, not a lock file";
}

// A name that holds what no lock can be taken on: said as it is, with the step that works
// (nothing holds it, so waiting never would).
LockFileOpened unusable(LockFileOpened o, int dirFd, const std::string& name) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return o;
    if (!S_ISREG(st.st_mode)) o.why = kind_words(st.st_mode);
    else if (st.st_nlink == 1) return o;
    o.next = {ui::Step::RemoveLockFile, {o.path, user_name(st.st_uid)}};
    return o;
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

// Whether this user may make the lock file: one who may take what it guards, or root.
bool may_make(const LockFileSpec& spec, const Wanted& w) {
    if (!spec.make || !w.known) return false;
    const uid_t me = ::geteuid();
    if (me == 0) return true;
    if (spec.kind == LockKind::OwnerOnly) return me == w.owner;
    return ::faccessat(AT_FDCWD, spec.guarded.c_str(), W_OK, AT_EACCESS) == 0;
}

// Whether this user may make the lock file of status `st` afresh.
bool may_fit(const LockFileSpec& spec, const Wanted& w, const struct stat& st) {
    if (spec.kind == LockKind::OwnerOnly && spec.refuseOtherOwner && st.st_uid != w.owner) return false;
    return may_make(spec, w);
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
        o.why = kind_words(st.st_mode);
        o.next = {ui::Step::RemoveLockFile, {o.path, user_name(st.st_uid)}};
    } else if (st.st_nlink == 0) {
        o.error = ESTALE;  // made afresh by another program since it was opened: opened again
        o.why = "was made afresh meanwhile";
    } else if (st.st_nlink != 1) {
        o.error = EMLINK;
        o.why = "has other names (hard links), so it is not used as a lock file";
        o.next = {ui::Step::RemoveLockFile, {o.path, user_name(st.st_uid)}};
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

// Takes on `fd` the lock that every program using a lock file of `kind` takes, excluding every
// one of them: a write lock over every byte (the presence byte too) of a data file's, an
// exclusive flock of the others. `shared`: the weaker lock that still excludes every writer (a
// read lock over every byte, a shared flock), which an outsider's read lock lets be had.
bool lock_old(int fd, LockKind kind, bool shared) {
    if (kind != LockKind::DataFile) return ::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0;
    struct flock fl {};
    fl.l_type = shared ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;  // to the end of every offset
    return ::fcntl(fd, F_SETLK, &fl) == 0;
}

std::function<void(RefitWindow)> g_refitHook;

// Clears what a refit killed midway left: "<name>.new<pid>" of a process that no longer runs,
// a regular file of one who may make the lock file (anything else is not this program's).
void clear_left_asides(int dirFd, const LockFileSpec& spec, const Wanted& w) {
    const int dup = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = dup < 0 ? nullptr : ::fdopendir(dup);
    if (!dir) {
        if (dup >= 0) ::close(dup);
        return;
    }
    const std::string prefix = spec.name + ".new";
    while (const dirent* e = ::readdir(dir)) {
        const std::string entry = e->d_name;
        if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = entry.substr(prefix.size());
        if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        if (pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        struct stat st {};
        if (::fstatat(dirFd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        const bool maker = st.st_uid == 0 || st.st_uid == w.owner ||
                           (spec.kind != LockKind::OwnerOnly && write_right(st.st_uid, w.guarded) == WriteRight::Yes);
        if (maker) ::unlinkat(dirFd, entry.c_str(), 0);
    }
    ::closedir(dir);
}

// Makes the lock file afresh under a name of its own and renames it over the one of status
// `old`, holding the old one's lock all the while: whoever locks the old file after finds its
// name gone, looks again and takes the new one. Never while one it is for holds the old one.
// The new descriptor, or -1 (left as it was; `held` says by whom when held).
int make_afresh(int dirFd, const LockFileSpec& spec, const Wanted& w, const struct stat& old, std::string& held) {
    if (held_by_entitled(spec, w, old.st_dev, old.st_ino, &held)) return -1;
    int oldFd = ::openat(dirFd, spec.name.c_str(), O_RDWR | kOpenFlags);
    if (oldFd < 0 && errno == EACCES) oldFd = ::openat(dirFd, spec.name.c_str(), O_RDONLY | kOpenFlags);
    // One this user cannot open cannot be locked. It is replaced only when it does not fit: then
    // every program that may take it and can open it makes it afresh under its lock rather than
    // lock it as it stands, so none holds it past its own look at its name (a look may, which
    // writes nothing). One that fits, held shut to this user alone (who writes by an ACL entry),
    // is left as it is.
    if (oldFd < 0 && (errno != EACCES || fits(spec, w, old))) return -1;
    struct CloseOld {
        int fd;
        ~CloseOld() {
            if (fd >= 0) ::close(fd);  // and with it the lock, only after the rename
        }
    } closeOld{oldFd};
    struct stat st {};
    if (oldFd >= 0 && (::fstat(oldFd, &st) != 0 || st.st_dev != old.st_dev || st.st_ino != old.st_ino)) return -1;
    if (oldFd >= 0 && !lock_old(oldFd, spec.kind, false)) {
        // Held. By one it is for: left as it is. By outsiders alone (a descriptor opened while it
        // was wider): replaced, under the weaker lock, which still keeps every writer off it.
        if (held_by_entitled(spec, w, old.st_dev, old.st_ino, &held) || lock_holders(old.st_dev, old.st_ino).empty()) {
            if (held.empty()) held = "another program";
            return -1;
        }
        (void)lock_old(oldFd, spec.kind, true);  // not had: an outsider holds it alone, and so nobody else
    }
    const std::string aside = spec.name + ".new" + std::to_string(::getpid());
    ::unlinkat(dirFd, aside.c_str(), 0);  // left by a program of this number killed midway
    const int fd = ::openat(dirFd, aside.c_str(), O_RDWR | O_CREAT | O_EXCL | kOpenFlags, w.mode);
    if (fd < 0) return -1;
    give(fd, spec, w);
    if (g_refitHook) g_refitHook(RefitWindow::BeforeRename);
    struct stat named {};
    if ((oldFd < 0 && held_by_entitled(spec, w, old.st_dev, old.st_ino, &held)) ||
        ::fstatat(dirFd, spec.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != old.st_dev ||
        named.st_ino != old.st_ino || ::renameat(dirFd, aside.c_str(), dirFd, spec.name.c_str()) != 0) {
        ::unlinkat(dirFd, aside.c_str(), 0);
        ::close(fd);
        return -1;
    }
    if (g_refitHook) g_refitHook(RefitWindow::AfterRename);
    return fd;
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
    if (may_make(spec, w)) clear_left_asides(dirFd, spec, w);
    // Made afresh by other programs again and again meanwhile (its mode changed by hand every few
    // milliseconds): tried again for as long as a lock is waited for.
    const auto deadline = std::chrono::steady_clock::now() + g_wait;
    for (int attempt = 0; attempt < 8 || std::chrono::steady_clock::now() < deadline; ++attempt) {
        if (attempt >= 8) std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
                if (auto r = checked(fd, true, o); r.error != ESTALE) return r;
                continue;
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
                if (auto r = checked(fresh, true, o); r.error != ESTALE) return r;
                continue;
            }
            if (fd < 0 && !held.empty()) {
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
                    if (auto r = checked(fd, false, o); r.error != ESTALE) return r;
                    o.writeWhy.clear();
                    continue;
                }
            }
            o.error = err;
            o.why = failure_text(err, "cannot be opened");
            return err == ELOOP || err == EISDIR || err == ENXIO ? unusable(o, dirFd, spec.name) : o;
        }
        // One of another owner that could not be made afresh is not used: its owner could let
        // anyone hold it. One its owner widened is used while a program of theirs holds it.
        if (spec.kind == LockKind::OwnerOnly && st.st_uid != w.owner) {
            ::close(fd);
            o.error = EPERM;
            o.why = "cannot be used (it must be a file of the folder's owner alone, with one link)";
            return o;
        }
        if (auto r = checked(fd, true, o); r.error != ESTALE) return r;
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
            failure.next = o.next;
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
void set_refit_hook_for_tests(std::function<void(RefitWindow)> hook) { g_refitHook = std::move(hook); }
std::chrono::milliseconds lock_wait() { return g_wait; }

}  // namespace dz::xio
