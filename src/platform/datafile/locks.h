// Record, header, notes and writer locks that hold across processes.
//
// A lock is a POSIX record lock (fcntl F_SETLK, write lock, one byte) on the data file's lock
// file, at an offset that a 64-bit hash of the lock's kind and key chooses:
//
//   kind  'R' record (key "<record type>:<rowid>"), 'H' header (key "<header number>"),
//         'N' notes (key "<record type>:<folded primary key>"), 'W' the file is being written
//         by a conversion (key "")
//
// The lock file of a data file lies beside it, in the data file's own folder, named
// ".<file name>.locks" (".MASTER.APM.locks" beside MASTER.APM). Every user who reaches the data
// file meets every other there, whatever path, temp folder or environment each was started
// with, and whoever may plant a file there may already change the data file itself, so nobody
// outside the company can make one of its files "in use". Renaming a new data file into its
// place (a put-back, a rewrite) keeps its lock file, as the lock file follows the name. It is
// never the data file itself: SQLite takes POSIX locks on that, and closing any descriptor of a
// file drops every POSIX lock of the program on it.
//
// A program that may write the data file makes the lock file at its first open, and fits it
// (see lock_file.h: whoever may read the data file may show presence, whoever may write it may
// lock it). It is never removed: removing it could part two programs that still hold it open;
// one of the wrong permission or owner is made afresh and renamed over it, never while another
// program that may write the data file holds it. Every lock taken here (presence, the writer's
// byte, a record, a header, notes) is looked at again once held: when the name no longer names
// the file it is on, it is let go and taken on the file the name names (see lock_file.h). An
// open that only looks (read-only: Examine Files, dump, tables list and show) never makes or
// fits it: it uses the lock file when it exists, and when it does not, nobody writes the file at
// that moment (every writer makes it before it writes) and the look writes nothing at all.
//
// Every lock file is opened O_NOFOLLOW and O_NONBLOCK and must be a regular file of one link;
// one that exists but cannot be opened or locked (another user's with no permission for this
// one, a pipe, a link, a folder) refuses the data file as "in use", the reason naming the lock
// file: never a data file opened without exclusion.
//
// The kernel answers at once whether another process holds the byte, and drops every lock of a
// process when it ends, however it ends, so a dead program never leaves a lock behind. Record
// locks are process-wide in the kernel, so the locks of the handles of this program are kept in
// a table here as well: a lock of another handle of this program also answers XIO_LOCKED.
//
// Every open also holds a read lock on a presence byte (2^62, above every hashed offset), taken
// before the open looks for the writer lock. A program that takes the writer lock and then finds
// no other program present has the file alone until it lets the writer lock go (any open after
// it meets the writer lock and is refused), so meanwhile its record locks are kept in the table
// only, and handed to the kernel before the writer lock is let go. A look that found no lock
// file shows no presence, and a look whose lock file it may not write keeps its own locks in
// its table: both stay sound because a look writes nothing, so none of its locks guards a
// write, while every writer still meets every other on the lock file (a writer that believes
// itself alone beside such a look takes no record lock the look could need).
#pragma once

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/ui/next_step.h"

namespace dz::xio {

struct LockFile;

// The lock file of a data file: ".<file name>.locks" in its folder (the folder's canonical path).
std::filesystem::path lock_file_path(const std::filesystem::path& dataFile);

// How a table uses its lock file: one that may write makes it; a look only uses it when it
// is there, and may open, and goes on without it otherwise; Examine Files (Foretell), a look
// that foretells a conversion, is refused a lock file that is there but cannot be had, as the
// conversion would be.
enum class LockUse { Write, Look, Foretell };

// Who else holds a lock, as a message says it.
struct LockHeld {
    // "process <pid> of user <name>" when the kernel names a process of this machine, else what
    // it is (a program whose process cannot be seen, for an open file description's lock; one
    // this machine does not show); empty when nobody else does.
    std::string who;
    bool reading = false;  // it holds a read lock only
    // An open file description's lock, which names no process: how to find it is the step.
    bool description = false;
    // What a person can do: wait for a holder that may write the data file (or one this machine
    // does not show); have an administrator end one that may not, or find one whose process
    // cannot be seen.
    ui::NextStep next;
};

class LockTable {
public:
    LockTable(std::filesystem::path dataFile, int64_t owner);
    ~LockTable();
    LockTable(const LockTable&) = delete;
    LockTable& operator=(const LockTable&) = delete;

    // Opens (makes, for LockUse::Write) the lock file: XIO_OK, or XIO_LOCKED when it cannot be
    // had (error() says why). A data file whose locks cannot be taken is not opened at all:
    // never without exclusion.
    int open(LockUse use = LockUse::Write);
    // XIO_OK when taken (or already ours), XIO_LOCKED when another handle or program holds it or
    // the lock file cannot be had (then error() says why).
    int acquire(char kind, const std::string& key);
    void release(char kind, const std::string& key);
    // The record lock of row `row` of record type `rec`: the lock of kind 'R' and key
    // "<rec>:<row>" above, the same byte and the same answers, without making its key text.
    int acquireRecord(uint16_t rec, int64_t row);
    void releaseRecord(uint16_t rec, int64_t row);
    bool recordHeldByOther(uint16_t rec, int64_t row);
    void releaseAll();
    // Whether another handle or program holds the lock. `otherProcessOnly` ignores this program.
    // `writersOnly`: as a reader asks it, whom only a write lock keeps off (a reader's read lock
    // over the byte keeps out writers, never another reader).
    bool heldByOther(char kind, const std::string& key, bool otherProcessOnly = false, bool writersOnly = false);
    // Who else holds the lock (see LockHeld); `writersOnly` as above.
    LockHeld holder(char kind, const std::string& key, bool writersOnly = false);
    // Why the lock file could not be had; empty when it could.
    const std::string& error() const { return error_; }
    // What a person can do about it, when the layer knows (one no lock can be taken on).
    const ui::NextStep& next() const { return next_; }
    const std::filesystem::path& path() const { return path_; }

private:
    bool attach(bool create);
    // Whether the kernel takes this table's write locks (a look without a writable lock file
    // keeps them in the table alone).
    bool kernelWrites() const;
    // Whether the byte of `fl`, refused a moment ago, is held by read locks alone (a reader's
    // lockf of the lock file), for a look: a look is kept off by a writer alone, and takes such
    // a lock in its table only, as a look writes nothing for it to guard.
    bool readersOnly(struct flock fl) const;
    // Whether the lock file's name still names the file this table locks.
    bool still_named() const;
    // After the lock `fl` was taken: whether the name still names the file it is on; when not,
    // the lock is let go (and the table is to take it again on the file the name names).
    bool onNamed(struct flock fl);
    // Leaves the lock file this table had (its presence there with it) for the one the name
    // names now, showing presence there when it showed it here: false, error() saying why, when
    // that cannot be had before `deadline` (set from now at the first remake, which always goes
    // on: a later one past it is refused).
    bool retake(std::chrono::steady_clock::time_point& deadline);
    void leaveFile();
    // Shows presence on the lock file, trying until `deadline` while it is made afresh (unset:
    // from the first remake; the presence byte held whole is waited for the bound from now).
    int show(std::chrono::steady_clock::time_point& deadline);
    // Whether the lock `held` (as F_GETLK answered it) is a replacer's, for the moment it makes
    // the lock file afresh: a write lock over the whole file by a process whose new file stands.
    bool refitting(const struct flock& held) const;
    // Who holds the lock `held` (as F_GETLK answered it), in words, with the step that fits.
    LockHeld heldBy(const struct flock& held) const;
    bool writable_enough();
    // Gives the kernel the record locks kept without it (see LockFile::alone), and ends that.
    void leaveAlone();

    std::filesystem::path path_;
    std::filesystem::path dataFile_;
    int64_t owner_;
    std::shared_ptr<LockFile> file_;
    std::string error_;
    ui::NextStep next_;
    LockUse use_ = LockUse::Write;
    bool present_ = false;  // counted in the lock file's present handles
};

}  // namespace dz::xio
