// Whether this user may take a file's name away: rename another file over it (a put-back, a
// settings file replaced whole) or remove it. Write permission on the folder is not enough where
// the folder is sticky (mode 1xxx, as /tmp is): there only the file's owner, the folder's owner
// and root may, and the system refuses anyone else (EPERM) only when the rename is tried.
#pragma once

#include <string>
#include <sys/types.h>

namespace dz::xio {

// What keeps this program's user from replacing or removing a file.
struct StickyBar {
    bool barred = false;   // false: no such file, a folder that is not sticky, or this user is
                           // root, the folder's owner or the file's
    uid_t fileOwner = 0;   // of the file barred
    mode_t folderMode = 0; // the folder's permission bits, the sticky bit among them
    std::string folder;    // the folder the file stands in
};
StickyBar sticky_bar(const std::string& path);
// The same for the user `who`.
StickyBar sticky_bar(const std::string& path, uid_t who);

// "1775": permission bits as chmod takes them.
std::string mode_digits(mode_t mode);

}  // namespace dz::xio
