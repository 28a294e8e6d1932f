#include "platform/datafile/write_bar.h"

#include "platform/datafile/users.h"

#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>

namespace dz::xio {
namespace {

namespace fs = std::filesystem;

// The attribute flags of `path` (FS_IOC_GETFLAGS), without following a link or waiting on a pipe;
// 0 where the file system keeps none or they cannot be read.
long attributes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return 0;
    long flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) flags = 0;
    ::close(fd);
    return flags;
}

// An attribute of `path` itself that keeps it from being written, said of it as `what`
// ("the folder", "the file").
WriteBar attribute_bar(const std::string& path, const std::string& what) {
    const long flags = attributes(path);
    if (flags & FS_IMMUTABLE_FL) return {what + " " + path + " is immutable (chattr +i)", "chattr -i " + path};
    if (flags & FS_APPEND_FL) return {what + " " + path + " is append-only (chattr +a)", "chattr -a " + path};
    return {};
}

// A mount point as /proc/self/mountinfo writes it, its blanks and backslashes as octal escapes.
std::string unescaped(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// The mount point of the file system that holds `path`: the last mounted, longest, of those it
// lies under ("" when it cannot be told).
std::string mount_point_of(const std::string& path) {
    std::error_code ec;
    const fs::path canon = fs::weakly_canonical(path, ec);
    if (ec) return "";
    std::ifstream in("/proc/self/mountinfo");
    std::string found;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        if (!(fields >> id >> parent >> device >> root >> point)) continue;
        const fs::path mount = unescaped(point);
        const auto rel = canon.lexically_relative(mount);
        const bool under = !rel.empty() && *rel.begin() != "..";
        if (under && mount.string().size() >= found.size()) found = mount.string();
    }
    return found;
}

WriteBar read_only_bar(const std::string& path) {
    struct statvfs vfs {};
    if (::statvfs(path.c_str(), &vfs) != 0 || (vfs.f_flag & ST_RDONLY) == 0) return {};
    const std::string point = mount_point_of(path);
    if (point.empty()) return {"the file system holding " + path + " is mounted read-only", "mount -o remount,rw"};
    return {"the file system holding " + path + " is mounted read-only (at " + point + ")", "mount -o remount,rw " + point};
}

}  // namespace

WriteBar write_bar(const std::string& path) {
    std::error_code ec;
    const bool folder = fs::is_directory(fs::symlink_status(path, ec));
    if (!fs::exists(fs::symlink_status(path, ec))) {
        const std::string parent = fs::path(path).parent_path().string();
        return parent.empty() ? WriteBar{} : write_bar(parent);
    }
    if (WriteBar bar = attribute_bar(path, folder ? "the folder" : "the file")) return bar;
    return read_only_bar(path);
}

WriteBar removal_bar(const std::string& path) {
    if (WriteBar bar = attribute_bar(path, "the file")) return bar;
    const std::string parent = fs::path(path).parent_path().string();
    return write_bar(parent.empty() ? "." : parent);
}

ui::NextStep unwritable_step(const std::string& file) {
    std::error_code ec;
    fs::path path = fs::absolute(file, ec);
    path = (ec ? fs::path(file) : path).lexically_normal();
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : std::string(".");
    for (const std::string& barred : {path.string(), folder})
        if (const WriteBar bar = write_bar(barred)) return {ui::Step::LiftWriteBar, {barred, bar.cause, bar.lift}};
    struct stat folderSt {}, fileSt {};
    const bool fileStands = ::stat(path.c_str(), &fileSt) == 0;
    const bool fileWritable = !fileStands || ::access(path.c_str(), W_OK) == 0;
    // A folder of this user's own is theirs to open; one whose owner also owns the file is asked
    // of that owner with the file, as WritableFile says it.
    if (::access(folder.c_str(), W_OK | X_OK) != 0 && ::stat(folder.c_str(), &folderSt) == 0 &&
        folderSt.st_uid != ::geteuid()) {
        if (fileWritable) return {ui::Step::WritableFolderOfOwner, {folder, user_name(folderSt.st_uid)}};
        if (fileSt.st_uid != folderSt.st_uid)
            return {ui::Step::WritableFolderOfOwner,
                    {folder, user_name(folderSt.st_uid), path.string(), user_name(fileSt.st_uid)}};
    }
    return {ui::Step::WritableFile, {path.string()}};
}

}  // namespace dz::xio
