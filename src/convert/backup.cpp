#include "convert/backup.h"

#include "convert/platform_links.h"
#include "platform/datafile/xio.h"
#include "platform/suite/util.h"

#include "platform/ui/own_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
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

void RemoveStaleCopies(const std::string& folder) {
    const std::string host = HostName();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        std::vector<std::string> parts;
        for (std::size_t start = 0;;) {
            const auto tilde = entry.find('~', start);
            parts.push_back(entry.substr(start, tilde == std::string::npos ? std::string::npos : tilde - start));
            if (tilde == std::string::npos) break;
            start = tilde + 1;
        }
        if (parts.size() < 3 || parts.size() > 4 || parts[1] != host || !AllDigits(parts[2])) continue;
        if (parts.size() == 4 && !AllDigits(parts[3])) continue;  // a copy kept after a failed restore
        const long pid = std::strtol(parts[2].c_str(), nullptr, 10);
        if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
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
        // Renamed out of the pattern of a run's copies, so that no later run removes it.
        std::error_code ec;
        fs::rename(copy_, copy_ + ".kept", ec);
        LogLine("Backup copy of " + savedPath_ + " kept at " + (ec ? copy_ : copy_ + ".kept"));
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
            return 0;
        }
        if (err != EEXIST) break;  // a failure, not a clash
    }
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
    if (name.empty() || (!folder.empty() && !fs::is_directory(folder, ec))) {
        keepCopy_ = true;
        return 3;
    }

    // Copy aside, then rename over the data file: the data file is never missing. The file
    // aside is made afresh and takes the data file's own permissions back.
    std::string aside;
    int err = EEXIST;
    mode_t copyMode = 0;
    for (int n = 0; n < 100 && err == EEXIST; ++n) {
        aside = target + ".restore" + std::to_string(::getpid()) + (n ? "_" + std::to_string(n) : "");
        err = CopyToNewFile(copy_, aside, copyMode);
    }
    int result = 0;
    ec.clear();
    if (err == 0 && ::chmod(aside.c_str(), mode_) != 0) err = errno;
    if (err == 0) fs::rename(aside, target, ec);
    if (err != 0 || ec) {
        if (err != EEXIST) RemoveFile(aside);
        result = Exists(copy_) ? 4 : 1;
        LogLine("File backup failed for:\r" + copy_);
        keepCopy_ = true;  // the copy stays: it may be the only good state left
        return result;
    }
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

bool CommitWrites(OpenFilesList& list, const std::string& abbr, uint16_t fileNo) {
    const uint16_t handle = FindFileHandle(list, abbr, fileNo);
    return handle == 0 || xio_commit(handle) == XIO_OK;
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
    const int restored = backup.Restore("", folder);
    // With the writes rolled back the data file already stands as it did before the text file,
    // even when the copy could not be put back.
    if (restored != 0 && !rolledBack) return 1;
    if (!Reopen(list, abbr, fileNo, path)) return 2;
    return 0;
}

}  // namespace dz::convert
