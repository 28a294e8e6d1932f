#include "convert/backup.h"

#include "convert/platform_links.h"
#include "platform/datafile/file_aside.h"
#include "platform/datafile/made_file.h"
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
    // Its maker's alone from its first moment (no entry of a folder's default list).
    xio::MadeFile spec;
    spec.name = to;
    spec.rights.giveOwner = false;
    const xio::Made made = xio::make_file(spec);
    const int out = made.fd;
    if (out < 0) {
        ::close(in);
        return made.error;
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

// Why the data-file layer refused the call just made, said after `what`: that call's own words
// (the layer forgot the last failure's before it), never those an earlier failure left.
std::string OpenCause(const std::string& what, int status) {
    const std::string text = xio_error_text();
    return what + ": " + (text.empty() ? "status " + std::to_string(status) : text);
}

// Reopens a data file for writing and rebinds its entry; false with why in `why`.
bool Reopen(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, const std::string& path,
            std::string* why = nullptr) {
    const std::string what = "the data file could not be opened again to be written";
    uint16_t handle = 0;
    xio_forget_error();
    if (const int s = xio_open_file(path, 1, handle); s != XIO_OK) {
        if (why) *why = OpenCause(what, s);
        return false;
    }
    // Reopened but not held for writing is not reopened: later writes could not be taken back.
    if (const int s = xio_start_writes(handle); s != XIO_OK) {
        if (why) *why = OpenCause(what, s);
        xio_cls_file(handle);
        return false;
    }
    if (!RebindFileHandle(list, abbr, fileNo, handle)) {
        if (why) *why = what + ": the run holds no entry for it";
        xio_cls_file(handle);
        return false;
    }
    return true;
}

// Ends writes on the entry's file, closes it and clears the entry's handle. The file's path; ""
// when its writes could not be committed (a copy of it then would not hold them), with why.
std::string CloseEntry(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, uint16_t handle,
                       std::string* why = nullptr) {
    xio_file_def def;
    std::string path;
    if (xio_get_def(handle, def) == XIO_OK) path = def.path;
    xio_forget_error();
    if (const int s = xio_end_writes(handle); s != XIO_OK) {
        if (why) *why = OpenCause(path + ": what was written to it could not be committed", s);
        path.clear();
    }
    xio_cls_file(handle);
    RebindFileHandle(list, abbr, fileNo, 0);
    return path;
}

}  // namespace

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
    if (const int prepared = Prepare(dataFilePath); prepared != 0) return prepared;
    return Copy();
}

int DataFileBackup::Prepare(const std::string& dataFilePath) {
    savedPath_ = dataFilePath;
    why_.clear();
    next_ = {};
    lastError_ = 0;
    std::string folder, name;
    SplitPath(dataFilePath, folder, name);
    if (folder.empty()) folder = xio::with_slash(suite::xdf_get_global_data_folder().string());

    // The copy holds everything the data file holds: it goes where only this user can read it,
    // with the company (this user's backup folder beside the data file), where a later command
    // finds it when this run dies; the run's marker there is held before the copy is made.
    target_ = tempFolder_;
    withCompany_ = target_.empty();
    if (withCompany_) {
        target_ = xio::own_backup_folder(folder, why_, &next_, dataFilePath);
        // A data folder this user may not write is one to be given leave in.
        if (target_.empty() && !next_ && ::access(folder.c_str(), W_OK) != 0)
            next_ = {ui::Step::WritableFolder, {folder.substr(0, folder.size() - 1)}};
        // Dead runs there go first: those half posted back, the copies of others away.
        if (!target_.empty()) (void)xio::settle_dead_runs({folder, true, ""});
        if (!target_.empty()) {
            ui::NextStep held;
            if (const int err = xio::hold_run(target_, &why_, &held); err != 0) {
                lastError_ = err;
                // The folder's lock, or the run's, held by another program: wait for it, unless
                // none of the programs it is for holds it; a run of this program that could not
                // put its files back: the next command puts them back.
                if (held) next_ = held;
                else if (err == EALREADY) next_ = {ui::Step::AgainToPutBack, {}};
                else if (err == EWOULDBLOCK || err == EBUSY) next_ = {ui::Step::AgainWhenFinished, {}};
                else if (err == EACCES || err == EPERM || err == EROFS)
                    next_ = {ui::Step::WritableFolder, {target_.substr(0, target_.size() - 1)}};
                target_.clear();
            } else {
                heldFolder_ = target_;
            }
        }
    }
    if (target_.empty()) {
        if (why_.empty()) why_ = "no folder for the copy can be had";
        savedPath_.clear();
        return 2;
    }
    return 0;
}

int DataFileBackup::Copy() {
    const std::string dataFilePath = savedPath_;
    std::string folder, name;
    SplitPath(dataFilePath, folder, name);
    // The first free name: the file name, then the name followed by 2, 3, ... A name another
    // run takes between the look and the copy is passed over as well.
    int err = 0;
    std::string candidate;
    for (long n = 1;; ++n) {
        candidate = target_ + (withCompany_ ? xio::run_copy_name(name, n) : n == 1 ? name : name + std::to_string(n));
        if (candidate.size() > 255) {
            why_ = "the copy's name would be longer than 255 characters";
            LetGoRun();
            savedPath_.clear();
            return 2;
        }
        err = CopyToNewFile(dataFilePath, candidate, mode_, hash_);
        if (err == 0) {
            copy_ = candidate;
            had_ = xio::file_had(dataFilePath);
            if (withCompany_) xio::note_run_file(target_, dataFilePath);
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
    // aside takes the data file's own permissions, owner, group and access list back, as far as
    // this user may give them; what it could not is said (SayNotGivenBack).
    int err = 0;
    xio::Aside aside;
    restoredTo_.clear();
    if (const int in = ::open(copy_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); in < 0) {
        err = errno ? errno : EIO;
    } else {
        err = xio::write_aside(in, target, mode_, aside);
        ::close(in);
        // The list it had is known with the owner it had: a step that gives one back gives both.
        if (err == 0 && had_ && (err = xio::give_had(aside.path, *had_, aside)) != 0) ::unlink(aside.path.c_str());
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
    restoredTo_ = target;
    restored_ = aside;
    // Under a run marker the copy stays until the marker names nothing: a marker never names a
    // copy that is gone, and a run killed now is put back again from the same copies.
    if (underMarker_) return 0;
    RemoveFile(copy_);
    LetGoRun();
    copy_.clear();
    return 0;
}

void DataFileBackup::SayNotGivenBack(std::string& notes, ui::NextStep& next) const {
    if (!restoredTo_.empty()) xio::say_not_given_back(restoredTo_, restored_, notes, next);
}

void DataFileBackup::KeepForItsJournal() {
    writeStands_ = true;
    if (underMarker_) keepCopy_ = true;
    else Discard();
}

void DataFileBackup::Discard() {
    // While a run marker names the copy it stays: the marker's put-back needs it as long as the
    // file's write may be uncommitted (a journal that could not be removed), and a marker never
    // names a copy that is gone. It goes with the marker.
    if (!copy_.empty() && !underMarker_) RemoveFile(copy_);
    LetGoRun();
    savedPath_.clear();
    copy_.clear();
}

bool ReopenWithBackup(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, DataFileBackup& backup) {
    uint16_t handle = FindFileHandle(list, abbr, fileNo);
    if (handle == 0) {
        // Not open: nothing to protect, unless this program closed it for an earlier text file's
        // copy or put-back and could not open it again. Then it is opened again now.
        const std::string path = list.ClosedPath(abbr, fileNo);
        if (path.empty()) return true;
        std::string why;
        if (!Reopen(list, abbr, fileNo, path, &why)) {
            backup.Failed(why, xio_error_next_step());
            return false;
        }
        handle = FindFileHandle(list, abbr, fileNo);
    }
    xio_file_def def;
    xio_forget_error();
    if (const int s = xio_get_def(handle, def); s != XIO_OK) {
        backup.Failed(OpenCause("the data file's path cannot be had", s), {});
        return false;
    }
    const std::string path = def.path;
    // Whatever the copy needs besides the file is had first, while the file is held: a failure
    // there leaves it as it was.
    if (backup.Prepare(path) != 0) return false;
    std::string why;
    const bool closedWhole = !CloseEntry(list, abbr, fileNo, handle, &why).empty();
    const int copied = closedWhole ? backup.Copy() : -1;
    if (!closedWhole) {
        backup.Discard();
        backup.Failed(why, xio_error_next_step());
    }
    // Copied or not, the file goes back into the run's list: a failure of this text file never
    // takes it away from the next one.
    std::string reopenWhy;
    if (!Reopen(list, abbr, fileNo, path, &reopenWhy)) {
        list.KeepClosed(abbr, fileNo, path);
        if (copied == 0) {
            backup.Discard();
            backup.Failed(reopenWhy, xio_error_next_step());
        }
        return false;
    }
    return copied == 0;
}

void CommitBackup(DataFileBackup& backup) {
    backup.SetUnderMarker(false);  // the marker names nothing any more
    backup.Discard();
}

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
    // A commit whose journal could not be removed left its write in the file, and the journal
    // beside it takes it back: nothing is put back over it now, and nothing says it was.
    if (struct stat st {}; !path.empty() && ::lstat((path + "-journal").c_str(), &st) == 0) {
        backup.KeepForItsJournal();
        list.KeepClosed(abbr, fileNo, path);
        return 3;
    }
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
    // The data file holds what the copy holds (under a marker the copy stays as long as the
    // marker names it).
    if (restored != 0) backup.Discard();
    if (!Reopen(list, abbr, fileNo, path)) {
        // It stands as it did before the text file: the next one opens it again. (One that
        // could not be put back is not: nothing more is written over it.)
        list.KeepClosed(abbr, fileNo, path);
        return 2;
    }
    return 0;
}
}  // namespace dz::convert
