#include "convert/backup.h"

#include "convert/platform_links.h"
#include "platform/datafile/file_aside.h"
#include "platform/datafile/run_marker.h"
#include "platform/datafile/xio.h"
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
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace dz::convert {
namespace fs = std::filesystem;

namespace {

// Copies `from` to `to`, made afresh with mode 0600 (a name that exists, or a link, is never
// written), hashing every byte as it is written. 0, or the errno of the failure (EEXIST: `to` is
// taken); a partial copy is removed. `mode` receives the permissions of `from`.
int CopyToNewFile(const std::string& from, const std::string& to, mode_t& mode, StreamHash& hash) {
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
    hash = StreamHash{};
    int err = xio::copy_bytes(in, out, &hash);
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

DataFileBackup::DataFileBackup(const std::string& tempFolder) {
    // No folder given: the copy stays with the company (see Backup).
    if (!tempFolder.empty()) {
        tempFolder_ = xio::with_slash(tempFolder);
        std::error_code ec;
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
        // Under a marker the run stays held until this program ends: then the next command
        // finds it dead and puts the copy back.
        if (!underMarker_) LetGoRun();
    } else {
        Discard();
    }
}

void DataFileBackup::LetGoRun() {
    if (heldFolder_.empty()) return;
    xio::let_go_run(heldFolder_);
    heldFolder_.clear();
}

int DataFileBackup::Backup(const std::string& dataFilePath) {
    savedPath_ = dataFilePath;
    why_.clear();
    next_ = {};
    std::string folder, name;
    SplitPath(dataFilePath, folder, name);
    if (folder.empty()) folder = xio::with_slash(suite::xdf_get_global_data_folder().string());

    // The copy holds everything the data file holds: it goes where only this user can read it,
    // with the company (this user's backup folder beside the data file), where a later command
    // finds it when this run dies; the run's marker there is held before the copy is made.
    std::string target = tempFolder_;
    const bool withCompany = target.empty();
    if (withCompany) {
        target = xio::own_backup_folder(folder, why_, &next_);
        // Dead runs there go first: those half posted back, the copies of others away.
        if (!target.empty()) (void)xio::settle_dead_runs({folder, true, ""});
        if (!target.empty()) {
            if (const int err = xio::hold_run(target, &why_); err != 0) {
                lastError_ = err;
                target.clear();
            } else {
                heldFolder_ = target;
            }
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
        candidate = target + (withCompany ? xio::run_copy_name(name, n) : n == 1 ? name : name + std::to_string(n));
        if (candidate.size() > 255) {
            why_ = "the copy's name would be longer than 255 characters";
            LetGoRun();
            savedPath_.clear();
            return 2;
        }
        err = CopyToNewFile(dataFilePath, candidate, mode_, hash_);
        if (err == 0) {
            copy_ = candidate;
            lastError_ = 0;
            return 0;
        }
        if (err != EEXIST) break;  // a failure, not a clash
    }
    lastError_ = err;
    why_ = candidate + ": " + std::error_code(err, std::generic_category()).message();
    const int result = Exists(dataFilePath) ? 4 : 1;
    LetGoRun();
    savedPath_.clear();
    copy_.clear();
    return result;
}

int DataFileBackup::Restore(const std::string& path, const std::string& folderIn) {
    if (copy_.empty()) return 2;
    if (savedPath_.empty()) return 1;

    std::string savedFolder, name;
    SplitPath(path.empty() ? savedPath_ : path, savedFolder, name);
    const std::string folder = xio::with_slash(folderIn.empty() ? savedFolder : folderIn);
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string target = folder + name;
    if (name.empty() || !fs::is_directory(folder, ec)) return 3;

    // Written aside, then renamed over the data file: the data file is never missing. The file
    // aside takes the data file's own permissions, owner and group back.
    int err = 0;
    xio::Aside aside;
    if (const int in = ::open(copy_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); in < 0) {
        err = errno ? errno : EIO;
    } else {
        err = xio::write_aside(in, target, mode_, aside);
        ::close(in);
    }
    if (err == 0 && ::rename(aside.path.c_str(), target.c_str()) != 0) {
        err = errno;
        ::unlink(aside.path.c_str());
    }
    // The copy goes only once the rename stands on the disk.
    if (err == 0) err = xio::sync_folder(folder);
    if (err != 0) {
        lastError_ = err;
        LogLine("File backup failed for:\r" + copy_);
        return Exists(copy_) ? 4 : 1;
    }
    lastError_ = 0;
    savedPath_.clear();
    // Under a run marker the copy stays until the marker names nothing: a marker never names a
    // copy that is gone, and a run killed now is put back again from the same copies.
    if (underMarker_) return 0;
    RemoveFile(copy_);
    LetGoRun();
    copy_.clear();
    return 0;
}

void DataFileBackup::Discard() {
    if (!copy_.empty()) RemoveFile(copy_);
    LetGoRun();
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
}  // namespace dz::convert
