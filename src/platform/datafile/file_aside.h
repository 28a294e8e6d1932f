// Files written beside a data file and renamed over it, and the folders they lie in.
//
// A data file is never deleted to be replaced: what replaces it is written aside under a fresh
// name ("<data file>.restore<process>[_<n>]"), synced, and renamed over it, so that at every
// moment either the old file or the new one stands. The file aside takes the data file's mode,
// owner, group and access list, so that the users who could write the data file still can, and
// nobody else; what this user may not give it back is said (say_not_given_back).
#pragma once

#include "platform/datafile/marker_text.h"
#include "platform/datafile/stream_hash.h"
#include "platform/ui/next_step.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace dz::xio {

// The folder with its slash ("./" for none).
std::string with_slash(std::string folder);
// Syncs a folder, so that the names made, renamed and removed in it stand on the disk: 0, or
// the errno of the failure.
int sync_folder(const std::string& folder);

// The name of the n-th file aside of `target` made by this process: "<target>.restore<pid>",
// "_<n>" after it for n > 0.
std::string aside_name(const std::string& target, int n);
// Whether `name` (a name in a folder) is a file aside: the name of the file it stands beside,
// and the process that made it.
bool parse_aside_name(const std::string& name, std::string& target, std::string& process);

// Copies every byte of `in` (from its start) to `out`, adding each to `hash` when given: 0, or
// the errno of the failure.
int copy_bytes(int in, int out, StreamHash* hash = nullptr);

// Whose a file aside is to be when its target does not stand (a data file removed since).
struct AsideOwner {
    uid_t uid = 0;
    gid_t gid = 0;
};
struct Aside {
    std::string path;           // the file written aside
    StreamHash hash;            // of every byte written
    bool ownerKept = true;      // false: the owner asked for could not be given to it
    bool groupKept = true;      // false: the group asked for could not be given to it
    AsideOwner had;             // the owner and group asked for
    AsideOwner has;             // the owner and group it was given
    // The target's access list where it could not be given it: the list and why
    // ("user::rw-,user:4321:rw-,... (Operation not supported)"); "" when it was given.
    std::string listLost;
    mode_t mode = 0;            // its permission bits as given
    // The list it is to have again, in setfacl's words, where it names users or groups and the
    // owner or group was not kept: the list it carries names them, and a change of owner alone
    // would leave that name in it. "" otherwise.
    std::string listBack;
};
// Writes the bytes of `in` beside `target` under the first free aside name, with `mode` and the
// owner, group and access list of `target` (or, when it does not stand, `missing`'s owner and
// group, when given), as far as this user may give them, synced: the list as a file of the owner
// and group it has carries it (AccessList::carried), or, where it cannot be given, bits no wider.
// 0, or the errno of the failure (nothing is left aside then).
int write_aside(int in, const std::string& target, mode_t mode, Aside& aside, const AsideOwner* missing = nullptr);

// What the file at `path` has now: its owner, its group and its access list (none when it
// cannot be read).
std::optional<FileHad> file_had(const std::string& path);

// Gives the regular file at `path` (a file aside, or a data file a put-back killed midway left
// as its runner's) the owner, group and access list of `had`, as far as this user may: the list
// as a file of the owner and group it then has carries it. `result` says what was kept, as
// write_aside's Aside does (its path and hash are left as they are). 0, or the errno of a file
// that cannot be opened (nothing is changed then).
int give_had(const std::string& path, const FileHad& had, Aside& result);

// What `dataFile`, put back from `aside`, could not be given back of what it had (its owner, its
// group, its access list): said after `notes` ("; " between files) and asked of an administrator
// in `next` (GiveOwnerBack, one step naming every file that is to have the same owner and group
// again, asking only what was not kept), e.g. "MASTER.GLM now belongs to dzsa (uid 1001): its
// owner dzsb (uid 1002) could not be given back (its group dzsg was kept)"; where the list it
// carries names them (Aside::listBack), the step gives that list back too. Nothing when all
// was given back.
void say_not_given_back(const std::string& dataFile, const Aside& aside, std::string& notes, ui::NextStep& next);

}  // namespace dz::xio
