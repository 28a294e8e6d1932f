// The run marker of a conversion that commits several data files, and its put-back.
//
// Order of calls, for a run:
//   1. hold_run: before its first copy the run makes its marker in its backup folder, empty, and
//      locks it (flock) for as long as it lives; a later command that can take that lock knows
//      the run is dead, whatever host or process wrote it.
//   2. The copies are made beside the marker, named "<data file>~<host>~<process>[~<n>]".
//   3. write_run_markers: the marker is filled, naming its copies by file name only, ended by
//      "end", and synced with its folder: from now on the run may be half posted.
//   4. The data files commit one after another.
//   5. clear_run_markers: the marker is emptied and synced (nothing to put back any more).
//   6. The copies go; with the last, let_go_run removes the marker.
// For a later command (settle_dead_runs), under the backup folder's lock:
//   find a marker -> lock it (taken: its run is dead) -> check it and every copy it names ->
//   take the writer lock of every data file it names -> put each copy back (aside, renamed over
//   the data file, the dead commit's journal removed) -> remove the marker -> remove the copies.
// The put-back is reached from the data-file layer itself: the writable open of a data file
// (before it connects) and the taking of its writer lock both look for a dead run naming it,
// so no command can forget it. A look (read-only) never writes, never deletes a marker or a
// copy: it only reports a run stopped half posted.
//
// Nothing in a marker is a path: the data file a copy goes back to is the data folder the backup
// folder stands in, plus the name the copy's own name gives. Whatever stands in a backup folder
// is distrusted: entries are opened without following links and without blocking, and used only
// when they are regular files of the folder's owner with one link; a marker is read up to 64 KiB;
// a copy goes back only when it is a data file of the abbreviation and file its name gives.
//
// Several users of one company each keep their own folder: ".backup" when it is theirs, else
// ".backup-<uid>" (mode 0755, the marker 0644, the copies 0600: others see names, never data).
// Every writing command scans every such folder, so a dead run of another user is refused, not
// written over.
//
// What the layer put back or refused is queued as notices (take_run_notices), which the
// conversion layer says on the screen and in the company log.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace dz::xio {

// This user's backup folder in a data folder, made when missing ("" with `why` when none can be
// had: the data folder cannot be written, or both names are taken by something else).
std::string own_backup_folder(const std::string& dataFolder, std::string& why);
// The name of this run's copy of a data file: "<name>~<host>~<process>", "~<n>" after it when n > 1.
std::string run_copy_name(const std::string& dataFileName, long n);

// A copy of this run is about to be made in `backupFolder`: the run's marker there stands and
// is locked (made empty the first time). 0, or an errno.
int hold_run(const std::string& backupFolder);
// A copy of this run in `backupFolder` is gone (or kept for the next command): with the last,
// a marker that names nothing is removed.
void let_go_run(const std::string& backupFolder);
// Fills the marker of each folder the copies stand in with their names, synced: 0, or an errno
// (EXDEV: a copy is not in a folder this run holds).
int write_run_markers(const std::vector<std::string>& copyPaths);
// Empties this run's markers that name copies: every data file has committed.
void clear_run_markers();

enum class RunNoticeKind { PutBack, Refused, HalfPosted };
struct RunNotice {
    RunNoticeKind kind = RunNoticeKind::PutBack;
    std::string files;   // the data files' names, ", " between them
    std::string reason;  // why it was refused, and what to do
    std::string marker;  // the marker's path
    int error = 0;       // the errno of a failed put-back, when one says it (ENOSPC: the disk is full)
};
// What the put-backs since the last call did, oldest first.
std::vector<RunNotice> take_run_notices();

struct SettleRequest {
    std::string dataFolder;
    bool mayWrite = false;  // false: a look, which only reports
    std::string onlyFile;   // only runs naming this data file ("" every run)
};
// Looks for dead runs in the backup folders of the data folder; a writer puts them back. False
// when a run is left half posted (refused, or a look found it); `why` then says the first reason.
bool settle_dead_runs(const SettleRequest& request, std::string* why = nullptr);
// Leftovers of put-backs killed midway ("<data file>.restore<process>[_<n>]" of a process that
// no longer runs, regular files of this user) are removed from the data folder.
void remove_restore_leftovers(const std::string& dataFolder);

// Tests: called with a dead run's marker once it is locked for its put-back.
void set_put_back_hook_for_tests(std::function<void(const std::string& marker)> hook);

}  // namespace dz::xio
