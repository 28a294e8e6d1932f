// SQLite as the data-file layer sets it up, for the files beside record I/O that open a data
// file or SQLite's file layer themselves (the journal judge and guard, a take-back, a run's
// mark, the put-back's checks). Record I/O's own types stay in xio_internal.h, which only the
// xio files include.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <string>

namespace dz::xio_private {

// SQLite's memory and the journal guard, set up once before any connection opens.
void configure_sqlite_once();
// A connection made defensive: nothing the file holds runs (no trigger, view or virtual table),
// nothing outside it is attached. The SQLite code.
int harden(sqlite3* db);
// The absolute path SQLite is handed for a data file.
std::string sqlite_name(const std::filesystem::path& path);
// A connection of its own on an existing data file, opened with `flags` (SQLITE_OPEN_READONLY
// or SQLITE_OPEN_READWRITE; never creating it) and hardened. The SQLite code; `db` is set even
// when the open failed, for its words, and the caller closes it.
int open_raw(const std::filesystem::path& path, int flags, sqlite3*& db);
// Whether this program has the data file open, on any connection.
bool open_on_a_connection(const std::string& dataFile);

// The descriptor SQLite's unix file layer keeps for a file it opened: its file object holds it
// after the methods, the layer and the inode's lock record. Trust it only once it is checked to
// be the file meant (-1: none).
inline int unix_descriptor(const sqlite3_file* file) {
    struct Head {
        const sqlite3_io_methods* methods;
        sqlite3_vfs* vfs;
        void* inode;
        int fd;
    };
    return file && file->pMethods ? reinterpret_cast<const Head*>(file)->fd : -1;
}

}  // namespace dz::xio_private
