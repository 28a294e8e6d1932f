// Whether a journal's rights are its data file's: a journal that someone may write whom the file's
// rights keep from writing it (one left open to others, a group's where the file's list keeps a
// member of that group out, a user the file names read-only) may hold what that person wrote,
// which, played, would be written into the file. Its content cannot tell.
#pragma once

#include <string>
#include <sys/stat.h>

namespace dz::xio {

struct JournalRights {
    std::string journal;  // its path
    int fd = -1;          // the journal, open
    struct stat st {};    // its status, as opened
    std::string dataFile;
    struct stat file {};  // the data file's status
};

// One who may write the journal and not the data file, in words ("dzsb (uid 1002)", or "every
// user" where its others may write it and the file's may not); "" when there is none. A user
// whose right cannot be told counts as one. The journal's owner is not asked: whether they may
// write the file is the judge's own step.
std::string writer_kept_out(const JournalRights& rights);

// The command an administrator runs to narrow the journal to its owner's write alone, by its
// absolute path.
std::string narrowing_command(const std::string& journal);

}  // namespace dz::xio
