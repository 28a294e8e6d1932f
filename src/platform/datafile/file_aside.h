// Files written beside a data file and renamed over it, and the folders they lie in.
//
// A data file is never deleted to be replaced: what replaces it is written aside under a fresh
// name ("<data file>.restore<process>[_<n>]"), synced, and renamed over it, so that at every
// moment either the old file or the new one stands. The file aside takes the data file's mode,
// owner and group, so that the users who could write the data file still can.
#pragma once

#include "platform/datafile/stream_hash.h"

#include <cstdint>
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

struct Aside {
    std::string path;           // the file written aside
    StreamHash hash;            // of every byte written
    bool ownerKept = true;      // false: the owner asked for could not be given to it
    bool groupKept = true;      // false: the group asked for could not be given to it
};
// Whose a file aside is to be when its target does not stand (a data file removed since).
struct AsideOwner {
    uid_t uid = 0;
    gid_t gid = 0;
};
// Writes the bytes of `in` beside `target` under the first free aside name, with `mode` and the
// owner and group of `target` (or, when it does not stand, `missing`'s, when given), as far as
// this user may give them, synced. 0, or the errno of the failure (nothing is left aside then).
int write_aside(int in, const std::string& target, mode_t mode, Aside& aside, const AsideOwner* missing = nullptr);

}  // namespace dz::xio
