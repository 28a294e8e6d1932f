#include "platform/datafile/run_marker.h"
#include "platform/datafile/hot_journal.h"

#include "platform/datafile/file_aside.h"
#include "platform/datafile/lock_file.h"
#include "platform/datafile/locks.h"
#include "platform/datafile/marker_text.h"
#include "platform/datafile/run_mark.h"
#include "platform/datafile/stream_hash.h"
#include "platform/datafile/users.h"
#include "platform/datafile/xio.h"
#include "platform/ui/shown_text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace dz::xio {
namespace {

namespace fs = std::filesystem;

// A backup folder others may list and a marker others may read: every user of the company must
// see a run of another user that stopped half posted, or would write over it unknowing (and
// that user's put-back would later undo what was written). The copies, the run's lock file and
// the folder's lock file are its owner's alone (mode 0600): others see names, never data, and
// cannot hold a lock the owner's programs wait on.
constexpr mode_t kBackupFolderMode = 0755;

constexpr const char* kRunPrefix = "run~";
constexpr const char* kMarkerSuffix = ".marker";
constexpr const char* kLockSuffix = ".lock";
constexpr const char* kFolderLockName = "folder.lock";
constexpr std::size_t kMarkerBound = 64 * 1024;  // far above any run's names; a bigger one is not ours

std::function<void(const std::string&)> g_putBackHook;
std::function<void()> g_commitPointHook;

struct Services {
    std::mutex mutex;
    std::function<std::vector<std::string>()> companyFolders;
};
Services& services() {
    static Services s;
    return s;
}

std::string host_name() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0') return "host";
    std::string host = buf;
    for (char& c : host)
        if (c == '~' || c == '/' || c == ' ' || std::iscntrl(static_cast<unsigned char>(c))) c = '_';
    return host;
}

bool all_digits(const std::string& s, std::size_t most = 9) {
    return !s.empty() && s.size() <= most && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string errno_text(int err) { return std::strerror(err); }

// Control characters read from a file or a folder are shown, never sent to a terminal or a log.
std::string escaped(const std::string& text) { return ui::shown_text(text); }

bool has_account(uid_t uid) {
    std::string name;
    gid_t group = 0;
    return find_user(uid, name, group);
}

// Whether user `uid` may write `path` (or, when it does not exist, make it in its folder).
using Right = WriteRight;
Right write_right(uid_t uid, const std::string& path) {
    if (uid == 0) return Right::Yes;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && ::stat(fs::path(path).parent_path().c_str(), &st) != 0) return Right::No;
    return xio::write_right(uid, st);
}

// Whether user `uid` may write every one of `files`: No (with the first it may not write) before
// Untold (with the first that cannot be told).
Right write_right_all(uid_t uid, const std::vector<std::string>& files, std::string& which) {
    Right all = Right::Yes;
    for (const auto& f : files) {
        const Right r = write_right(uid, f);
        if (r == Right::No) {
            which = f;
            return r;
        }
        if (r == Right::Untold && all == Right::Yes) {
            all = r;
            which = f;
        }
    }
    return all;
}

// A path as read: "a/b/../c" is "a/c" (a way between folders of the company reads as one path).
std::string normal(const std::string& path) {
    std::string n = fs::path(path).lexically_normal().string();
    return n.empty() ? "./" : n;
}

// "run~<host>~<process><suffix>": its run, or false.
bool parse_run_file_name(const std::string& name, const std::string& suffix, std::string& run) {
    const std::string prefix = kRunPrefix;
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    run = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const auto tilde = run.rfind('~');
    return tilde != std::string::npos && tilde > 0 && all_digits(run.substr(tilde + 1)) && run.find('/') == std::string::npos;
}

std::string this_run() { return host_name() + "~" + std::to_string(::getpid()); }
std::string marker_name(const std::string& run) { return kRunPrefix + run + kMarkerSuffix; }
std::string lock_name(const std::string& run) { return kRunPrefix + run + kLockSuffix; }

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd = o.fd;
            o.fd = -1;
        }
        return *this;
    }
    void reset(int f = -1) {
        if (fd >= 0) ::close(fd);
        fd = f;
    }
};

// A regular file of `owner` with one link: the only kind of entry of a backup folder used.
bool owned_plain_file(int fd, uid_t owner, struct stat* out = nullptr) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != owner || st.st_nlink != 1) return false;
    if (out) *out = st;
    return true;
}

// The lock of a backup folder: a file of its owner's alone (see lock_file.h), so that nobody who
// may only read the company can hold what its writers wait on, and waited for a bounded time.
class FolderLock {
public:
    // False with why, and what to do (wait for the holder, by name when known).
    bool take(int dirFd, const std::string& folder, std::string& why, ui::NextStep* next = nullptr) {
        LockFileSpec spec;
        spec.folder = folder;
        spec.dirFd = dirFd;
        spec.name = kFolderLockName;
        LockWaitFailure failure;
        fd_.reset(take_lock_file(spec, true, failure));
        if (fd_.fd >= 0) return true;
        why = failure.cause;
        if (next) *next = failure.next;
        return false;
    }

private:
    Fd fd_;
};

// ---- This program's runs ------------------------------------------------------------------------

enum class Role { Alone, Main, Part };
struct Held {
    int markerFd = -1;
    int lockFd = -1;
    std::string folder;  // the backup folder, with its slash
    int copies = 0;
    bool whole = false;  // names copies: the data files may be half posted
    Role role = Role::Alone;
    off_t namesOnly = 0;  // a main marker: the length of its lines before its copies
};
std::mutex g_heldMutex;
std::map<std::string, Held> g_held;  // by backup folder (with its slash)

void drop_held_now(std::map<std::string, Held>::iterator it) {
    const std::string run = this_run();
    ::unlink((it->second.folder + marker_name(run)).c_str());
    ::unlink((it->second.folder + lock_name(run)).c_str());
    ::close(it->second.markerFd);
    ::close(it->second.lockFd);  // and with it the run's lock
    g_held.erase(it);
}

// A held folder that names nothing and holds no copy goes; the main marker last of all, so that
// no part ever stands whole without it.
void drop_if_done(std::map<std::string, Held>::iterator it) {
    if (it->second.copies > 0 || it->second.whole) return;
    if (it->second.role == Role::Main &&
        std::any_of(g_held.begin(), g_held.end(), [](const auto& h) { return h.second.role == Role::Part; }))
        return;
    const bool part = it->second.role == Role::Part;
    drop_held_now(it);
    if (part)
        for (auto m = g_held.begin(); m != g_held.end(); ++m)
            if (m->second.role == Role::Main) {
                drop_if_done(m);
                break;
            }
}

// Makes and holds the run's lock file and empty marker in `folder` (g_heldMutex held).
int hold_locked(const std::string& folder, std::string* why) {
    auto fail = [&](int err, const std::string& what) {
        if (why) *why = what;
        return err;
    };
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.fd < 0) return fail(errno, folder + ": " + errno_text(errno));
    FolderLock folderLock;
    if (std::string w; !folderLock.take(dir.fd, folder, w)) return fail(EWOULDBLOCK, w);
    const std::string run = this_run();
    // One left by a dead run of the same host and process number is taken over when its lock
    // can be had; one of another owner is not used.
    LockFileSpec spec;
    spec.folder = folder;
    spec.dirFd = dir.fd;
    spec.name = lock_name(run);
    spec.refuseOtherOwner = true;
    const LockFileOpened opened = try_lock_file(spec, true);
    Fd lock(opened.fd);
    if (lock.fd < 0 && opened.error == EWOULDBLOCK) return fail(EBUSY, "the lock file " + opened.path + " " + opened.why);
    if (lock.fd < 0) return fail(opened.error, opened.path + " " + opened.why);
    const int marker = ::openat(dir.fd, marker_name(run).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (marker < 0) {
        const int err = errno;
        ::unlinkat(dir.fd, lock_name(run).c_str(), 0);
        return fail(err, folder + marker_name(run) + ": " + errno_text(err));
    }
    ::fchmod(marker, 0644);  // past the umask: every user of the company must be able to see it
    Held h;
    h.markerFd = marker;
    h.lockFd = lock.fd;
    lock.fd = -1;
    h.folder = folder;
    g_held[folder] = h;
    return 0;
}

// Writes `text` into a held marker at `at` (cut there first), synced: 0, or the errno.
int write_marker(Held& h, const std::string& text, off_t at) {
    struct stat st {};
    // Removed meanwhile (by hand): a later command could never find it.
    if (::fstat(h.markerFd, &st) != 0 || st.st_nlink != 1) return EIO;
    if (::ftruncate(h.markerFd, at) != 0) return errno;
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t w = ::pwrite(h.markerFd, text.data() + done, text.size() - done, at + static_cast<off_t>(done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return errno;
        done += static_cast<std::size_t>(w);
    }
    return ::fsync(h.markerFd) == 0 ? 0 : errno;
}

int cut_marker(int fd, off_t at) {
    if (::ftruncate(fd, at) != 0) return errno;
    return ::fsync(fd) == 0 ? 0 : errno;
}

// The data folder a backup folder ("<data folder>/.backup/") stands in, with its slash.
std::string data_folder_of(const std::string& backupFolder) {
    std::string f = backupFolder;
    while (!f.empty() && f.back() == '/') f.pop_back();
    const auto slash = f.rfind('/');
    return slash == std::string::npos ? "./" : f.substr(0, slash + 1);
}

// How a marker names another folder of its run: relative to its own data folder, so that a
// company moved whole keeps the way.
std::string way_to(const std::string& fromDataFolder, const std::string& toDataFolder) {
    std::error_code ec;
    const fs::path from = fs::weakly_canonical(fromDataFolder, ec);
    const fs::path to = fs::weakly_canonical(toDataFolder, ec);
    const fs::path rel = to.lexically_relative(from);
    return rel.empty() ? to.string() : rel.string();
}

std::mutex g_noticeMutex;
std::vector<RunNotice> g_notices;
std::set<std::string> g_said;  // notices other than put-backs queued since the command began

void notify(RunNotice notice, const std::string& once = "") {
    notice.files = escaped(notice.files);
    notice.reason = escaped(notice.reason);
    notice.marker = escaped(notice.marker);
    for (auto& a : notice.next.args) a = escaped(a);
    std::lock_guard<std::mutex> guard(g_noticeMutex);
    // A command looks at the data folders many times (its start, each open of a data file): what
    // stands in them is said once.
    if (notice.kind != RunNoticeKind::PutBack &&
        !g_said.insert(std::to_string(static_cast<int>(notice.kind)) + "\n" +
                       (once.empty() ? notice.marker + "\n" + notice.reason : once))
             .second)
        return;
    g_notices.push_back(std::move(notice));
}

// ---- A marker as found ----------------------------------------------------------------------------

using CopyLine = MarkerCopy;

struct Marker {
    enum State { Gone, Empty, Whole, Unreadable } state = Gone;
    std::string why;                 // Unreadable: why
    bool previous = false;           // of the first version: no lengths, hashes or lock file
    bool numbered = false;           // gives its run's number, which the files it committed carry
    uint64_t number = 0;
    std::string host, process;       // as the marker gives them
    std::string main;                // a part: the way to the main marker's data folder
    std::vector<std::string> parts;  // the main: the ways to the parts' data folders
    std::vector<CopyLine> copies;    // Whole: the copies it names
    off_t namesEnd = 0;              // the length of its lines before the first copy
    Fd fd;
};

// Reads the marker `name` of run `run` in the backup folder `dirFd` of `owner` (opened to be
// written when `writable`). The caller holds the run's lock first, so a run that ends meanwhile
// is seen gone, never half read.
void read_marker(int dirFd, const std::string& name, const std::string& run, uid_t owner, bool writable, Marker& m) {
    m.fd.reset(::openat(dirFd, name.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (m.fd.fd < 0 && writable && errno == EACCES)
        m.fd.reset(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    auto unreadable = [&](const std::string& why) {
        m.state = Marker::Unreadable;
        m.why = why;
    };
    if (m.fd.fd < 0) {
        if (errno == ENOENT) m.state = Marker::Gone;
        else unreadable(errno_text(errno));
        return;
    }
    struct stat st {};
    if (::fstat(m.fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) return unreadable("it is not a regular file");
    if (st.st_uid != owner) return unreadable("it belongs to another user than its folder");
    if (st.st_nlink != 1) return unreadable("it has other links");
    if (st.st_size > static_cast<off_t>(kMarkerBound))
        return unreadable("it is larger than any marker (" + std::to_string(st.st_size) + " bytes)");
    std::string text(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t r = ::pread(m.fd.fd, text.data() + got, text.size() - got, static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    text.resize(got);
    MarkerText t = parse_marker_text(text, run);
    if (t.state == MarkerText::Unreadable) return unreadable(t.why);
    m.state = t.state == MarkerText::Whole ? Marker::Whole : Marker::Empty;
    m.previous = t.version == 1;
    m.numbered = t.numbered;
    m.number = t.number;
    m.host = std::move(t.host);
    m.process = std::move(t.process);
    m.main = std::move(t.main);
    m.parts = std::move(t.parts);
    m.copies = std::move(t.copies);
    m.namesEnd = static_cast<off_t>(t.namesEnd);
}

enum class Life { Dead, Alive, Unknown };

// Tries the lock of run `run`: Dead with `lock` holding it (`lockFile` false when the run has no
// lock file); Alive when another program holds it; Unknown when it cannot be tried.
Life take_run_lock(int dirFd, const std::string& run, uid_t owner, bool exclusive, Fd& lock, bool& lockFile) {
    // A putter makes one found wider or narrower afresh (see lock_file.h); a look uses it as it
    // is. A missing one is never made: its run is dead.
    LockFileSpec spec;
    spec.dirFd = dirFd;
    spec.name = lock_name(run);
    spec.make = exclusive;
    spec.create = false;
    spec.mustWrite = false;
    spec.refuseOtherOwner = true;
    const LockFileOpened opened = try_lock_file(spec, exclusive);
    lockFile = opened.error != ENOENT;
    lock.reset(opened.fd);
    if (lock.fd < 0 && opened.error != EWOULDBLOCK) return lockFile ? Life::Unknown : Life::Dead;
    if (opened.owner != owner) return Life::Unknown;
    if (lock.fd >= 0) return Life::Dead;
    // Only a program of its owner (or root) runs it: a holder who could open it only while it
    // was left wider proves nothing. One this machine does not show (another host) may.
    const std::vector<LockHolder> holders = lock_holders(opened.dev, opened.ino);
    return holders.empty() || std::any_of(holders.begin(), holders.end(), [&](const LockHolder& h) {
               return !h.uidKnown || h.uid == owner || h.uid == 0;
           })
               ? Life::Alive
               : Life::Dead;
}

std::string join_files(const std::vector<std::string>& files) {
    std::vector<std::string> unique;
    for (const auto& f : files)
        if (std::find(unique.begin(), unique.end(), f) == unique.end()) unique.push_back(f);
    std::string joined;
    for (const auto& f : unique) joined += (joined.empty() ? "" : ", ") + f;
    return joined;
}

std::string data_file_of(const std::string& copy) {
    std::string dataFile, run;
    parse_copy_name(copy, dataFile, run);
    return dataFile;
}

// "<uid>" or "<uid>-<k>": what follows ".backup-" in a backup folder's name.
bool backup_suffix(const std::string& s) {
    const auto dash = s.find('-');
    if (dash == std::string::npos) return all_digits(s);
    return all_digits(s.substr(0, dash)) && s.size() == dash + 2 && std::isdigit(static_cast<unsigned char>(s[dash + 1]));
}

// The backup folders in a data folder: ".backup" and ".backup-<n>[-<k>]" that are real folders (a
// link is never followed), each with its owner. A folder is its owner's whatever its name says:
// a company handed over whole (`chown -R`) keeps its stopped runs, now of their new owner.
std::vector<std::pair<std::string, uid_t>> backup_folders(const std::string& dataFolder) {
    std::vector<std::pair<std::string, uid_t>> folders;
    DIR* d = ::opendir(dataFolder.c_str());
    if (!d) return folders;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == ".backup" || (name.rfind(".backup-", 0) == 0 && backup_suffix(name.substr(8))))
            names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        struct stat st {};
        if (::lstat((dataFolder + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        folders.emplace_back(dataFolder + name + "/", st.st_uid);
    }
    return folders;
}

bool process_gone(const std::string& pid) {
    if (!all_digits(pid)) return false;
    return ::kill(static_cast<pid_t>(std::stol(pid)), 0) != 0 && errno == ESRCH;
}

// ---- Settling ---------------------------------------------------------------------------------

using FolderIds = std::set<std::pair<dev_t, ino_t>>;

FolderIds::value_type folder_id(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return {0, 0};
    return {st.st_dev, st.st_ino};
}

ui::NextStep step(ui::Step s, std::vector<std::string> args = {}) { return ui::NextStep{s, std::move(args)}; }

// What is asked of the owner of a backup folder that holds (or may hold) a stopped run: their
// writing command puts it back. An owner with no account runs nothing: an administrator acts.
ui::NextStep ask_owner(uid_t owner, const std::string& folder) {
    if (has_account(owner)) return step(ui::Step::AskUserToPutBack, {user_name(owner)});
    return step(ui::Step::AskAdministrator, {folder});
}

// Why a run's lock file cannot be used, as it stands in its folder: "" when nothing is seen wrong.
std::string lock_file_fault(int dirFd, const std::string& name, uid_t owner) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? "" : errno_text(errno);
    if (S_ISLNK(st.st_mode)) return "it is a link";
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (st.st_uid != owner) return "it belongs to " + user_name(st.st_uid) + ", not to its folder's owner";
    if (st.st_nlink != 1) return "it has other links";
    return "";
}

// One folder's marker of a dead run, as a put-back takes it.
struct Piece {
    std::string dataFolder, folder;  // with their slashes
    uid_t owner = 0;
    Fd dir;
    std::unique_ptr<FolderLock> folderLock;  // taken when the piece was found from another folder
    Fd runLock;
    Life life = Life::Unknown;
    Marker m;
    std::vector<std::string> beside;  // the run's copies that stand in the folder
    std::string markerPath() const { return folder + marker_name(run); }
    std::string run;
};

struct Scan {
    const SettleRequest& request;
    std::string dataFolder;
    std::string* why;
    bool ok = true;
    FolderIds company;  // the company's folders (this data folder among them): where ways may lead

    void say(RunNoticeKind kind, const std::string& marker, const std::string& files, const std::string& reason,
             ui::NextStep next, int err = 0, const std::string& once = "") {
        RunNotice n;
        n.kind = kind;
        n.files = files;
        n.reason = reason;
        n.marker = marker;
        n.error = err;
        n.next = std::move(next);
        notify(std::move(n), once);
    }
    void refuse(RunNoticeKind kind, const std::string& marker, const std::string& files, const std::string& reason,
                ui::NextStep next, int err = 0, const std::string& once = "") {
        if (ok && why) *why = escaped(reason.empty() ? files : reason);
        ok = false;
        say(kind, marker, files, reason, std::move(next), err, once);
    }
    void refuse(const std::string& marker, const std::string& files, const std::string& reason, ui::NextStep next,
                int err = 0) {
        refuse(request.mayWrite ? RunNoticeKind::Refused : RunNoticeKind::HalfPosted, marker, files, reason,
               std::move(next), err);
    }
};

std::vector<std::string> list_folder(int dirFd, bool& ok) {
    std::vector<std::string> names;
    ok = false;
    const int dup = ::dup(dirFd);
    if (dup < 0) return names;
    DIR* d = ::fdopendir(dup);
    if (!d) {
        ::close(dup);
        return names;
    }
    errno = 0;
    while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ok = errno == 0;
    ::closedir(d);
    return names;
}

std::vector<std::string> copies_beside(const std::vector<std::string>& names, const std::string& run) {
    std::vector<std::string> copies;
    for (const auto& name : names) {
        std::string dataFile, copyRun;
        if (parse_copy_name(name, dataFile, copyRun) && copyRun == run) copies.push_back(name);
    }
    return copies;
}

// The company's data folders as the layer above gives them, with `dataFolder` first.
std::vector<std::string> company_data_folders(const std::string& dataFolder) {
    std::vector<std::string> folders{dataFolder};
    std::lock_guard<std::mutex> guard(services().mutex);
    if (services().companyFolders)
        for (const auto& f : services().companyFolders()) folders.push_back(with_slash(normal(f)));
    return folders;
}

// The folder a marker's way leads to from `fromDataFolder`, as a normal path with its slash.
std::string way_target(const std::string& fromDataFolder, const std::string& way) {
    return with_slash(normal(fs::path(way).is_absolute() ? way : fromDataFolder + way));
}

// Why a way of a marker is not one (it leads to a folder that stands outside the company), or "".
// A way to no folder at all is a company moved: its folders are searched instead.
std::string way_outside(const std::string& fromDataFolder, const std::string& way, const FolderIds& company) {
    const std::string there = way_target(fromDataFolder, way);
    const auto id = folder_id(there);
    if (id.second == 0 || company.count(id)) return "";
    return "its way " + way + " leads to " + there + ", outside the company's folders";
}

// What a search for a marker of a run is after.
struct Seek {
    std::string fromDataFolder, way, run;
    uid_t owner = 0;
    bool putter = false;      // takes the folder's lock and opens the marker to be written
    bool wantMain = false;    // a part of the run is not what is sought
    const FolderIds* taken;   // folders already held by this put-back: never taken twice
    const FolderIds* company;
};

// Finds the marker of a run in the data folder its way leads to, or else in one of the company's
// data folders; never in a folder of `taken`, never outside the company. Opens its folder, takes
// the folder's lock (for a put-back) and the run's lock, and reads it.
bool find_piece(const Seek& s, Piece& piece, std::string& why) {
    if (why = way_outside(s.fromDataFolder, s.way, *s.company); !why.empty()) return false;
    std::vector<std::string> candidates = company_data_folders(way_target(s.fromDataFolder, s.way));
    for (const auto& dataFolder : candidates) {
        if (const auto id = folder_id(dataFolder); id.second == 0 || s.taken->count(id) || !s.company->count(id)) continue;
        for (const auto& [folder, folderOwner] : backup_folders(dataFolder)) {
            if (folderOwner != s.owner) continue;
            Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (dir.fd < 0) continue;
            struct stat ms {};
            if (::fstatat(dir.fd, marker_name(s.run).c_str(), &ms, AT_SYMLINK_NOFOLLOW) != 0) continue;
            Piece p;
            p.dataFolder = dataFolder;
            p.folder = folder;
            p.owner = s.owner;
            p.run = s.run;
            if (s.putter) {
                p.folderLock = std::make_unique<FolderLock>();
                if (!p.folderLock->take(dir.fd, folder, why)) return false;
            }
            bool lockFile = false;
            p.life = take_run_lock(dir.fd, s.run, s.owner, s.putter, p.runLock, lockFile);
            read_marker(dir.fd, marker_name(s.run), s.run, s.owner, s.putter, p.m);
            if (s.wantMain && p.m.state == Marker::Whole && !p.m.main.empty()) continue;  // another part
            bool listed = false;
            p.beside = copies_beside(list_folder(dir.fd, listed), s.run);
            p.dir = std::move(dir);
            piece = std::move(p);
            return true;
        }
    }
    return false;
}

// Whether a marker of `run` of `owner` stands in a backup folder of any of the company's folders.
bool marker_stands(const Scan& scan, const std::string& run, uid_t owner) {
    for (const auto& dataFolder : company_data_folders(scan.dataFolder))
        for (const auto& [folder, folderOwner] : backup_folders(dataFolder)) {
            struct stat st {};
            if (folderOwner == owner && ::lstat((folder + marker_name(run)).c_str(), &st) == 0) return true;
        }
    return false;
}

// Everything of `run` of `owner` that stands in the company's backup folders: the data files its
// copies are of, and the folders holding its markers or copies (", " between them). A run whose
// main marker is gone is restored whole only from these: a part names only its own folder's.
std::pair<std::string, std::string> run_everywhere(const Scan& scan, const std::string& run, uid_t owner) {
    std::vector<std::string> files, folders;
    std::set<std::string> seen;
    for (const auto& dataFolder : company_data_folders(scan.dataFolder))
        for (const auto& [folder, folderOwner] : backup_folders(dataFolder)) {
            if (folderOwner != owner || !seen.insert(folder).second) continue;
            DIR* d = ::opendir(folder.c_str());
            if (!d) continue;
            bool any = false;
            while (const dirent* e = ::readdir(d)) {
                std::string dataFile, copyRun;
                if (parse_copy_name(e->d_name, dataFile, copyRun) && copyRun == run) {
                    any = true;
                    if (std::find(files.begin(), files.end(), dataFile) == files.end()) files.push_back(dataFile);
                } else if (e->d_name == marker_name(run)) {
                    any = true;
                }
            }
            ::closedir(d);
            if (any) folders.push_back(folder);
        }
    return {join_files(files), join_files(folders)};
}

// The step for a run nothing is put back from: restore every data file it left a copy of, and
// clear every folder of the company it left a marker or copy in (`files` and `folder` when it
// left nothing found elsewhere). Restoring one folder's files alone would leave the company mixed.
ui::NextStep restore_run(const Scan& scan, const std::string& run, uid_t owner, const std::string& files,
                         const std::string& folder) {
    const auto [all, folders] = run_everywhere(scan, run, owner);
    return step(ui::Step::RestoreFromBackup, {all.empty() ? files : all, folders.empty() ? folder : folders});
}

// A piece whose run's lock file cannot be used (another owner, a link, a second name) is never
// taken for a dead run: refused, naming the lock file and why. Once the run's program no longer
// runs, removing that lock file lets the next writing command put the run back whole.
bool refuse_unusable_lock(Scan& scan, const Piece& p, const std::string& files) {
    if (p.life != Life::Unknown) return false;
    const std::string lock = p.folder + lock_name(p.run);
    const std::string fault = lock_file_fault(p.dir.fd, lock_name(p.run), p.owner);
    const std::string program = "process " + (p.m.process.empty() ? std::string("?") : p.m.process) + " on host " +
                                (p.m.host.empty() ? std::string("?") : p.m.host);
    scan.refuse(scan.request.mayWrite ? RunNoticeKind::Refused : RunNoticeKind::HalfPosted, p.markerPath(), files,
                "the lock file " + lock + " of the run cannot be used" + (fault.empty() ? "" : " (" + fault + ")") +
                    ": nothing is put back",
                step(ui::Step::RemoveRunLock, {program, lock}), 0, std::to_string(p.owner) + "~" + p.run);
    return true;
}

// Removes a piece's copies, its marker and its lock file.
void remove_piece(Piece& p) {
    std::set<std::string> copies(p.beside.begin(), p.beside.end());
    for (const auto& c : p.m.copies) copies.insert(c.name);
    for (const auto& c : copies) ::unlinkat(p.dir.fd, c.c_str(), 0);
    ::unlinkat(p.dir.fd, marker_name(p.run).c_str(), 0);
    ::unlinkat(p.dir.fd, lock_name(p.run).c_str(), 0);
    ::fsync(p.dir.fd);
}

// ---- Proof: what the data files a run names carry ------------------------------------------

// A marker that gives its run's number is judged by the data files alone: the run is proven when
// one of them carries its user (the backup folder's owner) and that number. Who may write them
// now is never asked: a run whose user left the group since, or whose file was narrowed, wrote
// what it wrote. Unproven: none carries it, so it committed nothing. Foreign: a file carries the
// number as another user's (a marker made from a number read out of a file). Untold: none
// carries it and a file cannot be read.
// A company handed over whole (`chown -R`) gives the run's folder to a new owner while its files
// still carry the old one's uid: the run is its new owner's when that owner may write every file
// it names, as nothing it could put back is beyond what that owner may write anyway. One who may
// not write them (a reader who copied the number out of a file) proves nothing.
enum class Proof { Proven, Unproven, Foreign, Untold };
struct Judgment {
    Proof proof = Proof::Unproven;
    std::set<std::string> left;  // settled files that do not carry the run: never put back
    std::string which, why;      // Foreign: the file and whose number; Untold: the file and why, as a clause
};
Judgment judge_run(uid_t owner, uint64_t number, const std::vector<std::string>& dataFiles) {
    Judgment j;
    bool carried = false;
    std::string foreign, foreignWhose, untold, untoldWhy;
    for (const auto& f : dataFiles) {
        RunMark mark;
        std::string why;
        switch (read_run_mark(f, mark, &why)) {
        case MarkFound::Carried:
            if (mark.number == number && mark.uid == owner) {
                carried = true;
                break;
            }
            if (mark.number == number) {
                if (foreign.empty()) {
                    foreign = f;
                    foreignWhose = user_name(mark.uid);
                }
                break;  // written by the run under its former owner: never among those left
            }
            j.left.insert(f);
            break;
        case MarkFound::None:
            j.left.insert(f);
            break;
        case MarkFound::Unreadable:
            if (untold.empty()) {
                untold = f;
                untoldWhy = why;
            }
            break;
        case MarkFound::Unsettled:  // its write is not committed: it goes back with the run, if any
        case MarkFound::Missing:    // made again from its copy, with the run, if any
            break;
        }
    }
    std::string which;
    const Right right = carried || foreign.empty() ? Right::No : write_right_all(owner, dataFiles, which);
    if (carried || right == Right::Yes) j.proof = Proof::Proven;
    else if (right == Right::Untold)  // handed to a uid with no account: whose it is cannot be told
        j = {Proof::Untold, j.left, foreign,
             foreign + " carries the number as " + foreignWhose + "'s, and whether " + user_name(owner) +
                 ", who has no account, may write " + which + " cannot be told either"};
    else if (!foreign.empty()) j = {Proof::Foreign, j.left, foreign, foreignWhose};
    else if (!untold.empty()) j = {Proof::Untold, j.left, untold, untold + " cannot be read (" + untoldWhy + ")"};
    return j;
}

// The data files named by every marker of the run `here` is one of: its main's and every part's.
std::vector<std::string> unit_data_files(Scan& scan, const Piece& here) {
    std::vector<std::string> files;
    auto add = [&](const Piece& p) {
        for (const auto& c : p.m.copies) files.push_back(p.dataFolder + c.dataFile);
    };
    add(here);
    FolderIds taken{folder_id(here.dataFolder)};
    Piece found;
    const Piece* main = &here;
    std::string why;
    if (!here.m.main.empty()) {
        if (!find_piece({here.dataFolder, here.m.main, here.run, here.owner, false, true, &taken, &scan.company}, found, why) ||
            found.m.state != Marker::Whole)
            return files;
        taken.insert(folder_id(found.dataFolder));
        add(found);
        main = &found;
    }
    for (const auto& way : main->m.parts) {
        Piece part;
        if (find_piece({main->dataFolder, way, here.run, here.owner, false, false, &taken, &scan.company}, part, why) &&
            part.m.state == Marker::Whole) {
            taken.insert(folder_id(part.dataFolder));
            add(part);
        }
    }
    return files;
}

// Whether this program may write `path` (or make it in its folder), by every right the system
// gives it, access control lists included.
bool may_write_here(const std::string& path) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0) return true;
    return errno == ENOENT && ::faccessat(AT_FDCWD, fs::path(path).parent_path().c_str(), W_OK, AT_EACCESS) == 0;
}

// Whose a data file put back where none stands is to be, and its mode: as the run's other data
// files of that folder, or else as the folder itself gives (its owner and group, and for each of
// them the folder's read and write permission), so that those who may use the folder may open it.
struct Making {
    AsideOwner owner;
    mode_t mode = 0600;
    std::string as;  // what it was made like
};
Making making_for(const std::string& dataFolder, const std::vector<std::string>& siblings) {
    Making k;
    struct stat st {};
    for (const auto& f : siblings)
        if (::stat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            k.owner = {st.st_uid, st.st_gid};
            k.mode = st.st_mode & 0666;
            k.as = f;
            return k;
        }
    if (::stat(dataFolder.c_str(), &st) == 0) {
        k.owner = {st.st_uid, st.st_gid};
        k.mode = (st.st_mode & 0666) | 0600;
        k.as = dataFolder;
    }
    return k;
}

// One put-back of a dead run, carried through the steps of its order: `unit` is its main marker
// (or its only one) and its parts, each dead and whole. Each step answers false once the run is
// refused or passed over, every file aside removed; nothing is written until every copy is proved.
class PutBack {
public:
    PutBack(Scan& scan, std::vector<Piece*>& unit) : scan_(scan), unit(unit) {
        for (Piece* p : unit)
            for (const auto& c : p->m.copies) dataFiles.push_back(p->dataFolder + c.dataFile);
        marker = unit.front()->markerPath();
        user = user_name(unit.front()->owner);
    }

    // 3. The run is genuine, and which files go back: a numbered run for exactly the data files it
    // committed (one it never wrote is left as it stands); a run of an older marker when its user
    // may write every file it names. Only one who may write them puts them back.
    bool judge() {
        if (unit.front()->m.numbered) {
            const Judgment j = judge_run(unit.front()->owner, unit.front()->m.number, dataFiles);
            if (j.proof != Proof::Proven) return false;  // said where the run was met
            left = j.left;
        }
        std::vector<std::string> names;
        for (const Piece* p : unit)
            for (const auto& c : p->m.copies)
                if (goesBack(p, c)) names.push_back(c.dataFile);
        files = join_files(names);
        if (g_putBackHook && !look) g_putBackHook(marker);
        std::string which;
        if (!unit.front()->m.numbered) {
            // A run whose user may not write every file it names made no conversion of them.
            if (const Right right = write_right_all(unit.front()->owner, dataFiles, which);
                right != Right::Yes) {
                if (right == Right::No)
                    return passOver(RunNoticeKind::NotARun, marker, files,
                                    "the run marker " + marker + " of " + user + " names " + files +
                                        ", and that user may not write " + which +
                                        ": no conversion of theirs wrote them",
                                    step(ui::Step::MoveRunAway,
                                         {unit.front()->folder, has_account(unit.front()->owner) ? user : ""}));
                return refuse(RunNoticeKind::Untold, marker, files,
                              "the run marker " + marker + " is of " + user +
                                  ", who has no account, so whether it may "
                                  "write " +
                                  which + " cannot be told: the company may be half posted",
                              step(ui::Step::RestoreOrHandOver, {files, unit.front()->folder}));
            }
        }
        // Whoever may read its copies and write its files puts a proven run back: its user while they
        // may still write them, and root.
        // A look only says what a writing command will do.
        for (const Piece* p : unit)
            for (const auto& c : p->m.copies)
                if (!look && goesBack(p, c) && ::geteuid() != 0 && !may_write_here(p->dataFolder + c.dataFile)) {
                    const std::string admin = user_name(0);
                    return refuse(RunNoticeKind::OtherUser, marker, files,
                                  "the run marker " + marker + " of " + user + " names copies of " + files +
                                      ", and " + p->dataFolder + c.dataFile +
                                      " may no longer be written by this user: " +
                                      "the conversion stopped before it had finished posting, and only an "
                                      "administrator can put it back",
                                  step(ui::Step::AskUserToPutBack, {admin}), 0,
                                  std::to_string(unit.front()->owner) + "~" + unit.front()->run);
                }
        return true;
    }

    // 3. Every copy, before anything is locked or written: one missing, changed, or not this
    // program's leaves every data file as it stands.
    bool proveCopies() {
        for (Piece* p : unit) {
            for (const auto& name : p->beside)
                if (std::none_of(p->m.copies.begin(), p->m.copies.end(),
                                 [&](const CopyLine& c) { return c.name == name; }))
                    return refuse(marker, files,
                                  p->folder + name + " is a copy of the run that its marker " +
                                      p->markerPath() + " does not name: nothing is put back",
                                  restore(p));
            for (const auto& c : p->m.copies) {
                if (!goesBack(p, c)) continue;
                Fd in(::openat(p->dir.fd, c.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
                if (in.fd < 0 && errno == ENOENT && p->m.previous)
                    continue;  // that version removed a copy put back
                if (in.fd < 0 && errno == ENOENT)
                    return refuse(
                        marker, files,
                        copy_path(p, c) + ", which its marker names, is missing: nothing is put back",
                        restore(p));
                struct stat st {};
                if (in.fd < 0 || !owned_plain_file(in.fd, p->owner, &st))
                    return refuse(marker, files,
                                  copy_path(p, c) +
                                      " is not a copy this program made (a regular file "
                                      "of its folder's owner with one link): nothing is put back",
                                  restore(p));
                if (!p->m.previous && static_cast<uint64_t>(st.st_size) != c.length)
                    return refuse(marker, files,
                                  copy_path(p, c) + " does not match its marker (it holds " +
                                      std::to_string(st.st_size) + " bytes, the run copied " +
                                      std::to_string(c.length) + "): nothing is put back",
                                  restore(p));
                proved.push_back(
                    Proved{p, &c, std::move(in), 0600, p->dataFolder + c.dataFile, {}, false, {}, {}});
            }
        }
        return true;
    }

    // A look reads every copy through, as the writer's proof will, and writes nothing: it says
    // what a writing command will do, put the run back or refuse, and why. Always false.
    bool sayWhatAWriterWillDo() {
        for (auto& pr : proved) {
            if (pr.piece->m.previous) continue;
            StreamHash hash;
            std::string buf(1 << 16, '\0');
            for (off_t at = 0;;) {
                const ssize_t n = ::pread(pr.in.fd, buf.data(), buf.size(), at);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                hash.Add(std::string_view(buf.data(), static_cast<std::size_t>(n)));
                at += n;
            }
            if (hash.Length() != pr.line->length || hash.Value() != pr.line->hash)
                return refuse(marker, files,
                              "the copy " + copy_path(pr.piece, *pr.line) + " of " + pr.line->dataFile +
                                  " does not match its marker (its bytes are not those the run copied): "
                                  "nothing is put back",
                              restore(pr.piece));
        }
        return refuse(RunNoticeKind::HalfPosted, marker, files, "", step(ui::Step::AgainToPutBack), 0,
                      std::to_string(unit.front()->owner) + "~" + unit.front()->run);
    }

    // 4. Every copy written aside beside its data file, proved to be what the run copied and a
    // data file of its name.
    bool writeAsides() {
        // A build that lost one of its checks never puts back unchecked, and says so.
        if (!checks.openHere || !checks.notADataFileNamed)
            return refuse(marker, files,
                          "this program lacks a check of its put-back (a fault of the program): nothing is put back",
                          step(ui::Step::RestoreFromBackup, {files, unit.front()->folder}));
        for (auto& pr : proved) {
            struct stat st {};
            if (::lstat(pr.dataFile.c_str(), &st) == 0) {
                if (!S_ISREG(st.st_mode)) {
                    dropAsides();
                    return refuse(marker, files, pr.dataFile + " is not a regular file",
                                  step(ui::Step::Again));
                }
                pr.mode = st.st_mode & 07777;
                pr.had = {st.st_uid, st.st_gid};
            } else {
                // Removed since the run: made again as the company's files of that folder are, never
                // as a file of whoever puts it back alone.
                std::vector<std::string> siblings;
                for (const auto& other : proved)
                    if (other.piece == pr.piece && &other != &pr) siblings.push_back(other.dataFile);
                pr.missing = true;
                pr.making = making_for(pr.piece->dataFolder, siblings);
                pr.mode = pr.making.mode;
                pr.had = pr.making.owner;
            }
            if (const int err = write_aside(pr.in.fd, pr.dataFile, pr.mode, pr.aside,
                                            pr.missing ? &pr.making.owner : nullptr);
                err != 0) {
                pr.aside.path.clear();
                dropAsides();
                return refuse(
                    marker, files, pr.dataFile + ": " + errno_text(err),
                    err == ENOSPC ? step(ui::Step::FreeSpace, {pr.dataFile}) : step(ui::Step::Again), err);
            }
            std::string wrong;
            if (!pr.piece->m.previous &&
                (pr.aside.hash.Length() != pr.line->length || pr.aside.hash.Value() != pr.line->hash))
                wrong = "its bytes are not those the run copied";
            else
                wrong = checks.notADataFileNamed(pr.aside.path, pr.line->dataFile);
            if (!wrong.empty()) {
                dropAsides();
                return refuse(marker, files,
                              "the copy " + copy_path(pr.piece, *pr.line) + " of " + pr.line->dataFile +
                                  " does not match its marker (" + wrong + "): nothing is put back",
                              restore(pr.piece));
            }
        }
        return true;
    }

    // 5. The writer lock of every data file, taken only once every copy is proved.
    bool lockDataFiles() {
        // A marker naming files that are not its run's makes no lock file for them.
        static int64_t serial = 0;
        for (auto& pr : proved) {
            if (checks.openHere(pr.dataFile)) {
                dropAsides();
                return refuse(
                    marker, files,
                    pr.dataFile + " is open in this program, so its copy cannot be put back under it",
                    step(ui::Step::Again));
            }
            auto table = std::make_unique<LockTable>(pr.dataFile, --serial);
            if (table->open() != XIO_OK || table->acquire('W', "") != XIO_OK) {
                // The program holding the writer's lock is named, and waited for by name.
                bool reading = false;
                std::string holder = table->error().empty() ? table->holder('W', "", &reading) : std::string();
                if (holder == "another program") holder.clear();
                const std::string why = !table->error().empty() ? table->error() : holder;
                dropAsides();
                // Said as a conversion says it: whether that program reads the file or writes it.
                return refuse(
                    marker, files,
                    pr.dataFile + " is in use by another program" + (why.empty() ? "" : " (" + why + ")") +
                        (table->error().empty() ? reading ? " that is reading it" : " that is writing it" : ""),
                    holder.empty() ? step(ui::Step::AgainWhenFinished)
                                   : step(ui::Step::AgainWhenFinished, {holder}));
            }
            locks.push_back(std::move(table));
        }
        return true;
    }

    // 6. Each file aside renamed over its data file, its journal removed, every data folder synced.
    bool renameOver() {
        for (auto& pr : proved) {
            if (::rename(pr.aside.path.c_str(), pr.dataFile.c_str()) != 0) {
                const int err = errno;
                dropAsides();
                // Those renamed already hold their copies: the marker stays, and the next command
                // puts every file back again.
                return refuse(
                    marker, files, pr.dataFile + ": " + errno_text(err),
                    err == ENOSPC ? step(ui::Step::FreeSpace, {pr.dataFile}) : step(ui::Step::Again), err);
            }
            pr.aside.path.clear();
            auto note = [&](const std::string& text) { notes += (notes.empty() ? "" : "; ") + text; };
            if (pr.missing)
                note(pr.dataFile + " did not stand, and was made again as " + pr.making.as + " is (mode " +
                     [&] {
                         char b[8];
                         std::snprintf(b, sizeof b, "%04o", static_cast<unsigned>(pr.mode));
                         return std::string(b);
                     }() +
                     ")");
            struct stat now {};
            ::stat(pr.dataFile.c_str(), &now);
            if (!pr.aside.ownerKept || !pr.aside.groupKept) {
                const std::string who = user_name(::geteuid());
                const std::string had = user_name(pr.had.uid);
                std::string hadGroup = group_name(pr.had.gid);
                if (!pr.aside.groupKept && !pr.aside.ownerKept)
                    note(pr.dataFile + " now belongs to " + who + " and the group " + group_name(now.st_gid) +
                         ": its owner " + had + " and group " + hadGroup + " could not be given back");
                else if (!pr.aside.ownerKept)
                    note(pr.dataFile + " now belongs to " + who + ": its owner " + had +
                         " could not be given back (its group " + hadGroup + " was kept)");
                else
                    note(pr.dataFile + " is now of the group " + group_name(now.st_gid) + ": its group " +
                         hadGroup + " could not be given back");
                // One step names every file that is to have the same owner and group again: one
                // named alone would leave the others as they are. What was kept is not asked for.
                const std::string hadOwner = pr.aside.ownerKept ? std::string() : user_name(pr.had.uid);
                if (pr.aside.groupKept) hadGroup.clear();
                if (!next)
                    next = step(ui::Step::GiveOwnerBack, {pr.dataFile, hadOwner, hadGroup});
                else if (next.args.size() == 3 && next.args[1] == hadOwner && next.args[2] == hadGroup)
                    next.args[0] += ", " + pr.dataFile;
            }
            // The journal of the commit the run died in belongs to the writes the copy takes back: it
            // must never be played over the copy.
            ::unlink((pr.dataFile + "-journal").c_str());
        }
        std::set<std::string> dataFolders;
        for (const Piece* p : unit) dataFolders.insert(p->dataFolder);
        for (const auto& f : dataFolders)
            if (const int err = sync_folder(f); err != 0)
                return refuse(marker, files, f + " cannot be synced: " + errno_text(err),
                              step(ui::Step::Again), err);
        return true;
    }

    // 7. The main marker cut back (a lone one removed), then the parts with their copies, the
    // main last.
    bool cutMarkers() {
        // The main marker names no copy from here on: its parts are stale, whatever happens next. Its
        // removal (or cut) must stand on the disk before the command writes: a marker that came back
        // after a crash would put these copies back over what the command writes next.
        Piece& head = *unit.front();
        int cut = 0;
        if (head.m.parts.empty()) {
            if (::unlinkat(head.dir.fd, marker_name(head.run).c_str(), 0) != 0 || ::fsync(head.dir.fd) != 0)
                cut = errno ? errno : EIO;
        } else {
            cut = cut_marker(head.m.fd.fd, head.m.namesEnd);
        }
        if (cut != 0)
            return refuse(marker, files,
                          "every data file was put back, but " + head.markerPath() +
                              " cannot be removed: " + errno_text(cut),
                          step(ui::Step::Again), cut);
        for (std::size_t i = 1; i < unit.size(); ++i) remove_piece(*unit[i]);
        remove_piece(head);
        return true;
    }

    void sayPutBack() {
        RunNotice n;
        n.kind = RunNoticeKind::PutBack;
        n.files = files;
        n.reason = notes;
        n.marker = marker;
        n.next = next;
        notify(std::move(n));
    }

private:
    struct Proved {
        Piece* piece;
        const CopyLine* line;
        Fd in;
        mode_t mode = 0600;
        std::string dataFile;
        Aside aside;
        bool missing = false;
        Making making;
        AsideOwner had;  // the owner and group it is to have
    };
    template <class... Args>
    bool refuse(Args&&... args) {
        scan_.refuse(std::forward<Args>(args)...);
        return false;
    }
    template <class... Args>
    bool passOver(Args&&... args) {
        scan_.say(std::forward<Args>(args)...);
        return false;
    }
    static std::string copy_path(const Piece* p, const CopyLine& c) { return p->folder + c.name; }
    bool goesBack(const Piece* p, const CopyLine& c) const { return !left.count(p->dataFolder + c.dataFile); }
    // Whichever copy fails, the step names every file and folder of the run.
    ui::NextStep restore(const Piece* p) const { return restore_run(scan_, p->run, p->owner, files, p->folder); }
    void dropAsides() {
        for (auto& pr : proved)
            if (!pr.aside.path.empty()) ::unlink(pr.aside.path.c_str());
    }

    Scan& scan_;
    std::vector<Piece*>& unit;
    std::vector<std::string> dataFiles;
    std::string marker, user, files;
    std::set<std::string> left;  // settled data files the run never wrote: never put back
    const bool look = !scan_.request.mayWrite;
    const PutBackChecks checks = put_back_checks();
    std::vector<Proved> proved;
    std::vector<std::unique_ptr<LockTable>> locks;
    std::string notes;  // what else to know of what was put back
    ui::NextStep next;
};

// Puts every copy of a dead run back, step by step.
void put_back(Scan& scan, std::vector<Piece*>& unit) {
    PutBack run(scan, unit);
    if (!run.judge() || !run.proveCopies()) return;
    if (!scan.request.mayWrite) {
        run.sayWhatAWriterWillDo();
        return;
    }
    if (run.writeAsides() && run.lockDataFiles() && run.renameOver() && run.cutMarkers()) run.sayPutBack();
}

// A dead main marker, whole: its run is put back with every part it names (`known` is the part
// the put-back started from, its folder's lock already held: never taken a second time).
void settle_whole_main(Scan& scan, Piece& main, Piece* known) {
    std::vector<Piece*> unit{&main};
    std::vector<std::unique_ptr<Piece>> found;
    FolderIds taken{folder_id(main.dataFolder)};
    if (known) taken.insert(folder_id(known->dataFolder));
    bool knownIn = known == nullptr;
    // What the run left in every folder of the company: restoring one folder's files alone
    // would leave it mixed.
    auto restore = [&](const std::string& folder) {
        const auto [all, folders] = run_everywhere(scan, main.run, main.owner);
        return step(ui::Step::RestoreFromBackup, {all.empty() ? join_files([&] {
                                                      std::vector<std::string> n;
                                                      for (const auto& c : main.m.copies) n.push_back(c.dataFile);
                                                      return n;
                                                  }())
                                                              : all,
                                                  folders.empty() ? folder : folders});
    };
    // One refusal for the run, however many of its folders meet it.
    auto refuseRun = [&](const std::string& marker, const std::string& files, const std::string& reason,
                         ui::NextStep next) {
        scan.refuse(scan.request.mayWrite ? RunNoticeKind::Refused : RunNoticeKind::HalfPosted, marker, files, reason,
                    std::move(next), 0, std::to_string(main.owner) + "~" + main.run);
    };
    for (const auto& way : main.m.parts) {
        if (known && !knownIn && folder_id(way_target(main.dataFolder, way)) == folder_id(known->dataFolder)) {
            unit.push_back(known);
            knownIn = true;
            continue;
        }
        auto p = std::make_unique<Piece>();
        std::string why;
        if (!find_piece({main.dataFolder, way, main.run, main.owner, scan.request.mayWrite, false, &taken, &scan.company}, *p,
                        why)) {
            // The part the put-back started from, reached by search where this way leads to no
            // folder at all (a company moved): it is this part.
            if (why.empty() && known && !knownIn && folder_id(way_target(main.dataFolder, way)).second == 0) {
                unit.push_back(known);
                knownIn = true;
                continue;
            }
            return refuseRun(main.markerPath(), "",
                               why.empty() ? "the run marker " + main.markerPath() + " names a part in " +
                                                 way_target(main.dataFolder, way) + " that cannot be found (the company "
                                                 "may have been moved since the run stopped): nothing is put back"
                                           : "the run marker " + main.markerPath() + " cannot be used (" + why +
                                                 "): nothing is put back",
                               restore(main.folder));
        }
        if (p->life == Life::Alive) return;
        if (refuse_unusable_lock(scan, *p, "")) return;
        if (p->m.state != Marker::Whole || p->m.main.empty())
            return refuseRun(p->markerPath(), "",
                               "the run marker " + p->markerPath() + " cannot be read (" +
                                   (p->m.why.empty() ? std::string("it is not a whole part of its run") : p->m.why) +
                                   "): nothing is put back",
                               restore(p->folder));
        taken.insert(folder_id(p->dataFolder));
        unit.push_back(p.get());
        found.push_back(std::move(p));
    }
    if (!knownIn && known)
        return refuseRun(known->markerPath(), "",
                           "the run marker " + known->markerPath() + " is not named by its main marker " +
                               main.markerPath() + ": nothing is put back",
                           restore(known->folder));
    put_back(scan, unit);
}

// A dead, whole marker of this user (or, for root, of any user): its run is put back with every
// folder it has a marker in.
void settle_whole(Scan& scan, Piece& here) {
    if (here.m.main.empty()) return settle_whole_main(scan, here, nullptr);
    Piece main;
    std::string why;
    const FolderIds taken{folder_id(here.dataFolder)};
    std::vector<std::string> named;
    for (const auto& c : here.m.copies) named.push_back(c.dataFile);
    const std::string files = join_files(named);
    const bool putter = scan.request.mayWrite;
    if (!find_piece({here.dataFolder, here.m.main, here.run, here.owner, putter, true, &taken, &scan.company}, main, why))
        // Said once for the run, however many of its parts meet the loss.
        return scan.refuse(scan.request.mayWrite ? RunNoticeKind::Refused : RunNoticeKind::HalfPosted, here.markerPath(), files,
                           why.empty() ? "the main marker of its run (" + marker_name(here.run) + ", in a backup folder "
                                             "of " + way_target(here.dataFolder, here.m.main) + ") is missing: nothing "
                                             "is put back, and the copies of the run are kept"
                                       : "the run marker " + here.markerPath() + " cannot be used (" + why +
                                             "): nothing is put back",
                           why.empty() ? [&] {
                               const auto [all, folders] = run_everywhere(scan, here.run, here.owner);
                               return step(ui::Step::RestoreFromBackup, {all.empty() ? files : all,
                                                                         folders.empty() ? here.folder : folders});
                           }()
                                       : step(ui::Step::RestoreFromBackup, {files, here.folder}),
                           0, std::to_string(here.owner) + "~" + here.run);
    if (main.life == Life::Alive || main.m.state == Marker::Gone) return;
    if (main.m.state == Marker::Empty) {
        // Its run committed every file, or none: the copies of this part are stale.
        if (putter) remove_piece(here);
        return;
    }
    if (refuse_unusable_lock(scan, main, files)) return;
    if (main.m.state != Marker::Whole || main.m.parts.empty())
        return scan.refuse(main.markerPath(), files,
                           "the run marker " + main.markerPath() + " cannot be read (" +
                               (main.m.why.empty() ? std::string("it is not the main marker of its run") : main.m.why) +
                               "): nothing is put back",
                           step(ui::Step::RestoreFromBackup, {files, main.folder}));
    settle_whole_main(scan, main, &here);
}

// An empty marker of a dead run of this user: nothing of its run is half posted. A main marker
// cut back to the names of its parts takes them with it first (never one outside the company).
void remove_unfinished(Scan& scan, Piece& here) {
    FolderIds taken{folder_id(here.dataFolder)};
    for (const auto& way : here.m.parts) {
        Piece part;
        std::string why;
        if (!find_piece({here.dataFolder, way, here.run, here.owner, true, false, &taken, &scan.company}, part, why)) continue;
        taken.insert(folder_id(part.dataFolder));
        if (part.life == Life::Dead && (part.m.state == Marker::Empty || (part.m.state == Marker::Whole && !part.m.main.empty())))
            remove_piece(part);
    }
    remove_piece(here);
}

// A part whose main marker names no copy: its run committed every file, or none.
bool stale_part(Scan& scan, const Piece& here) {
    if (here.m.main.empty()) return false;
    Piece main;
    std::string why;
    const FolderIds taken{folder_id(here.dataFolder)};
    return find_piece({here.dataFolder, here.m.main, here.run, here.owner, false, true, &taken, &scan.company}, main, why) &&
           main.m.state == Marker::Empty;
}

// A part whose main marker cannot be found anywhere in the company (removed by hand): no command
// of anyone can put its run back. One whose run ended meanwhile took the part with it.
bool main_missing(Scan& scan, const Piece& here) {
    if (here.m.main.empty()) return false;
    Piece main;
    std::string why;
    const FolderIds taken{folder_id(here.dataFolder)};
    if (find_piece({here.dataFolder, here.m.main, here.run, here.owner, false, true, &taken, &scan.company}, main, why) ||
        !why.empty())
        return false;
    struct stat st {};
    return ::fstatat(here.dir.fd, marker_name(here.run).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

void settle_folder(Scan& scan, const std::string& folder, uid_t listedOwner) {
    const SettleRequest& req = scan.request;
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const int openErr = errno;
    // The folder is judged by its owner as opened, whatever its name says.
    uid_t owner = listedOwner;
    if (struct stat st {}; dir.fd >= 0 && ::fstat(dir.fd, &st) == 0) owner = st.st_uid;
    const bool ours = owner == ::geteuid();
    const bool admin = ::geteuid() == 0;
    const std::string user = user_name(owner);
    auto unseen = [&](int err) {
        // What this user cannot see may be a run stopped half posted: a writer does not post over
        // it; a look goes on, and says what it could not see.
        const std::string cause = "the backup folder " + folder + " of " + user + " cannot be read by this user (" +
                                  errno_text(err) + ")";
        if (req.mayWrite)
            scan.refuse(RunNoticeKind::OtherUser, folder, "", cause + ", and may hold a conversion of theirs stopped half posted",
                        ask_owner(owner, folder));
        else
            scan.say(RunNoticeKind::Unseen, folder, "", cause + ": whether it holds a conversion stopped half posted could not be seen",
                     ask_owner(owner, folder));
    };
    if (dir.fd < 0) return unseen(openErr);
    bool listed = false;
    const std::vector<std::string> names = list_folder(dir.fd, listed);
    if (!listed) return unseen(errno ? errno : EACCES);
    // A folder of an earlier version, its owner's alone: opened to the company again.
    if (struct stat st {}; ours && req.mayWrite && ::fstat(dir.fd, &st) == 0 && (st.st_mode & 07777) != kBackupFolderMode)
        ::fchmod(dir.fd, kBackupFolderMode);
    const bool putter = req.mayWrite && (ours || admin);
    FolderLock lock;
    ui::NextStep waitFor = step(ui::Step::AgainWhenFinished);
    if (std::string why; putter && !lock.take(dir.fd, folder, why, &waitFor)) {
        // With no marker and no copy in it, no run stands there to put back or to stop anybody:
        // the folder's lock not had (bad, or held by another program) is not said as one.
        const bool anyRun = std::any_of(names.begin(), names.end(), [](const std::string& name) {
            std::string dataFile, run;
            return parse_copy_name(name, dataFile, run) || parse_run_file_name(name, kMarkerSuffix, run);
        });
        if (!anyRun) return;
        return scan.refuse(folder, "", why, waitFor ? waitFor : step(ui::Step::AgainWhenFinished));
    }

    std::map<std::string, std::vector<std::string>> copiesOf;  // run -> its copies beside
    std::set<std::string> markers, lockFiles;                   // runs
    for (const auto& name : names) {
        std::string dataFile, run;
        if (parse_copy_name(name, dataFile, run)) copiesOf[run].push_back(name);
        else if (parse_run_file_name(name, kMarkerSuffix, run)) markers.insert(run);
        else if (parse_run_file_name(name, kLockSuffix, run)) lockFiles.insert(run);
    }
    const std::string thisRun = this_run();
    for (const auto& run : markers) {
        {
            std::lock_guard<std::mutex> guard(g_heldMutex);
            if (run == thisRun && g_held.count(folder)) continue;  // this program's run, alive
        }
        Piece here;
        here.dataFolder = scan.dataFolder;
        here.folder = folder;
        here.owner = owner;
        here.run = run;
        here.beside = copiesOf[run];
        here.dir.reset(::dup(dir.fd));
        if (here.dir.fd < 0) return scan.refuse(folder, "", folder + ": " + errno_text(errno), step(ui::Step::Again));
        bool lockFile = false;
        // The run's lock is taken before its marker is read: a run that ends meanwhile is seen
        // gone, never taken for a dead one half read. Another user's lock cannot be tried.
        if (ours || admin) here.life = take_run_lock(dir.fd, run, owner, req.mayWrite, here.runLock, lockFile);
        read_marker(dir.fd, marker_name(run), run, owner, putter, here.m);
        if (here.m.state == Marker::Gone) continue;
        // Its ways lead only to the company's folders: a marker leading elsewhere is not one.
        for (const auto& way : here.m.main.empty() ? here.m.parts : std::vector<std::string>{here.m.main})
            if (const std::string why = way_outside(scan.dataFolder, way, scan.company);
                !why.empty() && here.m.state != Marker::Unreadable) {
                here.m.state = Marker::Unreadable;
                here.m.why = why;
            }
        // A marker of the previous version is its run's lock.
        if (here.life == Life::Dead && !lockFile && here.m.previous &&
            ::flock(here.m.fd.fd, (req.mayWrite ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
            here.life = Life::Alive;
        std::vector<std::string> named;
        if (here.m.state == Marker::Whole)
            for (const auto& c : here.m.copies) named.push_back(c.dataFile);
        else
            for (const auto& c : here.beside) named.push_back(data_file_of(c));
        if (!req.onlyFile.empty() && std::find(named.begin(), named.end(), req.onlyFile) == named.end()) continue;
        const std::string files = join_files(named);
        if (here.m.state == Marker::Whole && here.m.numbered) {
            // One test for everybody: what the data files carry. A run that none of them carries
            // committed nothing: it stops nobody and is never put back.
            const Judgment j = judge_run(owner, here.m.number, unit_data_files(scan, here));
            if (j.proof == Proof::Unproven) {
                // For its own user (or root) it is a run killed before its first commit, whose
                // copies equal the files: a leftover, cleared by a writing command with its parts.
                if (ours || admin) {
                    if (req.mayWrite && here.life == Life::Dead && here.m.main.empty()) remove_unfinished(scan, here);
                    continue;
                }
                // Another user's run whose lock is held may be before its first commit: nothing
                // is said of it yet (never "move it away" under a run that posts). Its data files'
                // writer locks keep every writer off while it lives.
                if (struct stat ls {}; ::fstatat(dir.fd, lock_name(run).c_str(), &ls, AT_SYMLINK_NOFOLLOW) == 0 &&
                                       !lock_holders(ls.st_dev, ls.st_ino).empty())
                    continue;
                scan.say(RunNoticeKind::NotARun, here.markerPath(), files,
                         "the run marker " + here.markerPath() + " of " + user + " names " + files +
                             ", and no data file carries its run: no conversion of theirs wrote them",
                         step(ui::Step::MoveRunAway, {folder, has_account(owner) ? user : ""}));
                continue;
            }
            if (j.proof == Proof::Foreign) {
                scan.say(RunNoticeKind::NotARun, here.markerPath(), files,
                         "the run marker " + here.markerPath() + " of " + user + " names " + files + ", and " + j.which +
                             " carries the number of a run of " + j.why + ", not of " + user +
                             ": no conversion of theirs wrote them",
                         step(ui::Step::MoveRunAway, {folder, has_account(owner) ? user : ""}));
                continue;
            }
            if (j.proof == Proof::Untold) {
                scan.refuse(RunNoticeKind::Untold, here.markerPath(), files,
                            "whether the run marker " + here.markerPath() + " of " + user + " is of a conversion cannot "
                            "be told, as " + j.why + ": the company may be half posted",
                            step(ui::Step::RestoreOrHandOver, {files, folder}));
                continue;
            }
        } else if (here.m.state == Marker::Whole || (here.m.state == Marker::Unreadable && !here.beside.empty())) {
            // A marker made before runs carried their number: a run whose user may not write what
            // it names made no conversion of it, and stops nobody; one whose user has no account
            // cannot be judged.
            std::vector<std::string> paths;
            for (const auto& f : named) paths.push_back(scan.dataFolder + f);
            std::string which;
            const Right right = write_right_all(owner, paths, which);
            if (right == Right::No) {
                scan.say(RunNoticeKind::NotARun, here.markerPath(), files,
                         "the run marker " + here.markerPath() + " of " + user + " names " + files + ", and that user may not write " +
                             which + ": no conversion of theirs wrote them",
                         step(ui::Step::MoveRunAway, {folder, has_account(owner) ? user : ""}));
                continue;
            }
            if (right == Right::Untold && !(here.m.state == Marker::Whole && stale_part(scan, here))) {
                scan.refuse(RunNoticeKind::Untold, here.markerPath(), files,
                            "the run marker " + here.markerPath() + " is of " + user + ", who has no account, so "
                            "whether it may write " + which + " cannot be told: the company may be half posted",
                            step(ui::Step::RestoreOrHandOver, {files, folder}));
                continue;
            }
        }
        if (here.life == Life::Alive) {
            // A run still posting holds its data files' writer locks itself; under this command's
            // own writer lock one naming the file is another host's that shares no locks.
            if (!req.onlyFile.empty() && here.m.state == Marker::Whole) {
                const std::string holder = "process " + here.m.process + " on host " + here.m.host + " of " + user;
                scan.refuse(here.markerPath(), files, "a conversion of " + holder + " is posting " + files,
                            step(ui::Step::AgainWhenFinished, {holder}));
            }
            continue;
        }
        switch (here.m.state) {
        case Marker::Gone:
            break;
        case Marker::Empty:
            // Its run died before its first commit or after its last: every data file is whole.
            if (req.mayWrite && ours && here.life == Life::Dead) remove_unfinished(scan, here);
            break;
        case Marker::Unreadable: {
            if (here.beside.empty()) break;  // names nothing here: nothing to put back, nothing deleted
            // One refusal for the run, whichever of its folders meets it first, naming what the
            // run left in all of them: restoring one folder's files alone would leave it mixed.
            const auto [all, folders] = run_everywhere(scan, run, owner);
            scan.refuse(req.mayWrite ? RunNoticeKind::Refused : RunNoticeKind::HalfPosted, here.markerPath(), files,
                        "the run marker " + here.markerPath() + " cannot be read (" + here.m.why +
                            ") while copies of its run stand beside it: nothing is put back",
                        step(ui::Step::RestoreFromBackup, {all.empty() ? files : all, folders.empty() ? folder : folders}),
                        0, std::to_string(owner) + "~" + run);
            break;
        }
        case Marker::Whole:
            if (!ours && !admin) {
                if (stale_part(scan, here)) break;
                // Its owner's command refuses it too: the step is the one their refusal gives,
                // never a wait for a command that cannot help.
                if (main_missing(scan, here)) {
                    scan.refuse(RunNoticeKind::OtherUser, here.markerPath(), files,
                                "the run marker " + here.markerPath() + " of " + user + " names copies of " + files +
                                    ", and the main marker of its run (" + marker_name(run) + ", in a backup folder of " +
                                    way_target(scan.dataFolder, here.m.main) +
                                    ") is missing: nobody's command can put it back",
                                restore_run(scan, run, owner, files, folder), 0, std::to_string(owner) + "~" + run);
                    break;
                }
                // One refusal for the run, however many folders it has a marker in.
                scan.refuse(RunNoticeKind::OtherUser, here.markerPath(), files,
                            "the run marker " + here.markerPath() + " of " + user + " names copies of " + files +
                                ": that conversion is posting, or stopped before it had finished posting, and only "
                                "its own user puts it back",
                            ask_owner(owner, folder), 0, std::to_string(owner) + "~" + run);
                break;
            }
            if (refuse_unusable_lock(scan, here, files)) break;
            // A look follows the writer's way without writing: it says what a writing command
            // will do, put the run back or refuse, and why.
            settle_whole(scan, here);
            break;
        }
    }
    // Copies without a marker: their run died before it made one (an older program), or after
    // it removed it. Those of this host whose process is gone go, with a writing command, unless
    // a marker of their run stands in any folder of the company (a main marker removed by hand
    // leaves its parts naming it: its copies may be the only ones left from before the run). So
    // do lock files left without their marker.
    if (!req.mayWrite || !ours || !req.onlyFile.empty()) return;
    const std::string host = host_name();
    for (const auto& [run, copies] : copiesOf) {
        if (markers.count(run)) continue;
        const auto tilde = run.rfind('~');
        if (run.substr(0, tilde) != host || !process_gone(run.substr(tilde + 1)) || marker_stands(scan, run, owner)) continue;
        for (const auto& copy : copies) {
            struct stat st {};
            if (::fstatat(dir.fd, copy.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
                ::unlinkat(dir.fd, copy.c_str(), 0);
        }
    }
    for (const auto& run : lockFiles) {
        if (markers.count(run) || run == thisRun) continue;
        Fd held;
        bool lockFile = false;
        if (take_run_lock(dir.fd, run, owner, true, held, lockFile) == Life::Dead && lockFile)
            ::unlinkat(dir.fd, lock_name(run).c_str(), 0);
    }
}

}  // namespace

std::string own_backup_folder(const std::string& dataFolderIn, std::string& why, ui::NextStep* next) {
    const std::string dataFolder = with_slash(dataFolderIn);
    why.clear();
    if (next) *next = {};
    std::string reasons;
    // Names taken by other users' folders (a company handed over many times): an administrator
    // frees one. Any other failure (the data folder cannot be written) has a step of its own.
    std::vector<std::string> takenFolders, takenBy;
    bool onlyTaken = true;
    // After a company was handed over (`chown -R`), the names this user had are the new owner's:
    // another of the same form is taken.
    std::vector<std::string> candidates{".backup", ".backup-" + std::to_string(::geteuid())};
    for (int k = 2; k <= 9; ++k) candidates.push_back(candidates[1] + "-" + std::to_string(k));
    for (const std::string& name : candidates) {
        const std::string folder = dataFolder + name;
        if (::mkdir(folder.c_str(), kBackupFolderMode) != 0 && errno != EEXIST) {
            reasons += (reasons.empty() ? "" : "; ") + folder + ": " + errno_text(errno);
            onlyTaken = false;
            continue;
        }
        struct stat st {};
        if (::lstat(folder.c_str(), &st) != 0) {
            reasons += (reasons.empty() ? "" : "; ") + folder + ": " + errno_text(errno);
            onlyTaken = false;
            continue;
        }
        if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
            const bool taken = S_ISDIR(st.st_mode);
            const std::string owner = user_name(st.st_uid);
            reasons += (reasons.empty() ? "" : "; ") + folder +
                       (S_ISLNK(st.st_mode) ? " is a link" : !taken ? " is not a folder" : " belongs to " + owner);
            if (taken) {
                takenFolders.push_back(folder);
                if (std::find(takenBy.begin(), takenBy.end(), owner) == takenBy.end()) takenBy.push_back(owner);
            }
            continue;
        }
        if ((st.st_mode & 07777) != kBackupFolderMode && ::chmod(folder.c_str(), kBackupFolderMode) != 0) {
            reasons += (reasons.empty() ? "" : "; ") + folder + ": " + errno_text(errno);
            onlyTaken = false;
            continue;
        }
        return folder + "/";
    }
    why = "no backup folder can be had (" + escaped(reasons) + ")";
    if (next && onlyTaken && !takenFolders.empty())
        *next = {ui::Step::FreeBackupFolder, {escaped(join_files(takenFolders)), escaped(join_files(takenBy))}};
    return "";
}

std::string run_copy_name(const std::string& dataFileName, long n) {
    std::string s = dataFileName + "~" + this_run();
    if (n > 1) s += "~" + std::to_string(n);
    return s;
}

int hold_run(const std::string& backupFolderIn, std::string* why) {
    const std::string folder = with_slash(backupFolderIn);
    std::lock_guard<std::mutex> guard(g_heldMutex);
    if (auto it = g_held.find(folder); it != g_held.end()) {
        // A run of this program whose files could not all be put back: its marker names the
        // copies kept, and a new run here would write over it, so that the next command dropped them.
        if (it->second.whole) {
            if (why)
                *why = "a conversion before it in this run could not put its data files back from " + folder;
            return EALREADY;
        }
        ++it->second.copies;
        return 0;
    }
    const int err = hold_locked(folder, why);
    if (err == 0) g_held[folder].copies = 1;
    return err;
}

void let_go_run(const std::string& backupFolderIn) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    auto it = g_held.find(with_slash(backupFolderIn));
    if (it == g_held.end()) return;
    if (it->second.copies > 0) --it->second.copies;
    drop_if_done(it);
}

int write_run_markers(const std::vector<RunCopy>& copies, const std::string& mainDataFolder) {
    std::map<std::string, std::string> linesOf;  // backup folder -> its copy lines
    const std::string run = this_run();
    for (const auto& c : copies) {
        const auto slash = c.path.rfind('/');
        const std::string folder = slash == std::string::npos ? "./" : c.path.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? c.path : c.path.substr(slash + 1);
        std::string dataFile, copyRun;
        if (!parse_copy_name(name, dataFile, copyRun) || copyRun != run) return EINVAL;
        linesOf[folder] += marker_copy_line(name, c.length, c.hash);
    }
    if (linesOf.empty()) return 0;
    std::lock_guard<std::mutex> guard(g_heldMutex);
    for (const auto& [folder, lines] : linesOf)
        if (!g_held.count(folder)) return EXDEV;  // a copy no later command could find
    // A number of this run's own: every data file it commits carries it with its user, which
    // proves later that a marker naming it is of a run that wrote them.
    const RunMark mark{::geteuid(), draw_run_number()};
    const std::string head = marker_head(host_name(), static_cast<long>(::getpid()), mark.number);
    std::vector<Held*> written;
    auto undo = [&](int err) {
        set_run_mark_for_commits(std::nullopt);
        for (Held* h : written) {
            if (cut_marker(h->markerFd, 0) == 0) h->whole = false;
            h->role = Role::Alone;
        }
        // A main marker made for the commit point alone holds no copy: it goes now.
        std::vector<std::string> folders;
        for (const auto& [folder, h] : g_held) folders.push_back(folder);
        for (const auto& folder : folders)
            if (auto it = g_held.find(folder); it != g_held.end()) drop_if_done(it);
        return err;
    };
    if (linesOf.size() == 1) {
        Held& h = g_held[linesOf.begin()->first];
        if (const int err = write_marker(h, head + linesOf.begin()->second + marker_end_line(), 0); err != 0) return undo(err);
        written.push_back(&h);
        if (const int err = sync_folder(h.folder); err != 0) return undo(err);
        h.whole = true;
        set_run_mark_for_commits(mark);
        return 0;
    }
    // Several folders: the marker in the company's data folder is the run's one commit point. It
    // names its parts first, the parts are filled, and it names its copies last.
    std::string why;
    const std::string mainFolder = own_backup_folder(mainDataFolder, why);
    if (mainFolder.empty()) return EACCES;
    if (!g_held.count(mainFolder))
        if (const int err = hold_locked(mainFolder, nullptr); err != 0) return err;
    Held& main = g_held[mainFolder];
    const std::string mainData = data_folder_of(mainFolder);
    std::string names = head;
    for (const auto& [folder, lines] : linesOf) {
        if (folder == mainFolder) continue;
        const std::string way = way_to(mainData, data_folder_of(folder));
        if (way.find('\n') != std::string::npos) return EINVAL;  // a folder whose name holds a line end
        names += marker_part_line(way);
    }
    written.push_back(&main);
    if (const int err = write_marker(main, names, 0); err != 0) return undo(err);
    main.role = Role::Main;
    main.namesOnly = static_cast<off_t>(names.size());
    for (const auto& [folder, lines] : linesOf) {
        if (folder == mainFolder) continue;
        Held& part = g_held[folder];
        const std::string way = way_to(data_folder_of(folder), mainData);
        if (way.find('\n') != std::string::npos) return undo(EINVAL);
        written.push_back(&part);
        if (const int err = write_marker(part, head + marker_main_line(way) + lines + marker_end_line(), 0); err != 0)
            return undo(err);
        part.role = Role::Part;
        part.whole = true;
        if (const int err = sync_folder(folder); err != 0) return undo(err);
    }
    const auto own = linesOf.find(mainFolder);
    if (const int err = write_marker(main, (own == linesOf.end() ? std::string() : own->second) + marker_end_line(), main.namesOnly);
        err != 0)
        return undo(err);
    if (const int err = sync_folder(mainFolder); err != 0) return undo(err);
    main.whole = true;
    set_run_mark_for_commits(mark);
    return 0;
}

int clear_run_markers() {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    // Every data file of the run has committed, or it goes back from its copies: nothing more
    // is committed as the run's.
    set_run_mark_for_commits(std::nullopt);
    // The main marker first: once it names no copy, every part is stale. Until then the run has
    // not passed its commit point, whatever committed: its files are to go back.
    for (auto& [folder, h] : g_held)
        if (h.role == Role::Main && h.whole) {
            if (const int err = cut_marker(h.markerFd, h.namesOnly); err != 0) return err;
            h.whole = false;
            if (g_commitPointHook) g_commitPointHook();
        }
    // A run in one folder: its marker is its commit point.
    int failed = 0;
    for (auto& [folder, h] : g_held) {
        if (!h.whole) continue;
        if (const int err = cut_marker(h.markerFd, 0); err == 0) h.whole = false;
        else if (h.role == Role::Alone) failed = err;
        // A part left whole beside a main that names no copy is stale: the next command removes it.
        else h.whole = false;
    }
    if (failed != 0) return failed;
    for (auto it = g_held.begin(); it != g_held.end();) {
        const std::string key = it->first;
        drop_if_done(it);  // dropping a part may drop the main as well
        it = g_held.upper_bound(key);
    }
    return 0;
}

void forget_run_notices_said() {
    std::lock_guard<std::mutex> guard(g_noticeMutex);
    g_said.clear();
}

std::vector<RunNotice> take_run_notices() {
    std::lock_guard<std::mutex> guard(g_noticeMutex);
    std::vector<RunNotice> taken;
    taken.swap(g_notices);
    return taken;
}

namespace {

// Data files left in the middle of a write (a hot journal beside them), once the runs are
// settled (a put-back removes the journal of each file it puts back): a writer takes each write
// back and says so, as a put-back; a look refuses, naming the file and the writing command that
// takes it back.
void take_back_stopped_writes(Scan& scan) {
    StoppedWriteRequest r;
    r.dataFolder = scan.dataFolder;
    r.onlyFile = scan.request.onlyFile;
    r.takeBack = scan.request.mayWrite;
    r.openHere = put_back_checks().openHere;
    for (const StoppedWrite& w : settle_stopped_writes(r)) {
        const std::string journal = w.dataFile + "-journal";
        if (w.takenBack)
            scan.say(RunNoticeKind::PutBack, journal, w.dataFile,
                     "It stopped in the middle of writing the file, and that write was taken back from its journal", {});
        else if (!scan.request.mayWrite)
            scan.refuse(RunNoticeKind::WriteStopped, journal, w.dataFile, "", step(ui::Step::AgainToPutBack));
        else
            scan.refuse(RunNoticeKind::Refused, journal, w.dataFile,
                        w.dataFile + " was left in the middle of a write that cannot be taken back now: " + w.why, w.next);
    }
}

}  // namespace

bool settle_dead_runs(const SettleRequest& request, std::string* why) {
    Scan scan{request, with_slash(normal(request.dataFolder)), why, true, {}};
    for (const auto& f : company_data_folders(scan.dataFolder))
        if (const auto id = folder_id(f); id.second != 0) scan.company.insert(id);
    for (const auto& [folder, owner] : backup_folders(scan.dataFolder)) settle_folder(scan, folder, owner);
    take_back_stopped_writes(scan);
    return scan.ok;
}

void remove_restore_leftovers(const std::string& dataFolderIn) {
    const std::string dataFolder = with_slash(dataFolderIn);
    DIR* d = ::opendir(dataFolder.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
    const std::set<std::string> present(names.begin(), names.end());
    for (const auto& name : names) {
        // Only a file aside of a data file that stands beside it: a file of the user's own that
        // happens to end in ".restore<digits>" is not one.
        std::string target, process;
        if (!parse_aside_name(name, target, process) || !present.count(target) || !process_gone(process)) continue;
        struct stat st {};
        const std::string path = dataFolder + name;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) ::unlink(path.c_str());
    }
}

void set_company_folders(std::function<std::vector<std::string>()> folders) {
    std::lock_guard<std::mutex> guard(services().mutex);
    services().companyFolders = std::move(folders);
}

void set_put_back_hook_for_tests(std::function<void(const std::string& marker)> hook) { g_putBackHook = std::move(hook); }

void set_commit_point_hook_for_tests(std::function<void()> hook) { g_commitPointHook = std::move(hook); }


}  // namespace dz::xio
