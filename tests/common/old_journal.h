// An old journal of a data file, as a person who kept a journal aside (a backup of the folder taken
// in the middle of a commit, restored over a later state) leaves one: a real journal of a commit
// of this program, which the file was written after.
#pragma once

#include "platform/datafile/journal_guard.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace dz::testing_support {

// Copies `from` to `to` with its modification and access times, as `cp -p` does. True when done.
inline bool copy_with_times(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
    struct stat st {};
    if (ec || ::stat(from.c_str(), &st) != 0) return false;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    return ::utimensat(AT_FDCWD, to.c_str(), times, 0) == 0;
}

// Commits two writes to `file` in a child process, through this program's SQLite file layer; the
// first commit's journal is copied aside, with its times, where SQLite is about to remove it; once
// the child has ended, the copy is put back at the journal's name. True when it stands there.
inline bool plant_old_journal(const std::filesystem::path& file) {
    const std::filesystem::path journal = file.string() + "-journal", aside = file.string() + ".old-journal";
    const pid_t child = ::fork();
    if (child == 0) {
        xio::install_journal_guard();
        bool copied = false;
        xio::set_journal_removal_hook_for_tests([&](const std::string& hot) {
            if (!copied) copied = copy_with_times(hot, aside);
        });
        sqlite3* db = nullptr;
        // A row added, then taken away again: two commits that leave the file's rows as they were.
        const bool written =
            sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, "INSERT INTO dz_meta VALUES ('planted', '1')", nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, "DELETE FROM dz_meta WHERE name = 'planted'", nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        ::_exit(written && copied ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    std::error_code ec;
    std::filesystem::rename(aside, journal, ec);
    return !ec;
}

}  // namespace dz::testing_support
