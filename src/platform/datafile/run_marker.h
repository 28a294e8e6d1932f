// The run marker of a conversion that commits several data files, and its put-back.
//
// Order of calls, for a run:
//   1. hold_run: before its first copy in a backup folder the run makes there its lock file
//      "run~<host>~<process>.lock" (its own user's alone, see lock_file.h) and holds
//      an flock on it for as long as it lives, then its marker "run~<host>~<process>.marker",
//      empty. A later command of that user that can take the lock knows the run is dead,
//      whatever host or process wrote it.
//   2. The copies are made beside the marker, named "<data file>~<host>~<process>[~<n>]", each
//      with its length and a hash of its bytes taken as it is written.
//   3. write_run_markers: each marker is filled with its copies (name, length, hash), ended by
//      "end", and synced with its folder: from now on the run may be half posted.
//   4. The data files commit one after another.
//   5. clear_run_markers: the markers are emptied and synced (nothing to put back any more).
//   6. The copies go; with the last, let_go_run removes the marker and the lock file.
// A run whose copies lie in several folders (file control) has one commit point: the marker in
// the company's data folder (the main marker). It is filled first with the names of the others
// (the parts), the parts are then filled, each naming the main, and the main is made whole last.
// It is cut back to those names first after the last commit. A part is put back only together
// with a whole main marker; once the main names no copies, every part is stale and goes with its
// copies, nothing put back.
//
// A later command (settle_dead_runs), under the backup folder's lock (a lock file of the
// folder's owner, mode 0600):
//   find a marker -> take its run's lock (taken: the run is dead) -> read it -> check every copy
//   of the run (its owner, its length, no copy of the run left unnamed) -> take the writer lock
//   of every data file -> write every copy aside, proving its hash and that it is a data file of
//   its name -> rename each over its data file (its mode, owner and group kept) -> cut the main
//   marker back -> remove the parts, then the main, with their copies.
// The put-back is reached from the data-file layer itself: the writable open of a data file
// (before it connects) and the taking of its writer lock both look for a dead run naming it,
// so no command can forget it. A look (read-only) never writes, never deletes a marker or a
// copy: it only reports a run stopped half posted.
//
// A backup folder (".backup", ".backup-<n>") is its owner's, whatever its name says: a company
// handed over whole (`chown -R`) has its stopped runs put back by its new owner. A run is put
// back by its owner's command, or by root's, and only when it is genuine: a data file it names
// carries its owner and the number its marker gives (run_mark.h), put there by the run's own
// commit; it then goes back for exactly the files it wrote. A run that no file carries left
// nothing posted: it stops nobody, is never put back, is named once per command (as its user's
// conversion whose writes were taken back where that user may write what it names, else as one
// no conversion made, to move away), and its own user's (or root's) writing command clears it as
// a leftover, the one that took its stopped commit back included. A marker made before
// runs carried a number is genuine when its owner may write every data file it names (owner,
// group and other bits, the owner's groups from the user database); where that cannot be told
// (the owner has no account) every command refuses, saying so. Another user's genuine run that
// names copies, or a backup folder of the company this user cannot read, is refused by a writing
// command (it may be a run stopped half posted); a look passes an unreadable folder with a note.
// The ways between a run's markers ("part", "main") lead only into the company's folders (its
// own and those file control names); a marker whose way leads elsewhere cannot be read. Copies
// beside no marker stay while any marker of their run stands in a folder of the company.
// Nothing in a marker leads to a data file: the data file a copy goes back to is the data folder
// the backup folder stands in, plus the name the copy's own name gives. Whatever stands in a
// backup folder is distrusted: entries are opened without following links and without blocking,
// and used only when they are regular files of the folder's owner with one link; a marker is read
// up to 64 KiB.
//
// What the layer put back or refused is queued as notices (take_run_notices), which the
// conversion layer says on the screen and in the company log.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/next_step.h"

namespace dz::xio {

// This user's backup folder in a data folder, made when missing ("" with `why` when none can be
// had: the data folder cannot be written, or every name is taken by something else; `why` names
// each name's owner, and `next` is the step when every name belongs to another user). It may be
// entered and read by whoever may read `dataFile` (when given: the file a copy is made of), and
// by nobody else.
std::string own_backup_folder(const std::string& dataFolder, std::string& why, ui::NextStep* next = nullptr,
                              const std::string& dataFile = "");
// The name of this run's copy of a data file: "<name>~<host>~<process>", "~<n>" after it when n > 1.
std::string run_copy_name(const std::string& dataFileName, long n);

// A copy of this run is about to be made in `backupFolder`: the run's lock and marker there stand
// and are held (made the first time). 0, or an errno with `why` in words: EALREADY when a run
// of this program there could not put its files back (the next command puts them back first).
// `next` (when given) is set where the layer knows the step: a lock held by none of the
// programs it is for (EndLockHolder), never waited for.
int hold_run(const std::string& backupFolder, std::string* why = nullptr, ui::NextStep* next = nullptr);
// The copy of `dataFile` this run made in `backupFolder`: what the file has (its owner, group and
// access list) is noted in the run's marker there, for whatever command finishes or clears the
// run to give back.
void note_run_file(const std::string& backupFolder, const std::string& dataFile);
// A copy of this run in `backupFolder` is gone (or kept for the next command): with the last,
// a marker that names nothing is removed.
void let_go_run(const std::string& backupFolder);

struct RunCopy {
    std::string path;     // the copy, in a backup folder this run holds
    uint64_t length = 0;  // its length and the hash of its bytes, as it was written
    uint64_t hash = 0;
};
// Fills the marker of each folder the copies stand in, synced; copies in several folders make
// the marker in `mainDataFolder`'s backup folder their commit point. 0, or an errno (EXDEV: a
// copy is not in a folder this run holds).
int write_run_markers(const std::vector<RunCopy>& copies, const std::string& mainDataFolder);
// Empties this run's markers that name copies, the main first: every data file has committed.
// 0, or the errno of the failure: the main marker still names every copy, so the run has not
// passed its commit point and its data files are to be put back.
int clear_run_markers();

// PutBack: put back (a note). Refused: a writer's put-back refused, the command writes nothing.
// HalfPosted: a look met a run stopped half posted. OtherUser: another user's run that may be
// half posted. NotARun: a marker whose user may not write what it names, or whose number no data
// file carries, passed over (a note). Kept: a marker whose number no data file carries though a
// data file differs from its copy, passed over with its copies kept (a note). Untold: whether a
// run is genuine cannot be told, refused. Unseen: a look passed a backup folder it cannot read
// (a note). WriteStopped: a data file left in the middle of a write (a hot journal) that this
// command does not take back (a look, or a user who may not write it): `next` says whose writing
// command does. WriteTakenBack: a writer took such a write back from its journal (a note; `reason`
// what else to know of it, the journal's other names, or "").
// NotItsJournal: what stands at a data file's journal name is not its own journal: never played
// nor removed, the file refused (`reason` says what it is and who removes it). NothingPosted:
// another user's numbered run that no data file carries, every file as it copied it, of a user
// who may write them: a conversion that stopped with whatever it wrote taken back (a note).
enum class RunNoticeKind {
    PutBack,
    Refused,
    HalfPosted,
    OtherUser,
    NotARun,
    Untold,
    Unseen,
    WriteStopped,
    WriteTakenBack,
    NotItsJournal,
    // A journal that held no write, of other names, removed by a writer: `reason` says it and
    // those names, which hold nothing; the command goes on.
    EmptyJournalRemoved,
    Kept,
    InProgress,  // a conversion (or a command settling its folder) holds the backup folder's lock
    NothingPosted,
    // A backup folder's lock is held by none of the programs it is for (another user's process,
    // or one that has ended, through a descriptor another process kept): what it guards is not
    // looked at. ForeignLock: a run stands there, and the command is refused; ForeignLockAside:
    // none does, and the command goes on (`next`: MayEndLockHolder); ForeignLockNoRun: none does,
    // but it is this conversion's own backup folder, where its run cannot be made, and the
    // conversion is refused. `reason` names the lock file and its holder. `next`: EndLockHolder.
    ForeignLock,
    ForeignLockAside,
    // A dead run whose lock is held by none of its programs (shared or exclusive): nothing of it
    // is put back, cleared or taken back, and every writer is refused until that process ends; a
    // look where it may be half posted or left a write in the middle. `reason` names the lock
    // file and its holder; `next`: EndLockHolder, or EndHolderThenPutBack where the holder's end
    // alone does not let the command run.
    StoppedRunHeld,
    ForeignLockNoRun,
    // A command that finished or cleared a stopped run could not give back to its data files all
    // they had when it began (a put-back killed midway left them its runner's): `reason` says
    // what, `next` the administrator's step (GiveOwnerBack). A note.
    NotGivenBack,
    // A writer could not lock a backup folder for what only an administrator lifts (a read-only
    // mount, an immutable folder), and no marker in it names a copy: nothing there was posted.
    // Refused, `reason` says why, `next` is the administrator's step (LiftWriteBar).
    Unlockable
};
struct RunNotice {
    RunNoticeKind kind = RunNoticeKind::PutBack;
    std::string files;   // the data files' names, ", " between them
    std::string reason;  // the cause only (PutBack: what else to know); what to do is `next`
    std::string marker;  // the marker's path
    int error = 0;       // the errno of a failed put-back, when one says it (ENOSPC: the disk is full)
    ui::NextStep next;   // what the person can do about it, worded by each front end
};
// What the put-backs since the last call did, oldest first. Every text in them that was read
// from a file or a folder has its control characters escaped ("\033"). A notice other than a
// put-back is queued once per command, however often the data folders are looked at.
std::vector<RunNotice> take_run_notices();
// A command starts: the notices it queues are said again, even those an earlier one said.
void forget_run_notices_said();

struct SettleRequest {
    std::string dataFolder;
    bool mayWrite = false;  // false: a look, which only reports
    std::string onlyFile;   // only runs naming this data file ("" every run)
    // A conversion, which makes its run in this user's own backup folder of the data folder: that
    // folder's lock held by none of the programs it is for refuses it, as where a run stands.
    bool makesRuns = false;
};
// Looks for dead runs in the backup folders of the data folder; a writer puts them back. False
// when a run is left half posted (refused, or a look found it); `why` then says the first reason.
bool settle_dead_runs(const SettleRequest& request, std::string* why = nullptr);
// Leftovers of put-backs killed midway ("<data file>.restore<process>[_<n>]" of a process that
// no longer runs, regular files of this user) are removed from the data folder.
void remove_restore_leftovers(const std::string& dataFolder);

// The company's data folders (its own first, then those file control names): where the markers
// of a run are looked for when the folder a marker names is not where it was (a company moved).
void set_company_folders(std::function<std::vector<std::string>()> folders);

// Tests: called with a dead run's marker once it is locked for its put-back.
void set_put_back_hook_for_tests(std::function<void(const std::string& marker)> hook);
// Tests: called in clear_run_markers once the main marker is cut back, before the parts are emptied.
void set_commit_point_hook_for_tests(std::function<void()> hook);

}  // namespace dz::xio
