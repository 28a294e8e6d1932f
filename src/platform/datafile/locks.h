// Record, header, notes and writer locks that hold across processes.
//
// Locks live in a small SQLite database beside the data file, "<data file>-locks", created at
// the first lock taken (so that a program that only reads never writes it):
//
//   CREATE TABLE locks(kind TEXT, key TEXT, pid INTEGER, start INTEGER, owner INTEGER,
//                      PRIMARY KEY(kind, key));
//
//   kind  'R' record (key "<record type>:<rowid>"), 'H' header (key "<header number>"),
//         'N' notes (key "<record type>:<folded primary key>"), 'W' the file is being written
//         by a conversion (key "")
//   pid, start   the holding process and its start time (so a reused pid is not mistaken
//                for the holder)
//   owner        the holding open handle's serial number within that process
//
// A lock held by another owner answers XIO_LOCKED while its process lives; the rows of a
// process that has died (or whose pid now belongs to a newer process) are deleted by the
// first caller that meets them. The table is volatile state: it is written without sync, and
// a damaged lock file is simply recreated.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

struct sqlite3;

namespace dz::xio {

class LockTable {
public:
    LockTable(std::filesystem::path dataFile, int64_t owner);
    ~LockTable();
    LockTable(const LockTable&) = delete;
    LockTable& operator=(const LockTable&) = delete;

    // XIO_OK when taken (or already ours), XIO_LOCKED when another live owner holds it,
    // XIO_IO_ERROR when the lock file cannot be written.
    int acquire(char kind, const std::string& key);
    void release(char kind, const std::string& key);
    void releaseAll();
    // Whether another live owner holds the lock. `otherProcessOnly` ignores owners of this process.
    bool heldByOther(char kind, const std::string& key, bool otherProcessOnly = false);
    // Whether any lock of this kind is held by another live process.
    bool kindHeldByOtherProcess(char kind);

    static bool processAlive(int64_t pid, int64_t start);
    static int64_t processStart(int64_t pid);

private:
    bool open(bool create);

    std::filesystem::path path_;
    int64_t owner_;
    int64_t pid_;
    int64_t start_;
    sqlite3* db_ = nullptr;
    bool holdsAny_ = false;
};

}  // namespace dz::xio
