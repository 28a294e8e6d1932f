#include "platform/datafile/locks.h"

#include "platform/datafile/xio.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::xio {

// One open lock file per program, shared by the handles on its data file. Closing any
// descriptor of a file drops the program's record locks on it, so there is exactly one.
struct LockFile {
    int fd = -1;
    std::map<std::pair<char, std::string>, int64_t> held;  // lock -> owning handle serial
    ~LockFile() {
        if (fd >= 0) ::close(fd);
    }
};

namespace {

std::map<std::string, std::weak_ptr<LockFile>> g_files;
pid_t g_filesPid = 0;

uint64_t fnv1a(const std::string& text, uint64_t h = 1469598103934665603ull) {
    for (char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

off_t offset_of(char kind, const std::string& key) {
    return static_cast<off_t>(fnv1a(key, fnv1a(std::string(1, kind))) & ((1ull << 62) - 1));
}

// Whether a folder can hold lock files safely: a real folder (not a link to one), owned by
// root or by us, and sticky when others may write in it (so nobody replaces our lock files).
bool safe_folder(const std::filesystem::path& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) return false;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX)) return false;
    return true;
}

// Makes the folder when it is missing (`mode` past the umask), then checks it.
bool usable_folder(const std::filesystem::path& folder, mode_t mode) {
    if (::mkdir(folder.c_str(), mode) == 0) ::chmod(folder.c_str(), mode);
    return safe_folder(folder);
}

std::filesystem::path temp_base() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    // A TMPDIR this user cannot write in would leave no lock to take, and so no data file to
    // open (each reported as in use by another user): the machine's own temp folder serves.
    if (ec || base.empty() || ::access(base.c_str(), W_OK | X_OK) != 0) base = "/tmp";
    return base;
}

struct flock byte_lock(short type, off_t at) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    return fl;
}

}  // namespace

std::filesystem::path lock_folder() {
    // The shared folder is made open to every user (sticky, like the temp folder itself) so
    // that programs of several users meet there. One that someone else planted (a link, a
    // folder of another user, open to all without the sticky bit) is not used: the folder of
    // this user alone is, and failing that, none (every lock then fails, and so every open).
    std::filesystem::path shared;
    if (const char* env = std::getenv("DODEDOZ_LOCK_DIR"); env && *env) shared = env;
    else shared = temp_base() / "dodedoz-locks";
    if (usable_folder(shared, 01777)) return shared;
    std::filesystem::path own = temp_base() / ("dodedoz-locks-" + std::to_string(::geteuid()));
    if (usable_folder(own, 0700)) return own;
    return {};
}

std::filesystem::path lock_file_path(const std::filesystem::path& dataFile) {
    std::error_code ec;
    std::filesystem::path canon = std::filesystem::weakly_canonical(dataFile, ec);
    if (ec || canon.empty()) canon = std::filesystem::absolute(dataFile, ec);
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(canon.string())));
    const std::filesystem::path folder = lock_folder();
    const std::string name = canon.filename().string() + "-" + hash + ".locks";
    // No usable folder: a name that cannot be opened, so that every lock fails closed.
    return folder.empty() ? temp_base() / "dodedoz-locks" / name : folder / name;
}

LockTable::LockTable(std::filesystem::path dataFile, int64_t owner) : path_(lock_file_path(dataFile)), owner_(owner) {}

LockTable::~LockTable() { releaseAll(); }

bool LockTable::attach(bool create) {
    if (file_) return true;
    // A child process inherits the table but none of the kernel's locks: start afresh.
    if (g_filesPid != ::getpid()) {
        g_files.clear();
        g_filesPid = ::getpid();
    }
    const std::string key = path_.string();
    if (auto it = g_files.find(key); it != g_files.end()) file_ = it->second.lock();
    if (file_) return true;
    if (create && !safe_folder(path_.parent_path())) {
        error_ = "the folder of the lock file " + key + " is not safe to use";
        return false;
    }
    int fd = ::open(key.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0666);
    if (fd < 0) {
        error_ = "the lock file " + key + " cannot be opened: " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (create && ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0666) != 0666)
        ::fchmod(fd, 0666);  // another user's program must be able to lock it too
    file_ = std::make_shared<LockFile>();
    file_->fd = fd;
    g_files[key] = file_;
    return true;
}

int LockTable::open() { return attach(true) ? XIO_OK : XIO_LOCKED; }

int LockTable::acquire(char kind, const std::string& key) {
    error_.clear();
    if (!attach(true)) return XIO_LOCKED;
    auto id = std::make_pair(kind, key);
    if (auto it = file_->held.find(id); it != file_->held.end()) return it->second == owner_ ? XIO_OK : XIO_LOCKED;
    struct flock fl = byte_lock(F_WRLCK, offset_of(kind, key));
    if (::fcntl(file_->fd, F_SETLK, &fl) != 0) {
        if (errno != EAGAIN && errno != EACCES) error_ = "the lock file " + path_.string() + " cannot be locked: " + std::strerror(errno);
        return XIO_LOCKED;  // held by another, or not to be had: either way not ours
    }
    file_->held.emplace(id, owner_);
    return XIO_OK;
}

void LockTable::release(char kind, const std::string& key) {
    if (!file_) return;
    auto it = file_->held.find(std::make_pair(kind, key));
    if (it == file_->held.end() || it->second != owner_) return;
    struct flock fl = byte_lock(F_UNLCK, offset_of(kind, key));
    ::fcntl(file_->fd, F_SETLK, &fl);
    file_->held.erase(it);
}

void LockTable::releaseAll() {
    if (!file_) return;
    for (auto it = file_->held.begin(); it != file_->held.end();) {
        if (it->second == owner_) {
            struct flock fl = byte_lock(F_UNLCK, offset_of(it->first.first, it->first.second));
            ::fcntl(file_->fd, F_SETLK, &fl);
            it = file_->held.erase(it);
        } else {
            ++it;
        }
    }
}

bool LockTable::heldByOther(char kind, const std::string& key, bool otherProcessOnly) {
    if (!attach(false)) return false;  // no lock file: nobody ever locked anything
    if (auto it = file_->held.find(std::make_pair(kind, key)); it != file_->held.end())
        return !otherProcessOnly && it->second != owner_;
    struct flock fl = byte_lock(F_WRLCK, offset_of(kind, key));
    if (::fcntl(file_->fd, F_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

}  // namespace dz::xio
