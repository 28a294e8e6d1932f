#include "platform/datafile/run_marker.h"

#include "platform/datafile/dictionary.h"
#include "platform/datafile/locks.h"
#include "platform/datafile/xio.h"
#include "platform/datafile/xio_internal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::xio {
namespace {

// A backup folder others may list and a marker others may read: every user of the company must
// see a run of another user that stopped half posted, or would write over it unknowing (and
// that user's put-back would later undo what was written). The copies themselves stay readable
// by their owner alone (mode 0600): what others see is names, never data.
constexpr mode_t kBackupFolderMode = 0755;


constexpr const char* kMarkerHead = "dodedoz run marker";
constexpr const char* kMarkerPrefix = "run~";
constexpr const char* kMarkerSuffix = ".marker";
constexpr std::size_t kMarkerBound = 64 * 1024;  // far above any run's names; a bigger one is not ours

std::string WithSlash(std::string folder) {
    if (folder.empty()) return "./";
    if (folder.back() != '/') folder += '/';
    return folder;
}

std::string Host() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0') return "host";
    std::string host = buf;
    for (char& c : host)
        if (c == '~' || c == '/') c = '_';
    return host;
}

bool AllDigits(const std::string& s, std::size_t most = 9) {
    return !s.empty() && s.size() <= most && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string Errno(int err) { return std::strerror(err); }

// A copy's name "<data file>~<host>~<process>[~<n>]": the data file's name and the run
// ("<host>~<process>"), or false when it is not one.
bool ParseCopyName(const std::string& name, std::string& dataFile, std::string& run) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const auto tilde = name.find('~', start);
        parts.push_back(name.substr(start, tilde == std::string::npos ? std::string::npos : tilde - start));
        if (tilde == std::string::npos) break;
        start = tilde + 1;
    }
    if (parts.size() < 3 || parts.size() > 4 || parts[0].empty() || parts[0] == "." || parts[0] == ".." ||
        parts[1].empty() || !AllDigits(parts[2]) || (parts.size() == 4 && !AllDigits(parts[3])))
        return false;
    if (name.find('/') != std::string::npos || name.find('\n') != std::string::npos) return false;
    dataFile = parts[0];
    run = parts[1] + "~" + parts[2];
    return true;
}

// "run~<host>~<process>.marker": its run, or false.
bool ParseMarkerName(const std::string& name, std::string& run) {
    const std::string prefix = kMarkerPrefix, suffix = kMarkerSuffix;
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    run = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const auto tilde = run.rfind('~');
    return tilde != std::string::npos && tilde > 0 && AllDigits(run.substr(tilde + 1)) && run.find('/') == std::string::npos;
}

std::string ThisRun() { return Host() + "~" + std::to_string(::getpid()); }

bool SyncFd(int fd) { return ::fsync(fd) == 0; }

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = SyncFd(fd);
    ::close(fd);
    return ok;
}

// A folder's flock, held while a marker is made or judged: a marker is never judged between its
// making and its locking, and two programs never put one run back at once.
class FolderLock {
public:
    FolderLock(int fd, bool exclusive) : fd_(fd) {
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {}
    }
    ~FolderLock() { ::flock(fd_, LOCK_UN); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// ---- This program's runs ------------------------------------------------------------------------

struct Held {
    int fd = -1;
    std::string path;
    int copies = 0;
    bool whole = false;  // names copies: the data files may be half posted
};
std::mutex g_heldMutex;
std::map<std::string, Held> g_held;  // by backup folder (with its slash)

void DropHeld(std::map<std::string, Held>::iterator it) {
    ::unlink(it->second.path.c_str());
    ::close(it->second.fd);  // and with it the lock
    g_held.erase(it);
}

std::function<void(const std::string&)> g_putBackHook;
std::mutex g_noticeMutex;
std::vector<RunNotice> g_notices;

void Notify(RunNotice notice) {
    std::lock_guard<std::mutex> guard(g_noticeMutex);
    g_notices.push_back(std::move(notice));
}

// ---- A marker as found ----------------------------------------------------------------------------

struct Found {
    enum State { Gone, Alive, Unfinished, Whole, Unreadable } state = Gone;
    std::string why;                 // Unreadable: why
    std::vector<std::string> names;  // Whole: the copies, by name
    std::string host, process;       // as the marker gives them
    Fd fd;                           // locked while the state is not Alive
};

// Opens, locks and reads a marker found in the backup folder `dirFd` owned by `owner`.
// A writer judges a marker under an exclusive lock, which it keeps for the put-back; a look under a
// shared one, so that two looks at once do not take each other for a live run.
void Judge(int dirFd, const std::string& name, const std::string& run, uid_t owner, bool writer, Found& f) {
    f.fd.fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (f.fd.fd < 0) {
        if (errno == ENOENT) return;
        f.state = Found::Unreadable;
        f.why = Errno(errno);
        return;
    }
    struct stat st {};
    if (::fstat(f.fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        f.state = Found::Unreadable;
        f.why = "it is not a regular file";
        return;
    }
    if (st.st_uid != owner || st.st_nlink != 1) {
        f.state = Found::Unreadable;
        f.why = st.st_uid != owner ? "it belongs to another user than its folder" : "it has other links";
        return;
    }
    if (::flock(f.fd.fd, (writer ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        f.state = Found::Alive;
        const auto tilde = run.rfind('~');
        f.host = run.substr(0, tilde);
        f.process = run.substr(tilde + 1);
        return;
    }
    if (st.st_size > static_cast<off_t>(kMarkerBound)) {
        f.state = Found::Unreadable;
        f.why = "it is larger than any marker (" + std::to_string(st.st_size) + " bytes)";
        return;
    }
    std::string text(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t r = ::pread(f.fd.fd, text.data() + got, text.size() - got, static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    text.resize(got);
    if (text.empty()) {
        f.state = Found::Unfinished;  // made, never filled (or emptied after the last commit)
        return;
    }
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const auto nl = text.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    if (lines.empty() || lines[0] != kMarkerHead) {
        f.state = Found::Unreadable;
        f.why = "it is not a run marker";
        return;
    }
    bool whole = false;
    // A marker of the previous version gives its process's start ("start ...") and each copy as
    // the path it was made under in a ".backup" folder: only the name is taken, resolved here as
    // every name is, so a company half posted by that version is still put back.
    bool previous = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line == "end") {
            whole = true;
            break;
        }
        if (line.rfind("start ", 0) == 0 && i == 1) {
            previous = true;
        } else if (line.rfind("host ", 0) == 0) {
            f.host = line.substr(5);
        } else if (line.rfind("process ", 0) == 0) {
            f.process = line.substr(8);
        } else if (line.rfind("copy ", 0) == 0) {
            std::string dataFile, copyRun;
            std::string copy = line.substr(5);
            if (const auto slash = copy.rfind('/');
                previous && slash != std::string::npos && slash >= 8 && copy.compare(slash - 8, 9, "/.backup/") == 0)
                copy.erase(0, slash + 1);
            if (!ParseCopyName(copy, dataFile, copyRun) || copyRun != run) {
                f.state = Found::Unreadable;
                f.why = "it names " + copy + ", which is not a copy of its run";
                return;
            }
            f.names.push_back(copy);
        } else {
            f.state = Found::Unreadable;
            f.why = "it holds a line that is not a marker's";
            return;
        }
    }
    f.state = whole ? Found::Whole : Found::Unfinished;
}

std::string DataFileOf(const std::string& copy) {
    std::string dataFile, run;
    ParseCopyName(copy, dataFile, run);
    return dataFile;
}

std::string JoinFiles(const std::vector<std::string>& copies) {
    std::vector<std::string> files;
    for (const auto& c : copies)
        if (const std::string f = DataFileOf(c); std::find(files.begin(), files.end(), f) == files.end()) files.push_back(f);
    std::string joined;
    for (const auto& f : files) joined += (joined.empty() ? "" : ", ") + f;
    return joined;
}

// Whether this program has the data file open, on any connection.
bool OpenHere(const std::string& dataFile) {
    std::error_code ec;
    std::string key = std::filesystem::weakly_canonical(dataFile, ec).string();
    if (ec || key.empty()) key = std::filesystem::absolute(dataFile, ec).string();
    for (const std::string& k : {key, key + "\n(read-only)"})
        if (auto it = xio_private::g_conns.find(k); it != xio_private::g_conns.end() && !it->second.expired()) return true;
    return false;
}

// Whether `file` (made by this program) is a data file of the dictionary file named `name`.
std::string CheckIsDataFileNamed(const std::string& file, const std::string& name) {
    xio_private::configure_sqlite_once();
    sqlite3* db = nullptr;
    std::map<std::string, std::string> meta;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT name, value FROM dz_meta", -1, &st, nullptr) == SQLITE_OK)
            while (sqlite3_step(st) == SQLITE_ROW) {
                const auto* n = sqlite3_column_text(st, 0);
                const auto* v = sqlite3_column_text(st, 1);
                if (n && v) meta[reinterpret_cast<const char*>(n)] = reinterpret_cast<const char*>(v);
            }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    if (meta["format"] != "dodedoz-datafile") return "it is not a data file";
    std::string error;
    const auto dict = get(meta["abbr"], error);
    uint16_t number = 0;
    try {
        number = static_cast<uint16_t>(std::stoul(meta["file_no"]));
    } catch (...) {
        number = 0;
    }
    const FileEntry* entry = dict ? dict->file(number) : nullptr;
    auto upper = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    if (!entry || upper(entry->name) != upper(name)) return "it holds " + meta["abbr"] + " file " + meta["file_no"] + ", not " + name;
    return "";
}

// Copies the checked copy `in` beside the data file and renames it over it. "" when done; else
// why, with `err` the errno when one says it.
std::string PutBackCopy(int in, const std::string& dataFile, const std::string& name, int& err) {
    err = 0;
    struct stat st {};
    mode_t mode = 0600;
    if (::lstat(dataFile.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return dataFile + " is not a regular file";
        mode = st.st_mode & 07777;
    }
    std::string aside;
    int out = -1;
    for (int n = 0; n < 100 && out < 0; ++n) {
        aside = dataFile + ".restore" + std::to_string(::getpid()) + (n ? "_" + std::to_string(n) : "");
        out = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (out < 0 && errno != EEXIST) break;
    }
    if (out < 0) {
        err = errno;
        return dataFile + ": " + Errno(err);
    }
    std::vector<char> buf(1 << 16);
    for (off_t at = 0; err == 0;) {
        const ssize_t r = ::pread(in, buf.data(), buf.size(), at);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) err = errno;
        if (r <= 0) break;
        at += r;
        for (ssize_t done = 0; done < r && err == 0;) {
            const ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(r - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) err = errno;
            else done += w;
        }
    }
    if (err == 0 && ::fchmod(out, mode) != 0) err = errno;
    if (err == 0 && !SyncFd(out)) err = errno;
    if (::close(out) != 0 && err == 0) err = errno;
    std::string why = err ? dataFile + ": " + Errno(err) : CheckIsDataFileNamed(aside, name);
    if (why.empty() && ::rename(aside.c_str(), dataFile.c_str()) != 0) {
        err = errno;
        why = dataFile + ": " + Errno(err);
    } else if (!why.empty() && err == 0) {
        why = "the copy of " + name + " is not one: " + why;
    }
    if (!why.empty()) {
        ::unlink(aside.c_str());
        return why;
    }
    // The journal of the commit the run died in belongs to the writes the copy takes back: it
    // must never be played over the copy.
    ::unlink((dataFile + "-journal").c_str());
    return "";
}

struct Scan {
    const SettleRequest& request;
    std::string dataFolder;
    std::string* why;
    bool ok = true;

    void Refuse(const std::string& marker, const std::string& files, const std::string& reason, int err = 0) {
        if (ok && why) *why = reason;
        ok = false;
        RunNotice n;
        n.kind = request.mayWrite ? RunNoticeKind::Refused : RunNoticeKind::HalfPosted;
        n.files = files;
        n.reason = reason;
        n.marker = marker;
        n.error = err;
        Notify(std::move(n));
    }
};

// Puts a dead run's copies back; the marker is locked (f.fd).
void PutBack(Scan& scan, int dirFd, const std::string& folder, uid_t owner, const std::string& markerName, Found& f) {
    const std::string marker = folder + markerName;
    const std::string files = JoinFiles(f.names);
    if (g_putBackHook) g_putBackHook(marker);
    // Every copy is checked before anything is locked or written: a copy this user cannot read,
    // or one this program did not make, leaves every data file as it stands.
    std::vector<std::pair<std::string, std::unique_ptr<Fd>>> copies;  // the copy's name, open
    for (const auto& copy : f.names) {
        auto in = std::make_unique<Fd>(::openat(dirFd, copy.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (in->fd < 0 && errno == ENOENT) continue;  // put back before the run ended
        if (in->fd < 0 && errno == EACCES)
            return scan.Refuse(marker, files, "the copies in " + folder + " belong to user " + std::to_string(owner) +
                                              ", whose copies this user cannot read: that user (or an administrator) "
                                              "must run Convert to put them back");
        if (in->fd < 0 && errno != ELOOP) return scan.Refuse(marker, files, folder + copy + " cannot be opened: " + Errno(errno));
        struct stat st {};
        if (in->fd < 0 || ::fstat(in->fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != owner || st.st_nlink != 1)
            return scan.Refuse(marker, files, folder + copy + " is not a copy this program made (a regular file of its "
                                              "folder's owner with one link): nothing is put back. Restore the "
                                              "company's data files from a backup, then move it away");
        copies.emplace_back(copy, std::move(in));
    }
    std::vector<std::unique_ptr<LockTable>> locks;
    static int64_t serial = 0;
    for (const auto& copy : f.names) {
        const std::string dataFile = scan.dataFolder + DataFileOf(copy);
        if (OpenHere(dataFile))
            return scan.Refuse(marker, files, dataFile + " is open in this program, so its copy cannot be put back under it: "
                                              "run the command again");
        auto table = std::make_unique<LockTable>(dataFile, --serial);
        if (table->open() != XIO_OK || table->acquire('W', "") != XIO_OK)
            return scan.Refuse(marker, files, dataFile + " is in use by another program" +
                                              (table->error().empty() ? std::string() : " (" + table->error() + ")") +
                                              ": run the command again once it has finished");
        locks.push_back(std::move(table));
    }
    for (const auto& [copy, in] : copies) {
        int err = 0;
        if (const std::string why = PutBackCopy(in->fd, scan.dataFolder + DataFileOf(copy), DataFileOf(copy), err); !why.empty())
            return scan.Refuse(marker, files, why, err);
    }
    SyncFolder(scan.dataFolder);
    ::unlinkat(dirFd, markerName.c_str(), 0);
    SyncFd(dirFd);
    for (const auto& copy : f.names) ::unlinkat(dirFd, copy.c_str(), 0);
    RunNotice n;
    n.kind = RunNoticeKind::PutBack;
    n.files = files;
    n.marker = marker;
    Notify(std::move(n));
}

bool ProcessGone(const std::string& pid) {
    if (!AllDigits(pid)) return false;
    return ::kill(static_cast<pid_t>(std::stol(pid)), 0) != 0 && errno == ESRCH;
}

void SettleFolder(Scan& scan, const std::string& folder, uid_t owner) {
    const SettleRequest& req = scan.request;
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.fd < 0) return;  // another user's private folder: that user's commands see it
    FolderLock lock(dir.fd, req.mayWrite);
    std::vector<std::string> names;
    if (DIR* d = ::fdopendir(::dup(dir.fd))) {
        while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::map<std::string, std::vector<std::string>> copiesOf;  // run -> its copies beside
    std::map<std::string, std::string> markerOf;               // run -> its marker's name
    for (const auto& name : names) {
        std::string dataFile, run;
        if (ParseCopyName(name, dataFile, run)) copiesOf[run].push_back(name);
        else if (ParseMarkerName(name, run)) markerOf[run] = name;
    }
    const bool ours = owner == ::geteuid();
    const std::string thisRun = ThisRun();
    for (const auto& [run, markerName] : markerOf) {
        {
            std::lock_guard<std::mutex> guard(g_heldMutex);
            if (run == thisRun && g_held.count(folder)) continue;  // this program's run, alive
        }
        Found f;
        Judge(dir.fd, markerName, run, owner, req.mayWrite, f);
        const auto& beside = copiesOf[run];
        const auto& named = f.state == Found::Whole ? f.names : beside;
        if (!req.onlyFile.empty() &&
            std::none_of(named.begin(), named.end(), [&](const std::string& c) { return DataFileOf(c) == req.onlyFile; }))
            continue;
        switch (f.state) {
        case Found::Gone:
        case Found::Alive:
            // A run still posting holds its data files' writer locks itself; under this command's
            // own writer lock one naming the file is another host's that shares no locks.
            if (f.state == Found::Alive && !req.onlyFile.empty())
                scan.Refuse(folder + markerName, JoinFiles(named),
                            "a conversion of process " + f.process + " on host " + f.host + " is posting " +
                                JoinFiles(named) + ": run the command again once it has finished");
            break;
        case Found::Unfinished:
            // Its run died before its first commit or after its last: every data file is whole.
            if (req.mayWrite && ours) {
                for (const auto& copy : beside) ::unlinkat(dir.fd, copy.c_str(), 0);
                ::unlinkat(dir.fd, markerName.c_str(), 0);
                SyncFd(dir.fd);
            }
            break;
        case Found::Unreadable:
            if (beside.empty()) break;  // names nothing here: nothing to put back, nothing deleted
            scan.Refuse(folder + markerName, JoinFiles(beside),
                        "the run marker " + folder + markerName + " cannot be read (" + f.why +
                            ") while copies of its run stand beside it: nothing is put back. Restore the company's "
                            "data files from a backup, then move the marker and its copies out of " + folder);
            break;
        case Found::Whole:
            if (!req.mayWrite) {
                if (scan.ok && scan.why) *scan.why = JoinFiles(f.names);
                scan.ok = false;
                RunNotice n;
                n.kind = RunNoticeKind::HalfPosted;
                n.files = JoinFiles(f.names);
                n.marker = folder + markerName;
                Notify(std::move(n));
                break;
            }
            PutBack(scan, dir.fd, folder, owner, markerName, f);
            break;
        }
    }
    // Copies without a marker: their run died before it made one (an older program), or after
    // it removed it. Those of this host whose process is gone go, with a writing command.
    if (!req.mayWrite || !ours || !req.onlyFile.empty()) return;
    const std::string host = Host();
    for (const auto& [run, copies] : copiesOf) {
        if (markerOf.count(run)) continue;
        const auto tilde = run.rfind('~');
        if (run.substr(0, tilde) != host || !ProcessGone(run.substr(tilde + 1))) continue;
        for (const auto& copy : copies) {
            struct stat st {};
            if (::fstatat(dir.fd, copy.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
                ::unlinkat(dir.fd, copy.c_str(), 0);
        }
    }
}

// The backup folders in a data folder: ".backup" and ".backup-<uid>" that are real folders (a
// link is never followed), each with its owner.
std::vector<std::pair<std::string, uid_t>> BackupFolders(const std::string& dataFolder) {
    std::vector<std::pair<std::string, uid_t>> folders;
    DIR* d = ::opendir(dataFolder.c_str());
    if (!d) return folders;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == ".backup" || (name.rfind(".backup-", 0) == 0 && AllDigits(name.substr(8)))) names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        struct stat st {};
        if (::lstat((dataFolder + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        if (name != ".backup" && std::to_string(st.st_uid) != name.substr(8)) continue;
        folders.emplace_back(dataFolder + name + "/", st.st_uid);
    }
    return folders;
}

}  // namespace

std::string own_backup_folder(const std::string& dataFolderIn, std::string& why) {
    const std::string dataFolder = WithSlash(dataFolderIn);
    why.clear();
    std::string reasons;
    for (const std::string& name : {std::string(".backup"), ".backup-" + std::to_string(::geteuid())}) {
        const std::string folder = dataFolder + name;
        if (::mkdir(folder.c_str(), kBackupFolderMode) != 0 && errno != EEXIST) {
            reasons += (reasons.empty() ? "" : "; ") + folder + ": " + Errno(errno);
            continue;
        }
        struct stat st {};
        if (::lstat(folder.c_str(), &st) != 0) {
            reasons += (reasons.empty() ? "" : "; ") + folder + ": " + Errno(errno);
            continue;
        }
        if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
            reasons += (reasons.empty() ? "" : "; ") + folder +
                       (S_ISLNK(st.st_mode) ? " is a link" : !S_ISDIR(st.st_mode) ? " is not a folder" : " belongs to another user");
            continue;
        }
        if ((st.st_mode & 07777) != kBackupFolderMode && ::chmod(folder.c_str(), kBackupFolderMode) != 0) {
            reasons += (reasons.empty() ? "" : "; ") + folder + ": " + Errno(errno);
            continue;
        }
        return folder + "/";
    }
    why = "no backup folder can be had (" + reasons + ")";
    return "";
}

std::string run_copy_name(const std::string& dataFileName, long n) {
    std::string s = dataFileName + "~" + ThisRun();
    if (n > 1) s += "~" + std::to_string(n);
    return s;
}

int hold_run(const std::string& backupFolderIn) {
    const std::string folder = WithSlash(backupFolderIn);
    std::lock_guard<std::mutex> guard(g_heldMutex);
    if (auto it = g_held.find(folder); it != g_held.end()) {
        // A run of this program whose files could not all be put back: its marker names the
        // copies kept, and a new run here would write over it, so that the next command dropped them.
        if (it->second.whole) return EBUSY;
        ++it->second.copies;
        return 0;
    }
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.fd < 0) return errno;
    FolderLock lock(dir.fd, true);
    const std::string name = std::string(kMarkerPrefix) + ThisRun() + kMarkerSuffix;
    const int fd = ::openat(dir.fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) ::fchmod(fd, 0644);  // past the umask: every user of the company must be able to judge it
    if (fd < 0) return errno;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::unlinkat(dir.fd, name.c_str(), 0);
        ::close(fd);
        return err;
    }
    g_held[folder] = Held{fd, folder + name, 1, false};
    return 0;
}

void let_go_run(const std::string& backupFolderIn) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    auto it = g_held.find(WithSlash(backupFolderIn));
    if (it == g_held.end()) return;
    if (it->second.copies > 0) --it->second.copies;
    // A marker that names copies stays (and locked) until it is emptied.
    if (it->second.copies == 0 && !it->second.whole) DropHeld(it);
}

int write_run_markers(const std::vector<std::string>& copyPaths) {
    std::map<std::string, std::vector<std::string>> byFolder;
    for (const auto& path : copyPaths) {
        const auto slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        std::string dataFile, run;
        if (!ParseCopyName(name, dataFile, run) || run != ThisRun()) return EINVAL;
        byFolder[folder].push_back(name);
    }
    std::lock_guard<std::mutex> guard(g_heldMutex);
    for (const auto& [folder, names] : byFolder)
        if (!g_held.count(folder)) return EXDEV;  // a copy no later command could find
    int err = 0;
    std::vector<Held*> written;
    for (const auto& [folder, names] : byFolder) {
        Held& h = g_held[folder];
        std::string text = std::string(kMarkerHead) + "\nhost " + Host() + "\nprocess " + std::to_string(::getpid()) + "\n";
        for (const auto& n : names) text += "copy " + n + "\n";
        text += "end\n";
        struct stat st {};
        // Removed meanwhile (by hand): a later command could never find it.
        if (::fstat(h.fd, &st) != 0 || st.st_nlink != 1) err = EIO;
        if (err == 0 && ::ftruncate(h.fd, 0) != 0) err = errno;
        for (std::size_t done = 0; err == 0 && done < text.size();) {
            const ssize_t w = ::pwrite(h.fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) err = errno;
            else done += static_cast<std::size_t>(w);
        }
        if (err == 0 && !SyncFd(h.fd)) err = errno;
        // The copies' names and the marker's stand on the disk before anything is committed.
        if (err == 0 && !SyncFolder(folder)) err = errno ? errno : EIO;
        if (err != 0) break;
        h.whole = true;
        written.push_back(&h);
    }
    if (err != 0)
        for (Held* h : written) {
            if (::ftruncate(h->fd, 0) == 0) SyncFd(h->fd);
            h->whole = false;
        }
    return err;
}

void clear_run_markers() {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    for (auto it = g_held.begin(); it != g_held.end();) {
        auto next = std::next(it);
        if (it->second.whole && ::ftruncate(it->second.fd, 0) == 0 && SyncFd(it->second.fd)) {
            it->second.whole = false;
            if (it->second.copies == 0) DropHeld(it);
        }
        it = next;
    }
}

std::vector<RunNotice> take_run_notices() {
    std::lock_guard<std::mutex> guard(g_noticeMutex);
    std::vector<RunNotice> taken;
    taken.swap(g_notices);
    return taken;
}

bool settle_dead_runs(const SettleRequest& request, std::string* why) {
    Scan scan{request, WithSlash(request.dataFolder), why};
    for (const auto& [folder, owner] : BackupFolders(scan.dataFolder)) SettleFolder(scan, folder, owner);
    return scan.ok;
}

void remove_restore_leftovers(const std::string& dataFolderIn) {
    const std::string dataFolder = WithSlash(dataFolderIn);
    DIR* d = ::opendir(dataFolder.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
    const std::set<std::string> present(names.begin(), names.end());
    for (const auto& name : names) {
        // Only a file aside of a data file that stands beside it: a file of the user's own that
        // happens to end in ".restore<digits>" is not one.
        const auto at = name.rfind(".restore");
        if (at == std::string::npos || at == 0 || !present.count(name.substr(0, at))) continue;
        std::string pid = name.substr(at + 8);
        if (const auto under = pid.find('_'); under != std::string::npos) {
            if (!AllDigits(pid.substr(under + 1))) continue;
            pid.resize(under);
        }
        if (!AllDigits(pid) || !ProcessGone(pid)) continue;
        struct stat st {};
        const std::string path = dataFolder + name;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) ::unlink(path.c_str());
    }
}

void set_put_back_hook_for_tests(std::function<void(const std::string& marker)> hook) { g_putBackHook = std::move(hook); }

}  // namespace dz::xio
