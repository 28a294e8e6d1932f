// Connections, their writer threads, handles and errors.
#include "platform/datafile/xio_internal.h"

#include "platform/datafile/journal_guard.h"
#include "platform/datafile/lock_file.h"
#include "platform/datafile/write_bar.h"

#include <optional>
#include <sys/random.h>
#include <sys/stat.h>

namespace dz {
namespace xio_private {

// ---- The writer of a connection ---------------------------------------------------------
//
// While a table is bulk loaded (see "Bulk loads"), an insert into it can fail only for a reason
// the caller cannot act on record by record (a full disk, an I/O error): the key hashes have
// answered the duplicate question already. Such inserts are handed to a thread of the connection
// that binds and steps them while the caller goes on with its next record: the caller copies the
// row's cells into a slot of a short queue and moves on. The connection has no mutex of its own,
// so nothing on the caller's thread may use it while its writer has rows: every such use waits
// until the queue is empty (Conn::db, Conn::stmt, writer_settle), and the statement wrappers
// (checked_step and its kin) refuse loudly any use that did not wait. A row that fails on the writer is kept, with
// SQLite's code and message, until the rollback: every later wait of the caller answers it, and
// no commit happens while it stands; the rows queued after it are not run.

// An index build (the commit of a bulk load, most of all) sorts its keys in runs as large as the
// page cache, each run past the first written to a temporary file. SQLite sorts and merges the
// runs on helper threads when allowed: here the processors but one (left to the thread running
// the build), at most two, which makes a million-row build about a third faster while the
// program's own thread only waits for the commit. Each helper holds a run of its own, so the
// build's 4 MB are shared among them: 4 MB keeps the peak of a million-row build some 30 MB
// lower than a connection's own cache would, and smaller runs on more threads sort no slower.
unsigned sorter_helpers() {
    static const unsigned helpers = [] {
        const unsigned cores = std::thread::hardware_concurrency();
        return cores > 1 ? std::min(cores - 1, 2u) : 0u;
    }();
    return helpers;
}
const std::string& sorter_threads() {
    static const std::string pragma = "PRAGMA threads=" + std::to_string(sorter_helpers());
    return pragma;
}
const std::string& index_build_cache() {
    static const std::string pragma = "PRAGMA cache_size=-" + std::to_string(4096 / (1 + sorter_helpers()));
    return pragma;
}

void Writer::run() {
    for (;;) {
        const uint64_t d = done_.load(std::memory_order_relaxed);
        await([&] { return queued_.load(std::memory_order_seq_cst) != d || stopping_.load(std::memory_order_seq_cst); },
              writerAsleep_, writerWake_, 200);
        // The caller may have run the rows itself while this thread slept (see wait).
        const uint64_t at = done_.load(std::memory_order_acquire);
        if (queued_.load(std::memory_order_acquire) == at) {
            if (stopping_.load(std::memory_order_acquire)) return;
            continue;
        }
        runRow(slots_[at & mask_]);
        done_.store(at + 1, std::memory_order_seq_cst);
        // The caller waits for room or for the last row: woken when there is room for a
        // run of rows, or none left.
        const uint64_t left = queued_.load(std::memory_order_seq_cst) - (at + 1);
        if ((left == 0 || left % kWakeRows == 0) && callerAsleep_.load(std::memory_order_seq_cst)) {
            std::lock_guard<std::mutex> lock(m_);
            callerWake_.notify_one();
        }
    }
}
void Writer::runRow(QueuedRow& r) {
    if (failed_.load(std::memory_order_relaxed) || dropping_.load(std::memory_order_acquire)) return;
    if (r.job) build(*r.job);
    else step(r);
}
// Makes a job's indexes as bulk_settle would, in as small a page cache; stops at a failure
// and leaves its message for the caller.
void Writer::build(IndexJob& job) {
    sqlite3_exec(db_, index_build_cache().c_str(), nullptr, nullptr, nullptr);
    for (IndexJob::Table& t : job.tables)
        for (; t.made < t.creates.size(); ++t.made)
            if (const int rc = sqlite3_exec(db_, t.creates[t.made].c_str(), nullptr, nullptr, nullptr); rc != SQLITE_OK) {
                job.rc = rc;
                job.message = sqlite3_errmsg(db_);
                return;
            }
    sqlite3_exec(db_, kPageCache, nullptr, nullptr, nullptr);
}
void Writer::fail(int code, std::string message) {
    failCode_ = code;
    failMessage_ = std::move(message);
    failed_.store(true, std::memory_order_release);
}
void Writer::step(QueuedRow& r) {
    if (r.planned != SQLITE_OK) return fail(r.planned, sqlite3_errstr(r.planned));
    QueuedTable& t = *r.table;
    sqlite3_stmt* const st = t.st;
    for (std::size_t n = 0; n < r.count; ++n) {
        const uint16_t i = r.at[n];
        Cell& c = t.cells[i];
        const int idx = static_cast<int>(i) + 1;
        switch (t.kinds[i]) {
            case CellKind::Text:
                c.s.swap(r.cells[n].s);  // the slot keeps the old storage for a later row
                sqlite3_bind_text(st, idx, c.s.data(), static_cast<int>(c.s.size()), SQLITE_STATIC);
                break;
            case CellKind::Real:
                c.d = r.cells[n].d;
                // As InsertPlan binds it: a whole number as the integer it is.
                if (c.d >= -kWholeMax && c.d <= kWholeMax && c.d == std::trunc(c.d))
                    sqlite3_bind_int64(st, idx, static_cast<int64_t>(c.d));
                else sqlite3_bind_double(st, idx, c.d);
                break;
            case CellKind::Integer:
                c.i = r.cells[n].i;
                sqlite3_bind_int64(st, idx, c.i);
                break;
        }
    }
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_DONE) {
        std::string message = sqlite3_errmsg(db_);
        sqlite3_reset(st);
        return fail(rc, std::move(message));
    }
    sqlite3_reset(st);
    if (const int64_t got = sqlite3_last_insert_rowid(db_); got != r.row)
        fail(SQLITE_INTERNAL, "a new row was numbered " + std::to_string(got) + " where " + std::to_string(r.row) +
                                  " was expected");
}

const bool kWriterThreads = sqlite3_threadsafe() != 0;

// The connections whose writer was handed rows since the caller last waited for it: a statement
// of one of them run on the caller's thread is a fault of this file (see the wrappers below).
std::vector<sqlite3*> g_unwaited;

[[noreturn]] void unwaited_use() {
    std::fputs("data files: a connection was used while its writer had rows (it was not waited for)\n", stderr);
    std::abort();
}

std::map<std::string, std::weak_ptr<Conn>> g_conns;

void note_row_changes(Conn& c, uint16_t rec, int64_t n) {
    if (c.rowChanges.size() <= rec) c.rowChanges.resize(rec + 1u, 0);
    c.rowChanges[rec] += n;
}

bool open_on_a_connection(const std::string& dataFile) {
    std::error_code ec;
    std::string key = std::filesystem::weakly_canonical(dataFile, ec).string();
    if (ec || key.empty()) key = std::filesystem::absolute(dataFile, ec).string();
    for (const std::string& k : {key, key + "\n(read-only)"})
        if (auto it = g_conns.find(k); it != g_conns.end() && !it->second.expired()) return true;
    return false;
}

// A child process has only the thread that forked it: a writer's thread would be missing there
// and its rows would wait for ever. Before a fork every writer runs its rows and ends (the next
// row handed over starts it again).
void end_writers_before_fork() {
    for (auto& [key, weak] : g_conns)
        if (const std::shared_ptr<Conn> c = weak.lock(); c && c->writer) {
            c->writer->stop();
            c->unwaited(false);
        }
}

std::vector<std::unique_ptr<Handle>> g_handles(1);
xio_file_control g_fileControl;
int g_readOnlyScopes = 0;
int g_foretellScopes = 0;
std::string g_error;
bool g_errorUnwritable = false;  // g_error is a refusal for want of write permission
ui::NextStep g_errorNext;        // what the person can do about g_error, when the layer knows
int64_t g_serial = 0;
// Test hook (store.h): the number of count statements run.
int64_t g_countQueries = 0;

std::vector<Fault> g_faults;

// True, with the status to answer, when this call is one a test planned to fail.
bool planned_failure(const Handle& hd, xio::FaultCall call, int& status) {
    for (Fault& f : g_faults) {
        if (f.remaining == 0 || f.call != call || (!f.abbr.empty() && f.abbr != hd.dict->abbr)) continue;
        if (--f.remaining > 0) continue;
        status = f.status;
        if (status == XIO_DISK_FULL) hd.conn->diskFull = true;
        return true;
    }
    return false;
}

int set_error(int status, const std::string& text) {
    g_error = text;
    g_errorUnwritable = false;
    g_errorNext = {};
    return status;
}

int set_error(int status, const std::string& text, ui::NextStep next) {
    set_error(status, text);
    g_errorNext = std::move(next);
    return status;
}

// A file refused because this user may not write it or its folder: in use (7) to every caller,
// as a read-only file always was, but told apart by xio_error_unwritable and never waited for.
int set_unwritable(const std::string& text, const std::filesystem::path& file) {
    // Said with what truly keeps it (a bar only an administrator lifts, a folder of another
    // owner), never as leave its owner could give where he cannot.
    set_error(XIO_LOCKED, text, xio::unwritable_step(file.string()));
    g_errorUnwritable = true;
    return XIO_LOCKED;
}

// Whether files can be made in, and written beside, `path`: its folder can be written.
bool folder_writable(const std::filesystem::path& path) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

int map_sqlite(int rc) {
    switch (rc & 0xff) {
        case SQLITE_OK:
        case SQLITE_DONE:
        case SQLITE_ROW: return XIO_OK;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return XIO_LOCKED;
        case SQLITE_FULL: return XIO_DISK_FULL;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB: return XIO_CORRUPT;
        case SQLITE_CONSTRAINT: return XIO_DUPLICATE;
        default: return XIO_IO_ERROR;
    }
}

void bulk_page_cache(Conn& c);

// After a failed statement: when SQLite rolled the whole transaction back, so does the
// connection's state.
void note_txn_gone(Handle& hd) {
    if (hd.conn->inTxn && sqlite3_get_autocommit(hd.db())) {  // SQLite rolled the transaction back
        hd.conn->inTxn = false;
        hd.conn->readTxn = false;
        ++hd.conn->txnSerial;
        hd.conn->bulk.clear();  // the rollback brought back whatever indexes were set aside
        bulk_page_cache(*hd.conn);
        ++hd.conn->rowsVersion;
        ++hd.conn->rollbacks;
    }
}

namespace {

// The status of SQLite's `rc`, g_error holding its words: the transaction may be gone, and
// whichever call met it, a file SQLite found corrupt marks its connection (see Conn::corrupt).
int failed_with(Handle& hd, int rc) {
    note_txn_gone(hd);
    const int status = map_sqlite(rc);
    if (status == XIO_CORRUPT && hd.conn->corrupt.empty()) hd.conn->corrupt = g_error;
    if (status == XIO_DISK_FULL) hd.conn->diskFull = true;
    return status;
}

}  // namespace

// A data file SQLite could not lock in time: another program reads it (an SQLite reader holds
// its own lock on the data file itself, which the kernel shows), or writes it.
void say_busy(Handle& hd) {
    // None seen: one on another machine sharing the folder, or one that let go meanwhile.
    std::optional<xio::LockHolder> seen;
    struct stat st {};
    if (::stat(hd.path.c_str(), &st) == 0)
        for (const auto& h : xio::lock_holders(st.st_dev, st.st_ino))
            if (h.pid != ::getpid()) {
                seen = h;
                break;
            }
    ui::NextStep next{ui::Step::AgainWhenFinished, {}};
    // An open file description's lock names no process: an administrator finds it.
    if (seen && seen->pid <= 0) next = {ui::Step::FindLockHolder, {hd.path.string()}};
    else if (seen) next.args.push_back(seen->words());
    set_error(XIO_LOCKED,
              hd.path.string() + " is in use by another program" +
                  (seen ? " (" + seen->words() + ") that is " + (seen->shared ? "reading" : "writing") + " it"
                        : ", which this machine does not show (one on another machine, or one that let go meanwhile)"),
              std::move(next));
}

int db_fail(Handle& hd, int rc, const std::string& said) {
    const char* name = sqlite3_db_filename(hd.db(), "main");
    const std::string removal = name && *name ? xio::journal_removal_failure(name) : std::string();
    const std::string planted = name && *name ? xio::journal_making_failure(name) : std::string();
    if ((rc & 0xff) == SQLITE_BUSY) say_busy(hd);
    else if (!planted.empty()) {
        g_error = hd.path.string() + ": " + planted;
        g_errorNext = {ui::Step::Again, {}};
    }
    else if (const std::string journal = std::string(name ? name : "") + "-journal"; !removal.empty()) {
        // The file holds the write, and its journal, hot, takes it back at the file's next open for
        // writing: the write is not committed, as the failure says. What keeps the journal from
        // being removed (an immutable folder, a read-only file system) keeps that open from
        // taking it back too, until an administrator lifts it: said with the step.
        const xio::WriteBar bar = xio::removal_bar(journal);
        g_error = hd.path.string() + ": the write was not committed: its journal " + journal + " could not be removed (" +
                  removal + (bar ? ": " + bar.cause : "") + "), so it still stands beside the file, and " +
                  (bar ? "the first writing command after an administrator lifts that takes the write back from it"
                       : "the file's next open for writing takes the write back from it");
        g_errorNext = bar ? ui::NextStep{ui::Step::LiftJournalBar, {journal, bar.cause, bar.lift}} : ui::NextStep{};
    } else {
        g_error = hd.path.string() + ": " + (said.empty() ? std::string(sqlite3_errmsg(hd.db())) : said);
        g_errorNext = {};
    }
    return failed_with(hd, rc);
}

// Waits until the connection's writer has run every row handed to it. A row that failed there
// is answered as its write would have answered (and is answered again by every later call that
// waits, until the rollback).
int writer_settle(Handle& hd) {
    Conn& c = *hd.conn;
    if (!c.writer) return XIO_OK;
    c.waitWriter();
    std::string message;
    const int rc = c.writer->failure(message);
    if (rc == SQLITE_OK) return XIO_OK;
    if ((rc & 0xff) == SQLITE_BUSY) say_busy(hd);
    else g_error = hd.path.string() + ": " + message;
    return failed_with(hd, rc);
}

// ---- A write transaction ------------------------------------------------------------------
//
// A write's journal is tied to its data file by the file's first page, saved in it
// (own_journal.h): SQLite saves that page at every commit, but a large write spills pages into
// the file (its journal synced, so hot if it stops then) before the commit saves the first page.
// So every write transaction begins by writing that page, which its journal then saves before
// any other. What is written is the file's identity: a number drawn once for the file and kept in
// its header's user version, so that another file's journal holds another.

uint32_t draw_identity() {
    uint32_t n = 0;
    while (n == 0)
        if (::getrandom(&n, sizeof n, 0) != static_cast<ssize_t>(sizeof n)) n = static_cast<uint32_t>(std::rand());
    return n;
}

int set_identity(sqlite3* db, uint32_t identity) {
    // The user version is a signed 32-bit number: the same 32 bits.
    return exec(db, "PRAGMA user_version = " + std::to_string(static_cast<int32_t>(identity)));
}

int begin_immediate(sqlite3* db, std::string& why) {
    int rc = exec(db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) {
        why = sqlite3_errmsg(db);
        return rc;
    }
    uint32_t identity = 0;
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr);
    if (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
        identity = static_cast<uint32_t>(sqlite3_column_int(st, 0));
        rc = SQLITE_OK;
    }
    sqlite3_finalize(st);
    if (rc == SQLITE_OK) rc = set_identity(db, identity != 0 ? identity : draw_identity());
    if (rc != SQLITE_OK) {
        // The failure's code and words are kept for the caller: the rollback's replace SQLite's.
        const int code = sqlite3_extended_errcode(db);
        why = sqlite3_errmsg(db);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return code != SQLITE_OK ? code : rc;
    }
    return SQLITE_OK;
}

// An identifier for SQL: in double quotes, each double quote inside doubled.

}  // namespace xio_private
}  // namespace dz
