// One conversion, one commit: the conversion layer's side of the run marker.
//
// A conversion commits its data files one after another. Order of calls:
//   copies made (DataFileBackup::Backup; the first in a folder holds the run's lock and marker
//   there, empty) -> RunMarker::Write (the markers name every copy with its length and hash,
//   whole and synced; with copies in several folders the company folder's marker is the commit
//   point) -> the commits -> RunMarker::Remove (the markers name nothing) -> the copies removed
//   (with the last, the marker).
// A later command: find a dead run's marker -> take its lock -> check it and every copy -> put
// its copies back -> remove it (platform/datafile/run_marker.h, reached from every writable open
// of a data file and every taking of its writer lock). RecoverInterruptedRuns is the friendly early pass of a
// command over every data folder of the company, and says what the data-file layer did.
#pragma once

#include "platform/ui/next_step.h"

#include <string>
#include <vector>

namespace dz::convert {

class DataFileBackup;

class RunMarker {
public:
    RunMarker() = default;
    RunMarker(const RunMarker&) = delete;
    RunMarker& operator=(const RunMarker&) = delete;
    // Names the copies (with their lengths and hashes) in the run's marker of each backup folder
    // they stand in, synced: 0, or the errno of the failure (ENOSPC: the disk is full; EXDEV: a copy outside the company's
    // backup folders, which no later command could find).
    int Write(const std::vector<const DataFileBackup*>& backups);
    // Why the last Write failed, in words (the marker's folder and the cause), and what to do.
    const std::string& Why() const { return why_; }
    const ui::NextStep& Next() const { return next_; }
    // After the last commit, or once every file was put back. Kept otherwise (the marker stays
    // for the next command when a copy could not be put back). 0, or the errno of a marker that
    // could not be emptied: it still names every copy, so the run has not committed and its
    // files are to be put back (by this run, or else by the next command).
    int Remove();
    bool Written() const { return written_; }

private:
    bool written_ = false;
    std::string why_;
    ui::NextStep next_;
};

// How a command uses the company: it only looks, it may write, or it converts (it may write, and
// makes its run in its own backup folders).
enum class CompanyUse { Look, Write, Convert };

// What every command that opens a company's data files does first. A command that may write
// (`use` not Look) puts every interrupted run back, saying so on the screen and in the company log,
// and removes the leftovers of put-backs killed midway; one that only looks leaves everything as
// it is, writes nothing, and refuses to run (a company half posted is not to be read as whole).
// True when the command may go on. With `said`, what is to be said goes there (its next step in
// the command line's words after it) instead of to the
// screen. With `ending`, a command that may not go on gets the words its ending gives, true for
// what refused it first (a run not put back, another user's run, one that cannot be judged).
bool RecoverInterruptedRuns(CompanyUse use, std::vector<std::string>* said = nullptr, std::string* ending = nullptr);
// Says what the data-file layer put back or refused since it was last asked (on the screen, and
// for a command that may write in the company log). False when something was refused; `ending`
// as above.
bool SayRunNotices(bool mayWrite, std::vector<std::string>* said = nullptr, std::string* ending = nullptr);

}  // namespace dz::convert
