// The one maker of every file and folder this program makes for another: a data file's journal,
// lock file and put-back aside, company.toml's new copy, its lock and the company's log, a run's
// lock, marker and copies, and the backup folders they lie in.
//
// What it makes has its final rights from its first moment. It is made its maker's alone (a
// file without a name, O_TMPFILE, 0600, or, where the file system makes none, 0600 at its name;
// a folder 0700, which nobody else may enter), with no entry of the folder's default list; then
// given its owner (by root only) and group; then the WHOLE access list of what it stands for
// (every entry replaced, an inherited one too; a folder keeps no default list); and only then
// linked at its name, which fails where something stands there (EEXIST). Nobody meets it, by its
// name or through a descriptor opened in a window, before it has its rights.
#pragma once

#include "platform/datafile/access_list.h"

#include <fcntl.h>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace dz::xio {

// What a file made for another is given, worked out once its owner and group are.
struct MadeRights {
    // The owner (given by root alone) and the group it is to have; -1 keeps what it was made with.
    FileOwners owners{static_cast<uid_t>(-1), static_cast<gid_t>(-1)};
    bool giveOwner = true;  // false: it stays its maker's, even made by root (a run's files)
    // The whole list it is to carry, given the owner and group it now has and whether it has the
    // group asked for. Unset, or nullopt: its maker's alone (0600, a folder 0700).
    std::function<std::optional<AccessList>(const FileOwners& has, bool groupGiven)> list;
};

struct MadeFile {
    int dirFd = AT_FDCWD;  // the folder it is made in, open; AT_FDCWD: `folder` names it
    std::string folder;    // that folder's path ("" with a dirFd, or the current folder)
    std::string name;      // its name there (a path, with AT_FDCWD)
    bool isFolder = false;
    int openFlags = 0;     // added to the open of a file (O_NONBLOCK, O_NOCTTY)
    MadeRights rights;
    // Called with its descriptor once it has its rights, before it has its name (a lock taken on
    // it then holds from the moment anyone may meet it).
    std::function<void(int fd)> beforeNamed;
};

struct Made {
    int fd = -1;            // open to read and write (a folder: to read), the caller's to close
    int error = 0;          // errno of the failure: nothing is left made then
    FileOwners has;         // the owner and group it was given
    bool ownerGiven = true;  // false: the owner asked for could not be given
    bool groupGiven = true;  // false: the group asked for could not be given
    int listError = 0;       // its list could not be given whole (errno): it has bits no wider
    mode_t mode = 0;         // its permission bits as given
};

// Makes it (see above). The descriptor in `fd`, or `error`.
Made make_file(const MadeFile& spec);
// Gives the file or folder open as `fd`, of this user's, `rights` in place (a folder of this
// user's made before, to be fitted): its owner and group, then its whole list (a folder's
// default list removed). `fd` is the caller's still.
Made give_made_rights(int fd, const MadeRights& rights, bool isFolder);

// A file or folder made to be read (or entered) by those who may read (or enter) another, and
// written by its maker alone.
struct ReadersOf {
    AccessList list;     // the other's list
    FileOwners from;     // its owner and group
    FileOwners to;       // the owner and group of the one made
    unsigned by = 4;     // what an entry of the other must give (4: read; 1: enter a folder)
    unsigned give = 4;   // what such an entry then gets (4: read a file; 5: enter and read a folder)
    unsigned owner = 6;  // what its owner gets
};
// Its list, as a file of owner and group `to` carries the other's (AccessList::carried): every
// entry that gives `by` gets `give`, the others nothing, its owner `owner`.
AccessList readers_list(const ReadersOf& r);

// The rights of a file made for the file at `path` (company.toml, a data file): its owner and
// group, and its list as a file of the owner and group it gets carries it, no entry beyond
// `most` (6: read and write at most). Where `path` does not stand, or its list cannot be read,
// nullopt.
std::optional<MadeRights> rights_for(const std::string& path, unsigned most, bool giveOwner = true);

// Tests: called at every step of a making (after its open, its owner, its list, its name) with
// the step's name and the descriptor.
void set_made_file_hook_for_tests(std::function<void(const char* step, int fd)> hook);

}  // namespace dz::xio
