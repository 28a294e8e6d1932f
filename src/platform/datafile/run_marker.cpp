// What the phases of a run share: the names of its files, a marker as found, a run's lock, the
// company's backup folders, and the notices (see run_marker_internal.h).
#include "platform/datafile/run_marker_internal.h"

#include "platform/datafile/file_aside.h"
#include "platform/datafile/lock_file.h"
#include "platform/datafile/users.h"
#include "platform/ui/shown_text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <signal.h>
#include <sys/file.h>

namespace dz::xio {
namespace runs {
namespace {

struct Services {
    std::mutex mutex;
    std::function<std::vector<std::string>()> companyFolders;
};
Services& services() {
    static Services s;
    return s;
}

// "<uid>" or "<uid>-<k>": what follows ".backup-" in a backup folder's name.
bool backup_suffix(const std::string& s) {
    const auto dash = s.find('-');
    if (dash == std::string::npos) return all_digits(s);
    return all_digits(s.substr(0, dash)) && s.size() == dash + 2 && std::isdigit(static_cast<unsigned char>(s[dash + 1]));
}

std::mutex g_noticeMutex;
std::vector<RunNotice> g_notices;
std::set<std::string> g_said;  // notices other than put-backs queued since the command began

}  // namespace

std::string host_name() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0') return "host";
    std::string host = buf;
    for (char& c : host)
        if (c == '~' || c == '/' || c == ' ' || std::iscntrl(static_cast<unsigned char>(c))) c = '_';
    return host;
}

bool all_digits(const std::string& s, std::size_t most) {
    return !s.empty() && s.size() <= most && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string errno_text(int err) { return std::strerror(err); }

std::string escaped(const std::string& text) { return ui::shown_text(text); }
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

bool owned_plain_file(int fd, uid_t owner, struct stat* out) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != owner || st.st_nlink != 1) return false;
    if (out) *out = st;
    return true;
}

bool FolderLock::take(int dirFd, const std::string& folder, std::string& why, ui::NextStep* next) {
    LockFileSpec spec;
    spec.folder = folder;
    spec.dirFd = dirFd;
    spec.name = kFolderLockName;
    LockWaitFailure failure;
    fd_.reset(take_lock_file(spec, true, failure));
    if (fd_.fd >= 0) return true;
    held_ = failure.error == EWOULDBLOCK && !failure.foreign;
    foreign_ = failure.foreign;
    holder_ = failure.holder;
    why = failure.cause;
    if (next) *next = failure.next;
    return false;
}
int cut_marker(int fd, off_t at) {
    if (::ftruncate(fd, at) != 0) return errno;
    return ::fsync(fd) == 0 ? 0 : errno;
}

void notify(RunNotice notice, const std::string& once) {
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
    m.had = std::move(t.had);
    m.namesEnd = static_cast<off_t>(t.namesEnd);
}

namespace {
// Whether a holder of a run's lock may be the run's own program: one of its owner or root, or
// one whose user cannot be seen (another namespace, an open file description's lock); never a
// process that has ended.
bool runs_it(const LockHolder& h, uid_t owner) {
    if (h.ended) return false;
    return !h.uidKnown || h.uid == owner || h.uid == 0;
}

// The data files that the copies of run `run` standing in the backup folder `dirFd` were taken of,
// each opened to be looked at (from the data folder above it); a file that cannot be opened is
// left out.
std::vector<Fd> copied_files(int dirFd, const std::string& run) {
    std::vector<Fd> files;
    bool listed = false;
    // A descriptor of its own: the folder's may have been read to its end already.
    const Fd folder(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0) return files;
    for (const auto& copy : copies_beside(list_folder(folder.fd, listed), run))
        if (Fd f(::openat(dirFd, ("../" + data_file_of(copy)).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)); f.fd >= 0)
            files.push_back(std::move(f));
    return files;
}

// Whether a holder of a run's lock holds nothing by it: none of its run's programs, and a user
// who may read none of the data files the run copied. The lock file is for those who may read
// them (to ask whether the run lives); one opened while it was wider keeps nobody off.
bool holds_nothing(const LockHolder& h, uid_t owner, const std::vector<Fd>& files) {
    if (runs_it(h, owner) || !h.uidKnown || h.pid <= 0 || files.empty()) return false;
    return std::all_of(files.begin(), files.end(),
                       [&](const Fd& f) { return read_right(h.uid, h.groups, f.fd) == WriteRight::No; });
}

// Whether every holder of the file of `dev`/`ino` but this program holds nothing by it (and
// there is one).
bool held_by_nobody(dev_t dev, ino_t ino, uid_t owner, const std::vector<Fd>& files) {
    const auto holders = other_holders(dev, ino);
    return !holders.empty() &&
           std::all_of(holders.begin(), holders.end(), [&](const LockHolder& h) { return holds_nothing(h, owner, files); });
}
}  // namespace

Life take_run_lock(int dirFd, const std::string& run, uid_t owner, bool exclusive, Fd& lock, bool& lockFile) {
    // Used as it stands, by a putter too: every member who may enter the folder may open it to
    // ask whether the run lives, so one made afresh from under a holder (shared or exclusive)
    // would free what they hold, and a run whose lock is held is never cleared. A missing one is
    // never made: its run is dead.
    LockFileSpec spec;
    spec.dirFd = dirFd;
    spec.name = lock_name(run);
    spec.make = false;
    spec.create = false;
    spec.mustWrite = false;
    spec.refuseOtherOwner = true;
    spec.readable = true;
    const LockFileOpened opened = try_lock_file(spec, exclusive);
    lockFile = opened.error != ENOENT;
    lock.reset(opened.fd);
    if (!lockFile) return Life::Dead;
    // Held against a putter by none but users who hold nothing by it: its own program holds it
    // exclusive for its whole life, so a shared lock had says the run is dead, and the putter
    // goes on under it (the backup folder's lock keeps other putters off).
    if (lock.fd < 0 && opened.error == EWOULDBLOCK && exclusive && opened.owner == owner &&
        held_by_nobody(opened.dev, opened.ino, owner, copied_files(dirFd, run)))
        if (const LockFileOpened shared = try_lock_file(spec, false); shared.fd >= 0) {
            lock.reset(shared.fd);
            if (shared.owner == owner) return Life::Dead;
            lock.reset(-1);
        }
    if (lock.fd < 0 && opened.error != EWOULDBLOCK) return Life::Unknown;
    if (opened.owner != owner) return Life::Unknown;
    if (lock.fd >= 0) return Life::Dead;  // held here, on the file its name names (try_lock_file)
    // Only a program of its owner (or root) runs it: a holder who could open it only while it
    // was left wider proves nothing, but neither does it free the run. Nobody seen holding it is
    // not nobody holding it (what this machine shows can miss a lock, and never shows another
    // host's): alive.
    // A holder whose process has ended runs nothing: a descriptor another process kept holds
    // its lock, which is never a live run (nor a dead one it may be taken from).
    const std::vector<LockHolder> holders = other_holders(opened.dev, opened.ino);
    return holders.empty() || std::any_of(holders.begin(), holders.end(), [&](const LockHolder& h) { return runs_it(h, owner); })
               ? Life::Alive
               : Life::Unknown;
}

bool holds_run_lock(int dirFd, const std::string& run, int lockFd, bool dead) {
    struct stat named {}, held {};
    if (::fstatat(dirFd, lock_name(run).c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT && (dead || lockFd >= 0);
    return lockFd >= 0 && ::fstat(lockFd, &held) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
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
// ---- The company's folders and what their markers lead to ----------------------------------

FolderIds::value_type folder_id(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return {0, 0};
    return {st.st_dev, st.st_ino};
}

ui::NextStep step(ui::Step s, std::vector<std::string> args) { return ui::NextStep{s, std::move(args)}; }

// What is asked of the owner of a backup folder that holds (or may hold) a stopped run: their
// writing command puts it back. An owner with no account runs nothing: an administrator acts.
ui::NextStep ask_owner(uid_t owner, const std::string& folder) {
    if (has_account(owner)) return step(ui::Step::AskUserToPutBack, {user_name(owner)});
    return step(ui::Step::AskAdministrator, {folder});
}

// Why a run's lock file cannot be used, as it stands in its folder: "" when nothing is seen wrong.
std::string lock_file_fault(int dirFd, const std::string& name, uid_t owner, std::optional<LockHolder>* holder) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? "" : errno_text(errno);
    if (S_ISLNK(st.st_mode)) return "it is a link";
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (st.st_uid != owner) return "it belongs to " + user_name(st.st_uid) + ", not to its folder's owner";
    if (st.st_nlink != 1) return "it has other links";
    // Held by none but users it was never for (opened while it was wider, or readable to ask).
    // This program's own lock (a look's shared one, beside an outsider's) is no holder of it.
    const auto holders = other_holders(st.st_dev, st.st_ino);
    const bool itsOwn = std::any_of(holders.begin(), holders.end(), [&](const LockHolder& h) { return runs_it(h, owner); });
    if (holders.empty() || itsOwn) return "";
    // Held by none but users who may read none of the run's files: nobody is kept off by them.
    if (std::string run; parse_run_file_name(name, kLockSuffix, run) &&
                         held_by_nobody(st.st_dev, st.st_ino, owner, copied_files(dirFd, run)))
        return "";
    if (holder) *holder = holders.front();
    return "it is held by " + holders.front().words() + ", not by a program of " + user_name(owner);
}

bool hash_through(int fd, StreamHash& hash) {
    std::string buf(1 << 16, '\0');
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buf.data(), buf.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        hash.Add(std::string_view(buf.data(), static_cast<std::size_t>(n)));
        at += n;
    }
}

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
    std::optional<LockHolder> holder;
    const std::string fault = lock_file_fault(p.dir.fd, lock_name(p.run), p.owner, &holder);
    const std::string program = "process " + (p.m.process.empty() ? std::string("?") : p.m.process) + " on host " +
                                (p.m.host.empty() ? std::string("?") : p.m.host);
    scan.refuse(p.markerPath(), files,
                "the lock file " + lock + " of the run cannot be used" + (fault.empty() ? "" : " (" + fault + ")") +
                    ": nothing is put back",
                // Held by none of its own: whoever keeps it is ended, and the run is put back.
                holder ? step(ui::Step::EndLockHolder, {lock, holder->ender()}) : step(ui::Step::RemoveRunLock, {program, lock}),
                0, std::to_string(p.owner) + "~" + p.run);
    return true;
}

// Removes a piece's copies, its marker and its lock file.
void remove_piece(Piece& p) {
    // Only under its run's lock, on the file its name names: a run that lives keeps everything.
    if (p.life != Life::Dead) return;
    lock_step(LockStep::Removing, p.folder + lock_name(p.run));
    if (!holds_run_lock(p.dir.fd, p.run, p.runLock.fd, true)) return;
    std::set<std::string> copies(p.beside.begin(), p.beside.end());
    for (const auto& c : p.m.copies) copies.insert(c.name);
    for (const auto& c : copies) ::unlinkat(p.dir.fd, c.c_str(), 0);
    ::unlinkat(p.dir.fd, marker_name(p.run).c_str(), 0);
    ::unlinkat(p.dir.fd, lock_name(p.run).c_str(), 0);
    ::fsync(p.dir.fd);
}

// ---- What a settling says ----------------------------------------------------------------------

void Scan::say(RunNoticeKind kind, const std::string& marker, const std::string& files, const std::string& reason,
               ui::NextStep next, int err, const std::string& once) {
    RunNotice n;
    n.kind = kind;
    n.files = files;
    n.reason = reason;
    n.marker = marker;
    n.error = err;
    n.next = std::move(next);
    notify(std::move(n), once);
}

void Scan::refuse(RunNoticeKind kind, const std::string& marker, const std::string& files, const std::string& reason,
                  ui::NextStep next, int err, const std::string& once) {
    if (ok && why) *why = escaped(reason.empty() ? files : reason);
    ok = false;
    say(kind, marker, files, reason, std::move(next), err, once);
}

void Scan::refuse(const std::string& marker, const std::string& files, const std::string& reason, ui::NextStep next,
                  int err, const std::string& once) {
    refuse(request.mayWrite ? RunNoticeKind::Refused : RunNoticeKind::HalfPosted, marker, files, reason,
           std::move(next), err, once);
}

void Scan::notARun(const std::string& marker, uid_t owner, const std::string& folder, const std::string& files,
                   const std::string& because) {
    const std::string user = user_name(owner);
    say(RunNoticeKind::NotARun, marker, files,
        "the run marker " + marker + " of " + user + " names " + files + ", and " + because +
            ": no conversion of theirs wrote them",
        step(ui::Step::MoveRunAway, {folder, has_account(owner) ? user : ""}));
}

void Scan::keptCopies(const std::string& marker, uid_t owner, const std::string& run, const std::string& folder,
                      const std::string& files, const std::string& which) {
    const std::string user = user_name(owner);
    say(RunNoticeKind::Kept, marker, files,
        "the run marker " + marker + " of " + user + " names " + files + ", and no data file carries its run, though " +
            which + " differs from its copy",
        step(ui::Step::LookAtRunCopies, {folder, has_account(owner) ? user : ""}), 0, std::to_string(owner) + "~" + run);
}

std::string no_account_reason(const std::string& marker, uid_t owner, const std::string& which) {
    return "the run marker " + marker + " is of " + user_name(owner) + ", who has no account, so whether it may write " +
           which + " cannot be told: the company may be half posted";
}

void Scan::untold(const std::string& marker, const std::string& files, const std::string& reason,
                  const std::string& folder) {
    refuse(RunNoticeKind::Untold, marker, files, reason, step(ui::Step::RestoreOrHandOver, {files, folder}));
}

}  // namespace runs

using namespace runs;

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

void set_company_folders(std::function<std::vector<std::string>()> folders) {
    std::lock_guard<std::mutex> guard(services().mutex);
    services().companyFolders = std::move(folders);
}

}  // namespace dz::xio
