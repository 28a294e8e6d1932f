#include "platform/datafile/sticky_folder.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::xio {

StickyBar sticky_bar(const std::string& path) { return sticky_bar(path, ::geteuid()); }

StickyBar sticky_bar(const std::string& path, uid_t me) {
    StickyBar bar;
    struct stat file {};
    // A name that does not stand is made, not replaced: the sticky bit does not keep it.
    if (me == 0 || ::lstat(path.c_str(), &file) != 0) return bar;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    bar.folder = parent.empty() ? "." : parent.string();
    struct stat folder {};
    if (::stat(bar.folder.c_str(), &folder) != 0) return bar;
    bar.fileOwner = file.st_uid;
    bar.folderMode = folder.st_mode & 07777;
    bar.barred = (folder.st_mode & S_ISVTX) != 0 && me != folder.st_uid && me != file.st_uid;
    return bar;
}

std::string mode_digits(mode_t mode) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04o", static_cast<unsigned>(mode & 07777));
    return digits;
}

}  // namespace dz::xio
