// Every lock file of the program is made, opened, checked and fitted here: the data files'
// (".<name>.locks" beside each data file), a backup folder's "folder.lock", a run's
// "run~<host>~<process>.lock" and the company settings' ".company.toml.locks".
//
// What a lock file may be:
// - A regular file of one link, opened O_NOFOLLOW | O_NONBLOCK, never made with O_CREAT over one
//   that stands (only O_CREAT | O_EXCL), so that a system guarding sticky folders
//   (fs.protected_regular) never refuses one user another's lock file.
// - Openable by exactly those who may take what it guards, and by nobody else: a lock an
//   outsider can hold would make the program's writers wait on them.
//     OwnerOnly  mode 0600, of the backup folder's owner (folder.lock); a run's lock adds read
//                for group and others where they may enter the folder, so that every member
//                who may see the run can ask whether it lives (a shared flock needs no more);
//     Writers    mode 0600, with read and write for group and others exactly where the file it
//                guards gives them write (the settings' lock: 0660 beside a group-writable
//                company.toml);
//     DataFile   mode 0600, with the data file's own read and write bits for group and others
//                and its access list, read and write alone (the data file's owner, and its group
//                where the maker could not give it, named in it when another made it): whoever
//                may read a data file shows presence on its lock file, whoever may write it
//                locks, and nobody the list keeps from writing the file may open it to write.
//   Made by root, it takes the owner and group of what it guards (of the folder, for
//   OwnerOnly); made by another user, its group.
// - Found wider, narrower (a data file's by its whole access list), or of an owner who may not
//   write what it guards, by one who may (or by root), it is made afresh under a name of its
//   own and renamed over the old one: a new
//   file, so that a descriptor an outsider opened while it was wider locks nothing any more.
//   It is never changed in place (fchmod would leave those descriptors working).
// - One holder at a time, by construction. The replacer goes on only while it holds the old
//   file's own lock: exclusive (a write lock over every byte of a data file's, the presence byte
//   included; an exclusive flock of the others), or, where an outsider's read lock (a descriptor
//   opened while it was wider) leaves only the shared one (a read lock over every byte, a shared
//   flock, which still keeps every writer off), after judging its holders once while holding
//   that: one it is for among them, or one it cannot see the user of, leaves it as it is. It
//   renames over the name only while the name still names the old file, and lets the old lock
//   go after the rename. Every program that takes a lock on a lock file (a flock, the presence
//   byte, the writer's byte, any other byte) looks again, once it holds it, that the name still
//   names the file it locked, and takes it again on the file the name names when not: whoever
//   locks the old file after the rename meets the new one, and so does the replacer, which
//   takes its lock like anyone else. Neither lock to be had (held whole), it waits for the
//   holder. A shared lock had where nobody is seen holding the file renames nothing: the
//   exclusive lock was let go meanwhile, and is tried again; but a data file's lock file this
//   user may open for reading only takes no write lock through that descriptor, so there the
//   shared lock, had, is what says no writer holds it.
// - Never renamed over nor removed while another program may hold it: only a lock taken on that
//   very file says that nobody holds it (what /proc/locks shows may miss a lock taken and let
//   go between its reads, and never shows another machine's), and what this machine shows of
//   its holders serves only to name them. One held whole is waited for, whoever holds it; one
//   this user cannot open cannot be locked, so it is left as it stands and said so (with who
//   may remove it when it is not as it should be). One that fits is left as it is; one an ACL
//   entry of its own shuts this user out of is left by them (they cannot lock it), and a data
//   file's is made afresh by the next who may open it and write the data file.
// - A "<name>.new<pid>" left by a refit killed midway is removed by the next who may make the
//   lock file.
// - Made once, it stays fitting: one made by a user who could not give it the group it should
//   have (not one of theirs) is made without the group's bits, and fits so.
// - A look (make false) never makes or fits one.
//
// A lock waited for and not had within the bound (ten seconds) is said with its cause: the
// lock file, and who holds it ("process 123 of user dzsa", and whether it only reads) as this
// machine's kernel shows it, or why it cannot be opened. One held by none but holders it is not
// for (a user who may not take what it guards, or a process that has ended, through a
// descriptor another process kept) is not waited for: nothing of the program's ends them, and
// an administrator ends the process that keeps it.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

#include "platform/ui/next_step.h"

namespace dz::xio {

enum class LockKind { OwnerOnly, Writers, DataFile };

struct LockFileSpec {
    std::string folder;   // the folder it lies in, with or without its slash
    int dirFd = -1;       // that folder, already open (else it is opened by its path)
    std::string name;     // its name there
    LockKind kind = LockKind::OwnerOnly;
    // What it guards: the file (Writers, DataFile; may not exist yet) whose permission it
    // follows. OwnerOnly: unused, the folder's owner is its owner.
    std::string guarded;
    bool make = true;       // may make it, and fit it (false: a look, which uses it as it stands)
    bool create = true;     // false: one that is missing is not made, only fitted when found
    bool mustWrite = true;  // false: opened for reading when it cannot be opened for writing
    // OwnerOnly: refuse, rather than replace, one of another owner (a run's lock: one its
    // folder's owner did not make was made by nobody who runs).
    bool refuseOtherOwner = false;
    // OwnerOnly: readable by whoever may enter the folder (a run's lock: asked by every member).
    bool readable = false;
};

struct LockFileOpened {
    int fd = -1;  // locked, when it comes from try_lock_file
    bool writable = false;
    int error = 0;         // errno of the failure, 0 when opened
    std::string why;       // the failure as a message says it after the lock file's path
    std::string writeWhy;  // opened for reading only: why not for writing
    dev_t dev = 0;
    ino_t ino = 0;
    uid_t owner = 0;   // its owner
    std::string path;  // the folder, a slash, the name: as messages say it
    std::string holder;  // held (EWOULDBLOCK): "process 123 of user dzsa", when known
    // Held (EWOULDBLOCK) by none but holders it is not for: users who may not take what it
    // guards, or a process that has ended, whose lock a descriptor another process kept holds.
    // Said at once, never waited for: nothing ends them. next: EndLockHolder {path, holder}.
    bool foreign = false;
    // Its name holds what no lock can be taken on (a link, a pipe, a folder, a socket, a second
    // name): RemoveLockFile {path, its owner}. Nothing holds it; waiting never helps.
    ui::NextStep next;
};

// Opens the lock file (makes or fits it, see above). The caller owns `fd`.
LockFileOpened open_lock_file(const LockFileSpec& spec);

// Whether this user's writing command would be refused by the lock file of `spec` as it stands,
// nothing made or changed (a look that foretells a writer): `fd` -1 with `why` (and `next`)
// where they may not open it to write and could not make it afresh (it fits, or they may not make
// it, or its folder, or a sticky one, keeps them from replacing it); `fd` 0 where it would serve.
LockFileOpened foretell_lock_file(const LockFileSpec& spec);

// A process that holds a lock on a file, as this machine's kernel shows it.
struct LockHolder {
    pid_t pid = 0;
    bool shared = false;  // a read (shared) lock
    uid_t uid = 0;  // its effective user and groups
    bool uidKnown = false;
    // The process that took the lock has ended, and a descriptor another process kept holds it
    // (seen listed again after its process was found gone): never a live run.
    bool ended = false;
    // Ended, or an open file description's lock (pid 0): "process 456 of user dzso", a process
    // seen keeping the file open (for a description's, one that holds no lock of its own there).
    std::string keeper;
    std::vector<gid_t> groups;
    // "process 123 of user dzsa" (or "of uid 1234"; "process 123" when its user cannot be seen);
    // an open file description's lock (pid 0) and an ended process's are said as what they are,
    // with the process seen keeping the file open.
    std::string words() const;
    // The process an administrator ends to let the lock go, as a step names it: the holder's own
    // words, or for a lock that outlives its taker (ended, or an open file description's) the
    // process seen keeping the file open ("one this user cannot see" when none is).
    std::string ender() const;
};
// The processes (this one included) that hold a lock (flock or POSIX) on the file of `dev`/`ino`; an empty
// list when none is seen (none, or one on another machine). /proc/locks is read several times and
// the readings taken together (one can miss a lock that stood all along), more of them where no
// other program's lock is seen.
std::vector<LockHolder> lock_holders(dev_t dev, ino_t ino);
// The same, this program's own locks left out.
std::vector<LockHolder> other_holders(dev_t dev, ino_t ino);
// "process <pid> of user <name>" for a process of this machine.
std::string process_words(pid_t pid);
// The holder of a POSIX lock on the file of `dev`/`ino` as F_GETLK answers it (`pid`: -1 for an
// open file description's lock, with the process seen keeping the file open; 0 for one this
// machine does not show), in words.
std::string answered_holder(pid_t pid, dev_t dev, ino_t ino);

// Why a bounded wait for a lock ended without it, and what a person can do.
struct LockWaitFailure {
    int error = 0;       // EWOULDBLOCK: held all along; else why the lock file could not be had
    std::string cause;   // "the lock file P is held by process 123 of user dzsa" / "... cannot be opened: ..."
    std::string holder;  // "process 123 of user dzsa", when known
    // AgainWhenFinished {holder} when held; EndLockHolder {lock file, holder} when held by none it
    // is for; RemoveLockFile for one no lock can be taken on
    ui::NextStep next;
    bool foreign = false;  // held by none but holders it is not for (LockFileOpened::foreign): not waited for
};

// Takes an flock on the lock file (made or fitted first), waiting at most the bound for it:
// the locked descriptor (the caller's), or -1 with `failure` filled. The lock is on the file the
// name names once it is held.
int take_lock_file(const LockFileSpec& spec, bool exclusive, LockWaitFailure& failure);
// The same, tried once without waiting: `fd` locked, or -1 with `error` EWOULDBLOCK when
// another program holds it (`dev`, `ino`: the file held), or why it cannot be had.
LockFileOpened try_lock_file(const LockFileSpec& spec, bool exclusive);

// How long a lock is waited for (10 seconds otherwise). Tests only.
void set_lock_wait_for_tests(std::chrono::milliseconds wait);
// The steps of taking and making lock files between which another program may act: a test
// hook called at each (tests only; empty: none), so that two programs can be driven through
// every window in either order. `path`: the lock file's.
enum class LockStep {
    Opened,        // opened and examined, not yet locked (flock, presence byte)
    Locked,        // a lock taken on it (flock; presence, writer's, record or other byte), its
                   // name not yet looked at again
    Unfitting,     // a replacer judged it unfitting (or held by outsiders alone), not yet opened
                   // again to be locked, nor looked that it is still the file it judged
    OldLocked,     // a replacer tried the old file's lock, its holders not yet judged
    BeforeRename,  // the new file made, the name not yet looked at nor renamed over
    AfterRename,   // renamed over, the old file's lock not yet let go
    Removing,      // a settler holding a dead run's lock, about to remove its pieces, its lock
                   // file's name not yet looked at again
    Made,          // made (or made aside to replace one), not yet given its owner, group and mode
};
void set_lock_hook_for_tests(std::function<void(LockStep step, const std::string& path)> hook);
// Calls the test hook, when one is set.
void lock_step(LockStep step, const std::string& path);
std::chrono::milliseconds lock_wait();

}  // namespace dz::xio
