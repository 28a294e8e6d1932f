// The one way this program removes a data file's journal: SQLite's removal at a commit's end (the
// guard), a take-back's, a put-back's, and a writer's removal of a journal that holds no write.
//
// A journal of more than one name (a hard link made to it by one who could read and write it)
// keeps its inode under its other names once one name is removed: the journal of a write that is
// done, which, put back beside the file after a later write, would pass as that write's and undo
// it. So it is emptied first, and its other names hold nothing any program plays.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

namespace dz::xio {

struct JournalRemoval {
    std::string journal;  // its path
    // The file to remove, by its device and inode: another file standing at the name by then
    // stays (ESTALE). 0: whatever regular file stands there.
    dev_t device = 0;
    ino_t inode = 0;
    bool syncFolder = false;  // the folder synced once the name is gone
};

// 0 once it is removed (its other names, if any, emptied first), else the errno of the failure:
// ENOENT where nothing stands there, ESTALE where another file does, EINVAL where it is no
// regular file. A journal that cannot be opened to be emptied (its mode changed since) is
// removed as it is.
int remove_journal(const JournalRemoval& removal);

// Tests: called with a journal's path once its other names were emptied, before its own is removed.
void set_journal_emptied_hook_for_tests(std::function<void(const std::string& journal)> hook);

}  // namespace dz::xio
