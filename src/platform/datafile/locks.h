// Record, header, notes and writer locks that hold across processes.
//
// A lock is a POSIX record lock (fcntl F_SETLK, write lock, one byte) on the data file's lock
// file, at an offset that a 64-bit hash of the lock's kind and key chooses:
//
//   kind  'R' record (key "<record type>:<rowid>"), 'H' header (key "<header number>"),
//         'N' notes (key "<record type>:<folded primary key>"), 'W' the file is being written
//         by a conversion (key "")
//
// The lock files live outside the company folder, so that a program that only reads (Examine
// Files) leaves that folder as it was: in the machine's temp folder /tmp, subfolder
// "dodedoz-locks" (made open to every user, sticky), one file per data file named
// "<file name>-<hash>.locks" after a 64-bit hash of the data file's canonical path. Every program
// on the machine reaching the data file, by whatever path, meets on the same lock file: $TMPDIR
// plays no part, since programs started with different ones must still exclude each other. A
// lock file holds no data; it is made at the first lock taken and never removed (removing it
// could part two programs that still hold it open).
// $DODEDOZ_LOCK_DIR, when set, names the folder instead; the test scripts point it into the
// build folder so that test companies leave nothing behind in the machine's temp folder.
// Either folder is used only when it is a real folder owned by root or the user, and sticky when
// others may write in it; otherwise the user's own "dodedoz-locks-<uid>" (mode 0700) beside it
// is, and when that cannot be had either, no lock can be taken and no data file opens.
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
// only, and handed to the kernel before the writer lock is let go.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace dz::xio {

struct LockFile;

// The folder of the lock files, and the lock file of a data file.
std::filesystem::path lock_folder();
std::filesystem::path lock_file_path(const std::filesystem::path& dataFile);

class LockTable {
public:
    LockTable(std::filesystem::path dataFile, int64_t owner);
    ~LockTable();
    LockTable(const LockTable&) = delete;
    LockTable& operator=(const LockTable&) = delete;

    // Opens (makes) the lock file: XIO_OK, or XIO_LOCKED when it cannot be had (error() says why).
    // A data file whose locks cannot be taken is not opened at all: never without exclusion.
    int open();
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
    bool heldByOther(char kind, const std::string& key, bool otherProcessOnly = false);
    // Why the lock file could not be had; empty when it could.
    const std::string& error() const { return error_; }
    const std::filesystem::path& path() const { return path_; }

private:
    bool attach(bool create);
    // Gives the kernel the record locks kept without it (see LockFile::alone), and ends that.
    void leaveAlone();

    std::filesystem::path path_;
    int64_t owner_;
    std::shared_ptr<LockFile> file_;
    std::string error_;
    bool present_ = false;  // counted in the lock file's present handles
};

}  // namespace dz::xio
