#include "platform/datafile/locks.h"

#include "platform/datafile/lock_file.h"
#include "platform/datafile/users.h"
#include "platform/datafile/xio.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::xio {

// One open lock file per program, shared by the handles on its data file (a look that found none
// has one of its own, without a descriptor). Closing any descriptor of a file drops the
// program's record locks on it, so there is exactly one.
struct LockFile {
    int fd = -1;  // -1: a look found no lock file, and keeps its locks here alone
    dev_t dev = 0;  // the file it is open on
    ino_t ino = 0;
    bool writable = false;  // opened for writing: the kernel takes its write locks
    std::string writeWhy;   // opened for reading only: why not for writing
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

// The open lock files by device and inode: a lock file reached by two paths is one.
std::map<std::pair<dev_t, ino_t>, std::weak_ptr<LockFile>> g_files;
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

// The presence byte: no kind or key hashes to it (those bytes are below 2^62).
constexpr off_t kPresenceByte = static_cast<off_t>(1ull << 62);
// The tries (2 ms apart) an open waits for the presence byte before it asks who holds it off: a
// replacer holds the lock file whole for a few system calls before its new file stands.
constexpr int kPresenceGrace = 100;

struct flock byte_lock(short type, off_t at) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    return fl;
}

}  // namespace

std::filesystem::path lock_file_path(const std::filesystem::path& dataFile) {
    std::error_code ec;
    std::filesystem::path folder = dataFile.parent_path();
    if (folder.empty()) folder = ".";
    std::filesystem::path canon = std::filesystem::weakly_canonical(folder, ec);
    if (ec || canon.empty()) canon = std::filesystem::absolute(folder, ec).lexically_normal();
    return canon / ("." + dataFile.filename().string() + ".locks");
}


LockTable::LockTable(std::filesystem::path dataFile, int64_t owner)
    : path_(lock_file_path(dataFile)), dataFile_(std::move(dataFile)), owner_(owner) {}

LockTable::~LockTable() {
    releaseAll();
    if (present_ && file_ && --file_->present == 0 && file_->fd >= 0) {
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
    const std::string name = path_.string();
    // One descriptor per lock file and program: a second one, closed, would drop every lock the
    // program holds on it. So the file already open is found by its inode before any open.
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0)
        if (auto it = g_files.find({st.st_dev, st.st_ino}); it != g_files.end() && (file_ = it->second.lock()))
            return writable_enough();
    LockFileSpec spec;
    spec.folder = path_.parent_path().string();
    spec.name = path_.filename().string();
    spec.kind = LockKind::DataFile;
    spec.guarded = dataFile_.string();
    spec.make = create && use_ == LockUse::Write;
    spec.mustWrite = use_ == LockUse::Write;
    const LockFileOpened opened = open_lock_file(spec);
    if (opened.fd < 0 && (use_ == LockUse::Look || (use_ == LockUse::Foretell && opened.error == ENOENT))) {
        // Nobody writes the data file (a writer makes the lock file first), or this user may
        // not open it (narrower than the data file, until a writer fits it), or it is no lock
        // file at all (which refuses every writer): the look keeps its locks to itself, and
        // writes nothing, which is all a look needs.
        file_ = std::make_shared<LockFile>();
        return true;
    }
    if (opened.fd < 0) {
        error_ = "the lock file " + name + " " + opened.why;
        next_ = opened.next;
        return false;
    }
    auto& slot = g_files[{opened.dev, opened.ino}];
    if ((file_ = slot.lock())) {
        // Renamed into place meanwhile to a lock file already open here: the descriptor is
        // kept open for good rather than closed (which would drop this program's locks).
        static std::vector<int> kept;
        kept.push_back(opened.fd);
        return writable_enough();
    }
    file_ = std::make_shared<LockFile>();
    file_->fd = opened.fd;
    file_->dev = opened.dev;
    file_->ino = opened.ino;
    file_->writable = opened.writable;
    file_->writeWhy = opened.writeWhy;
    slot = file_;
    return true;
}

// A table that may write needs a lock file the kernel locks for writing: one a look of this
// program opened for reading only will not do.
bool LockTable::writable_enough() {
    if (use_ != LockUse::Write || file_->writable) return true;
    error_ = "the lock file " + path_.string() + " " + file_->writeWhy;
    file_.reset();
    return false;
}

bool LockTable::still_named() const {
    struct stat named {};
    return ::lstat(path_.c_str(), &named) == 0 && named.st_dev == file_->dev && named.st_ino == file_->ino;
}

bool LockTable::kernelWrites() const { return file_ && file_->fd >= 0 && file_->writable; }

bool LockTable::readersOnly(struct flock fl) const {
    if (use_ == LockUse::Write) return false;
    fl.l_type = F_RDLCK;
    return ::fcntl(file_->fd, F_GETLK, &fl) == 0 && fl.l_type == F_UNLCK;
}

bool LockTable::onNamed(struct flock fl) {
    lock_step(LockStep::Locked, path_.string());
    if (still_named()) return true;
    fl.l_type = F_UNLCK;
    ::fcntl(file_->fd, F_SETLK, &fl);
    return false;
}

void LockTable::leaveFile() {
    if (auto it = g_files.find({file_->dev, file_->ino}); it != g_files.end() && it->second.lock() == file_) g_files.erase(it);
    if (present_ && --file_->present == 0) {
        struct flock fl = byte_lock(F_UNLCK, kPresenceByte);
        ::fcntl(file_->fd, F_SETLK, &fl);
    }
    present_ = false;
    file_.reset();
}

bool LockTable::retake(std::chrono::steady_clock::time_point& deadline) {
    // Made afresh by another program, which held every byte of it until after the rename, so
    // this program holds nothing there but its presence: it goes to the file the name names.
    // The bound counts from the first remake met, which is always let through: an open that
    // waited long for its lock file has not yet seen it made afresh at all.
    const bool first = deadline == std::chrono::steady_clock::time_point{};
    if (first) deadline = std::chrono::steady_clock::now() + lock_wait();
    const bool wasPresent = present_;
    leaveFile();
    if (!first && std::chrono::steady_clock::now() >= deadline) {
        error_ = "the lock file " + path_.string() + " was made afresh again and again while this program took it";
        return false;
    }
    return wasPresent ? show(deadline) == XIO_OK : attach(true);
}

bool LockTable::refitting(const struct flock& held) const {
    if (held.l_type != F_WRLCK || held.l_start != 0 || held.l_len != 0 || held.l_pid <= 0) return false;
    // A replacer makes its new file aside as "<lock file>.new<its process>" while it holds the old
    // file whole, and renames it over the name before it lets go.
    struct stat st {};
    return ::lstat((path_.string() + ".new" + std::to_string(held.l_pid)).c_str(), &st) == 0;
}

LockHeld LockTable::heldBy(const struct flock& held) const {
    LockHeld h;
    const std::string lockFile = path_.string();
    h.reading = held.l_type == F_RDLCK;
    // -1 for an open file description's lock (F_OFD_SETLK), which belongs to no process; 0 when
    // the holder lives in another pid namespace (a container) or on another machine.
    h.description = held.l_pid < 0;
    h.who = answered_holder(held.l_pid, file_->dev, file_->ino);
    if (h.description) {
        h.next = {ui::Step::FindLockHolder, {lockFile}};
        return h;
    }
    if (held.l_pid == 0) {
        h.next = {ui::Step::AgainWhenFinished, {}};
        return h;
    }
    h.next = {ui::Step::AgainWhenFinished, {h.who}};
    // One that may not write the data file (a descriptor opened while the lock file was wider)
    // runs nothing of this program's, which never lets go: an administrator ends it.
    struct stat data {};
    if (::stat(dataFile_.c_str(), &data) != 0) return h;
    for (const LockHolder& seen : lock_holders(file_->dev, file_->ino))
        if (seen.pid == held.l_pid && seen.uidKnown && seen.uid != 0 &&
            write_right(seen.uid, seen.groups, data) == WriteRight::No &&
            write_right(seen.uid, dataFile_.string(), data) == WriteRight::No)  // nor by an access list entry
            h.next = {ui::Step::EndLockHolder, {lockFile, h.who}};
    return h;
}

int LockTable::open(LockUse use) {
    use_ = use;
    std::chrono::steady_clock::time_point remade{};  // set at the first remake
    return show(remade);
}

int LockTable::show(std::chrono::steady_clock::time_point& deadline) {
    const auto waitUntil = deadline == std::chrono::steady_clock::time_point{} ? std::chrono::steady_clock::now() + lock_wait() : deadline;
    for (;;) {
        if (!attach(true)) return XIO_LOCKED;
        if (present_) return XIO_OK;
        if (file_->present == 0 && file_->fd >= 0) {
            struct flock fl = byte_lock(F_RDLCK, kPresenceByte);
            // Held off while another program makes the lock file afresh (a few system calls,
            // under its lock of every byte), waited for; by any other write lock of the byte
            // (a program holding the whole file, an outsider's lock of the byte), said at once
            // with its holder, after a moment's grace for a replacer not yet seen making its
            // new file.
            bool moved = false;
            for (int tries = 0; ::fcntl(file_->fd, F_SETLK, &fl) != 0; ++tries) {
                const int err = errno;
                if ((err == EAGAIN || err == EACCES) && !still_named()) {
                    moved = true;
                    break;
                }
                if (err != EAGAIN && err != EACCES) {
                    // Unseen, this program could let another believe it had the file alone.
                    error_ = "the lock file " + path_.string() + " cannot be locked: " + std::strerror(err);
                    return XIO_LOCKED;
                }
                if (tries >= kPresenceGrace) {
                    // Only a write lock keeps a read lock off: its holder writes the lock file.
                    struct flock held = fl;
                    if (::fcntl(file_->fd, F_GETLK, &held) != 0) held.l_pid = 0;  // not to be seen
                    else if (held.l_type == F_UNLCK) continue;  // let go meanwhile
                    if (!refitting(held) || std::chrono::steady_clock::now() >= waitUntil) {
                        const LockHeld by = heldBy(held);
                        error_ = "the lock file " + path_.string() + " is held for writing by " + by.who +
                                 ": its lock keeps every other program from opening the data file";
                        next_ = by.next;
                        return XIO_LOCKED;
                    }
                }
                ::usleep(2000);
            }
            // Made afresh between the open and the presence lock (see lock_file.h): the lock file
            // that now bears the name is the one every program meets.
            if (moved || !onNamed(fl)) {
                if (!retake(deadline)) return XIO_LOCKED;
                continue;
            }
        }
        ++file_->present;
        present_ = true;
        return XIO_OK;
    }
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
    std::chrono::steady_clock::time_point deadline{};  // set at the first move
    for (;;) {
        if (!attach(true)) return XIO_LOCKED;
        auto id = std::make_pair(kind, key);
        if (auto it = file_->held.find(id); it != file_->held.end()) return it->second == owner_ ? XIO_OK : XIO_LOCKED;
        struct flock fl = byte_lock(F_WRLCK, offset_of(kind, key));
        if (kernelWrites()) {
            if (::fcntl(file_->fd, F_SETLK, &fl) != 0) {
                if (errno != EAGAIN && errno != EACCES) {
                    error_ = "the lock file " + path_.string() + " cannot be locked: " + std::strerror(errno);
                    return XIO_LOCKED;
                }
                if (!readersOnly(fl)) return XIO_LOCKED;  // held by another: not ours
            } else if (!onNamed(fl)) {
                if (!retake(deadline)) return XIO_LOCKED;
                continue;
            }
        }
        file_->held.emplace(id, owner_);
        if (kind == 'W' && key.empty() && present_ && kernelWrites()) {
            // Looked at only now that the writer lock is ours (see LockFile::alone). Any lock of
            // another program counts, not the presence byte alone: one that shows no presence (an
            // older one) but holds a record lock has the file open too.
            struct flock probe = byte_lock(F_WRLCK, 0);
            probe.l_len = kPresenceByte + 1;
            file_->alone = ::fcntl(file_->fd, F_GETLK, &probe) == 0 && probe.l_type == F_UNLCK;
        }
        return XIO_OK;
    }
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
    std::chrono::steady_clock::time_point deadline{};  // set at the first move
    for (;;) {
        if (!attach(true)) return XIO_LOCKED;
        const auto id = std::make_pair(rec, row);
        if (auto it = file_->records.find(id); it != file_->records.end()) return it->second.owner == owner_ ? XIO_OK : XIO_LOCKED;
        bool kernel = !file_->alone && kernelWrites();
        if (kernel) {
            struct flock fl = byte_lock(F_WRLCK, record_offset(rec, row));
            if (::fcntl(file_->fd, F_SETLK, &fl) != 0) {
                if (errno != EAGAIN && errno != EACCES) {
                    error_ = "the lock file " + path_.string() + " cannot be locked: " + std::strerror(errno);
                    return XIO_LOCKED;
                }
                if (!readersOnly(fl)) return XIO_LOCKED;
                kernel = false;
            } else if (!onNamed(fl)) {
                if (!retake(deadline)) return XIO_LOCKED;
                continue;
            }
        }
        file_->records.emplace(id, LockFile::RecordLock{owner_, kernel});
        return XIO_OK;
    }
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
    if (file_->alone || file_->fd < 0) return false;  // no other program has the file open
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

bool LockTable::heldByOther(char kind, const std::string& key, bool otherProcessOnly, bool writersOnly) {
    if (!attach(false)) return false;  // no lock file: nobody ever locked anything
    if (std::pair<uint16_t, int64_t> r; record_of(kind, key, r)) {
        if (auto it = file_->records.find(r); it != file_->records.end()) return !otherProcessOnly && it->second.owner != owner_;
        return recordHeldByOther(r.first, r.second);
    }
    if (auto it = file_->held.find(std::make_pair(kind, key)); it != file_->held.end())
        return !otherProcessOnly && it->second != owner_;
    if (file_->fd < 0) return false;
    struct flock fl = byte_lock(writersOnly ? F_RDLCK : F_WRLCK, offset_of(kind, key));
    if (::fcntl(file_->fd, F_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

LockHeld LockTable::holder(char kind, const std::string& key, bool writersOnly) {
    LockHeld held;
    if (!attach(false)) return held;
    if (auto it = file_->held.find(std::make_pair(kind, key)); it != file_->held.end()) {
        if (it->second != owner_) {
            held.who = "another handle of this program";
            held.next = {ui::Step::AgainWhenFinished, {}};
        }
        return held;
    }
    if (file_->fd < 0) return held;
    struct flock fl = byte_lock(writersOnly ? F_RDLCK : F_WRLCK, offset_of(kind, key));
    if (::fcntl(file_->fd, F_GETLK, &fl) != 0 || fl.l_type == F_UNLCK) return held;
    return heldBy(fl);
}

}  // namespace dz::xio
