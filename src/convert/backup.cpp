#include "convert/backup.h"

#include "convert/platform_links.h"
#include "platform/datafile/xio.h"
#include "platform/suite/util.h"

#include <filesystem>
#include <system_error>

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
    xio_start_writes(handle);
    if (!RebindFileHandle(list, abbr, fileNo, handle)) {
        xio_cls_file(handle);
        return false;
    }
    return true;
}

// Ends writes on the entry's file, closes it and clears the entry's handle; the file's path.
std::string CloseEntry(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, uint16_t handle) {
    xio_file_def def;
    std::string path;
    if (xio_get_def(handle, def) == XIO_OK) path = def.path;
    xio_end_writes(handle);
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
    if (tempFolder.empty()) {
        tempFolder_ = SystemTempFolder();
    } else {
        tempFolder_ = WithSlash(tempFolder);
        fs::create_directories(tempFolder_, ec);
    }
}

DataFileBackup::~DataFileBackup() {
    if (keepCopy_ && !copy_.empty() && Exists(copy_))
        LogLine("Backup copy of " + savedPath_ + " kept at " + copy_);
    else
        Discard();
}

void DataFileBackup::RemoveTempImp() {
    if (!usedTempImp_) return;
    std::string folder, name;
    SplitPath(savedPath_, folder, name);
    if (folder.empty()) folder = WithSlash(suite::xdf_get_global_data_folder().string());
    std::error_code ec;
    fs::remove(folder + "temp_imp", ec);  // only when empty: other copies may still be there
    usedTempImp_ = false;
}

int DataFileBackup::Backup(const std::string& dataFilePath) {
    savedPath_ = dataFilePath;
    std::string folder, name;
    SplitPath(dataFilePath, folder, name);
    if (folder.empty()) folder = WithSlash(suite::xdf_get_global_data_folder().string());

    std::string target = tempFolder_;
    usedTempImp_ = false;
    if (target.empty()) {
        target = folder + "temp_imp/";
        std::error_code ec;
        fs::create_directories(target, ec);
        usedTempImp_ = true;
    }
    if (target.empty()) return 2;

    // The first free name: the file name, then the name followed by 2, 3, ... A name another
    // run takes between the look and the copy is passed over as well.
    std::string candidate = target + name;
    for (long n = 2;; ++n) {
        if (candidate.size() > 255) {
            RemoveTempImp();
            savedPath_.clear();
            return 2;
        }
        std::error_code ec;
        if (!Exists(candidate)) {
            if (fs::copy_file(dataFilePath, candidate, fs::copy_options::none, ec) && !ec) {
                copy_ = candidate;
                return 0;
            }
            if (ec != std::errc::file_exists) break;  // a failure, not a clash
        }
        candidate = target + name + std::to_string(n);
    }
    const int result = Exists(dataFilePath) ? 4 : 1;
    RemoveFile(candidate);  // a partial copy
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

    // Copy aside, then rename over the data file: the data file is never missing.
    const std::string aside = target + ".restore";
    int result = 0;
    ec.clear();
    fs::copy_file(copy_, aside, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(aside, target, ec);
    if (ec) {
        RemoveFile(aside);
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

bool CommitBackup(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, DataFileBackup& backup) {
    const uint16_t handle = FindFileHandle(list, abbr, fileNo);
    if (handle != 0 && xio_commit(handle) != XIO_OK) return false;
    CommitBackup(backup);
    return true;
}

int RestoreFromBackup(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, DataFileBackup& backup) {
    const uint16_t handle = FindFileHandle(list, abbr, fileNo);
    if (handle == 0) return 0;
    // First line of defence: every write since the reopen is dropped.
    const bool rolledBack = xio_rollback(handle) == XIO_OK;
    const std::string path = CloseEntry(list, abbr, fileNo, handle);
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
