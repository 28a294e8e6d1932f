#include "convert/backup.h"

#include "convert/platform_links.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/suite/util.h"

#include "platform/ui/own_files.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <signal.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace dz::convert {
namespace fs = std::filesystem;

namespace {

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    return folder;
}

std::string SystemTempFolder() {
    std::error_code ec;
    fs::path p = fs::temp_directory_path(ec);
    if (ec) return "";
    std::string s = p.string();
    s.erase(0, s.find_first_not_of(' ') == std::string::npos ? s.size() : s.find_first_not_of(' '));
    return WithSlash(s);
}

std::string HostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0') return "host";
    std::string host = buf;
    for (char& c : host)
        if (c == '~' || c == '/') c = '_';
    return host;
}

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// A copy in the company's backup folder is named "<data file>~<host>~<process>[~<n>]", so that a
// later run can tell a copy whose run died (same host, no such process) and remove it.
std::string CompanyCopyName(const std::string& name, long n) {
    std::string s = name + "~" + HostName() + "~" + std::to_string(::getpid());
    if (n > 1) s += "~" + std::to_string(n);
    return s;
}

// The parts of a name "a~b~c...", split at each '~'.
std::vector<std::string> TildeParts(const std::string& entry) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const auto tilde = entry.find('~', start);
        parts.push_back(entry.substr(start, tilde == std::string::npos ? std::string::npos : tilde - start));
        if (tilde == std::string::npos) break;
        start = tilde + 1;
    }
    return parts;
}

constexpr const char* kMarkerPrefix = "run";
constexpr const char* kMarkerSuffix = ".marker";

// "run~<host>~<process>.marker": the name of the marker of a run.
std::string MarkerName(const std::string& host, long pid) {
    return std::string(kMarkerPrefix) + "~" + host + "~" + std::to_string(pid) + kMarkerSuffix;
}

// The process of a marker's name, when it is one of `host`; else 0.
long MarkerProcess(const std::string& entry, const std::string& host) {
    const std::string suffix = kMarkerSuffix;
    if (entry.size() <= suffix.size() || entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0) return 0;
    const auto parts = TildeParts(entry.substr(0, entry.size() - suffix.size()));
    if (parts.size() != 3 || parts[0] != kMarkerPrefix || parts[1] != host || !AllDigits(parts[2]) || parts[2].size() > 9)
        return 0;
    return std::strtol(parts[2].c_str(), nullptr, 10);
}

// The process of a backup copy's name ("<file>~<host>~<pid>", or with "~<n>" after it when
// it was kept after a failed restore), when the copy is one of `host`'s; else 0.
long CopyProcess(const std::vector<std::string>& parts, const std::string& host) {
    if (parts.size() < 3 || parts.size() > 4 || parts[1] != host || !AllDigits(parts[2])) return 0;
    if (parts.size() == 4 && !AllDigits(parts[3])) return 0;
    return std::strtol(parts[2].c_str(), nullptr, 10);
}

// When the process started, as the kernel counts it ("" when it cannot be read): with the
// process number it tells a run from a later process that took its number.
std::string ProcessStart(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!in || !std::getline(in, stat)) return "";
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return "";
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int n = 3; n <= 22 && fields >> field; ++n)
        if (n == 22) return field;
    return "";
}

bool ProcessGone(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

// A run whose marker gives its start: gone when its process is, or when another process now
// has its number.
bool RunGone(long pid, const std::string& start) {
    if (ProcessGone(pid)) return true;
    const std::string now = ProcessStart(pid);
    return !start.empty() && !now.empty() && now != start;
}

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// A folder "<data folder>/.backup" that is a real folder of this user ("" otherwise).
std::string OwnBackupFolder(const std::string& dataFolder) {
    const std::string folder = dataFolder + ".backup";
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return "";
    return folder + "/";
}

// The backup folders of the open company's data folders, each once.
std::vector<std::string> CompanyBackupFolders() {
    std::vector<std::string> dataFolders;
    if (const suite::Company* company = suite::current_company()) {
        dataFolders.push_back(WithSlash(company->folder().string()));
        for (const auto& [abbr, dir] : company->settings().file_control)
            dataFolders.push_back(WithSlash(company->data_folder(abbr).string()));
    }
    std::vector<std::string> folders;
    std::set<std::pair<dev_t, ino_t>> seen;
    for (const auto& d : dataFolders) {
        const std::string folder = OwnBackupFolder(d);
        struct stat st {};
        if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second) continue;
        folders.push_back(folder);
    }
    return folders;
}

// The processes of this host whose run markers stand in the folders.
std::set<long> MarkedRuns(const std::vector<std::string>& folders) {
    std::set<long> runs;
    const std::string host = HostName();
    for (const auto& folder : folders) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (const long pid = MarkerProcess(it->path().filename().string(), host); pid > 0) runs.insert(pid);
    }
    return runs;
}

void RemoveStaleCopies(const std::string& folder) {
    const std::string host = HostName();
    // A dead run's copies that a marker names are the undo log of its commits: only putting
    // them back removes them.
    std::vector<std::string> folders = CompanyBackupFolders();
    folders.push_back(WithSlash(folder));
    const std::set<long> marked = MarkedRuns(folders);
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        const long pid = CopyProcess(TildeParts(entry), host);
        if (pid <= 0 || !ProcessGone(pid) || marked.count(pid)) continue;
        std::error_code rec;
        fs::remove(it->path(), rec);
        LogLine("Removed the backup copy " + it->path().string() + " of a run that ended without removing it");
    }
}

// The company's backup folder beside the data file: a real folder of this user that no one
// else can enter. Empty when it cannot be had.
std::string CompanyBackupFolder(const std::string& dataFolder) {
    const std::string folder = dataFolder + ".backup";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return "";
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return "";
    if ((st.st_mode & 07777) != 0700 && ::chmod(folder.c_str(), 0700) != 0) return "";
    RemoveStaleCopies(folder);
    return folder + "/";
}

// Copies `from` to `to`, made afresh with mode 0600 (a name that exists, or a link, is never
// written). 0, or the errno of the failure (EEXIST: `to` is taken); a partial copy is removed.
// `mode` receives the permissions of `from`.
int CopyToNewFile(const std::string& from, const std::string& to, mode_t& mode) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno ? errno : EIO;
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return EINVAL;
    }
    mode = st.st_mode & 07777;
    const int out = files::create_new_file(to, 0600);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return err;
    }
    int err = 0;
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t r = ::read(in, buf.data(), buf.size());
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            err = errno;
            break;
        }
        if (r == 0) break;
        if (!files::write_all(out, std::string_view(buf.data(), static_cast<std::size_t>(r)))) {
            err = errno ? errno : EIO;
            break;
        }
    }
    if (err == 0 && ::fsync(out) != 0) err = errno;
    if (::close(out) != 0 && err == 0) err = errno;
    ::close(in);
    if (err != 0) ::unlink(to.c_str());
    return err;
}

// Copies `from` beside `target` under a fresh name ("<target>.restore<process>[_n]", written
// into `aside`) with the permissions `mode`: 0, or the errno of the failure.
int CopyAside(const std::string& from, const std::string& target, mode_t mode, std::string& aside) {
    int err = EEXIST;
    mode_t copyMode = 0;
    for (int n = 0; n < 100 && err == EEXIST; ++n) {
        aside = target + ".restore" + std::to_string(::getpid()) + (n ? "_" + std::to_string(n) : "");
        err = CopyToNewFile(from, aside, copyMode);
    }
    if (err == 0 && ::chmod(aside.c_str(), mode) != 0) err = errno;
    return err;
}

// Splits a path into folder (with its separator) and file name.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const auto slash = path.find_last_of("\\/");
    folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

bool RemoveFile(const std::string& p) {
    std::error_code ec;
    return fs::remove(p, ec) && !ec;
}

// Reopens a data file for writing and rebinds its entry.
bool Reopen(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, const std::string& path) {
    uint16_t handle = 0;
    if (xio_open_file(path, 1, handle) != XIO_OK) return false;
    // Reopened but not held for writing is not reopened: later writes could not be taken back.
    if (xio_start_writes(handle) != XIO_OK || !RebindFileHandle(list, abbr, fileNo, handle)) {
        xio_cls_file(handle);
        return false;
    }
    return true;
}

// Ends writes on the entry's file, closes it and clears the entry's handle. The file's path; ""
// when its writes could not be committed (a copy of it then would not hold them).
std::string CloseEntry(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, uint16_t handle) {
    xio_file_def def;
    std::string path;
    if (xio_get_def(handle, def) == XIO_OK) path = def.path;
    if (xio_end_writes(handle) != XIO_OK) path.clear();
    xio_cls_file(handle);
    RebindFileHandle(list, abbr, fileNo, 0);
    return path;
}

}  // namespace

uint16_t FindFileHandle(const OpenFilesList& list, const std::string& abbr, uint16_t fileNo) {
    for (const auto& e : list)
        if (e.fileNo == fileNo && e.abbr == abbr && e.handle != 0) return e.handle;
    return 0;
}

bool RebindFileHandle(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, uint16_t handle) {
    for (auto& e : list) {
        if (e.fileNo == fileNo && e.abbr == abbr) {
            e.handle = handle;
            return true;
        }
    }
    return false;
}

DataFileBackup::DataFileBackup(const std::string& workingFolder, const std::string& tempFolder) {
    std::error_code ec;
    if (!workingFolder.empty()) {
        workingFolder_ = WithSlash(workingFolder);
        fs::create_directories(workingFolder_, ec);
    }
    // No folder given: the copy stays with the company (see Backup).
    if (!tempFolder.empty()) {
        tempFolder_ = WithSlash(tempFolder);
        fs::create_directories(tempFolder_, ec);
    }
}

DataFileBackup::~DataFileBackup() {
    if (keepCopy_ && !copy_.empty() && Exists(copy_)) {
        // Under a marker the copy keeps its name: the next command puts it back. Otherwise it
        // is renamed out of the pattern of a run's copies, so that no later run removes it.
        std::error_code ec;
        if (!underMarker_) fs::rename(copy_, copy_ + ".kept", ec);
        LogLine("Backup copy of " + savedPath_ + " kept at " + (ec || underMarker_ ? copy_ : copy_ + ".kept"));
    } else {
        Discard();
    }
}

void DataFileBackup::RemoveTempImp() {
    if (privateFolder_.empty()) return;
    std::error_code ec;
    fs::remove(privateFolder_, ec);  // only when empty
    privateFolder_.clear();
}

int DataFileBackup::Backup(const std::string& dataFilePath) {
    savedPath_ = dataFilePath;
    std::string folder, name;
    SplitPath(dataFilePath, folder, name);
    if (folder.empty()) folder = WithSlash(suite::xdf_get_global_data_folder().string());

    // The copy holds everything the data file holds: it goes where only this user can read it,
    // with the company (a private ".backup" folder) or, when that cannot be had, in a folder of
    // its own made private in the system's temporary folder.
    std::string target = tempFolder_;
    const bool withCompany = target.empty();
    if (withCompany) target = CompanyBackupFolder(folder);
    if (target.empty()) {
        std::string pattern = SystemTempFolder() + "dodedoz-backup-XXXXXX";
        if (pattern.size() > 22 && ::mkdtemp(pattern.data())) {
            privateFolder_ = pattern;
            target = pattern + "/";
        }
    }
    if (target.empty()) {
        savedPath_.clear();
        return 2;
    }

    // The first free name: the file name, then the name followed by 2, 3, ... A name another
    // run takes between the look and the copy is passed over as well.
    int err = 0;
    std::string candidate;
    for (long n = 1;; ++n) {
        candidate = target + (withCompany ? CompanyCopyName(name, n) : n == 1 ? name : name + std::to_string(n));
        if (candidate.size() > 255) {
            RemoveTempImp();
            savedPath_.clear();
            return 2;
        }
        err = CopyToNewFile(dataFilePath, candidate, mode_);
        if (err == 0) {
            copy_ = candidate;
            lastError_ = 0;
            return 0;
        }
        if (err != EEXIST) break;  // a failure, not a clash
    }
    lastError_ = err;
    const int result = Exists(dataFilePath) ? 4 : 1;
    RemoveTempImp();
    savedPath_.clear();
    copy_.clear();
    return result;
}

int DataFileBackup::Restore(const std::string& path, const std::string& folderIn) {
    if (copy_.empty()) return 2;
    if (savedPath_.empty()) return 1;

    std::string savedFolder, name;
    SplitPath(path.empty() ? savedPath_ : path, savedFolder, name);
    std::string folder = folderIn.empty() ? savedFolder : folderIn;
    folder = WithSlash(folder);
    std::error_code ec;
    if (!folder.empty()) fs::create_directories(folder, ec);
    const std::string target = folder + name;
    if (name.empty() || (!folder.empty() && !fs::is_directory(folder, ec))) return 3;

    // Copy aside, then rename over the data file: the data file is never missing. The file
    // aside is made afresh and takes the data file's own permissions back.
    std::string aside;
    int err = CopyAside(copy_, target, mode_, aside);
    int result = 0;
    ec.clear();
    if (err == 0) fs::rename(aside, target, ec);
    if (err != 0 || ec) {
        if (err != EEXIST) RemoveFile(aside);
        lastError_ = err != 0 ? err : ec.value();
        result = Exists(copy_) ? 4 : 1;
        LogLine("File backup failed for:\r" + copy_);
        return result;
    }
    SyncFolder(folder);
    lastError_ = 0;
    RemoveFile(copy_);
    RemoveTempImp();
    savedPath_.clear();
    copy_.clear();
    return 0;
}

void DataFileBackup::Discard() {
    if (!copy_.empty()) RemoveFile(copy_);
    RemoveTempImp();
    savedPath_.clear();
    copy_.clear();
}

bool ReopenWithBackup(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, DataFileBackup& backup) {
    const uint16_t handle = FindFileHandle(list, abbr, fileNo);
    if (handle == 0) return true;
    const std::string path = CloseEntry(list, abbr, fileNo, handle);
    if (path.empty() || backup.Backup(path) != 0) return false;
    if (!Reopen(list, abbr, fileNo, path)) {
        backup.Discard();
        return false;
    }
    return true;
}

void CommitBackup(DataFileBackup& backup) { backup.Discard(); }

void StartCommit(OpenFilesList& list, const std::string& abbr, uint16_t fileNo) {
    if (const uint16_t handle = FindFileHandle(list, abbr, fileNo); handle != 0) xio_start_commit(handle);
}

bool CommitWrites(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, bool* diskFull) {
    const uint16_t handle = FindFileHandle(list, abbr, fileNo);
    const int status = handle == 0 ? XIO_OK : xio_commit(handle);
    if (diskFull) *diskFull = status == XIO_DISK_FULL;
    return status == XIO_OK;
}

int RestoreFromBackup(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, DataFileBackup& backup) {
    const uint16_t handle = FindFileHandle(list, abbr, fileNo);
    if (handle == 0) return 0;
    // First line of defence: every write since the reopen is dropped.
    const bool rolledBack = xio_rollback(handle) == XIO_OK;
    // Its writes are dropped whether or not ending them succeeds: the copy goes back over them.
    std::string path = CloseEntry(list, abbr, fileNo, handle);
    if (path.empty()) path = backup.SavedPath();
    std::string folder, name;
    SplitPath(backup.SavedPath(), folder, name);
    // With the writes rolled back the data file already stands as it did before the text file,
    // even when the copy could not be put back; a file that committed them does not.
    const bool needed = !rolledBack || backup.Committed();
    const int restored = backup.Restore("", folder);
    if (restored != 0 && needed) {
        backup.Keep();  // it may be the only good state left
        return 1;
    }
    if (restored != 0) backup.Discard();  // the data file holds what the copy holds
    if (!Reopen(list, abbr, fileNo, path)) return 2;
    return 0;
}

// ---- One conversion, one commit ----------------------------------------------------------------

namespace {

constexpr const char* kMarkerHead = "dodedoz run marker";

std::string ParentOf(const std::string& path) {
    std::string folder, name;
    SplitPath(path, folder, name);
    return folder;
}

bool SameFolder(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Reads a marker of `pid` and checks every copy it names: a copy of that run in one of the
// company's backup folders, going back to the data file of its name beside that folder. False
// when the marker is not whole (its run died while writing it, before any commit) or names
// anything else.
bool ReadMarker(const std::string& path, long pid, const std::vector<std::string>& folders, std::string& start,
                InterruptedRun& run) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line) || line != kMarkerHead) return false;
    const std::string host = HostName();
    bool whole = false;
    while (std::getline(in, line)) {
        if (line == "end") {
            whole = true;
            break;
        }
        if (line.rfind("start ", 0) == 0) {
            start = line.substr(6);
            continue;
        }
        if (line.rfind("copy ", 0) != 0) return false;
        const std::string copy = line.substr(5);
        std::string folder, name;
        SplitPath(copy, folder, name);
        const auto parts = TildeParts(name);
        if (parts.size() < 3 || parts[0].empty() || CopyProcess(parts, host) != pid || parts[2] != std::to_string(pid))
            return false;
        if (std::none_of(folders.begin(), folders.end(), [&](const std::string& f) { return SameFolder(f, folder); }))
            return false;
        // "<data folder>/.backup/<copy>": the data file is "<data folder>/<name>".
        std::string backupFolder = folder;
        while (!backupFolder.empty() && backupFolder.back() == '/') backupFolder.pop_back();
        run.copies.emplace_back(copy, ParentOf(backupFolder) + parts[0]);
    }
    run.marker = path;
    return whole;
}

// Puts one copy back over its data file: written aside, synced, renamed over it. "" when done.
std::string PutBackCopy(const std::string& copy, const std::string& dataFile) {
    struct stat st {};
    mode_t mode = 0600;
    if (::lstat(dataFile.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return dataFile + " is not a regular file";
        mode = st.st_mode & 07777;
    }
    std::string aside;
    int err = CopyAside(copy, dataFile, mode, aside);
    if (err == 0 && ::rename(aside.c_str(), dataFile.c_str()) != 0) err = errno;
    if (err != 0) {
        if (err != EEXIST) RemoveFile(aside);
        return dataFile + ": " + std::error_code(err, std::generic_category()).message();
    }
    // The journal of the commit the run died in belongs to the writes the copy takes back: it
    // must never be played over the copy.
    RemoveFile(dataFile + "-journal");
    SyncFolder(ParentOf(dataFile));
    return "";
}

}  // namespace

int RunMarker::Write(const std::vector<const DataFileBackup*>& backups) {
    std::vector<std::string> copies;
    for (const DataFileBackup* b : backups)
        if (b && !b->CopyPath().empty()) copies.push_back(b->CopyPath());
    if (copies.empty()) return 0;
    const std::string folder = ParentOf(copies.front());
    std::string content = std::string(kMarkerHead) + "\nstart " + ProcessStart(::getpid()) + "\n";
    for (const auto& copy : copies) {
        // A copy that a later command could not find, or a name a line cannot hold.
        const std::string copyFolder = ParentOf(copy);
        if (copyFolder.size() < 9 || copyFolder.compare(copyFolder.size() - 9, 9, "/.backup/") != 0) return EXDEV;
        if (copy.find('\n') != std::string::npos) return EINVAL;
        content += "copy " + copy + "\n";
    }
    content += "end\n";
    const std::string path = folder + MarkerName(HostName(), ::getpid());
    const int fd = files::create_new_file(path, 0600);
    if (fd < 0) return errno ? errno : EIO;
    int err = 0;
    if (!files::write_all(fd, content)) err = errno ? errno : EIO;
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    // The copies' names and the marker's must stand on the disk before anything is committed.
    for (const auto& copy : copies)
        if (err == 0 && !SyncFolder(ParentOf(copy))) err = errno ? errno : EIO;
    if (err != 0) {
        ::unlink(path.c_str());
        return err;
    }
    path_ = path;
    return 0;
}

void RunMarker::Remove() {
    if (path_.empty()) return;
    RemoveFile(path_);
    SyncFolder(ParentOf(path_));
    path_.clear();
}

std::vector<InterruptedRun> FindInterruptedRuns() {
    std::vector<InterruptedRun> runs;
    const std::vector<std::string> folders = CompanyBackupFolders();
    const std::string host = HostName();
    for (const auto& folder : folders) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string path = it->path().string();
            const long pid = MarkerProcess(it->path().filename().string(), host);
            if (pid <= 0 || pid == ::getpid()) continue;
            std::string start;
            InterruptedRun run;
            const bool whole = ReadMarker(path, pid, folders, start, run);
            if (!RunGone(pid, start)) continue;
            if (!whole) {
                // Its run died before it could commit anything (or it is not a marker of ours):
                // the data files are as they were, and the copies go as a dead run's.
                RemoveFile(path);
                LogLine("Removed the unfinished run marker " + path);
                continue;
            }
            runs.push_back(std::move(run));
        }
    }
    return runs;
}

bool PutBackInterruptedRun(const InterruptedRun& run, std::string& failure) {
    failure.clear();
    const int fd = ::open(run.marker.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;  // put back meanwhile by another program
    // One program at a time; the second finds the marker gone.
    struct stat st {};
    if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &st) != 0) {
        ::close(fd);
        failure = run.marker + " cannot be locked";
        return false;
    }
    if (st.st_nlink == 0) {
        ::close(fd);
        return true;
    }
    for (const auto& [copy, dataFile] : run.copies) {
        if (!Exists(copy)) continue;  // put back before the run ended
        failure = PutBackCopy(copy, dataFile);
        if (!failure.empty()) {
            ::close(fd);
            return false;
        }
    }
    RemoveFile(run.marker);
    SyncFolder(ParentOf(run.marker));
    for (const auto& entry : run.copies) RemoveFile(entry.first);
    ::close(fd);
    return true;
}

bool RecoverInterruptedRuns(bool mayWrite, std::vector<std::string>* said) {
    using xvl::xvlRCString;
    auto say = [&](int kind, const std::string& text, const std::string& marker) {
        if (said) said->push_back(text);
        else ui::current().message(kind, text);
        LogLine(text + " (" + marker + ")");
    };
    bool ok = true;
    for (const auto& run : FindInterruptedRuns()) {
        std::string names;
        for (const auto& entry : run.copies) {
            std::string folder, name;
            SplitPath(entry.second, folder, name);
            names += (names.empty() ? "" : ", ") + name;
        }
        if (!mayWrite) {
            say(ui::kError, xvlRCString::Get(12926, names), run.marker);
            ok = false;
            continue;
        }
        std::string failure;
        if (PutBackInterruptedRun(run, failure)) {
            say(ui::kWarning, xvlRCString::Get(12924, names), run.marker);
        } else {
            say(ui::kError, xvlRCString::Get(12925, failure), run.marker);
            ok = false;
        }
    }
    // The copies of runs that died before their first commit, or after their last, go too: a
    // retry that converts nothing must not leave them to fill the disk.
    if (mayWrite)
        for (const auto& folder : CompanyBackupFolders()) RemoveStaleCopies(folder);
    return ok;
}

}  // namespace dz::convert
