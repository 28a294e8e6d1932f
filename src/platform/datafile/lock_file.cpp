#include "platform/datafile/lock_file.h"

#include "platform/datafile/access_list.h"
#include "platform/datafile/file_aside.h"
#include "platform/datafile/made_file.h"
#include "platform/datafile/sticky_folder.h"
#include "platform/datafile/users.h"
#include "platform/datafile/write_bar.h"

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
#include <optional>
#include <sstream>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace dz::xio {
namespace {

std::chrono::milliseconds g_wait{10000};

constexpr int kOpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

// An open file description's lock (F_OFD_SETLK), which /proc/locks shows without a process.
constexpr const char* kDescriptionHolder = "a program whose process cannot be seen (it holds the lock through an open file description)";

// A holder the kernel keeps to itself: a program on another machine sharing the folder, or one
// that let go between the lock refused and the look at the holders.
constexpr const char* kUnseenHolder = "another program, which this machine does not show (one on another machine, or one that let go meanwhile)";

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

// What the lock file must be: its mode, owner and group, fixed from what it guards.
struct Wanted {
    mode_t mode = 0600;
    uid_t owner = 0;
    gid_t group = 0;
    struct stat guarded {};
    bool known = false;  // what it guards stands: an existing lock file may be judged by it
    // DataFile: the data file's access list. None where it cannot be read: the bits alone are
    // then given and judged.
    std::optional<AccessList> list;
};

// The access list a lock file of owner and group `owners` is to have: that of what it guards,
// carried to it (AccessList::carried), its owner's entry read and write (its owner locks it). A
// data file's keeps read and write alone: whoever may read the data file shows presence. The
// settings' lock is open to writers alone (read and write where an entry gives write, nothing
// where it does not): a lock a reader could hold would keep every writer waiting.
AccessList lock_list(LockKind kind, const Wanted& w, const FileOwners& owners) {
    AccessList l = w.list->carried({w.guarded.st_uid, w.guarded.st_gid}, owners, 06);
    for (AccessEntry& e : l.entries)
        e.perm = kind == LockKind::DataFile ? e.perm & 06 : (e.perm & 02) != 0 ? 06 : 0;
    return l;
}

Wanted wanted_of(const LockFileSpec& spec, int dirFd) {
    Wanted w;
    struct stat folder {};
    const bool folderKnown = ::fstat(dirFd, &folder) == 0;
    if (spec.kind == LockKind::OwnerOnly) {
        // Read access is enough to ask (a shared flock): given to whoever may enter the folder.
        if (spec.readable && (folder.st_mode & S_IXGRP)) w.mode |= 0040;
        if (spec.readable && (folder.st_mode & S_IXOTH)) w.mode |= 0004;
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
    if (w.known) w.list = access_list(spec.guarded);
    w.owner = ::geteuid() == 0 ? g.st_uid : ::geteuid();
    w.group = g.st_gid;
    return w;
}

// Whether user `uid` may give a file of theirs group `gid`: root, or one of its members.
bool may_give_group(uid_t uid, gid_t gid) {
    struct stat asked {};
    asked.st_uid = static_cast<uid_t>(-1);  // nobody's: the group's bit alone answers
    asked.st_gid = gid;
    asked.st_mode = S_IFREG | S_IWGRP;
    return write_right(uid, asked) == WriteRight::Yes;
}

// Whether user `uid` may write what the lock file guards: by its access control list too where
// it stands (an entry may give them what the bits do not), else by the bits of what stands in
// for it.
WriteRight may_write_guarded(const LockFileSpec& spec, const Wanted& w, uid_t uid) {
    return w.known ? write_right(uid, spec.guarded, w.guarded) : write_right(uid, w.guarded);
}

// Whether a lock file of status `st` is as `w` wants it. One made by a user who could not give
// it the group it wants is made without the group's bits (see give), and fits so: otherwise
// every writer would make it afresh at every open.
// A data file's lock file fits by its whole access list: one made before it carried the data
// file's (its bits alone, which open it to every member the list keeps out) is made afresh once.
bool fits(const LockFileSpec& spec, const Wanted& w, const struct stat& st) {
    const mode_t mode = st.st_mode & 07777;
    if (spec.kind == LockKind::OwnerOnly) return mode == w.mode && st.st_uid == w.owner;
    if (st.st_uid != w.guarded.st_uid && may_write_guarded(spec, w, st.st_uid) != WriteRight::Yes) return false;
    if (const auto have = w.list ? access_list(with_slash(spec.folder) + spec.name) : std::nullopt; have) {
        if ((mode & 07000) != 0) return false;
        return *have == lock_list(spec.kind, w, {st.st_uid, st.st_gid}) &&
               (st.st_gid == w.group || (w.mode & 0070) == 0 || !may_give_group(st.st_uid, w.group));
    }
    if ((w.mode & 0070) == 0 || st.st_gid == w.group) return mode == w.mode;
    return mode == (w.mode & ~mode_t{0070}) && !may_give_group(st.st_uid, w.group);
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
    if (h.pid == ::getpid()) return true;
    // A process that has ended runs nothing, whatever it was: the descriptor that keeps its lock
    // is another process's.
    if (h.ended) return false;
    if (!h.uidKnown || h.uid == 0) return true;
    if (spec.kind == LockKind::OwnerOnly) return h.uid == w.owner;
    // By the access list too: a member whose group's bits show write (the mask's) may still be
    // one the list keeps out. Where it cannot be told, the holder may be one it is for.
    if (w.known && w.list && w.list->extended()) return write_right(h.uid, h.groups, spec.guarded, w.guarded) != WriteRight::No;
    return write_right(h.uid, h.groups, w.guarded) == WriteRight::Yes;
}

// A holder as a refusal names it: who, and that it only reads where its lock says so.
std::string said_holder(const LockHolder& h) { return h.words() + (h.shared ? ", a program reading it" : ""); }

// Who holds the file of `dev`/`ino`, as words: its first holder this machine shows, or that
// none could be seen.
std::string holder_words(dev_t dev, ino_t ino) {
    const auto holders = lock_holders(dev, ino);
    if (holders.empty()) return kUnseenHolder;
    return said_holder(holders.front());
}

// The first holder of the file of `dev`/`ino` other than this program that it is for; none when
// there is none.
std::optional<LockHolder> entitled_holder(const LockFileSpec& spec, const Wanted& w, dev_t dev, ino_t ino) {
    for (const auto& h : other_holders(dev, ino))
        if (entitled(spec, w, h)) return h;
    return std::nullopt;
}

// What a person can do about a lock file held by `h` (none: nobody seen): wait for a holder it is
// for, or for one this machine does not show; have an administrator end one it is not for; find
// one whose process cannot be seen (an open file description's) with fuser.
ui::NextStep held_step(const LockFileSpec& spec, const Wanted& w, const std::string& path, const std::optional<LockHolder>& h) {
    if (!h) return {ui::Step::AgainWhenFinished, {}};
    if (h->pid <= 0) return {ui::Step::FindLockHolder, {path}};
    if (!entitled(spec, w, *h)) return {ui::Step::EndLockHolder, {path, h->ender()}};
    return {ui::Step::AgainWhenFinished, {h->words()}};
}

// The first holder of the file of `dev`/`ino`, when every one seen (this program aside) is one
// it is not for: none when none is seen, or one it is for is among them.
std::optional<LockHolder> foreign_holders(const LockFileSpec& spec, const Wanted& w, dev_t dev, ino_t ino) {
    std::optional<LockHolder> first;
    for (const auto& h : other_holders(dev, ino)) {
        if (entitled(spec, w, h)) return std::nullopt;
        if (!first) first = h;
    }
    return first;
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
        o.owner = st.st_uid;
        return o;
    }
    ::close(fd);
    return o;
}

// Makes the lock file `name` through the one maker (made_file.h): its maker's alone until it has
// the owner, group and list `w` wants, and only then named (failing where something stands
// there). Made in its final mode, it would be open for a moment to the maker's group (a setgid
// folder's, or root's), before it had its own. A user who may not give it the group it wants
// (not one of theirs) leaves the group's bits out: they would open it to a group of this user's,
// not to the one it is for. Given its group even without the group's bits: a company given to
// its group later (`chmod -R g+w`) then lets every member open it to lock it, and so to make it
// afresh, as nobody may replace a lock file they cannot lock. A data file's takes its list as a
// file of the owner and group it now has carries it; where the list cannot be given, bits no
// wider than it allows. A run's lock in a folder with an access list is readable by every entry
// that may enter the folder, as its bits say for the others. The test hook's Made step stands
// between its rights and its name. The descriptor, or -1 with errno.
int make_lock(int dirFd, const std::string& name, const LockFileSpec& spec, const Wanted& w) {
    const uid_t me = ::geteuid();
    MadeFile made;
    made.dirFd = dirFd;
    made.name = name;
    made.openFlags = O_NONBLOCK | O_NOCTTY;
    made.rights.owners = {w.owner, w.group};
    made.rights.giveOwner = me == 0 || (spec.kind == LockKind::OwnerOnly && me != w.owner);
    std::optional<AccessList> folderList;
    if (spec.kind == LockKind::OwnerOnly && spec.readable) folderList = access_list("/proc/self/fd/" + std::to_string(dirFd));
    made.rights.list = [&](const FileOwners& has, bool groupGiven) -> std::optional<AccessList> {
        if (w.list) return lock_list(spec.kind, w, has);
        if (folderList && folderList->extended())
            return readers_list({*folderList, {w.guarded.st_uid, w.guarded.st_gid}, has, 1, 4, 6});
        return AccessList::of_bits(groupGiven ? w.mode : w.mode & ~mode_t{0070});
    };
    made.beforeNamed = [&](int) { lock_step(LockStep::Made, with_slash(spec.folder) + name); };
    const Made m = make_file(made);
    errno = m.error;
    return m.fd;
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

std::function<void(LockStep, const std::string&)> g_lockHook;

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
                           (spec.kind != LockKind::OwnerOnly && may_write_guarded(spec, w, st.st_uid) == WriteRight::Yes);
        if (maker) ::unlinkat(dirFd, entry.c_str(), 0);
    }
    ::closedir(dir);
}

// What making a lock file afresh came to.
struct Afresh {
    int fd = -1;           // the new file, renamed over the name (not locked)
    bool changed = false;  // the name no longer names the file judged: to be looked at again
    std::string held;      // left as it was: who holds it (one it is for, or one unseen)
    std::string holder;    // held: the holder as a step names it, when one is seen
    ui::NextStep next;     // held: what a person can do about it
};

// `r` left as it was, held by `h` (none: nobody seen): who, and what a person can do.
Afresh held_by(Afresh r, const LockFileSpec& spec, const Wanted& w, const std::string& path, const std::optional<LockHolder>& h) {
    r.held = h ? said_holder(*h) : kUnseenHolder;
    r.holder = h && h->pid > 0 ? h->words() : "";
    r.next = held_step(spec, w, path, h);
    return r;
}

// A new lock file for the name of `spec`, made aside ("<name>.new<pid>") and given what `w`
// wants: its descriptor and the name it has, or -1.
int make_aside(int dirFd, const LockFileSpec& spec, const Wanted& w, std::string& aside) {
    aside = spec.name + ".new" + std::to_string(::getpid());
    ::unlinkat(dirFd, aside.c_str(), 0);  // left by a program of this number killed midway
    return make_lock(dirFd, aside, spec, w);
}

// Whether the name of `spec` names the file of status `old`.
bool names(int dirFd, const LockFileSpec& spec, const struct stat& old) {
    struct stat named {};
    return ::fstatat(dirFd, spec.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == old.st_dev &&
           named.st_ino == old.st_ino;
}

// A settings' lock this user may not open at all (another's, mode 0600), which does not fit what
// the settings' rights want. Fitting is judged alike by every program, so none that may write the
// settings uses it as it stands: each makes it afresh under its own lock of it. A hold on it is
// such a replacer's moment, or one of a program it is not for. It is exchanged for a new file
// only while none it is for is seen holding it, and kept out of place only when what the
// exchange took out is the very file judged: a file another replacer put there meanwhile goes
// back under the name at once, and is opened again like any other.
Afresh afresh_unopened(int dirFd, const std::string& path, const LockFileSpec& spec, const Wanted& w,
                       const struct stat& judged) {
    Afresh r;
    if (const std::optional<LockHolder> h = entitled_holder(spec, w, judged.st_dev, judged.st_ino))
        return held_by(r, spec, w, path, h);
    std::string aside;
    const int fd = make_aside(dirFd, spec, w, aside);
    if (fd < 0) return r;
    lock_step(LockStep::BeforeRename, path);
    if (::renameat2(dirFd, aside.c_str(), dirFd, spec.name.c_str(), RENAME_EXCHANGE) != 0) {
        r.changed = errno == ENOENT;
        ::unlinkat(dirFd, aside.c_str(), 0);
        ::close(fd);
        return r;
    }
    struct stat out {};
    if (::fstatat(dirFd, aside.c_str(), &out, AT_SYMLINK_NOFOLLOW) != 0 || out.st_dev != judged.st_dev ||
        out.st_ino != judged.st_ino) {
        (void)::renameat2(dirFd, aside.c_str(), dirFd, spec.name.c_str(), RENAME_EXCHANGE);
        ::unlinkat(dirFd, aside.c_str(), 0);
        ::close(fd);
        r.changed = true;
        return r;
    }
    ::unlinkat(dirFd, aside.c_str(), 0);  // the file judged, which nobody it is for holds
    lock_step(LockStep::AfterRename, path);
    r.fd = fd;
    return r;
}

// Makes the lock file afresh under a name of its own and renames it over the one of status
// `judged`, holding the old one's lock from before until after (see lock_file.h). One that
// `fits` is made afresh only from under outsiders' locks: found held by nobody, it is left.
Afresh make_afresh(int dirFd, const std::string& path, const LockFileSpec& spec, const Wanted& w, const struct stat& judged,
                   bool fitting = false) {
    Afresh r;
    const char* name = spec.name.c_str();
    lock_step(LockStep::Unfitting, path);
    // Write access where it can be had: a data file's exclusive lock is a write lock.
    int oldFd = ::openat(dirFd, name, O_RDWR | kOpenFlags);
    if (oldFd < 0 && errno == EACCES) oldFd = ::openat(dirFd, name, O_WRONLY | kOpenFlags);
    // A data file's lock file this user may only read takes no write lock through that
    // descriptor: the shared lock, which keeps every writer off, is the most it can ever give.
    const bool sharedAtMost = oldFd < 0 && errno == EACCES && spec.kind == LockKind::DataFile;
    if (oldFd < 0 && errno == EACCES) oldFd = ::openat(dirFd, name, O_RDONLY | kOpenFlags);
    if (oldFd < 0 && errno == EACCES && spec.kind == LockKind::Writers) return afresh_unopened(dirFd, path, spec, w, judged);
    if (oldFd < 0) {
        // Not to be opened, so not to be locked: no answer of the kernel says that nobody holds
        // it, so it is left as it stands (and said so by the caller).
        r.changed = errno == ENOENT;
        return r;
    }
    struct CloseOld {
        int fd;
        ~CloseOld() { ::close(fd); }  // and with it the lock, only after the rename
    } closeOld{oldFd};
    // From here on, the file opened is the one locked, judged and renamed over.
    struct stat old {};
    if (::fstat(oldFd, &old) != 0 || old.st_dev != judged.st_dev || old.st_ino != judged.st_ino) {
        r.changed = true;  // made afresh by another program since it was judged
        return r;
    }
    const bool exclusive = lock_old(oldFd, spec.kind, false);
    lock_step(LockStep::OldLocked, path);
    if (exclusive && fitting) return r;
    if (!exclusive) {
        // Held. Only under the shared lock, and only when none of its holders is one it is
        // for: judged once, while that lock keeps every writer off it.
        if (!lock_old(oldFd, spec.kind, true)) {
            // Held whole, by whomever: waited for. Only the kernel's answer to a lock on this
            // very file could say that nobody it is for holds it; what this machine shows of
            // its holders only names them.
            // This program's own locks never keep it off.
            const auto holders = other_holders(old.st_dev, old.st_ino);
            return held_by(r, spec, w, path, holders.empty() ? std::nullopt : std::optional(holders.front()));
        }
        if (const std::optional<LockHolder> entitledOne = entitled_holder(spec, w, old.st_dev, old.st_ino))
            return held_by(r, spec, w, path, entitledOne);
        // Nobody seen at all: whoever held the exclusive lock let it go meanwhile (or is not
        // shown). What /proc/locks shows never frees a file to be renamed over: the caller
        // tries the lock again, where the kernel answers for this very file. Where the shared
        // lock is all there is to have, the kernel has answered: no writer holds it.
        if (!sharedAtMost && other_holders(old.st_dev, old.st_ino).empty()) {
            r.changed = true;
            return r;
        }
    }
    std::string aside;
    const int fd = make_aside(dirFd, spec, w, aside);
    if (fd < 0) return r;
    lock_step(LockStep::BeforeRename, path);
    if (!names(dirFd, spec, old) || ::renameat(dirFd, aside.c_str(), dirFd, name) != 0) {
        r.changed = !names(dirFd, spec, old);
        ::unlinkat(dirFd, aside.c_str(), 0);
        ::close(fd);
        return r;
    }
    lock_step(LockStep::AfterRename, path);
    r.fd = fd;
    return r;
}

// A lock file that fits but is held only by outsiders (a descriptor opened while it was wider,
// before it was narrowed): made afresh, so that their lock holds nothing. The new descriptor,
// or -1 when it is not for this user to do, or one it is for holds it.
int afresh_from_outsiders(const LockFileSpec& spec, const std::string& path, dev_t dev, ino_t ino) {
    if (!spec.make) return -1;
    int dirFd = spec.dirFd;
    int ownDir = -1;
    if (dirFd < 0 && (dirFd = ownDir = ::open(with_slash(spec.folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0)
        return -1;
    int fd = -1;
    struct stat st {};
    const Wanted w = wanted_of(spec, dirFd);
    if (::fstatat(dirFd, spec.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == dev && st.st_ino == ino &&
        may_fit(spec, w, st))
        fd = make_afresh(dirFd, path, spec, w, st, fits(spec, w, st)).fd;
    if (ownDir >= 0) ::close(ownDir);
    return fd;
}

// foreign_holders for the lock file of `spec` (its folder opened when not given).
std::optional<LockHolder> foreign_holder(const LockFileSpec& spec, dev_t dev, ino_t ino) {
    int dirFd = spec.dirFd;
    int ownDir = -1;
    if (dirFd < 0 && (dirFd = ownDir = ::open(with_slash(spec.folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0)
        return std::nullopt;
    std::optional<LockHolder> holder = foreign_holders(spec, wanted_of(spec, dirFd), dev, ino);
    if (ownDir >= 0) ::close(ownDir);
    return holder;
}

// Whether the name the lock file `o` was opened by still names the file it is open on.
bool still_named(const LockFileSpec& spec, const LockFileOpened& o) {
    struct stat named {};
    const int at = spec.dirFd >= 0 ? ::fstatat(spec.dirFd, spec.name.c_str(), &named, AT_SYMLINK_NOFOLLOW)
                                   : ::lstat(o.path.c_str(), &named);
    return at == 0 && named.st_dev == o.dev && named.st_ino == o.ino;
}

// Opens the lock file and takes its flock, trying until `deadline`, until the lock is on the
// file its name names: `fd` locked, or -1 with the error (EWOULDBLOCK: held, by `holder`).
LockFileOpened lock_named(const LockFileSpec& spec, bool exclusive, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        LockFileOpened o = open_lock_file(spec);
        if (o.fd < 0) return o;
        bool judged = false;
        for (bool looked = false;; looked = true) {
            if (::flock(o.fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) break;
            if (errno == EWOULDBLOCK && !looked) {
                if (const int fresh = afresh_from_outsiders(spec, o.path, o.dev, o.ino); fresh >= 0) {
                    ::close(o.fd);
                    o.fd = -1;
                    o = checked(fresh, true, o);
                    if (o.fd < 0) break;
                }
                continue;  // tried again at once: its holder may have let it go meanwhile
            }
            if (errno == EINTR) continue;
            const int err = errno;
            // Held by none it is for: nothing this program or its users run lets it go, so it
            // is said at once rather than waited for.
            if (err == EWOULDBLOCK && !judged) {
                judged = true;
                if (const std::optional<LockHolder> foreign = foreign_holder(spec, o.dev, o.ino)) {
                    ::close(o.fd);
                    o.fd = -1;
                    o.error = EWOULDBLOCK;
                    o.foreign = true;
                    o.holder = foreign->words();
                    o.why = "is held by " + o.holder + ", which is none of the programs it is for";
                    // The process to end: for a lock that outlived its taker, the one keeping it.
                    o.next = {ui::Step::EndLockHolder, {o.path, foreign->ender()}};
                    return o;
                }
            }
            if (err == EWOULDBLOCK && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            ::close(o.fd);
            o.fd = -1;
            o.error = err;
            if (err != EWOULDBLOCK) {
                o.why = std::string("cannot be locked: ") + std::strerror(err);
                return o;
            }
            // Waited for all along: named by a program that runs, which the step waits for (one
            // that has ended, whose lock a kept descriptor holds, finishes nothing).
            const auto holders = other_holders(o.dev, o.ino);
            const auto running =
                std::find_if(holders.begin(), holders.end(), [](const LockHolder& h) { return h.pid > 0 && !h.ended; });
            if (running != holders.end()) o.holder = running->words();
            o.why = "is held by " + (running != holders.end() ? said_holder(*running)
                                     : holders.empty()        ? std::string(kUnseenHolder)
                                                              : said_holder(holders.front()));
            return o;
        }
        if (o.fd < 0) continue;  // the new file went again meanwhile
        // Made afresh by another program while this one waited: the lock is on a file nobody
        // else will look at any more, and the one its name names is taken instead.
        lock_step(LockStep::Locked, o.path);
        if (still_named(spec, o)) return o;
        ::close(o.fd);
    }
}

}  // namespace

void lock_step(LockStep step, const std::string& path) {
    if (g_lockHook) g_lockHook(step, path);
}

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
    // Handed to the caller to lock: a window the test hook sees.
    auto opened = [](LockFileOpened r) {
        if (r.fd >= 0) lock_step(LockStep::Opened, r.path);
        return r;
    };
    // Made afresh by other programs again and again meanwhile (its mode changed by hand every few
    // milliseconds): tried again for as long as a lock is waited for.
    const auto deadline = std::chrono::steady_clock::now() + g_wait;
    for (int attempt = 0; attempt < 8 || std::chrono::steady_clock::now() < deadline; ++attempt) {
        if (attempt >= 8) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        int fd = ::openat(dirFd, name, O_RDWR | kOpenFlags);
        const int err = fd < 0 ? errno : 0;
        if (fd < 0 && err == ENOENT) {
            if (!spec.make || !spec.create) {
                o.error = ENOENT;
                o.why = failure_text(ENOENT, "cannot be opened");
                return o;
            }
            fd = make_lock(dirFd, spec.name, spec, w);
            if (fd >= 0) {
                if (auto r = checked(fd, true, o); r.error != ESTALE) return opened(r);
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
        if (fd >= 0 && st.st_nlink == 0) {
            ::close(fd);  // made afresh between the open and the look
            continue;
        }
        // What no lock can be taken on is said as it is, whether or not this user may open it
        // (another user's socket refuses the open before it tells what it is).
        if (!S_ISREG(st.st_mode) || st.st_nlink != 1) {
            if (fd >= 0) ::close(fd);
            o.error = S_ISREG(st.st_mode) ? EMLINK : EINVAL;
            o.why = S_ISREG(st.st_mode) ? "has other names (hard links), so it is not used as a lock file" : kind_words(st.st_mode);
            o.next = {ui::Step::RemoveLockFile, {o.path, user_name(st.st_uid)}};
            return o;
        }
        // Too wide, too narrow, or of the wrong owner: made afresh. One that fits is left as it
        // is, even where this user may not open it (an ACL entry shuts them out).
        if (!fits(spec, w, st) && may_fit(spec, w, st)) {
            const Afresh fresh = make_afresh(dirFd, o.path, spec, w, st);
            if (fresh.fd >= 0 || fresh.changed) {
                if (fd >= 0) ::close(fd);
                if (fresh.fd < 0) continue;
                if (auto r = checked(fresh.fd, true, o); r.error != ESTALE) return opened(r);
                continue;
            }
            if (fd < 0 && !fresh.held.empty()) {
                o.error = EWOULDBLOCK;
                o.holder = fresh.holder;
                o.why = "is held by " + fresh.held;
                o.next = fresh.next;
                o.dev = st.st_dev;
                o.ino = st.st_ino;
                o.owner = st.st_uid;
                return o;
            }
        }
        if (fd < 0) {
            if (!spec.mustWrite && (err == EACCES || err == EROFS)) {
                fd = ::openat(dirFd, name, O_RDONLY | kOpenFlags);
                if (fd >= 0) {
                    o.writeWhy = failure_text(err, "cannot be opened for writing");
                    if (auto r = checked(fd, false, o); r.error != ESTALE) return opened(r);
                    o.writeWhy.clear();
                    continue;
                }
            }
            o.error = err;
            o.why = failure_text(err, "cannot be opened");
            // One this user could have made afresh but for a sticky folder: said as what it is.
            if (const StickyBar bar = sticky_bar(o.path); err == EACCES && !fits(spec, w, st) && bar.barred)
                o.why = "is a file of " + user_name(st.st_uid) + " (mode " + mode_digits(st.st_mode & 07777) +
                        ") that this user may not open for writing, and the sticky folder " + bar.folder + " (mode " +
                        mode_digits(bar.folderMode) + ") lets only its owner, the folder's owner and an administrator "
                        "replace it";
            if (const std::string held = holder_words(st.st_dev, st.st_ino); err == EACCES && held != kUnseenHolder)
                o.why += ", and is held by " + held;
            // Not as it should be and not to be locked by this user, so not to be made afresh by
            // them either: whoever owns it, or an administrator, removes it once nobody holds it.
            if (err == EACCES && !fits(spec, w, st)) o.next = {ui::Step::RemoveLockFile, {o.path, user_name(st.st_uid)}};
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
        if (auto r = checked(fd, true, o); r.error != ESTALE) return opened(r);
    }
    o.error = EAGAIN;
    o.why = "cannot be made: it keeps appearing and going";
    return o;
}

LockFileOpened foretell_lock_file(const LockFileSpec& spec) {
    LockFileSpec look = spec;
    look.make = false;
    LockFileOpened o = open_lock_file(look);
    // One it may open for reading only is made afresh under the shared lock; one it may not open
    // at all, only where it is the settings' lock (see afresh_unopened).
    const bool afreshable = o.fd >= 0 || spec.kind == LockKind::Writers;
    if (o.fd >= 0) {
        ::close(o.fd);
        o.fd = o.writable ? 0 : -1;
        if (o.writable) return o;
        o.error = EACCES;
        o.why = o.writeWhy;
    }
    if (o.error == ENOENT || (o.error != EACCES && o.error != EPERM)) {
        o.fd = 0;  // missing: made by the writer; any other cause is the writer's open's to say
        return o;
    }
    const int dirFd = ::open(with_slash(spec.folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return o;
    struct stat st {};
    LockFileSpec maker = spec;
    maker.make = true;
    const Wanted w = wanted_of(maker, dirFd);
    const bool remade = afreshable && ::fstatat(dirFd, spec.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                        !fits(maker, w, st) && may_fit(maker, w, st) &&
                        ::faccessat(dirFd, ".", W_OK | X_OK, AT_EACCESS) == 0 && !sticky_bar(o.path).barred;
    ::close(dirFd);
    if (remade) {
        o.fd = 0;
        return o;
    }
    if (st.st_ino != 0 && !o.next) o.next = {ui::Step::RemoveLockFile, {o.path, user_name(st.st_uid)}};
    o.owner = st.st_uid;
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
    if (pid <= 0) return kDescriptionHolder + (keeper.empty() ? "" : ", kept open by " + keeper);
    if (ended)
        return "a process that has ended (process " + std::to_string(pid) +
               ", which took the lock), through a descriptor another process kept" +
               (keeper.empty() ? "" : " (" + keeper + " has it open)");
    if (!uidKnown) return "process " + std::to_string(pid);
    std::string name;
    gid_t group = 0;
    return "process " + std::to_string(pid) + " of user " + (find_user(uid, name, group) ? name : std::to_string(uid));
}

std::string answered_holder(pid_t pid, dev_t dev, ino_t ino) {
    if (pid > 0) return process_words(pid);
    if (pid == 0) return "a program this machine does not show (one on another machine, or in another container)";
    for (const LockHolder& seen : lock_holders(dev, ino))
        if (seen.pid <= 0) return seen.words();  // with the process seen keeping it open
    return LockHolder{}.words();
}

std::string LockHolder::ender() const {
    if (pid > 0 && !ended) return words();
    return keeper.empty() ? "one this user cannot see" : keeper;
}

namespace {

// The locks one reading of /proc/locks lists on the file of `dev`/`ino`: each holder's pid (0 for
// an open file description's lock) and whether it only reads.
std::vector<std::pair<pid_t, bool>> lock_lines_once(dev_t dev, ino_t ino) {
    std::vector<std::pair<pid_t, bool>> lines;
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:10952970 0 EOF"; a waiter's line has "->". A lock
        // of an open file description ("OFDLCK") shows no process (-1).
        std::istringstream fields(line);
        std::string id, kind, advisory, type, pid, where;
        if (!(fields >> id >> kind) || kind == "->") continue;
        if (!(fields >> advisory >> type >> pid >> where)) continue;
        unsigned maj = 0, min = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &maj, &min, &inode) != 3) continue;
        if (::makedev(maj, min) != dev || inode != static_cast<unsigned long long>(ino)) continue;
        const long p = std::strtol(pid.c_str(), nullptr, 10);
        lines.emplace_back(p > 0 ? static_cast<pid_t>(p) : 0, type == "READ");
    }
    return lines;
}

// The same, from readings taken together. The kernel hands /proc/locks out a piece of about a page
// at a time, each from the place the last ended, counted in locks: a lock let go meanwhile before
// that place moves the rest up, so one reading can miss a lock that stood all along, and two in a
// row may miss it alike. Four readings miss it far more rarely; where they show no lock of
// another program, which is when a miss would say most (a run's lock held by nobody is a dead
// run's), more are read, twelve in all. What is seen only names holders: it never frees a file.
std::vector<std::pair<pid_t, bool>> lock_lines(dev_t dev, ino_t ino) {
    constexpr int kReadings = 4, kReadingsForNone = 12;
    std::vector<std::pair<pid_t, bool>> lines;
    auto othersSeen = [&] {
        return std::any_of(lines.begin(), lines.end(), [](const auto& l) { return l.first != ::getpid(); });
    };
    for (int reading = 0; reading < kReadings || (reading < kReadingsForNone && !othersSeen()); ++reading)
        for (const auto& line : lock_lines_once(dev, ino))
            if (std::find(lines.begin(), lines.end(), line) == lines.end()) lines.push_back(line);
    return lines;
}

// A process other than those of `except` seen holding the file of `dev`/`ino` open, as words;
// empty when none can be seen (another user's descriptors are shown to root and to that user
// alone).
std::string keeper_of(dev_t dev, ino_t ino, const std::vector<pid_t>& except) {
    DIR* proc = ::opendir("/proc");
    if (!proc) return "";
    std::string found;
    while (const dirent* e = ::readdir(proc)) {
        const std::string pid = e->d_name;
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](unsigned char c) { return std::isdigit(c); })) continue;
        const pid_t p = static_cast<pid_t>(std::stol(pid));
        if (p == ::getpid() || std::find(except.begin(), except.end(), p) != except.end()) continue;
        const std::string fds = "/proc/" + pid + "/fd";
        DIR* dir = ::opendir(fds.c_str());
        if (!dir) continue;
        while (const dirent* f = ::readdir(dir)) {
            struct stat st {};
            if (f->d_name[0] == '.' || ::stat((fds + "/" + f->d_name).c_str(), &st) != 0) continue;
            if (st.st_dev == dev && st.st_ino == ino) {
                found = process_words(p);
                break;
            }
        }
        ::closedir(dir);
        if (!found.empty()) break;
    }
    ::closedir(proc);
    return found;
}

}  // namespace

std::vector<LockHolder> lock_holders(dev_t dev, ino_t ino) {
    std::vector<LockHolder> holders;
    bool endedSeen = false;
    const auto lines = lock_lines(dev, ino);
    for (const auto& [pid, shared] : lines) {
        LockHolder h;
        h.pid = pid;
        h.shared = shared;
        // An open file description's lock: a holder whose user cannot be seen, and counts as one.
        // The process keeping it is looked for among those with the file open that hold no lock
        // of their own there (every program of this one's present on it holds one).
        if (h.pid <= 0) {
            std::vector<pid_t> locking;
            for (const auto& line : lines) locking.push_back(line.first);
            h.keeper = keeper_of(dev, ino, locking);
            holders.push_back(h);
            continue;
        }
        // Its own credentials (a user of no account, groups given it alone), as it runs.
        const std::string id = std::to_string(pid);
        std::ifstream status("/proc/" + id + "/status");
        if (!status && ::kill(pid, 0) != 0 && errno == ESRCH) h.ended = endedSeen = true;
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
    if (!endedSeen) return holders;
    // A process that ended and let its lock go while it was being looked at is no holder: only
    // one still listed after its process was found gone holds the lock through a descriptor
    // another process kept.
    const auto again = lock_lines(dev, ino);
    std::erase_if(holders, [&](const LockHolder& h) {
        return h.ended && std::none_of(again.begin(), again.end(), [&](const auto& l) { return l.first == h.pid; });
    });
    for (auto& h : holders)
        if (h.ended) h.keeper = keeper_of(dev, ino, {h.pid});
    return holders;
}

std::vector<LockHolder> other_holders(dev_t dev, ino_t ino) {
    std::vector<LockHolder> holders = lock_holders(dev, ino);
    std::erase_if(holders, [](const LockHolder& h) { return h.pid == ::getpid(); });
    return holders;
}

int take_lock_file(const LockFileSpec& spec, bool exclusive, LockWaitFailure& failure) {
    const LockFileOpened o = lock_named(spec, exclusive, std::chrono::steady_clock::now() + g_wait);
    if (o.fd >= 0) return o.fd;
    failure.error = o.error;
    failure.cause = "the lock file " + o.path + " " + o.why;
    failure.next = o.next;
    // Not to be made or opened for writing by anyone (an immutable folder, a read-only file
    // system): no program to wait for; an administrator lifts it.
    if (const WriteBar bar = !failure.next && o.error != EWOULDBLOCK ? write_bar(o.path) : WriteBar{})
        failure.next = {ui::Step::LiftWriteBar, {o.path, bar.cause, bar.lift}};
    if (o.error == EWOULDBLOCK && o.foreign) {
        failure.holder = o.holder;
        failure.foreign = true;
    } else if (o.error == EWOULDBLOCK) {
        failure.holder = o.holder;
        failure.next = {ui::Step::AgainWhenFinished, {}};
        if (!o.holder.empty()) failure.next.args.push_back(o.holder);
    }
    return -1;
}

LockFileOpened try_lock_file(const LockFileSpec& spec, bool exclusive) {
    return lock_named(spec, exclusive, std::chrono::steady_clock::now());
}

void set_lock_wait_for_tests(std::chrono::milliseconds wait) { g_wait = wait; }
void set_lock_hook_for_tests(std::function<void(LockStep, const std::string&)> hook) { g_lockHook = std::move(hook); }
std::chrono::milliseconds lock_wait() { return g_wait; }

}  // namespace dz::xio
