#include "platform/datafile/own_journal.h"

#include "platform/datafile/sqlite_files.h"
#include "platform/datafile/users.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
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

uint32_t be32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
bool power_of_two(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

// A page size as a database header gives it: 1 stands for 65536.
uint32_t page_size_of(const unsigned char* header) {
    const uint32_t n = (uint32_t{header[16]} << 8) | header[17];
    return n == 1 ? 65536 : n;
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

    bool read(Bytes& out, std::size_t n) {
        out.assign(n, 0);
        return open_ && file_->pMethods->xRead(file_.get(), out.data(), static_cast<int>(n), 0) == SQLITE_OK;
    }
    // Whether a program holds the file's reserved lock: it is writing the file now.
    bool reserved() {
        int held = 0;
        return open_ && file_->pMethods->xCheckReservedLock(file_.get(), &held) == SQLITE_OK && held != 0;
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

// What the journal saves, as SQLite would play it: the records of each of its parts in order,
// up to the first whose page number is 0 or whose checksum fails (where SQLite stops).
struct Saved {
    Bytes firstPage;       // the file's first page as the write found it, when saved
    uint32_t highest = 0;  // the highest page number saved
};
Saved saved_pages(int fd, const struct stat& st, const Bytes& head) {
    Saved saved;
    const uint32_t pageSize = be32(&head[24]);
    const uint32_t sector = be32(&head[20]);
    const off_t size = st.st_size;
    const off_t record = static_cast<off_t>(pageSize) + 8;
    Bytes part = head, rec;
    for (off_t at = 0;;) {
        // Each part's header takes a whole sector.
        if (at + static_cast<off_t>(sector) > size) return saved;
        if (at > 0 && (!read_at(fd, part, kJournalHeader, at) || std::memcmp(part.data(), kJournalMagic, 8) != 0))
            return saved;
        const uint32_t cksumInit = be32(&part[12]);
        const off_t first = at + sector;
        uint32_t count = be32(&part[8]);
        // A journal written without syncs counts its records by its length.
        if (count == 0xffffffffu) count = static_cast<uint32_t>(std::max<off_t>(0, size - first) / record);
        for (uint32_t i = 0; i < count; ++i) {
            if (!read_at(fd, rec, static_cast<std::size_t>(record), first + i * record)) return saved;
            const uint32_t pgno = be32(rec.data());
            if (pgno == 0) return saved;
            uint32_t sum = cksumInit;
            for (int64_t b = static_cast<int64_t>(pageSize) - 200; b > 0; b -= 200) sum += rec[4 + static_cast<std::size_t>(b)];
            if (sum != be32(&rec[4 + pageSize])) return saved;
            saved.highest = std::max(saved.highest, pgno);
            if (pgno == 1 && saved.firstPage.empty()) saved.firstPage.assign(rec.begin() + 4, rec.begin() + 4 + pageSize);
        }
        // The next part starts at the next sector after this one's records.
        const off_t end = first + static_cast<off_t>(count) * record;
        at = (end + sector - 1) / sector * sector;
    }
}

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

JournalJudgement not_own(JournalJudgement j, std::string what) {
    j.kind = JournalKind::NotOwn;
    j.what = std::move(what);
    return j;
}

}  // namespace

std::string JournalJudgement::reason() const {
    return journal + " is " + what + ", not the journal of " + dataFile +
           ": it is never played into the file nor removed, and the file is neither read nor written until " +
           user_name(owner) + ", who owns it, or an administrator removes it";
}

ui::NextStep JournalJudgement::next() const { return {ui::Step::RemoveJournal, {journal, user_name(owner)}}; }

JournalJudgement judge_journal(const std::string& dataFile, JournalUse use) {
    JournalJudgement j;
    j.dataFile = dataFile;
    j.journal = dataFile + "-journal";
    struct stat named {};
    if (::lstat(j.journal.c_str(), &named) != 0) {
        if (errno == ENOENT) return j;
        return not_own(j, std::string("something that cannot be looked at (") + std::strerror(errno) + ")");
    }
    j.owner = named.st_uid;
    if (!S_ISREG(named.st_mode)) return not_own(j, kind_of(named.st_mode));
    if (named.st_nlink != 1) return not_own(j, "a file of " + std::to_string(named.st_nlink) + " names (hard links)");
    // Only one who may write the file could have made its journal: another user's file beside it
    // is no write of the file's.
    struct stat file {};
    if (::stat(dataFile.c_str(), &file) != 0) return not_own(j, "beside no data file");
    if (named.st_uid != 0 && named.st_uid != file.st_uid && write_right(named.st_uid, file) != WriteRight::Yes)
        return not_own(j, "a file of " + user_name(named.st_uid) + ", who may not write the data file");
    j.kind = JournalKind::Idle;
    if (use == JournalUse::Create) return j;  // SQLite writes its own journal over it

    // Opened without waiting on anything: the name may have been made a pipe since.
    const int fd = ::open(j.journal.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == EACCES) {
            j.kind = JournalKind::Unread;
            return j;
        }
        return not_own(j, std::string("something that cannot be opened (") + std::strerror(errno) + ")");
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_dev != named.st_dev || st.st_ino != named.st_ino || !S_ISREG(st.st_mode))
        return not_own(j, "a file that was replaced while it was looked at");
    Bytes head;
    // SQLite plays only a journal whose first byte is not zero: one empty, or whose header is not
    // written yet, is never played.
    if (st.st_size == 0 || !read_at(fd, head, 1, 0) || head[0] == 0) return j;

    DataFileReader data(dataFile);
    if (use == JournalUse::Look && data.reserved()) {
        j.kind = JournalKind::Live;
        return j;
    }
    Bytes fileHead;
    if (!read_at(fd, head, kJournalHeader, 0) || std::memcmp(head.data(), kJournalMagic, 8) != 0)
        return not_own(j, "not a journal (it does not start as one)");
    if (!data.read(fileHead, kDatabaseHeader) || std::memcmp(fileHead.data(), kDatabaseMagic, 16) != 0)
        return not_own(j, "a journal beside a file that is no data file");
    const uint32_t pageSize = be32(&head[24]);
    const uint32_t sector = be32(&head[20]);
    if (pageSize != page_size_of(fileHead.data()) || !power_of_two(sector) || sector < 32 || sector > 65536)
        return not_own(j, "the journal of another file (its pages are of " + std::to_string(pageSize) +
                              " bytes, the data file's of " + std::to_string(page_size_of(fileHead.data())) + ")");
    Bytes now;
    if (!data.read(now, pageSize)) return not_own(j, "a journal beside a file that is no data file");
    const Saved saved = saved_pages(fd, st, head);
    if (saved.firstPage.empty()) {
        // The write never reached the file's first page (every commit saves it; a large write
        // spills pages into the file before): the page stands as the write found it, counting the
        // pages the journal says the file had. A spill wrote into the file after the journal was
        // made; a journal made (or copied) since the file's last write is not the one it spilled from.
        struct timespec born {};
        const uint32_t pages = be32(&head[kOriginalPages]);
        const bool sizeKept = be32(&now[kCountValidFor]) == be32(&now[kChangeCounter]) && be32(&now[kPageCount]) == pages;
        if (sizeKept && saved.highest != 0 && saved.highest <= pages && birth_of(fd, born) &&
            not_later(born, file.st_mtim)) {
            j.kind = JournalKind::Own;
            return j;
        }
        return not_own(j, "a journal that does not hold the data file's first page and was not made before the "
                          "file's last write, so it cannot be told to be the file's own");
    }
    if (std::memcmp(saved.firstPage.data(), kDatabaseMagic, 16) != 0 || page_size_of(saved.firstPage.data()) != pageSize)
        return not_own(j, "the journal of another file (the first page it holds is no data file's)");
    const uint32_t savedIdentity = be32(&saved.firstPage[kIdentity]);
    if (savedIdentity != 0 && savedIdentity != be32(&now[kIdentity]))
        return not_own(j, "the journal of another data file");
    // The write had not reached the first page: the file stands as the journal found it. Or it
    // had: the page was written by that commit, which raised its change counter by one, after the
    // journal's last write (one written, or copied without its times, after the file is not).
    const bool untouched = saved.firstPage == now;
    const bool committing = be32(&now[kChangeCounter]) == be32(&saved.firstPage[kChangeCounter]) + 1 &&
                            not_later(st.st_mtim, file.st_mtim);
    if (untouched || committing) {
        j.kind = JournalKind::Own;
        return j;
    }
    return not_own(j, savedIdentity != 0 ? "an old journal of this data file (or of a copy of it): the file was "
                                           "written after it"
                                         : "a journal of another file, or an old one of this file");
}

bool journal_goes_with_its_file(const std::string& dataFile) {
    const JournalKind kind = judge_journal(dataFile).kind;
    return kind == JournalKind::Own || kind == JournalKind::Idle;
}

}  // namespace dz::xio
