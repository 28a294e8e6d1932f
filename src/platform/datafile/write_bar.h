// What keeps a file or folder from being written by anyone, its owner and root's programs alike,
// until an administrator lifts it: an immutable or append-only attribute (chattr +i, chattr +a),
// or a file system mounted read-only (a read-only bind mount included). Permission bits and
// access control lists are not among them: a file's owner changes those. Asked only to say why
// something failed or will fail, and who can mend it: never to decide what is written.
#pragma once

#include "platform/ui/next_step.h"

#include <string>

namespace dz::xio {

struct WriteBar {
    // "the folder /co is immutable (chattr +i)", "the file system holding /co is mounted
    // read-only (at /co)"; empty when none is found
    std::string cause;
    // How an administrator lifts it, as a command: "chattr -i /co", "mount -o remount,rw /co"
    std::string lift;
    explicit operator bool() const { return !cause.empty(); }
};

// What keeps the file or folder at `path` from being written (for a folder: from having names
// made, renamed or removed in it).
WriteBar write_bar(const std::string& path);
// What keeps the file at `path` from being removed: an attribute of its own, or what keeps its
// folder from being written.
WriteBar removal_bar(const std::string& path);

// The step that lets this user write the data file `file` and make its journal in its folder,
// once a write of it was refused, asked in this order so that it names who can truly lift it:
// what only an administrator lifts, of the file, then of its folder (Step::LiftWriteBar); a folder
// this user may not write in, of an owner other than the file's or than this user, where they may
// write the file or its owner is another (Step::WritableFolderOfOwner, which names both owners);
// else the file's owner's leave to write it and its folder (Step::WritableFile). Every path in it
// is absolute.
ui::NextStep unwritable_step(const std::string& file);

}  // namespace dz::xio
