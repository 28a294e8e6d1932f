#include "platform/datafile/locks.h"

#include "platform/datafile/xio.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
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
    // Record locks: (type, row) -> owner, and whether the kernel holds the byte (see `alone`).
    struct RecordLock {
        int64_t owner;
        bool backed;
    };
    std::map<std::pair<uint16_t, int64_t>, RecordLock> records;
    // Handles of this program that have the data file open; while there are any, the program
    // holds a read lock on the presence byte, so that another program can tell it is there.
    int present = 0;
    // Set while this program holds the writer lock ('W') and found, after taking it, nobody
    // else present: no other program has the file open then, and none can open it (an open
    // shows itself on the presence byte before it looks for the writer lock, and is refused
    // when it finds it). Record locks are then kept in `records` alone, and given to the
    // kernel before the writer lock goes.
    bool alone = false;
    ~LockFile() {
        if (fd >= 0) ::close(fd);
    }
};

namespace {

std::map<std::string, std::weak_ptr<LockFile>> g_files;
pid_t g_filesPid = 0;

uint64_t fnv1a(std::string_view text, uint64_t h = 1469598103934665603ull) {
    for (char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

// The byte of the lock file that a lock of `kind` on `key` takes.
off_t lock_byte(char kind, std::string_view key) {
    return static_cast<off_t>(fnv1a(key, fnv1a(std::string_view(&kind, 1))) & ((1ull << 62) - 1));
}

off_t offset_of(char kind, const std::string& key) { return lock_byte(kind, key); }

// offset_of('R', "<rec>:<row>"), hashed from the digits as they are made.
off_t record_offset(uint16_t rec, int64_t row) {
    char text[48];
    char* end = std::to_chars(text, text + 8, rec).ptr;
    *end++ = ':';
    end = std::to_chars(end, text + sizeof text, row).ptr;
    return lock_byte('R', std::string_view(text, static_cast<std::size_t>(end - text)));
}

// Whether the kind and key name a record lock, and which: kept in LockFile::records.
bool record_of(char kind, const std::string& key, std::pair<uint16_t, int64_t>& id) {
    if (kind != 'R') return false;
    const char* const b = key.data();
    const char* const e = b + key.size();
    auto [colon, ec] = std::from_chars(b, e, id.first);
    if (ec != std::errc() || colon == e || *colon != ':') return false;
    auto [last, ec2] = std::from_chars(colon + 1, e, id.second);
    // Only the text record_offset makes (no sign, no leading zeros) names the same lock.
    return ec2 == std::errc() && last == e && record_offset(id.first, id.second) == offset_of(kind, key);
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

// The machine's own temp folder. Not $TMPDIR: programs started with different ones (two users,
// or a desktop and a command line started from different shells) would each take their locks
// in a folder of their own, and two conversions could write one company at once.
const std::filesystem::path kMachineTemp = "/tmp";

// The shared lock folder, and the folder that holds this user's own one when the shared one
// cannot be used: beside $DODEDOZ_LOCK_DIR when that is set, else in the machine's temp folder.
struct LockFolders {
    std::filesystem::path shared;
    std::filesystem::path own;
};

LockFolders lock_folders() {
    LockFolders f;
    std::filesystem::path base = kMachineTemp;
    if (const char* env = std::getenv("DODEDOZ_LOCK_DIR"); env && *env) {
        std::error_code ec;
        f.shared = std::filesystem::absolute(env, ec).lexically_normal();
        if (ec) f.shared = env;
        if (!f.shared.has_filename()) f.shared = f.shared.parent_path();  // a trailing '/'
        base = f.shared.parent_path();
    } else {
        f.shared = base / "dodedoz-locks";
    }
    f.own = base / ("dodedoz-locks-" + std::to_string(::geteuid()));
    return f;
}

// The presence byte: no kind or key hashes to it (those bytes are below 2^62).
constexpr off_t kPresenceByte = static_cast<off_t>(1ull << 62);

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
    const LockFolders f = lock_folders();
    if (usable_folder(f.shared, 01777)) return f.shared;
    if (usable_folder(f.own, 0700)) return f.own;
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
    // No usable folder: the name in the shared folder that was found unsafe, which the open
    // checks again and refuses, so that every lock fails closed.
    return folder.empty() ? lock_folders().shared / name : folder / name;
}

LockTable::LockTable(std::filesystem::path dataFile, int64_t owner) : path_(lock_file_path(dataFile)), owner_(owner) {}

LockTable::~LockTable() {
    releaseAll();
    if (present_ && file_ && --file_->present == 0) {
        struct flock fl = byte_lock(F_UNLCK, kPresenceByte);
        ::fcntl(file_->fd, F_SETLK, &fl);
    }
}

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
    // A lock file that exists is opened without O_CREAT: where the system guards sticky folders
    // (fs.protected_regular), an O_CREAT open of another user's file there is refused even
    // though the file is open to everyone, and the data file would be "in use" for good.
    int fd = ::open(key.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT && create) fd = ::open(key.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_CREAT, 0666);
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

int LockTable::open() {
    if (!attach(true)) return XIO_LOCKED;
    if (!present_) {
        struct flock fl = byte_lock(F_RDLCK, kPresenceByte);
        if (file_->present == 0 && ::fcntl(file_->fd, F_SETLK, &fl) != 0) {
            // Unseen, this program could let another believe it had the file alone.
            error_ = "the lock file " + path_.string() + " cannot be locked: " + std::strerror(errno);
            return XIO_LOCKED;
        }
        ++file_->present;
        present_ = true;
    }
    return XIO_OK;
}

void LockTable::leaveAlone() {
    if (!file_ || !file_->alone) return;
    for (auto& [id, lock] : file_->records) {
        if (lock.backed) continue;
        // Nobody else could open the file meanwhile, so the byte is free.
        struct flock fl = byte_lock(F_WRLCK, record_offset(id.first, id.second));
        lock.backed = ::fcntl(file_->fd, F_SETLK, &fl) == 0;
    }
    file_->alone = false;
}

int LockTable::acquire(char kind, const std::string& key) {
    if (std::pair<uint16_t, int64_t> r; record_of(kind, key, r)) return acquireRecord(r.first, r.second);
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
    if (kind == 'W' && key.empty() && present_) {
        // Looked at only now that the writer lock is ours (see LockFile::alone). Any lock of
        // another program counts, not the presence byte alone: one that shows no presence (an
        // older one) but holds a record lock has the file open too.
        struct flock probe = byte_lock(F_WRLCK, 0);
        probe.l_len = kPresenceByte + 1;
        file_->alone = ::fcntl(file_->fd, F_GETLK, &probe) == 0 && probe.l_type == F_UNLCK;
    }
    return XIO_OK;
}

void LockTable::release(char kind, const std::string& key) {
    if (std::pair<uint16_t, int64_t> r; record_of(kind, key, r)) return releaseRecord(r.first, r.second);
    if (!file_) return;
    auto it = file_->held.find(std::make_pair(kind, key));
    if (it == file_->held.end() || it->second != owner_) return;
    if (kind == 'W' && key.empty()) leaveAlone();
    struct flock fl = byte_lock(F_UNLCK, offset_of(kind, key));
    ::fcntl(file_->fd, F_SETLK, &fl);
    file_->held.erase(it);
}

int LockTable::acquireRecord(uint16_t rec, int64_t row) {
    if (!error_.empty()) error_.clear();
    if (!attach(true)) return XIO_LOCKED;
    const auto id = std::make_pair(rec, row);
    if (auto it = file_->records.find(id); it != file_->records.end()) return it->second.owner == owner_ ? XIO_OK : XIO_LOCKED;
    if (!file_->alone) {
        struct flock fl = byte_lock(F_WRLCK, record_offset(rec, row));
        if (::fcntl(file_->fd, F_SETLK, &fl) != 0) {
            if (errno != EAGAIN && errno != EACCES) error_ = "the lock file " + path_.string() + " cannot be locked: " + std::strerror(errno);
            return XIO_LOCKED;
        }
    }
    file_->records.emplace(id, LockFile::RecordLock{owner_, !file_->alone});
    return XIO_OK;
}

void LockTable::releaseRecord(uint16_t rec, int64_t row) {
    if (!file_) return;
    auto it = file_->records.find(std::make_pair(rec, row));
    if (it == file_->records.end() || it->second.owner != owner_) return;
    if (it->second.backed) {
        struct flock fl = byte_lock(F_UNLCK, record_offset(rec, row));
        ::fcntl(file_->fd, F_SETLK, &fl);
    }
    file_->records.erase(it);
}

bool LockTable::recordHeldByOther(uint16_t rec, int64_t row) {
    if (!attach(false)) return false;
    if (auto it = file_->records.find(std::make_pair(rec, row)); it != file_->records.end()) return it->second.owner != owner_;
    if (file_->alone) return false;  // no other program has the file open
    struct flock fl = byte_lock(F_WRLCK, record_offset(rec, row));
    if (::fcntl(file_->fd, F_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

void LockTable::releaseAll() {
    if (!file_) return;
    for (auto it = file_->records.begin(); it != file_->records.end();) {
        if (it->second.owner == owner_) {
            if (it->second.backed) {
                struct flock fl = byte_lock(F_UNLCK, record_offset(it->first.first, it->first.second));
                ::fcntl(file_->fd, F_SETLK, &fl);
            }
            it = file_->records.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = file_->held.begin(); it != file_->held.end();) {
        if (it->second == owner_) {
            if (it->first.first == 'W' && it->first.second.empty()) leaveAlone();
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
    if (std::pair<uint16_t, int64_t> r; record_of(kind, key, r)) {
        if (auto it = file_->records.find(r); it != file_->records.end()) return !otherProcessOnly && it->second.owner != owner_;
        return recordHeldByOther(r.first, r.second);
    }
    if (auto it = file_->held.find(std::make_pair(kind, key)); it != file_->held.end())
        return !otherProcessOnly && it->second != owner_;
    struct flock fl = byte_lock(F_WRLCK, offset_of(kind, key));
    if (::fcntl(file_->fd, F_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

}  // namespace dz::xio
