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
#include "platform/datafile/file_aside.h"
#include "platform/datafile/stream_hash.h"
#include "platform/ui/next_step.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace dz::convert {

class DataFileBackup {
public:
    // Without a folder (every converter gives none) the copy goes to this user's backup folder
    // beside the data file (".backup", or ".backup-<uid>" when another user owns that; mode 0755,
    // the copy 0600), where a later command finds it when the run dies. When no such folder can
    // be had there is no copy (Backup answers 2, Why says why): a copy no later command could
    // find could not be put back. A copy is never readable by anyone the company's folder does
    // not let in.
    explicit DataFileBackup(const std::string& tempFolder = "");
    // Deletes a copy that is left, unless putting it back was needed and failed (Keep): then it
    // stays, named in the log, as the last good state of the data file: under its own name
    // when a run marker names it (the next command puts it back), else renamed with ".kept",
    // so that no later run takes it for a dead run's copy.
    ~DataFileBackup();
    DataFileBackup(const DataFileBackup&) = delete;
    DataFileBackup& operator=(const DataFileBackup&) = delete;

    // 0 copied; 1 copy failed and the data file does not exist; 2 no folder for the copy or the
    // name would exceed 255 characters; 4 copy failed although the data file exists.
    // Prepare, then Copy.
    int Backup(const std::string& dataFilePath);
    // What the copy needs before the data file is closed for it: this user's backup folder, its
    // dead runs settled, and this run held there (0; else 2, with why). What fails here fails
    // while the data file is still open and held for writing, so it stays this program's.
    int Prepare(const std::string& dataFilePath);
    // The copy itself (Backup's results), into the folder Prepare found.
    int Copy();
    // 0 restored; 1 copy back failed and the copy is gone (or nothing was saved); 2 no copy;
    // 3 the target path is not valid; 4 copy back failed although the copy exists.
    // An empty path means the saved data file's name; the target is folder + name.
    int Restore(const std::string& path, const std::string& folder);
    // Deletes the copy, unless a run marker names it (SetUnderMarker): then it stays for the
    // marker, and goes with it.
    void Discard();

    const std::string& SavedPath() const { return savedPath_; }
    const std::string& CopyPath() const { return copy_; }
    // The copy's length and the hash of its bytes, taken as it was written.
    uint64_t CopyLength() const { return hash_.Length(); }
    uint64_t CopyHash() const { return hash_.Value(); }

    // The data file has committed the conversion's writes: it differs from the copy.
    void MarkCommitted() { committed_ = true; }
    bool Committed() const { return committed_; }
    // The copy must stay: the data file may differ from it and it could not be put back.
    void Keep() { keepCopy_ = true; }
    bool Kept() const { return keepCopy_ && !copy_.empty(); }
    // The file's write stands in it with its journal, which could not be removed: the journal,
    // not the copy, takes it back, at the first writing command that may remove it. Under a
    // marker the copy stays with it (the run's other files go back with it then); otherwise it
    // is not needed.
    void KeepForItsJournal();
    bool WriteStands() const { return writeStands_; }
    // A run marker names the copy: a kept copy keeps its name, for the marker's put-back, and no
    // copy is deleted until the marker names nothing (false again once it does).
    void SetUnderMarker(bool under) { underMarker_ = under; }
    // Why the last Backup or Restore failed (an errno; ENOSPC: the disk is full), 0 when it did not.
    int LastError() const { return lastError_; }
    // Why the last Backup failed, in words; empty when it did not or no more is known.
    const std::string& Why() const { return why_; }
    // What the last put-back (Restore) could not give the data file back of what it had (its
    // owner, its group, its access list): said after `notes` and asked of an administrator in
    // `next`, a file of the same owner and group joining the step already there
    // (xio::say_not_given_back). Nothing when all was given back, or nothing was put back.
    void SayNotGivenBack(std::string& notes, ui::NextStep& next) const;
    // What the person can do about the last failure, when it is known (None otherwise).
    const ui::NextStep& Next() const { return next_; }
    // A failure found around the copy (the data file could not be closed or opened again).
    void Failed(const std::string& why, ui::NextStep next) {
        why_ = why;
        next_ = std::move(next);
    }

private:
    std::string tempFolder_;
    std::string savedPath_;
    std::string copy_;
    mode_t mode_ = 0600;         // the data file's permissions, given back on restore
    bool keepCopy_ = false;      // a needed restore failed
    bool writeStands_ = false;   // the write stands in the file with its journal
    bool committed_ = false;
    bool underMarker_ = false;
    int lastError_ = 0;
    std::string why_;
    ui::NextStep next_;
    std::string target_;      // the folder Prepare found, with its slash
    bool withCompany_ = false;  // the folder is this user's backup folder beside the data file
    StreamHash hash_;         // of the copy's bytes
    std::string heldFolder_;  // the backup folder whose run marker this copy holds
    std::string restoredTo_;  // the data file the last put-back wrote, and how
    xio::Aside restored_;
    std::optional<xio::FileHad> had_;  // what the data file had when it was copied

    void LetGoRun();
};

// Closes the data file, copies it aside and reopens it for writing, rebinding its list entry.
// True when the file is not open (nothing to protect); false when the copy or reopening fails,
// with why and what to do in the backup (Why, Next). A failure never takes the file away from
// the run: one whose copy failed is opened again at once, and one this program closed (for a
// copy or a put-back) and could not open again is opened again here, for the next text file.
bool ReopenWithBackup(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, DataFileBackup& backup);
// The conversion stands (its marker names nothing any more): the copy is deleted.
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
// 1 not restored, 2 restored but not reopened, 3 not put back: its write stands with the journal
// that takes it back (DataFileBackup::KeepForItsJournal). A copy is kept (DataFileBackup::Keep) only when
// the data file may differ from it: its writes could not be rolled back, or were committed.
int RestoreFromBackup(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, DataFileBackup& backup);

}  // namespace dz::convert
