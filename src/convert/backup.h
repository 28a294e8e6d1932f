// Data-file backup for one text file's conversion.
//
// Two lines of defence keep a data file whole when a conversion fails: the data-file library's
// rollback drops every write made since the file was reopened for the conversion, and the copy
// that was taken before the first write is put back. Putting the copy back never deletes the
// data file first: the copy is written beside it and renamed over it, so at every moment either
// the old or the restored file stands. The copy itself is deleted only after a successful
// restore, or when the conversion is committed.
#pragma once

#include "convert/open_files.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace dz::convert {

class DataFileBackup {
public:
    // Both folders may be empty (every converter passes empty strings): the copy then goes to
    // the company's private ".backup" folder beside the data file (mode 0700, the copy 0600),
    // where a later run removes copies whose run died; when that folder cannot be had, to a
    // private folder of its own (mkdtemp) in the system's temporary folder. A copy is never
    // readable by anyone the company's folder does not let in.
    DataFileBackup(const std::string& workingFolder = "", const std::string& tempFolder = "");
    // Deletes a copy that is left, unless putting it back was needed and failed (Keep): then it
    // stays, named in the log, as the last good state of the data file: under its own name
    // when a run marker names it (the next command puts it back), else renamed with ".kept",
    // so that no later run takes it for a dead run's copy.
    ~DataFileBackup();
    DataFileBackup(const DataFileBackup&) = delete;
    DataFileBackup& operator=(const DataFileBackup&) = delete;

    // 0 copied; 1 copy failed and the data file does not exist; 2 no folder for the copy or the
    // name would exceed 255 characters; 4 copy failed although the data file exists.
    int Backup(const std::string& dataFilePath);
    // 0 restored; 1 copy back failed and the copy is gone (or nothing was saved); 2 no copy;
    // 3 the target path is not valid; 4 copy back failed although the copy exists.
    // An empty path means the saved data file's name; the target is folder + name.
    int Restore(const std::string& path, const std::string& folder);
    // Deletes the copy.
    void Discard();

    const std::string& SavedPath() const { return savedPath_; }
    const std::string& CopyPath() const { return copy_; }

    // The data file has committed the conversion's writes: it differs from the copy.
    void MarkCommitted() { committed_ = true; }
    bool Committed() const { return committed_; }
    // The copy must stay: the data file may differ from it and it could not be put back.
    void Keep() { keepCopy_ = true; }
    bool Kept() const { return keepCopy_ && !copy_.empty(); }
    // A run marker names the copy: a kept copy keeps its name, for the marker's put-back.
    void SetUnderMarker(bool under) { underMarker_ = under; }
    // Why the last Backup or Restore failed (an errno; ENOSPC: the disk is full), 0 when it did not.
    int LastError() const { return lastError_; }

private:
    std::string workingFolder_;
    std::string tempFolder_;
    std::string savedPath_;
    std::string copy_;
    std::string privateFolder_;  // a private temporary folder made for the copy
    mode_t mode_ = 0600;         // the data file's permissions, given back on restore
    bool keepCopy_ = false;      // a needed restore failed
    bool committed_ = false;
    bool underMarker_ = false;
    int lastError_ = 0;

    void RemoveTempImp();
};

// Closes the data file, copies it aside and reopens it for writing, rebinding its list entry.
// True when the file is not open (nothing to protect); false when the copy or reopening fails.
bool ReopenWithBackup(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, DataFileBackup& backup);
// The conversion stands: the copy is deleted.
void CommitBackup(DataFileBackup& backup);
// Commits the data file's writes (true when it is not open). The copy stays: a conversion of
// several data files deletes its copies only once every file has committed, so that a later
// failed commit can still put every file back.
// `diskFull` (when given) tells a commit that failed for lack of space.
bool CommitWrites(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, bool* diskFull = nullptr);
// Starts the work of the file's next commit beside the caller (xio_start_commit), so that the
// commits of a conversion's files overlap; CommitWrites still decides.
void StartCommit(OpenFilesList& list, const std::string& abbr, uint16_t fileNo);
// Drops the conversion's writes and puts the copy back: 0 restored and reopened (or not open),
// 1 not restored, 2 restored but not reopened. A copy is kept (DataFileBackup::Keep) only when
// the data file may differ from it: its writes could not be rolled back, or were committed.
int RestoreFromBackup(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, DataFileBackup& backup);

// ---- One conversion, one commit ----------------------------------------------------------------
//
// A conversion commits its data files one after another. Before the first commit it writes a
// marker beside its copies naming every one of them, and syncs it with the copies' folders;
// after the last commit it removes the marker, then the copies. A run that dies in between
// (killed, a crash, a power cut) leaves the marker: the next command that opens the company finds
// that its run no longer lives and puts every copy back, so that every data file stands as it was
// before the text file. A run that dies before its first commit leaves copies without a marker:
// every data file is still as it was, and the copies are removed as a dead run's.

class RunMarker {
public:
    RunMarker() = default;
    RunMarker(const RunMarker&) = delete;
    RunMarker& operator=(const RunMarker&) = delete;
    // Names the copies in a marker in the first copy's folder, synced with every copy's folder:
    // 0, or the errno of the failure (ENOSPC: the disk is full). Copies outside the company's
    // backup folders cannot be found by a later command: EXDEV.
    int Write(const std::vector<const DataFileBackup*>& backups);
    // After the last commit, or once every file was put back. Kept otherwise (the marker stays
    // for the next command when a copy could not be put back).
    void Remove();
    bool Written() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A run of this machine that died between its first and last commit, as its marker names it.
struct InterruptedRun {
    std::string marker;
    std::vector<std::pair<std::string, std::string>> copies;  // the copy, the data file it goes to
};
// The markers of dead runs in the backup folders of the open company's data folders. A marker
// of a run that still lives, or of another machine, is not one; nor is a copy named by a marker
// that is not a copy of its run in a backup folder of the company beside its data file.
std::vector<InterruptedRun> FindInterruptedRuns();
// Puts every copy of the run back (aside, then renamed over the data file), then removes the
// marker and the copies. False, with the marker and every copy left for a later try, when one
// could not be put back: `failure` says which and why. Two programs never put one run back at
// once; the second finds it done.
bool PutBackInterruptedRun(const InterruptedRun& run, std::string& failure);
// What every command that opens a company's data files does first. A command that may write
// (`mayWrite`) puts every interrupted run back, saying so on the screen and in the company log;
// one that only looks leaves them and refuses to run (a company half posted is not to be read as
// whole). True when the command may go on. With `said`, what is to be said goes there instead of
// to the screen.
bool RecoverInterruptedRuns(bool mayWrite, std::vector<std::string>* said = nullptr);

}  // namespace dz::convert
