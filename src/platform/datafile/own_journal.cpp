#include "platform/datafile/own_journal.h"

#include "platform/datafile/journal_rights.h"
#include "platform/datafile/lock_file.h"
#include "platform/datafile/sqlite_files.h"
#include "platform/datafile/users.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace dz::xio {
namespace {

using Bytes = std::vector<unsigned char>;

// SQLite's rollback journal and database file formats (sqlite.org/fileformat.html).
constexpr unsigned char kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
constexpr char kDatabaseMagic[16] = "SQLite format 3";  // with its terminating zero: 16 bytes
constexpr std::size_t kJournalHeader = 28;
constexpr std::size_t kDatabaseHeader = 100;
// In a database header: the change counter, the page count, the user version (this program
// keeps the file's identity there: see xio_private::begin_immediate) and the change counter the
// page count was written at.
constexpr std::size_t kChangeCounter = 24;
constexpr std::size_t kPageCount = 28;
constexpr std::size_t kIdentity = 60;
constexpr std::size_t kCountValidFor = 92;
// In a journal header: the number of pages the file had when the write began.
constexpr std::size_t kOriginalPages = 16;
// SQLite's reserved byte: its writers' lock, one past the pending byte (2^30).
constexpr off_t kReservedByte = 0x40000001;

uint32_t be32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
// Pages and sectors are powers of two from 512 to 65536 bytes.
bool page_size_fits(uint32_t n) { return n >= 512 && n <= 65536 && (n & (n - 1)) == 0; }

// A page size as a database header gives it: 1 stands for 65536.
uint32_t page_size_of(const unsigned char* header) {
    const uint32_t n = (uint32_t{header[16]} << 8) | header[17];
    return n == 1 ? 65536 : n;
}

// The pages a database header counts, where SQLite reads that count: written at the change counter
// the header holds, and not 0. 0 when it gives none: SQLite then reads the file's length.
uint32_t counted_pages(const unsigned char* header) {
    const uint32_t n = be32(header + kPageCount);
    return be32(header + kCountValidFor) == be32(header + kChangeCounter) ? n : 0;
}

bool read_at(int fd, Bytes& out, std::size_t n, off_t at) {
    out.assign(n, 0);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, out.data() + done, n - done, at + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// The data file as SQLite's own file layer reads it: a descriptor of the file closed here would
// drop every POSIX lock this program holds on it (SQLite's own among them); SQLite's layer keeps
// such a descriptor open until those locks go.
class DataFileReader {
public:
    explicit DataFileReader(const std::string& dataFile) {
        xio_private::configure_sqlite_once();
        vfs_ = sqlite3_vfs_find("unix");
        if (!vfs_) return;
        name_ = sqlite3_create_filename(dataFile.c_str(), "", "", 0, nullptr);
        file_.reset(static_cast<sqlite3_file*>(::operator new(static_cast<std::size_t>(vfs_->szOsFile))));
        std::memset(static_cast<void*>(file_.get()), 0, static_cast<std::size_t>(vfs_->szOsFile));
        int out = 0;
        open_ = name_ && vfs_->xOpen(vfs_, name_, file_.get(), SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_READONLY, &out) == SQLITE_OK;
    }
    ~DataFileReader() {
        if (file_ && file_->pMethods) file_->pMethods->xClose(file_.get());
        sqlite3_free_filename(name_);
    }
    DataFileReader(const DataFileReader&) = delete;
    DataFileReader& operator=(const DataFileReader&) = delete;

    bool read(Bytes& out, std::size_t n, sqlite3_int64 at = 0) {
        out.assign(n, 0);
        return open_ && file_->pMethods->xRead(file_.get(), out.data(), static_cast<int>(n), at) == SQLITE_OK;
    }
    // Who holds the file's reserved lock (SQLite's writers' byte). SQLite counts any lock there as
    // a writer's; only a write lock is one (or a connection of this program's own, which F_GETLK
    // does not show): a program writing the file now. A read lock there, which no writer can
    // hold beside, is a reader's (`reader` its pid as F_GETLK answers it).
    enum class Reserved { None, Writer, Reader };
    Reserved reserved(pid_t& reader) {
        int held = 0;
        if (!open_ || file_->pMethods->xCheckReservedLock(file_.get(), &held) != SQLITE_OK || held == 0)
            return Reserved::None;
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = kReservedByte;
        fl.l_len = 1;
        const int fd = xio_private::unix_descriptor(file_.get());
        struct stat opened {}, named {};
        if (fd < 0 || ::fstat(fd, &opened) != 0 || ::stat(name_, &named) != 0 || opened.st_ino != named.st_ino ||
            opened.st_dev != named.st_dev || ::fcntl(fd, F_GETLK, &fl) != 0 || fl.l_type != F_RDLCK)
            return Reserved::Writer;
        reader = fl.l_pid;
        return Reserved::Reader;
    }
    bool writing() {
        pid_t reader = 0;
        return reserved(reader) == Reserved::Writer;
    }

private:
    struct Free {
        void operator()(sqlite3_file* f) const { ::operator delete(f); }
    };
    sqlite3_vfs* vfs_ = nullptr;
    sqlite3_filename name_ = nullptr;
    std::unique_ptr<sqlite3_file, Free> file_;
    bool open_ = false;
};

bool not_later(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec <= b.tv_nsec);
}

// When the journal was made, where the file system keeps it.
bool birth_of(int fd, struct timespec& born) {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) != 0 || (sx.stx_mask & STATX_BTIME) == 0) return false;
    born.tv_sec = sx.stx_btime.tv_sec;
    born.tv_nsec = sx.stx_btime.tv_nsec;
    return true;
}

std::string kind_of(mode_t mode) {
    if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISSOCK(mode)) return "a socket";
    return "a device";
}

// What the judge has read so far, step by step.
struct Judging {
    JournalJudgement& j;
    JournalUse use;
    struct stat named {};  // what stands at the journal's name
    struct stat file {};   // the data file
    struct stat st {};     // the journal as opened
    int fd = -1;
    std::unique_ptr<DataFileReader> data;
    Bytes head;      // the journal's first header
    Bytes fileHead;  // the data file's header
    Bytes now;       // the data file's first page
    uint32_t pageSize = 0;  // the journal's: the file's pages as the write found them
    uint32_t sector = 0;
    uint32_t pages = 0;  // the pages the file had when the write began
    uint64_t filePages = 0;  // the pages the file's length holds now
    bool ownerWrites = false;  // the journal's owner may write the data file
    Bytes firstPage;       // the file's first page as the write found it, when saved
    uint32_t highest = 0;  // the highest page number saved
    std::string detail;    // what a refusal adds to its step's words
    // SQLite reads it as hot and plays no record of it (why, in words), or "" where it plays it.
    std::string playsNothing;
    std::string superJournal;  // the super journal it names, where that stands and lists it
    bool replaced = false;  // the name named another file once it was opened: judged again
    // Where a step refuses what a genuine write may still need, the refusal that keeps it, in place
    // of the step's own.
    std::optional<JournalRefusal> refusal;

    Judging(JournalJudgement& judged, JournalUse u) : j(judged), use(u) {}
    ~Judging() {
        if (fd >= 0) ::close(fd);
    }
    Judging(const Judging&) = delete;
    Judging& operator=(const Judging&) = delete;
    DataFileReader& reader() {
        if (!data) data = std::make_unique<DataFileReader>(j.dataFile);
        return *data;
    }
};

enum class Outcome {
    Next,     // this step passes: on to the next
    Refused,  // never played nor removed: the step's refusal, in its words and the detail
    Judged,   // judged here (j.kind says how): the steps after it are not asked
};

Outcome judged(Judging& g, JournalKind kind) {
    g.j.kind = kind;
    return Outcome::Judged;
}
Outcome refused(Judging& g, std::string detail = {}) {
    g.detail = std::move(detail);
    return Outcome::Refused;
}

// Whether `uid` may write the data file: root, its owner, or one its bits and access list let.
bool may_write_file(uid_t uid, const Judging& g) {
    return uid == 0 || uid == g.file.st_uid || write_right(uid, g.j.dataFile, g.file) == WriteRight::Yes;
}

// What was made beside the file by one who may write it (`ownerWrites`), whose mode and access
// list let write it none whom the file's rights keep out: what it holds may be believed to be a
// writer's of the file, whoever wrote it.
bool believed(const JournalRights& rights, bool ownerWrites) { return ownerWrites && writer_kept_out(rights).empty(); }

// A write-ahead log that holds frames (its header, then at least part of one): writes a program
// committed in that mode stand in it until they are written into the file. Its header starts
// with one of two magic numbers.
bool log_holds_frames(int fd, const struct stat& st) {
    constexpr off_t kLogHeader = 32;
    Bytes magic;
    return st.st_size > kLogHeader && read_at(fd, magic, 4, 0) && (be32(magic.data()) | 1u) == 0x377f0683u;
}

// A write-ahead log at `log` that may hold another program's committed writes of the file, told
// by its frames and believed by its rights (one not believed holds nothing that may be).
bool log_of_writes(Judging& g, const std::string& log, const struct stat& named) {
    if (!S_ISREG(named.st_mode) || ::stat(g.j.dataFile.c_str(), &g.file) != 0) return false;
    const int fd = ::open(log.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    const bool kept = ::fstat(fd, &st) == 0 && st.st_dev == named.st_dev && st.st_ino == named.st_ino &&
                      log_holds_frames(fd, st) && believed({log, fd, st, g.j.dataFile, g.file}, may_write_file(st.st_uid, g));
    ::close(fd);
    return kept;
}

// 1. A write-ahead log (or its index) beside the file: SQLite would read the file through it,
// and a writer would write it into the file. This program never makes one that outlives a
// connection, so one standing before a connection opens the file is no write of this program's;
// a log that holds frames may hold another program's committed writes, which removing it would
// lose: it is kept (log_of_writes). Its index alone holds nothing of anyone's.
Outcome no_log(Judging& g) {
    if (g.use != JournalUse::Look) return Outcome::Next;
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string name = g.j.dataFile + suffix;
        struct stat st {};
        if (::lstat(name.c_str(), &st) != 0 && errno == ENOENT) continue;
        g.j.journal = name;
        g.j.owner = st.st_uid;
        if (std::strcmp(suffix, "-wal") == 0 && log_of_writes(g, name, st)) g.refusal = JournalRefusal::WriteAheadLog;
        return refused(g);
    }
    return Outcome::Next;
}

// 2. Something at the journal's name, looked at without following it.
Outcome stands(Judging& g) {
    if (::lstat(g.j.journal.c_str(), &g.named) == 0) {
        g.j.owner = g.named.st_uid;
        return Outcome::Next;
    }
    if (errno == ENOENT) return judged(g, JournalKind::None);
    return refused(g, std::string(" (") + std::strerror(errno) + ")");
}

// 3. A regular file: nothing else is a journal SQLite made. One of more names (a hard link made
// to it since, by one who may read and write it) is judged as any other: a write stopped in its
// commit is taken back, never refused for a name that was added to it.
Outcome one_file(Judging& g) {
    if (!S_ISREG(g.named.st_mode)) return refused(g, kind_of(g.named.st_mode));
    return Outcome::Next;
}

// 4. Beside its data file; whether the journal's owner may write that file (root, its owner, or
// one the file's bits and access list let write it) is kept for step 15.
Outcome beside_file(Judging& g) {
    if (::stat(g.j.dataFile.c_str(), &g.file) != 0) return refused(g);
    g.j.fileOwner = g.file.st_uid;
    g.ownerWrites = may_write_file(g.named.st_uid, g);
    return Outcome::Next;
}

// 5. Opened without waiting on anything (the name may have been made a pipe since), and still
// the file looked at. One this user may not read is a writer's to tell.
Outcome opened(Judging& g) {
    g.fd = ::open(g.j.journal.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (g.fd < 0) {
        if (errno == EACCES && g.ownerWrites) return judged(g, JournalKind::Unread);
        // Unread, a journal of one who may no longer write the file may be their stopped write as
        // much as one read: said as that, with the step that keeps it, never one that removes it.
        if (errno == EACCES) {
            g.refusal = JournalRefusal::FormerWriter;
            return refused(g, "a file of " + user_name(g.named.st_uid) + ", who may not write the data file");
        }
        return refused(g, std::string("something that cannot be opened (") + std::strerror(errno) + ")");
    }
    if (::fstat(g.fd, &g.st) != 0 || g.st.st_dev != g.named.st_dev || g.st.st_ino != g.named.st_ino ||
        !S_ISREG(g.st.st_mode)) {
        g.replaced = true;
        return refused(g, "a file that was replaced while it was looked at");
    }
    g.j.device = g.st.st_dev;
    g.j.inode = g.st.st_ino;
    g.j.names = g.st.st_nlink;
    return Outcome::Next;
}

// 6. SQLite plays only a journal whose first byte is not zero: one empty, or whose header is not
// written yet, is left to the writers, whoever made it and whatever its names: a writer removes it
// (emptying its other names first) and makes its own afresh, so nothing it writes stays under
// them. A look that finds the file's reserved lock held meets a writer that has just made its
// journal: that writer's own.
Outcome hot(Judging& g) {
    Bytes first;
    if (g.st.st_size != 0 && read_at(g.fd, first, 1, 0) && first[0] != 0) return Outcome::Next;
    const bool live = g.use == JournalUse::Look && g.reader().writing();
    return judged(g, live ? JournalKind::Live : JournalKind::Idle);
}

// 7. Hot where SQLite is about to write its own journal: only one who may write the file could
// have made it since SQLite looked. A look meets a program writing the file (a write lock on its
// reserved byte): that program's own journal. A reader's lock there is no writer's: judged on.
Outcome live(Judging& g) {
    if (g.use == JournalUse::Create) return g.ownerWrites ? judged(g, JournalKind::Idle) : refused(g);
    if (g.use == JournalUse::Look && g.reader().writing()) return judged(g, JournalKind::Live);
    return Outcome::Next;
}

// 8. A journal's header, beside a data file's.
Outcome header(Judging& g) {
    if (!read_at(g.fd, g.head, kJournalHeader, 0) || std::memcmp(g.head.data(), kJournalMagic, 8) != 0)
        return refused(g, "not a journal (it does not start as one)");
    if (!g.reader().read(g.fileHead, kDatabaseHeader) || std::memcmp(g.fileHead.data(), kDatabaseMagic, 16) != 0 ||
        !page_size_fits(page_size_of(g.fileHead.data())))
        return refused(g, "a journal beside a file that is no data file");
    return Outcome::Next;
}

// 9. Its pages of a size a data file has. Not necessarily the file's own now: a write that
// changed the file's page size (a VACUUM, or a restore, of another program) saved the pages as
// the write found them, of their old size, and SQLite plays them at that size, the file cut or
// grown to the pages it had. Whether it is the file's own is told by what it saved, as of any.
Outcome page_size(Judging& g) {
    g.pageSize = be32(&g.head[24]);
    if (page_size_fits(g.pageSize)) return Outcome::Next;
    return refused(g, "a journal of pages of " + std::to_string(g.pageSize) + " bytes, which no data file has");
}

// 10. Its sectors, and the file's pages counted in the journal's size (the pages it says the
// file had are bounded by what it holds: `records`). The file's first page, as far as the file
// holds one of that size.
Outcome sizes(Judging& g) {
    g.sector = be32(&g.head[20]);
    if (!page_size_fits(g.sector)) return refused(g, "its header gives sectors of " + std::to_string(g.sector) + " bytes");
    g.pages = be32(&g.head[kOriginalPages]);
    g.filePages = (static_cast<uint64_t>(g.file.st_size) + g.pageSize - 1) / g.pageSize;
    const std::size_t first = static_cast<std::size_t>(std::min<uint64_t>(g.pageSize, static_cast<uint64_t>(g.file.st_size)));
    if (!g.reader().read(g.now, first)) return refused(g, "the data file's first page cannot be read");
    return Outcome::Next;
}

// The super journal a journal names, read as SQLite reads it: at its end, the name's length, the
// sum of its bytes and the magic, the name just before them. A length out of bounds or a sum that
// fails names none (SQLite then plays the journal as any other); the name ends at its first zero.
std::string super_journal_named(Judging& g) {
    constexpr off_t kTail = 16;  // the name's length, its byte sum, the magic
    const off_t size = g.st.st_size;
    Bytes tail, name;
    if (size < kTail || !read_at(g.fd, tail, kTail, size - kTail) || std::memcmp(&tail[8], kJournalMagic, 8) != 0)
        return {};
    const uint32_t length = be32(tail.data());
    const sqlite3_vfs* vfs = sqlite3_vfs_find("unix");
    const uint32_t longest = vfs ? static_cast<uint32_t>(vfs->mxPathname) : 512;
    if (length == 0 || length > longest || length > size - kTail || !read_at(g.fd, name, length, size - kTail - length))
        return {};
    // Summed as SQLite sums it: its bytes as this machine's chars.
    uint32_t sum = be32(&tail[4]);
    for (const unsigned char c : name) sum -= static_cast<uint32_t>(static_cast<char>(c));
    if (sum != 0) return {};
    return std::string(name.begin(), std::find(name.begin(), name.end(), 0));
}

// Whether the super journal at `name` lists the journal judged: it is a regular file of SQLite's
// making, a list of the journals of one write (each name followed by a zero), and one of them is
// this very file. "" when it does; otherwise what it is.
std::string lists_journal(const Judging& g, const std::string& name) {
    constexpr off_t kLongest = 1 << 16;  // a name for each file a connection may write at once
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) return "no regular file of one name";
    const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat opened {};
    Bytes list;
    const bool read = fd >= 0 && ::fstat(fd, &opened) == 0 && opened.st_ino == st.st_ino && opened.st_dev == st.st_dev &&
                      opened.st_size <= kLongest && read_at(fd, list, static_cast<std::size_t>(opened.st_size), 0);
    const int err = errno;
    if (fd >= 0) ::close(fd);
    if (!read) return fd < 0 && err == EACCES ? "" : "no list of journals";
    for (auto at = list.begin(); at != list.end();) {
        const auto end = std::find(at, list.end(), 0);
        const std::string listed(at, end);
        struct stat it {};
        if (!listed.empty() && ::stat(listed.c_str(), &it) == 0 && it.st_dev == g.st.st_dev && it.st_ino == g.st.st_ino)
            return "";
        at = end == list.end() ? end : end + 1;
    }
    return "a list of journals that does not name it";
}

// 11. The super journal it names, if any, as SQLite reads it. One that no longer stands (SQLite
// counts an empty file as none) was removed once every file of that write was written: the write
// was committed, and SQLite plays nothing of the journal, only removes it. One that stands is a
// write of several files that stopped in its commit, when it lists this journal (one this user
// may not read cannot be told otherwise); anything else named there (SQLite would read it as a
// list of journals and remove it) is no super journal of this file's.
Outcome super_journal(Judging& g) {
    const std::string named = super_journal_named(g);
    if (named.empty()) return Outcome::Next;
    struct stat st {};
    if (::stat(named.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_size == 0)) {
        g.playsNothing = "a write of several data files that was committed: the super journal it names, " + named +
                         ", no longer stands";
        return Outcome::Next;
    }
    if (const std::string what = lists_journal(g, named); !what.empty())
        return refused(g, named + ": " + what);
    g.superJournal = named;
    return Outcome::Next;
}

// Whether `rec`, a record of a part whose checksums start at `cksumInit`, checks out as one SQLite
// plays: its page is one of those the file had, never the locking page, and its checksum is right.
// The page's number; 0 when it does not.
uint32_t good_record(const Judging& g, const Bytes& rec, uint32_t cksumInit) {
    const uint32_t lockingPage = 0x40000000u / g.pageSize + 1;
    const uint32_t pgno = be32(rec.data());
    if (pgno == 0 || pgno == lockingPage || pgno > g.pages) return 0;
    uint32_t sum = cksumInit;
    for (int64_t b = static_cast<int64_t>(g.pageSize) - 200; b > 0; b -= 200) sum += rec[4 + static_cast<std::size_t>(b)];
    return sum == be32(&rec[4 + g.pageSize]) ? pgno : 0;
}

// Past a part's count SQLite plays nothing. A writer's own records stand there only while not yet
// synced (a part's count is written when it is), and a page is written into the file only once
// its record is synced: each such record saves its page as the file holds it. A whole record past
// the count that checks out and saves its page otherwise was counted once: played, the journal
// would leave that page as the stopped write left it.
Outcome past_count(Judging& g, off_t at, uint32_t cksumInit, uint64_t counted) {
    const off_t record = static_cast<off_t>(g.pageSize) + 8;
    Bytes rec, page;
    for (uint64_t n = counted + 1; at + record <= g.st.st_size; at += record, ++n) {
        uint32_t pgno = 0;
        if (!read_at(g.fd, rec, static_cast<std::size_t>(record), at) || (pgno = good_record(g, rec, cksumInit)) == 0)
            return Outcome::Next;
        const bool same = g.reader().read(page, g.pageSize, static_cast<sqlite3_int64>(pgno - 1) * g.pageSize) &&
                          std::equal(page.begin(), page.end(), rec.begin() + 4);
        if (!same)
            return refused(g, "record " + std::to_string(n) + ", past the " + std::to_string(counted) +
                                  " its headers count, checks out and saves page " + std::to_string(pgno) +
                                  " as the file no longer holds it: the count is wrong");
    }
    return Outcome::Next;
}

// Where a later part would start. SQLite writes a part's header with its magic and count zero,
// in pieces of a page (or of the sector, when smaller) filling its sector, then the part's
// records; only once all of them are synced does it set the magic and the count, and sync
// again, before any page of the part is written into the file. So a part whose magic is not set
// (zeros, a header whose writing stopped, or records written past the last count) holds nothing
// the file was given: SQLite ends the journal there and plays the parts before, and so is it
// judged. A part whose magic stands was synced whole, header and records: one that stops inside
// its header was cut, and may have reached the file.
enum class PartStart { Part, End, Cut };
PartStart part_start(Judging& g, off_t at, Bytes& part) {
    const off_t size = g.st.st_size;
    if (at >= size) return PartStart::End;
    const std::size_t magic = static_cast<std::size_t>(std::min<off_t>(sizeof kJournalMagic, size - at));
    if (!read_at(g.fd, part, magic, at)) return PartStart::Cut;
    if (std::memcmp(part.data(), kJournalMagic, magic) != 0) return PartStart::End;
    if (at + static_cast<off_t>(g.sector) > size || !read_at(g.fd, part, kJournalHeader, at)) return PartStart::Cut;
    return PartStart::Part;
}

// Played, SQLite cuts or grows the file to the pages the journal says it had before it plays a
// record. Grown, each page past the file's end must be one the journal puts back: a write that
// made the file smaller saved every page it cut away first (a change of page size to a smaller
// one cuts the file before its commit ends). A page left out would stand as zeros.
Outcome grown(Judging& g, const std::unordered_map<uint32_t, uint64_t>& saved) {
    const uint32_t lockingPage = 0x40000000u / g.pageSize + 1;
    bool whole = g.pages <= g.filePages || g.pages - g.filePages <= saved.size() + 1;
    for (uint64_t page = g.filePages + 1; whole && page <= g.pages; ++page)
        whole = page == lockingPage || saved.count(static_cast<uint32_t>(page)) != 0;
    if (whole) return Outcome::Next;
    return refused(g, "it says the data file had " + std::to_string(g.pages) + " pages, more than the " +
                          std::to_string(g.filePages) + " it has, and does not hold those past its end: played, it "
                          "would grow the file");
}

// 12. Every record SQLite would play checks out: each part's records in order, as many as its
// header counts (all that stand, for a journal written without syncs), each of a page within
// those the file had, the locking page never, no page twice (a journal saves a page once, at its
// first change: the first copy is the one to put back), and its checksum right. A later part
// starts at the next sector after its records, with a header of its own; SQLite stops where no
// part's magic is set, and a part whose magic is set and that is cut is damage (part_start). No
// record past a part's count says the count was lowered (past_count).
Outcome records(Judging& g) {
    if (!g.playsNothing.empty()) return Outcome::Next;
    const off_t size = g.st.st_size;
    const off_t record = static_cast<off_t>(g.pageSize) + 8;
    const uint32_t lockingPage = 0x40000000u / g.pageSize + 1;
    Bytes part = g.head, rec;
    uint64_t played = 0;
    std::unordered_map<uint32_t, uint64_t> saved;  // each page saved, by the record that saved it
    // A writer that does not sync its journal (PRAGMA synchronous=OFF) writes the first part's
    // magic and an open count at once, then the rest of its header (in pieces where its sectors
    // are larger than its pages), then its records, each in pieces; a page reaches the file only
    // after its record. Stopped before its header was whole, or before its first record was, it
    // holds no record and nothing of the write reached the file: SQLite plays nothing of it,
    // only cuts or grows the file to the pages the header says it had (as many as it has).
    const off_t sector = static_cast<off_t>(g.sector);
    if (be32(&g.head[8]) == 0xffffffffu &&
        (size < sector || (size < sector + record && part_start(g, sector, part) == PartStart::End))) {
        if (g.pages > g.filePages) return grown(g, saved);
        if (g.pages < g.filePages)
            return refused(g, "its first header, never finished, says the data file had " + std::to_string(g.pages) +
                                  " pages, fewer than the " + std::to_string(g.filePages) +
                                  " it has: played, it would cut the file");
        g.playsNothing = "its first header or record was never finished, so it holds no record, and nothing of "
                         "its write reached the file";
        return Outcome::Next;
    }
    for (off_t at = 0, partNo = 1;; ++partNo) {
        const PartStart start = at > 0 ? part_start(g, at, part) : PartStart::Part;
        if (start == PartStart::End) return grown(g, saved);
        if (start == PartStart::Cut)
            return refused(g, "it ends inside the header of its part " + std::to_string(partNo) + ": the journal was cut");
        const uint32_t cksumInit = be32(&part[12]);
        const off_t first = at + static_cast<off_t>(g.sector);
        uint64_t count = be32(&part[8]);
        if (count == 0xffffffffu) count = static_cast<uint64_t>(std::max<off_t>(0, size - first) / record);
        if (first + static_cast<off_t>(count) * record > size)
            return refused(g, "its records stop short of the " + std::to_string(played + count) + " its headers count");
        for (uint64_t i = 0; i < count; ++i) {
            ++played;
            const std::string which = "record " + std::to_string(played);
            if (!read_at(g.fd, rec, static_cast<std::size_t>(record), first + static_cast<off_t>(i) * record))
                return refused(g, which + " cannot be read");
            const uint32_t pgno = be32(rec.data());
            if (pgno == lockingPage)
                return refused(g, which + " is of page " + std::to_string(pgno) +
                                      ", the locking page, which no data file holds and no journal saves");
            if (pgno == 0 || pgno > g.pages)
                return refused(g, which + " is of page " + std::to_string(pgno) + ", not one of the " +
                                      std::to_string(g.pages) + " the file had");
            if (good_record(g, rec, cksumInit) != pgno) return refused(g, which + " fails its checksum");
            if (const auto [it, fresh] = saved.emplace(pgno, played); !fresh)
                return refused(g, which + " saves page " + std::to_string(pgno) + " a second time (record " +
                                      std::to_string(it->second) + " saved it first)");
            g.highest = std::max(g.highest, pgno);
            if (pgno == 1) g.firstPage.assign(rec.begin() + 4, rec.begin() + 4 + g.pageSize);
        }
        const off_t end = first + static_cast<off_t>(count) * record;
        if (const Outcome o = past_count(g, end, cksumInit, played); o != Outcome::Next) return o;
        at = (end + g.sector - 1) / g.sector * g.sector;
    }
}

// 13. The pages it says the file had are at least those its saved first page counts, where that
// page gives a count (counted_pages): SQLite cuts or grows the file to the journal's count before
// it plays a record, so a count lowered since would cut pages away. A higher one is SQLite's own
// reading of a file with bytes past its header's count (it reads the file's length). A first page
// of no data file is the content step's to tell.
Outcome original_size(Judging& g) {
    const Bytes& saved = g.firstPage;
    if (!g.playsNothing.empty()) return Outcome::Next;
    if (saved.empty() || std::memcmp(saved.data(), kDatabaseMagic, 16) != 0) return Outcome::Next;
    const uint32_t counted = counted_pages(saved.data());
    if (g.pages >= counted) return Outcome::Next;
    return refused(g, "its header says the data file had " + std::to_string(g.pages) +
                          " pages, the first page it saved says " + std::to_string(counted));
}

// What the content step cannot tell to be the file's own, yet may be a write of it that another
// program stopped in its commit (a restore of another file into it; a company copied by a tool
// that keeps no times), where its rights would have it believed (the `rights` and `writer`
// steps): never played, and its step keeps it. Removed, that file would stay half written.
Outcome unproven(Judging& g, std::string detail) {
    if (believed({g.j.journal, g.fd, g.st, g.j.dataFile, g.file}, g.ownerWrites)) g.refusal = JournalRefusal::Unproven;
    return refused(g, std::move(detail));
}

// 14. The file's own, by its content. Every commit saves the file's first page; a write of this
// program saves it first, with the file's identity in it.
Outcome its_content(Judging& g) {
    const Bytes& now = g.now;
    if (!g.playsNothing.empty()) return Outcome::Next;
    if (g.firstPage.empty()) {
        // The write never reached the file's first page (a large write spills pages into the
        // file before): the page stands as the write found it, counting the pages the journal
        // says the file had. A spill wrote into the file after the journal was made; a journal
        // made (or copied) since the file's last write is not the one it spilled from.
        struct timespec born {};
        // A write that changed the page size wrote the first page: one of such a write holds it.
        const uint32_t counted = counted_pages(now.data());
        const bool sizeKept = counted != 0 ? g.pages >= counted : g.pages == g.filePages;
        if (sizeKept && page_size_of(g.fileHead.data()) == g.pageSize && g.highest != 0 && birth_of(g.fd, born) && not_later(born, g.file.st_mtim)) return Outcome::Next;
        return unproven(g, "a journal that does not hold the data file's first page and was not made before the "
                           "file's last write, so it cannot be told to be the file's own");
    }
    if (std::memcmp(g.firstPage.data(), kDatabaseMagic, 16) != 0 || page_size_of(g.firstPage.data()) != g.pageSize)
        return refused(g, "the journal of another file (the first page it holds is no data file's)");
    const uint32_t savedIdentity = be32(&g.firstPage[kIdentity]);
    if (savedIdentity != 0 && savedIdentity != be32(&now[kIdentity])) return unproven(g, "the journal of another data file");
    // The write had not reached the first page: the file stands as the journal found it. Or it
    // had: the page was written by that commit, which raised its change counter by one, after the
    // journal's last write (one written, or copied without its times, after the file is not).
    const bool untouched = g.firstPage == now;
    const bool counted = be32(&now[kChangeCounter]) == be32(&g.firstPage[kChangeCounter]) + 1;
    if (untouched || (counted && not_later(g.st.st_mtim, g.file.st_mtim))) return Outcome::Next;
    // Its content is that of the file's last write: only its times tell against it, and they say
    // it was written after the file, never that it is old.
    if (counted)
        return unproven(g, "a journal last written after the data file (a copy, or one made since), so it cannot be "
                           "told to be the one the file's last write left");
    if (savedIdentity == 0) return refused(g, "a journal of another file, or an old one of this file");
    // Said as what it is of this file, never as no journal of it.
    g.j.ofItsFile = true;
    return refused(g, "an old journal of " + g.j.dataFile + " (or of a copy of it), not the journal of its last write "
                      "(the file was written after it)");
}

// 15. Written by none but those who may write the file: one its mode or access list leaves open to
// a user the file's rights keep out may hold what that user wrote. Whose it is is the next step's.
Outcome its_rights(Judging& g) {
    if (!g.ownerWrites) return Outcome::Next;
    const std::string who = writer_kept_out({g.j.journal, g.fd, g.st, g.j.dataFile, g.file});
    if (who.empty()) return Outcome::Next;
    return refused(g, who);
}

// 16. Made by one who may write the file now. A journal of one who may no longer write it cannot
// be told from one they made to write into it: never played, said as what it may be.
Outcome its_writer(Judging& g) { return g.ownerWrites ? Outcome::Next : refused(g); }

// 17. A write of this file alone: the file's own journal, played by the next connection that may
// write the file. One of a write of several files whose super journal stands is never played
// here: SQLite would play it and leave the super journal for the others' journals, but the file
// would be read meanwhile as if that write had never reached the others; nor is it removed.
Outcome one_files_write(Judging& g) {
    if (!g.superJournal.empty()) {
        g.j.superJournal = g.superJournal;
        return refused(g);
    }
    g.j.what = g.playsNothing;
    g.j.playsNothing = !g.playsNothing.empty();
    return judged(g, JournalKind::Own);
}

struct Check {
    const char* name;
    JournalRefusal refusal;  // what a refusal here is
    const char* words;       // what the journal is, in words, when it refuses here ("" the detail alone)
    Outcome (*run)(Judging&);
};

// In the README's order ("Journals").
constexpr Check kChecks[] = {
    {"log", JournalRefusal::NotItsOwn, "a write-ahead log or its index, which this program never makes nor reads", no_log},
    {"stands", JournalRefusal::NotItsOwn, "something that cannot be looked at", stands},
    {"one file", JournalRefusal::NotItsOwn, "", one_file},
    {"data file", JournalRefusal::NotItsOwn, "beside no data file", beside_file},
    {"opened", JournalRefusal::NotItsOwn, "", opened},
    {"hot", JournalRefusal::NotItsOwn, "", hot},
    {"live", JournalRefusal::FormerWriter, "", live},
    {"header", JournalRefusal::NotItsOwn, "", header},
    {"page size", JournalRefusal::NotItsOwn, "", page_size},
    {"sizes", JournalRefusal::Damaged, "a damaged journal", sizes},
    {"super journal", JournalRefusal::NotItsOwn, "a journal that names another file as its super journal", super_journal},
    {"records", JournalRefusal::Damaged, "a damaged journal", records},
    {"original size", JournalRefusal::Damaged, "a damaged journal", original_size},
    {"content", JournalRefusal::NotItsOwn, "", its_content},
    {"rights", JournalRefusal::WiderThanFile, "", its_rights},
    {"writer", JournalRefusal::FormerWriter, "", its_writer},
    {"one file's write", JournalRefusal::SeveralFiles, "", one_files_write},
};

}  // namespace

std::string JournalJudgement::reason() const {
    const std::string never = "it is never played into the file nor removed, and the file is neither read nor written until ";
    switch (refusal) {
    case JournalRefusal::Damaged:
        return journal + " is " + what + ", and played back it would leave " + dataFile + " half written: " + never +
               "the file is restored from a backup and the journal removed";
    case JournalRefusal::FormerWriter:
        return journal + " is a journal of " + user_name(owner) + ", who may no longer write " + dataFile +
               ": it may be a write of theirs that stopped before its commit, or a file they made, which its content "
               "cannot tell; " + never + "an administrator settles it";
    case JournalRefusal::WiderThanFile:
        return journal + " is a journal of " + user_name(owner) + " that " + what + " may write, whom the rights of " +
               dataFile + " keep from writing it: what it holds cannot be told to be the file's own write, so " + never +
               "an administrator who knows it to be the file's own narrows it to the file's rights";
    case JournalRefusal::Replaced:
        return journal + " was replaced each time it was looked at (a program writing " + dataFile +
               " at work, or files swapped at its name): nothing of it is played nor removed, and the file is neither "
               "read nor written now";
    case JournalRefusal::SeveralFiles:
        return journal + " is the journal of a write of several data files at once that stopped in its commit (its "
               "super journal " + superJournal + " still stands, listing it): played here alone, " + dataFile +
               " would be read as if that write had never reached the other files, so " + never +
               "an administrator takes that write back in all of its files together, or restores them from a backup";
    case JournalRefusal::WriteAheadLog:
        return journal + " is a write-ahead log of " + user_name(owner) + " that holds writes a program made to " + dataFile +
               " in that mode, perhaps committed and not yet written into the file, which this program never reads: "
               "it is never read nor removed here, and the file is neither read nor written until the log is written "
               "into the file or removed";
    case JournalRefusal::Unproven:
        return journal + " is " + what + "; yet " + user_name(owner) + ", who made it, may write " + dataFile +
               ", and none whom the file's rights keep out may write it, so it may be a write of the file by another "
               "program that stopped in its commit: " + never + "it is taken back into the file or removed";
    case JournalRefusal::NotItsOwn: break;
    }
    if (kind == JournalKind::Own && playsNothing)
        return dataFile + ": its journal " + journal + " holds nothing to take back (" + what +
               "), yet SQLite reads it as hot, as it would a write to take back: the file is not read until a writing command of the "
               "company removes it";
    if (kind == JournalKind::HeldOff)
        return dataFile + " was left in the middle of a write (its journal " + journal + " stands hot), and " + holder +
               " holds a read lock on the file's reserved byte, which SQLite takes for a writer's: until it lets go, "
               "that write cannot be taken back, and the file is neither read nor written";
    // Who may remove it is the step's to say, once.
    return journal + " is " + what + (ofItsFile ? "" : ", not the journal of " + dataFile) + ": " + never +
           "the journal is removed";
}

ui::NextStep JournalJudgement::next() const {
    if (kind == JournalKind::HeldOff) return {ui::Step::TakeBackWhenLetGo, {holder, dataFile}};
    switch (refusal) {
    case JournalRefusal::Damaged: return {ui::Step::RestoreFromBackupAndRemoveJournal, {dataFile, journal}};
    case JournalRefusal::FormerWriter:
        return {ui::Step::GiveJournalToFileOwner, {user_name(owner), journal, user_name(fileOwner), dataFile}};
    case JournalRefusal::Replaced: return {ui::Step::AgainWhenFinished, {}};
    case JournalRefusal::WiderThanFile: return {ui::Step::NarrowJournal, {journal, dataFile, narrowing_command(journal)}};
    case JournalRefusal::SeveralFiles: return {ui::Step::TakeBackTogether, {journal, superJournal}};
    case JournalRefusal::WriteAheadLog: return {ui::Step::WriteLogIntoFile, {journal, dataFile, user_name(owner)}};
    case JournalRefusal::Unproven: return {ui::Step::TakeBackOrRemoveJournal, {journal, dataFile, user_name(owner)}};
    case JournalRefusal::NotItsOwn: break;
    }
    return {ui::Step::RemoveJournal, {journal, user_name(owner)}};
}

namespace {

std::mutex g_judgedHookMutex;
std::function<void(const std::string&)> g_judgedHook;

// Whether the journal judged still stands at its name, as the file judged (its device and inode;
// the judge's descriptor keeps that inode from being given to another file meanwhile, so the name
// naming it means it is still linked there): a verdict holds for that journal alone.
enum class Standing { Same, Gone, Replaced };
Standing still_standing(const Judging& g) {
    if (g.named.st_ino == 0) return Standing::Same;  // nothing was looked at by its name
    struct stat now {};
    if (::lstat(g.j.journal.c_str(), &now) != 0) return errno == ENOENT ? Standing::Gone : Standing::Same;
    return now.st_dev == g.named.st_dev && now.st_ino == g.named.st_ino ? Standing::Same : Standing::Replaced;
}

// One judgement of what stands at the journal's name; `standing` whether it stands there still.
JournalJudgement judge_once(const std::string& dataFile, JournalUse use, Standing& standing) {
    JournalJudgement j;
    j.dataFile = dataFile;
    j.journal = dataFile + "-journal";
    Judging g(j, use);
    for (const Check& check : kChecks) {
        const Outcome o = check.run(g);
        if (o == Outcome::Next) continue;
        if (o == Outcome::Refused) {
            j.kind = JournalKind::NotOwn;
            j.refusal = g.refusal.value_or(check.refusal);
            j.what = *check.words == '\0' ? g.detail
                     : g.detail.empty()   ? std::string(check.words)
                     : g.detail.front() == ' ' ? check.words + g.detail
                                               : std::string(check.words) + " (" + g.detail + ")";
        }
        break;  // judged here, or refused
    }
    // The file's stopped write (or a writer's this user may not read), which SQLite, meeting a
    // reader's lock on the reserved byte, would take for a live write's and read past.
    if (pid_t reader = 0; use == JournalUse::Look && (j.kind == JournalKind::Own || j.kind == JournalKind::Unread) &&
                          g.reader().reserved(reader) == DataFileReader::Reserved::Reader) {
        j.kind = JournalKind::HeldOff;
        j.holder = answered_holder(reader, g.file.st_dev, g.file.st_ino);
    }
    if (j.kind != JournalKind::None) {
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard<std::mutex> lock(g_judgedHookMutex);
            hook = g_judgedHook;
        }
        if (hook) hook(j.journal);
    }
    // Looked at while the judge's descriptor still holds it. A writer that is committing holds
    // the file's reserved lock from before its journal is made until after it is removed, so a
    // journal the live step found no writer of and that still stands after it is no live write's.
    standing = j.kind == JournalKind::None ? Standing::Same : g.replaced ? Standing::Replaced : still_standing(g);
    // For SQLite's own open, the descriptor goes with the verdict, keeping the inode judged from
    // any other file until that open is done. A look's is closed at once: a descriptor kept open
    // past the journal's removal would leave it behind on a network folder until closed.
    if (g.fd >= 0 && j.inode != 0 && use != JournalUse::Look) {
        j.descriptor = std::shared_ptr<const int>(new int(g.fd), [](const int* fd) {
            ::close(*fd);
            delete fd;
        });
        g.fd = -1;
    }
    return j;
}

}  // namespace

JournalJudgement judge_journal(const std::string& dataFile, JournalUse use) {
    // A journal removed while it was judged (a writer's commit, a take-back) is no journal, and
    // nothing is said of it; one replaced meanwhile is judged again, a few times at most: a name
    // that keeps changing belongs to writers at work (or to someone swapping files there), and is
    // said as that, with no verdict on whatever stands there last.
    constexpr int kTries = 8;
    for (int tries = 1;; ++tries) {
        Standing standing = Standing::Same;
        JournalJudgement j = judge_once(dataFile, use, standing);
        if (standing == Standing::Same) return j;
        JournalJudgement none;
        none.dataFile = j.dataFile;
        none.journal = j.journal;
        if (standing == Standing::Gone) return none;
        if (tries == kTries) {
            none.kind = JournalKind::NotOwn;
            none.refusal = JournalRefusal::Replaced;
            none.owner = j.owner;
            none.fileOwner = j.fileOwner;
            return none;
        }
    }
}

void set_journal_judged_hook_for_tests(std::function<void(const std::string& journal)> hook) {
    std::lock_guard<std::mutex> lock(g_judgedHookMutex);
    g_judgedHook = std::move(hook);
}

bool journal_goes_with_its_file(const std::string& dataFile) {
    const JournalKind kind = judge_journal(dataFile).kind;
    return kind == JournalKind::Own || kind == JournalKind::Idle;
}

}  // namespace dz::xio
