// Record I/O's own types and helpers, shared by its files (xio*.cpp) and included by them alone;
// the journal, run and put-back files take SQLite's set-up from sqlite_files.h.
#pragma once

#include "platform/datafile/xio.h"

#include "platform/datafile/dictionary.h"
#include "platform/datafile/locks.h"
#include "platform/datafile/sqlite_files.h"
#include "platform/datafile/store.h"
#include "platform/datafile/text_assign.h"
#include "platform/datafile/utf8.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#include <unordered_map>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <pthread.h>

namespace dz {
namespace xio_private {

using xio::Dictionary;
using xio::FieldDef;
using xio::RecordDef;

// One field's value in a buffer: text in s, numbers in d, everything else in i.
struct Cell {
    std::string s;
    double d = 0;
    int64_t i = 0;
    bool operator==(const Cell&) const = default;
};
using Cells = std::vector<Cell>;

enum class Pos { None, At, PastEnd, BeforeStart };

// A choice of fields to read of a record type (xio_read_fields): the fields read (the chosen
// ones and those of every key of the record type) and the others, as places in the record, and
// the statements that read and replace only the fields read.
struct FieldChoice {
    std::vector<uint16_t> asked;  // the fields as the caller listed them
    std::vector<uint16_t> read, unread;
    std::string columns;    // the columns read, in the order of `read`
    std::string updateSql;  // stores the fields read, in the order of `read`, then the rowid
    sqlite3_stmt* updateStmt = nullptr;                      // owned by the handle's statement list
    std::unordered_map<uint32_t, sqlite3_stmt*> readStmts;  // by key * 16 + operation, likewise
};

// How a field's cell is bound: the member of the cell that holds its value.
enum class CellKind : uint8_t { Text, Real, Integer };

// A record type's insert statement, prepared for it alone, and what its parameters hold: a
// parameter is bound again only when its cell no longer holds what was bound. A text is bound
// without a copy and read when the statement runs, so a cell whose storage and length are the
// ones bound needs no new binding even when its characters changed.
class InsertPlan {
public:
    InsertPlan() = default;
    InsertPlan(const InsertPlan&) = delete;
    InsertPlan& operator=(const InsertPlan&) = delete;
    ~InsertPlan() { sqlite3_finalize(st_); }
    sqlite3_stmt* statement() const { return st_; }
    // Prepares the statement (once) for cells of the given kinds.
    int prepare(sqlite3* db, const std::string& sql, std::vector<CellKind> kinds) {
        if (st_) return SQLITE_OK;
        const int rc = sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st_, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(st_);
            st_ = nullptr;
            return rc;
        }
        kinds_ = std::move(kinds);
        bound_.assign(kinds_.size(), Bound{});
        return SQLITE_OK;
    }
    void bind(const Cells& cells);
    // Rows went in some other way: the next bind goes over every parameter.
    void forget() { complete_ = false; }
    // Binds the cells listed alone, when every other cell is known to hold what it held at the
    // last bind; false (nothing bound) unless every parameter is bound.
    bool bindListed(const Cells& cells, const uint16_t* listed, std::size_t count);

private:
    bool bindAt(const Cell& c, std::size_t i);
    struct Bound {
        const char* text = nullptr;  // a text: its storage and length
        std::size_t size = 0;
        uint64_t bits = 0;           // a number: its bits
        bool set = false;
    };
    sqlite3_stmt* st_ = nullptr;
    std::vector<CellKind> kinds_;
    std::vector<Bound> bound_;
    bool complete_ = false;  // every parameter bound
};

struct QueuedTable;  // see "The writer of a connection"

// The rows after a walk's cursor, read in one go: a walk by xio_rd_next inside a transaction
// reads the rows that follow in batches (doubling from one while each batch is used up, up to
// kReadAheadMax) rather than seeking each anew. They answer the next reads only while they are
// what a seek would find: nothing written on the connection since they were read, the same
// transaction (no other program writes meanwhile), and the cursor where the last of them left it.
struct ReadAhead {
    uint16_t key = 0;
    std::shared_ptr<FieldChoice> choice;  // the fields the rows hold (null: all)
    uint64_t txn = 0;                     // the connection's txnSerial when read
    int64_t changes = -1;                 // the connection's row changes when read
    int64_t afterRow = 0;                 // the cursor's row the rows follow
    std::size_t width = 0;                // cells a row
    std::vector<int64_t> rows;            // their rowids
    Cells cells;                          // their cells, row after row
    std::size_t next = 0;                 // the first not yet handed out
    std::size_t batch = 1;                // rows the last read asked for
};
constexpr std::size_t kReadAheadMax = 64;

struct RecState {
    const RecordDef* def = nullptr;
    std::vector<CellKind> kinds;  // by field, from the record's first
    Cells buf;
    Cells defaults;  // every field at its dictionary default
    // Cursor: key and position of the last keyed read.
    Pos pos = Pos::None;
    uint16_t curKey = 0;
    Cells curVals;  // the key's values at the cursor
    int64_t curRow = 0;
    int64_t ordinal = -1;  // place of curRow in key-0 order when known
    int64_t current = 0;   // rowid of the row last read or written
    std::set<int64_t> locked;
    int64_t count = -1;  // cached number of rows
    int64_t countStamp = -1;  // the connection's rowsVersion when `count` was taken
    std::string insertSql, updateSql, columns;
    // Prepared statements of this record type, owned by the handle's statement list.
    InsertPlan insert;
    // The rows of this record type the connection's writer inserts (null until the first).
    std::unique_ptr<QueuedTable> queued;
    // Whether the writer's cells of it are those of the last row added (the changes listed since
    // then are what the next row must carry): not after a row added another way, nor after rows
    // dropped by a rollback (the connection's queueEpoch then differs).
    bool queuedInStep = false;
    uint64_t queuedEpoch = 0;
    sqlite3_stmt* updateStmt = nullptr;
    sqlite3_stmt* storedKeyStmt = nullptr;  // the primary key of a row by its rowid
    // The fields of the record type's keys, the primary key's first, and a statement reading
    // them from a row by its rowid.
    std::vector<uint16_t> keyFields;
    sqlite3_stmt* storedKeysStmt = nullptr;
    // Replaces that leave some key fields as stored: by the fields stored ('1' stored, '0'
    // kept), the statement, and the choice of the replace under way.
    std::unordered_map<std::string, sqlite3_stmt*> narrowUpdates;
    std::string storing;
    // The key fields (keyFields) of row `keysRow` as stored: read by xio_hold_record and used
    // by the replace that follows, while the transaction (`keysTxn`) is the one they were read
    // in and the connection has changed no row since (`keysChanges`). Nothing else can change
    // the row meanwhile: inside one transaction the connection reads what it last read.
    struct StoredKey {
        int type = SQLITE_NULL;  // the column's type as stored
        Cell cell;               // the column as read for the field's type
    };
    std::vector<StoredKey> keysRead;
    int64_t keysRow = 0;
    uint64_t keysTxn = 0;
    int64_t keysChanges = -1;
    std::unordered_map<uint32_t, sqlite3_stmt*> readStmts;  // by key * 16 + operation
    // The read transaction (its serial) in which the record type was looked at for rows, and
    // whether it had none.
    uint64_t probedInReadTxn = 0;
    bool emptyInReadTxn = false;
    // The fields keyed reads fetch (null: all of them), and the choice the buffer was last read
    // with (null: it holds a whole record, or one being made).
    std::shared_ptr<FieldChoice> choice, readWith;
    // The choices made last, newest first, so that a walk can go back and forth between them.
    std::vector<std::shared_ptr<FieldChoice>> choices;
    ReadAhead ahead;
    // The cells the puts changed since the buffer was last set to its defaults, so that setting
    // it back, once a line of a text file, goes over those alone. `allChanged` stands for a
    // change made any other way (a read, a restore): the next reset goes over every cell.
    std::vector<uint16_t> changed;   // room for every cell; the first `changedCount` listed
    std::size_t changedCount = 0;
    std::vector<uint8_t> isChanged;  // by cell: listed in `changed`
    bool allChanged = true;
    // Likewise the cells changed since the insert statement was last bound (puts and resets), so
    // that a row binds those alone; `bindAll` while they are not known, `allChanged` included.
    std::vector<uint16_t> unbound;
    std::size_t unboundCount = 0;
    std::vector<uint8_t> isUnbound;
    bool bindAll = true;
};

struct HdrState {
    const RecordDef* def = nullptr;
    Cells buf;
    Cells defaults;
    bool locked = false;
};

struct Saved {
    uint16_t id;
    uint16_t rec;
    Cells cells;
    std::shared_ptr<FieldChoice> readWith;  // the copy is of a record read in part
};

struct NotesState {
    bool loaded = false;
    uint16_t rec = 0;
    std::string keytext;
    std::string text;
    size_t pos = 0;
    std::string out;
    bool locked = false;
};

// Every index the dictionary asks for: its name, its CREATE statement, whether it keeps
// keys unique, the record type it indexes, and for a unique one the key (0 the primary key),
// its fields and whether all-blank values stay out of it.
struct IndexSpec {
    std::string name, create;
    bool unique = false;
    uint16_t record = 0;
    uint16_t key = 0;
    std::vector<uint16_t> fields;
    bool blanksOut = false;
};

// Hashes of key values, 48 bits of each kept in 6 bytes, in an open table (0 marks a free
// slot). A bulk load keeps one per unique index it set aside; every value held counts against a
// budget shared by all tables. Two keys with the same 48 bits are rare (about one load of five
// million rows in ten meets a pair) and cost only the end of the load, never a wrong answer.
// A hash known to be new (its key is above every key held) may be handed in with `addNew`: it
// waits in a short list until the list is full or something asks the table, and is then placed
// with the others waiting, their slots asked of memory together. Rows arriving in key order, as
// most text files have them, so never wait for a slot among millions each.
class KeyHashes {
public:
    KeyHashes() = default;
    KeyHashes(const KeyHashes&) = delete;
    KeyHashes& operator=(const KeyHashes&) = delete;
    KeyHashes(KeyHashes&& o) noexcept
        : slots_(std::move(o.slots_)), rows_(std::move(o.rows_)), waiting_(std::move(o.waiting_)),
          keepRows_(o.keepRows_), size_(o.size_) {
        o.size_ = 0;
    }
    // From now on keeps with each hash the rowid of the row it came from (what a keyed read of
    // the primary key needs to find that row without its index); the hashes held already have
    // theirs given by setRow. Kept only for a table so read: 4 bytes a slot.
    void keepRows() {
        place();
        keepRows_ = true;
        rows_.assign(capacity(), 0);
    }
    bool keepsRows() const { return keepRows_; }
    // Gives the held hash `h` the rowid `row`; a hash claimed by two rows gets none.
    void setRow(uint64_t h, int64_t row) {
        place();
        if (slots_.empty() || !keepRows_) return;
        h = kept(h);
        const std::size_t mask = capacity() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const uint64_t v = at(i);
            if (v == 0) return;
            if (v != h) continue;
            rows_[i] = rows_[i] == 0 ? rowid(row) : kNoRow;
            return;
        }
    }
    KeyHashes& operator=(KeyHashes&&) = delete;
    ~KeyHashes();
    bool contains(uint64_t h) {
        place();
        if (slots_.empty()) return false;
        h = kept(h);
        const std::size_t mask = capacity() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const uint64_t v = at(i);
            if (v == h) return true;
            if (v == 0) return false;
        }
    }
    // The rowid kept with `h`; 0 when `h` is absent or no rowid was kept for it.
    int64_t row(uint64_t h) {
        place();
        if (slots_.empty() || rows_.empty()) return 0;
        h = kept(h);
        const std::size_t mask = capacity() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const uint64_t v = at(i);
            if (v == h) return rows_[i] == kNoRow ? 0 : rows_[i];
            if (v == 0) return 0;
        }
    }
    void insert(uint64_t h, int64_t row = 0);
    // Adds the hash of a key that no key held equals (another key may still share its hash).
    void addNew(uint64_t h, int64_t row);
    std::size_t size() const { return size_; }

private:
    static constexpr uint32_t kNoRow = UINT32_MAX;  // a slot whose row is not known
    static uint32_t rowid(int64_t row) { return row > 0 && row < int64_t{kNoRow} ? static_cast<uint32_t>(row) : kNoRow; }
    static uint64_t kept(uint64_t h) {
        h &= 0xFFFF'FFFF'FFFFu;
        return h ? h : 1;
    }
    std::size_t capacity() const { return slots_.size() / 3; }
    uint64_t at(std::size_t i) const {
        const uint16_t* p = &slots_[i * 3];
        return p[0] | uint64_t{p[1]} << 16 | uint64_t{p[2]} << 32;
    }
    void set(std::size_t i, uint64_t v) {
        uint16_t* p = &slots_[i * 3];
        p[0] = static_cast<uint16_t>(v), p[1] = static_cast<uint16_t>(v >> 16), p[2] = static_cast<uint16_t>(v >> 32);
    }
    // Makes room for `count` hashes in all (a table at most three quarters full).
    void reserve(std::size_t n);
    // Puts `h` (kept already) into the table, which has room; false when it is there already.
    bool put(uint64_t h, int64_t row);
    // Places the hashes waiting in `waiting_`.
    void place() {
        if (!waiting_.empty()) placeWaiting();
    }
    void placeWaiting();
    // Memory for millions of slots: in 2 MB pages where the system offers them, since every
    // look-up lands on a page of its own.
    struct HugeAllocator {
        using value_type = uint16_t;
        template <class>
        struct rebind {  // slots are only ever uint16_t
            using other = HugeAllocator;
        };
        HugeAllocator() = default;
        uint16_t* allocate(std::size_t n);
        void deallocate(uint16_t* p, std::size_t n);
        friend bool operator==(const HugeAllocator&, const HugeAllocator&) { return true; }
    };
    // Three per slot; a power of two slots, at most three quarters full.
    std::vector<uint16_t, HugeAllocator> slots_;
    std::vector<uint32_t> rows_;  // by slot, when rows are kept: the rowid, 0 or kNoRow when not known
    std::vector<uint64_t> waiting_;  // hashes (kept) not placed yet; only while rows are not kept
    bool keepRows_ = false;
    std::size_t size_ = 0;  // hashes held, those waiting included
};

// A record type's table during a bulk load of the open write transaction: it was empty at its
// first insert, and once more than a few thousand rows have gone in, its indexes are set aside
// (dropped) and the key hashes stand in for its unique ones until they are made again.
struct BulkTable {
    enum class State { Watching, Loading, Off };
    State state = State::Watching;
    int64_t rows = 0;                   // rows added since the table was found empty
    std::vector<IndexSpec> setAside;    // indexes dropped, to be made again
    struct Unique {
        uint16_t key = 0;               // 0 the primary key, else the file key
        std::vector<uint16_t> fields;
        bool blanksOut = false;         // all-blank values are never duplicates
        KeyHashes seen;
        // No hash is held yet: every key so far came in above every key before it, and so
        // could equal none (a file converted in key order keeps none). The first key that does
        // not reads them from the table (bulk_fill).
        bool deferred = true;
        // The highest key held (as the key's fields: texts without regard to ASCII letter
        // case, numbers by value), and whether there is one.
        Cells top;
        bool hasTop = false;
    };
    std::vector<Unique> uniques;
    std::vector<uint64_t> pending;      // the hashes of the row being added, one per unique
    std::vector<char> above;            // by unique: the row's key is above every key held
    int64_t lastRow = 0;                // the rowid of the last row added (or handed to the writer)
};



// A record type's rows as the writer inserts them: its own insert statement, and the cells of
// the last row, which the statement's parameters hold (texts bound without a copy).
struct QueuedTable {
    sqlite3_stmt* st = nullptr;
    std::vector<CellKind> kinds;
    Cells cells;
    QueuedTable() = default;
    QueuedTable(const QueuedTable&) = delete;
    QueuedTable& operator=(const QueuedTable&) = delete;
    ~QueuedTable() { sqlite3_finalize(st); }  // the writer has nothing left by then (see Handle)
};

// The indexes a connection's bulk loads set aside, handed to its writer to be made while the
// caller commits other files (xio_start_commit): by table, in the order bulk_settle_all makes
// them. The writer fills in what it made and the first failure; the caller takes the outcome
// after waiting for the writer (take_index_job).
struct IndexJob {
    struct Table {
        uint16_t rec = 0;
        std::vector<std::string> creates;  // the set-aside indexes, last first
        std::size_t made = 0;
    };
    std::vector<Table> tables;
    int rc = SQLITE_OK;  // the failure that stopped the builds
    std::string message;
    bool handedOver = false;  // its outcome not taken yet
};

constexpr const char* kPageCache = "PRAGMA cache_size=-32768";  // a connection's own (see open_path)

unsigned sorter_helpers();
const std::string& sorter_threads();
const std::string& index_build_cache();

struct IndexJob;
// One row waiting for the writer: the cells that differ from the record type's row before it
// (every cell for its first), so that the caller copies and the writer binds only those.
struct QueuedRow {
    IndexJob* job = nullptr;   // not a row: the index builds of a commit (see xio_start_commit)
    QueuedTable* table = nullptr;
    std::vector<uint16_t> at;  // the cells, by place in the record; storage kept from row to row
    Cells cells;               // their values, likewise
    std::size_t count = 0;     // how many of them this row has
    int64_t row = 0;           // the rowid the row is to get
    int planned = SQLITE_OK;   // a failure a test planned for this row's step
};

constexpr double kWholeMax = 9007199254740992.0;  // 2^53

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

class Writer {
public:
    // Powers of two. A queue of kSlots rows is grown to kMoreSlots the first time the caller
    // finds it full: when both threads are near busy (a load of two tables per record), a short
    // queue makes each wait out the other's slow moments (a page written, a long text), and 2048
    // rows ride them out, some 10% faster. A caller that waits for its writer every few rows (a
    // replace per group) keeps the short queue: a slot keeps its cells' storage, and a long
    // queue of wide rows would hold megabytes for nothing and take them cold from memory.
    static constexpr std::size_t kSlots = 256, kMoreSlots = 2048;
    // A writer asleep is woken once this many rows wait (or the caller waits for it): waking
    // it for every row would cost a system call a row.
    static constexpr uint64_t kWakeRows = 32;
    explicit Writer(sqlite3* db) : db_(db), slots_(kSlots), mask_(kSlots - 1) {}
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer() { stop(); }

    // The next free slot (waiting for one while the queue is full); push() hands it over.
    QueuedRow& slot() {
        if (!thread_.joinable()) {
            stopping_.store(false, std::memory_order_relaxed);
            thread_ = std::thread([this] { run(); });
        }
        const uint64_t q = queued_.load(std::memory_order_relaxed);
        if (q - done_.load(std::memory_order_acquire) >= slots_.size()) {
            // The writer is behind by a whole queue: this thread sleeps until a run of slots is
            // free rather than spin for each one, leaving the processor to the writer.
            wakeWriter();
            if (slots_.size() < kMoreSlots) {
                // Grown once the writer has run every row: it reads the slots and the mask only
                // for a row handed over after this (push() publishes them).
                await([&] { return done_.load(std::memory_order_seq_cst) == q; }, callerAsleep_, callerWake_, 0);
                slots_.resize(kMoreSlots);
                mask_ = kMoreSlots - 1;
            } else {
                await([&] { return q - done_.load(std::memory_order_seq_cst) < slots_.size(); }, callerAsleep_, callerWake_, 0);
            }
        }
        return slots_[q & mask_];
    }
    void push() {
        const uint64_t q = queued_.load(std::memory_order_relaxed) + 1;
        queued_.store(q, std::memory_order_seq_cst);
        if (q - done_.load(std::memory_order_relaxed) >= kWakeRows) wakeWriter();
    }
    // Hands over the slot and wakes the writer at once (work it is to start now).
    void pushNow() {
        queued_.store(queued_.load(std::memory_order_relaxed) + 1, std::memory_order_seq_cst);
        wakeWriter();
    }
    // Waits until every row handed over has been run (or passed over). Rows left to a writer
    // asleep (fewer than kWakeRows) are run here: waking it and waiting for it would cost more
    // than they do. It cannot wake meanwhile: it needs the mutex held here.
    void wait() {
        const uint64_t q = queued_.load(std::memory_order_relaxed);
        if (done_.load(std::memory_order_acquire) == q) return;
        {
            std::lock_guard<std::mutex> lock(m_);
            if (writerAsleep_.load(std::memory_order_seq_cst)) {
                for (uint64_t at = done_.load(std::memory_order_acquire); at != q; ++at) runRow(slots_[at & mask_]);
                done_.store(q, std::memory_order_seq_cst);
                return;
            }
        }
        wakeWriter();
        await([&] { return done_.load(std::memory_order_seq_cst) == q; }, callerAsleep_, callerWake_);
    }
    // Drops the rows not yet run, waiting for the one in flight.
    void drop() {
        dropping_.store(true, std::memory_order_seq_cst);
        wait();
        dropping_.store(false, std::memory_order_relaxed);
    }
    // A row that failed: its SQLite code (SQLITE_OK when none) and message. Read after wait().
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    int failure(std::string& message) const {
        if (!failed()) return SQLITE_OK;
        message = failMessage_;
        return failCode_;
    }
    void clearFailure() {
        failCode_ = SQLITE_OK;
        failMessage_.clear();
        failed_.store(false, std::memory_order_release);
    }
    // Runs the rows handed over and ends the thread; the next row starts it again.
    void stop() {
        if (!thread_.joinable()) return;
        wait();
        stopping_.store(true, std::memory_order_seq_cst);
        {
            std::lock_guard<std::mutex> lock(m_);
            writerWake_.notify_one();
        }
        thread_.join();
    }

private:
    void wakeWriter() {
        if (writerAsleep_.load(std::memory_order_seq_cst)) {
            std::lock_guard<std::mutex> lock(m_);
            writerWake_.notify_one();
        }
    }
    // Until `ready`: a short spin (the other side is usually a row away), then asleep.
    template <class Ready>
    void await(Ready ready, std::atomic<bool>& asleep, std::condition_variable& wake, int spins = 1000) {
        for (int i = 0; i < spins; ++i) {
            if (ready()) return;
            cpu_relax();
        }
        std::unique_lock<std::mutex> lock(m_);
        asleep.store(true, std::memory_order_seq_cst);
        wake.wait(lock, ready);
        asleep.store(false, std::memory_order_relaxed);
    }
    void run();
    void runRow(QueuedRow& r);
    // Makes a job's indexes as bulk_settle would, in as small a page cache; stops at a failure
    // and leaves its message for the caller.
    void build(IndexJob& job);
    void fail(int code, std::string message);
    void step(QueuedRow& r);

    sqlite3* db_;
    std::vector<QueuedRow> slots_;
    std::size_t mask_;  // slots_.size() - 1
    std::thread thread_;
    std::mutex m_;
    std::condition_variable writerWake_, callerWake_;
    std::atomic<uint64_t> queued_{0}, done_{0};  // rows handed over; rows run or passed over
    std::atomic<bool> writerAsleep_{false}, callerAsleep_{false}, stopping_{false}, dropping_{false};
    std::atomic<bool> failed_{false};
    int failCode_ = SQLITE_OK;  // written by the writer before failed_, read after it
    std::string failMessage_;
};

// SQLite built without thread support cannot have a connection used by a second thread.
extern const bool kWriterThreads;

// The connections whose writer was handed rows since the caller last waited for it.
extern std::vector<sqlite3*> g_unwaited;

[[noreturn]] void unwaited_use();

// The caller's thread runs and resets statements through these. A statement of a connection
// whose writer was handed rows the caller has not waited for would race the writer on the
// connection's state: that is a fault of this file, stopped here before it can do harm.
inline void check_waited(sqlite3* db) {
    if (!g_unwaited.empty() && std::find(g_unwaited.begin(), g_unwaited.end(), db) != g_unwaited.end()) unwaited_use();
}
inline int checked_step(sqlite3_stmt* st) {
    if (st) check_waited(sqlite3_db_handle(st));
    return sqlite3_step(st);
}
inline int checked_reset(sqlite3_stmt* st) {
    if (st) check_waited(sqlite3_db_handle(st));
    return sqlite3_reset(st);
}
inline int checked_clear_bindings(sqlite3_stmt* st) {
    if (st) check_waited(sqlite3_db_handle(st));
    return sqlite3_clear_bindings(st);
}

// One SQLite connection per data file and program, shared by every handle on that file: the
// handles see each other's writes at once and never wait for each other. The transaction
// belongs to the connection.
struct Conn {
    // The connection itself: reached through db(), which waits for the writer first; only the
    // opening and the writer use it directly.
    sqlite3* raw = nullptr;
    std::unique_ptr<Writer> writer;  // started by the first row handed over
    std::string key;
    std::unordered_map<std::string, sqlite3_stmt*> stmts;
    bool inTxn = false;
    // The open transaction has only read so far: it holds the file's shared lock between
    // reads, so that a batch of reads does not take and drop that lock (and check the file
    // again) for every record.
    bool readTxn = false;
    uint64_t readTxnSerial = 0;  // raised by every read transaction begun
    uint64_t txnSerial = 0;      // raised by every transaction begun or ended, of either kind
    int64_t rowsVersion = 0;  // raised by every insert, delete and rollback (row counts change)
    // By record type: rows added or removed and primary keys changed (xio_row_changes); and the
    // rollbacks, which change any record type.
    std::vector<int64_t> rowChanges;
    int64_t rollbacks = 0;
    uint64_t queueEpoch = 0;  // raised whenever rows handed to the writer are dropped
    IndexJob indexJob;        // the set-aside indexes handed to the writer by xio_start_commit
    // Bulk loads of the open write transaction, by record type.
    std::map<uint16_t, BulkTable> bulk;
    bool loadCache = false;  // the page cache is the small one of a bulk load
    // Why a read refused the file as corrupt, once one has: a caller whose walk stopped there
    // may not have looked at the status, so nothing built on what it read is committed while
    // the connection lives (xio_commit refuses with this reason; a rollback still drops it).
    std::string corrupt;
    // A write found the disk full since the last commit or rollback: a caller that turned the
    // failure into a word of its own can still say what it was (xio_disk_full_met).
    bool diskFull = false;

    Conn() = default;
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;
    ~Conn() {
        if (writer) writer->stop();
        unwaited(false);
        writer.reset();
        for (auto& [sql, st] : stmts) sqlite3_finalize(st);
        if (raw) sqlite3_close(raw);
    }

    // Waits until the writer has run every row handed to it (its failure stays to be answered).
    void waitWriter() {
        if (!writer) return;
        writer->wait();
        unwaited(false);
    }
    sqlite3* db() {
        waitWriter();
        return raw;
    }
    // Marks the connection as having rows handed over that the caller has not waited for.
    void unwaited(bool yes) {
        auto it = std::find(g_unwaited.begin(), g_unwaited.end(), raw);
        if (yes && it == g_unwaited.end()) g_unwaited.push_back(raw);
        else if (!yes && it != g_unwaited.end()) g_unwaited.erase(it);
    }

    sqlite3_stmt* stmt(const std::string& sql) {
        sqlite3* const conn = db();
        auto it = stmts.find(sql);
        if (it != stmts.end()) {
            checked_reset(it->second);
            checked_clear_bindings(it->second);
            return it->second;
        }
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v3(conn, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            return nullptr;
        }
        stmts.emplace(sql, st);
        return st;
    }
};

extern std::map<std::string, std::weak_ptr<Conn>> g_conns;

void note_row_changes(Conn& c, uint16_t rec, int64_t n = 1);
void end_writers_before_fork();

struct Handle {
    std::shared_ptr<const Dictionary> dict;
    std::filesystem::path path;
    uint16_t fileNo = 0;
    std::shared_ptr<Conn> conn;
    std::map<uint16_t, RecState> recs;
    std::vector<RecState*> recIndex;  // by record number: its entry of recs, or null
    std::map<uint16_t, HdrState> hdrs;
    bool writesStarted = false;
    int lastStatus = 0;
    std::vector<Saved> saved;
    uint16_t nextSaveId = 1;
    NotesState notes;
    std::unique_ptr<xio::LockTable> locks;
    // Field number -> the buffer holding it, its definition, its first field and owning record
    // type (0 for a header's field), so that get/put_field find their cell without a lookup.
    struct Slot {
        Cells* buf = nullptr;
        const FieldDef* def = nullptr;
        uint16_t first = 0;
        uint16_t record = 0;
        uint16_t type = 0;  // the field's type, kept here: the per-record calls need no more
        RecState* owner = nullptr;  // the record type whose buffer it is; null for a header's
    };
    std::vector<Slot> slots;
    // Opened read-only: never written, never upgraded.
    bool readOnly = false;
    // Field number -> the SQL a read uses for it: the quoted column, or for a field that an
    // older file opened read-only lacks, the field's default.
    std::vector<std::string> cols;

    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    // Rows handed to the writer point into the handle's record types.
    ~Handle() {
        if (conn) conn->waitWriter();
    }
    sqlite3* db() { return conn->db(); }
    sqlite3_stmt* stmt(const std::string& sql) { return conn->stmt(sql); }
    const std::string& col(uint16_t f) const { return cols[f]; }
};

extern std::vector<std::unique_ptr<Handle>> g_handles;
extern xio_file_control g_fileControl;
extern int g_readOnlyScopes;
extern int g_foretellScopes;  // of them, those of Examine Files
extern std::string g_error;
extern bool g_errorUnwritable;
extern ui::NextStep g_errorNext;
extern int64_t g_serial;
extern int64_t g_countQueries;

inline Handle* H(uint16_t h) {
    return h < g_handles.size() ? g_handles[h].get() : nullptr;  // handle 0 is never open
}

// The failures a test planned (xio::fail_call).
struct Fault {
    xio::FaultCall call{};
    int remaining = 0;  // calls of that kind up to the one that fails; 0 once it has failed
    int status = XIO_OK;
    std::string abbr;
};
extern std::vector<Fault> g_faults;

inline std::string table_of(const RecordDef& r) { return (r.isHeader ? "h" : "r") + std::to_string(r.number); }

inline bool is_text(uint16_t t) { return xio_is_text_type(t); }
inline bool is_real(uint16_t t) { return xio_is_number_type(t); }

// Puts the defaults back into a buffer, its texts keeping their storage (a record's buffer is
// reset for every line of a text file).
inline void reset_cell(Cell& c, const Cell& d) {
    if (d.s.empty()) c.s.clear();
    else AssignText(c.s, d.s);
    c.d = d.d;
    c.i = d.i;
}

inline void reset_cells(Cells& buf, const Cells& defaults) {
    if (buf.size() != defaults.size()) {
        buf = defaults;
        return;
    }
    // Through locals: the string stores could alias the vectors' own pointers, which the loop
    // would then read again for every cell.
    Cell* const cells = buf.data();
    const Cell* const from = defaults.data();
    const size_t count = buf.size();
    for (size_t n = 0; n < count; ++n) reset_cell(cells[n], from[n]);
}

// A put changed cell `at` of the record type's buffer.
[[gnu::always_inline]] inline void note_unbound(RecState& rs, std::size_t at) {
    uint8_t& listed = rs.isUnbound.data()[at];
    if (listed) return;
    listed = 1;
    rs.unbound.data()[rs.unboundCount++] = static_cast<uint16_t>(at);  // each cell once at most
}

[[gnu::always_inline]] inline void note_change(RecState* rs, std::size_t at) {
    if (!rs || rs->allChanged) return;
    if (!rs->bindAll) note_unbound(*rs, at);
    uint8_t& listed = rs->isChanged.data()[at];
    if (listed) return;
    listed = 1;
    rs->changed.data()[rs->changedCount++] = static_cast<uint16_t>(at);  // each cell once at most
}

// The buffer changed in a way not listed cell by cell (a read, a restore, another buffer swapped in).
inline void changed_whole(RecState& rs) {
    rs.allChanged = true;
    rs.bindAll = true;
}

// Sets a record type's buffer back to its defaults: only the cells changed since the last time
// when nothing else changed it.
inline void reset_record(RecState& rs) {
    if (rs.allChanged || rs.buf.size() != rs.defaults.size()) {
        reset_cells(rs.buf, rs.defaults);
        rs.isChanged.assign(rs.buf.size(), 0);
        rs.changed.resize(rs.buf.size());
        rs.changedCount = 0;
        rs.allChanged = false;
        rs.bindAll = true;
        return;
    }
    Cell* const cells = rs.buf.data();
    const Cell* const from = rs.defaults.data();
    uint8_t* const listed = rs.isChanged.data();
    const bool noteUnbound = !rs.bindAll;
    for (std::size_t n = 0; n < rs.changedCount; ++n) {
        const uint16_t at = rs.changed[n];
        reset_cell(cells[at], from[at]);
        listed[at] = 0;
        if (noteUnbound) note_unbound(rs, at);
    }
    rs.changedCount = 0;
}

inline void bind_cell(sqlite3_stmt* st, int idx, uint16_t type, const Cell& c) {
    if (is_text(type)) sqlite3_bind_text(st, idx, c.s.data(), static_cast<int>(c.s.size()), SQLITE_STATIC);
    else if (is_real(type)) sqlite3_bind_double(st, idx, c.d);
    else sqlite3_bind_int64(st, idx, c.i);
}

inline CellKind kind_of(uint16_t type) {
    return is_text(type) ? CellKind::Text : is_real(type) ? CellKind::Real : CellKind::Integer;
}

inline void bind_kind(sqlite3_stmt* st, int idx, CellKind k, const Cell& c) {
    if (k == CellKind::Text) sqlite3_bind_text(st, idx, c.s.data(), static_cast<int>(c.s.size()), SQLITE_STATIC);
    else if (k == CellKind::Real) sqlite3_bind_double(st, idx, c.d);
    else sqlite3_bind_int64(st, idx, c.i);
}

// Whole numbers up to this size are exact as doubles and as integers alike.

// Binds cell `c` to parameter i + 1 unless it holds what was bound; whether the parameter is bound.
inline bool InsertPlan::bindAt(const Cell& c, std::size_t i) {
    Bound& b = bound_[i];
    const int idx = static_cast<int>(i + 1);
    int rc;
    switch (kinds_[i]) {
        case CellKind::Text:
            if (b.set && b.text == c.s.data() && b.size == c.s.size()) return true;
            rc = sqlite3_bind_text(st_, idx, c.s.data(), static_cast<int>(c.s.size()), SQLITE_STATIC);
            b = Bound{c.s.data(), c.s.size(), 0, rc == SQLITE_OK};
            break;
        case CellKind::Real: {
            uint64_t bits;
            std::memcpy(&bits, &c.d, sizeof bits);
            if (b.set && b.bits == bits) return true;
            // A whole number goes in as the integer it is: SQLite stores a REAL column's
            // whole value as that integer anyway, and is spared finding that out per row.
            if (c.d >= -kWholeMax && c.d <= kWholeMax && c.d == std::trunc(c.d))
                rc = sqlite3_bind_int64(st_, idx, static_cast<int64_t>(c.d));
            else
                rc = sqlite3_bind_double(st_, idx, c.d);
            b = Bound{nullptr, 0, bits, rc == SQLITE_OK};
            break;
        }
        case CellKind::Integer:
        default: {
            const auto bits = static_cast<uint64_t>(c.i);
            if (b.set && b.bits == bits) return true;
            rc = sqlite3_bind_int64(st_, idx, c.i);
            b = Bound{nullptr, 0, bits, rc == SQLITE_OK};
            break;
        }
    }
    return b.set;
}

inline void InsertPlan::bind(const Cells& cells) {
    const std::size_t n = std::min(cells.size(), kinds_.size());
    bool all = n == kinds_.size();
    for (std::size_t i = 0; i < n; ++i) all = bindAt(cells[i], i) && all;
    complete_ = all;
}

inline bool InsertPlan::bindListed(const Cells& cells, const uint16_t* listed, std::size_t count) {
    if (!complete_ || cells.size() < kinds_.size()) return false;
    for (std::size_t n = 0; n < count; ++n)
        if (!bindAt(cells[listed[n]], listed[n])) complete_ = false;
    return true;
}

inline void read_cell(sqlite3_stmt* st, int col, uint16_t type, Cell& c) {
    if (is_text(type)) {
        const unsigned char* p = sqlite3_column_text(st, col);
        c.s.assign(p ? reinterpret_cast<const char*>(p) : "", static_cast<size_t>(sqlite3_column_bytes(st, col)));
    } else if (is_real(type)) {
        c.d = sqlite3_column_double(st, col);
    } else {
        c.i = sqlite3_column_int64(st, col);
    }
}

inline bool blank_cell(uint16_t type, const Cell& c) {
    if (is_text(type)) return c.s.empty();
    if (is_real(type)) return c.d == 0;
    return c.i == 0;
}


// The file-code registry: request code -> abbreviation and file number.
struct RegistryEntry {
    uint16_t code;
    const char* abbr;
    uint16_t fileNo;
};
constexpr RegistryEntry kRegistry[] = {
    {1, "GLM", 1},  {4, "GLT", 6},  {10, "JCM", 1}, {12, "JCT", 6}, {20, "CMM", 1}, {22, "CMT", 1}, {30, "APM", 1},
    {32, "API", 1}, {33, "API", 2}, {36, "APT", 1}, {38, "TXM", 1}, {40, "PRM", 1}, {42, "PRS", 1}, {44, "PRX", 1},
    {50, "PMS", 1}, {52, "PMP", 1}, {54, "PML", 1}, {56, "PMN", 1}, {58, "PMR", 1}, {60, "PMV", 1}, {62, "PMZ", 0},
    {66, "PMT", 1}, {68, "PMT", 5}, {70, "ARS", 1}, {72, "ARM", 1}, {99, "TLI", 0},
};

// ---- Field access -------------------------------------------------------------------------

// The buffer cell of field `fld` addressed with record argument `rec`; nullptr when invalid.
inline Cell* cell_of(Handle& hd, uint16_t rec, uint16_t fld, const FieldDef** fdOut) {
    if (fld >= hd.slots.size()) return nullptr;
    const Handle::Slot& sl = hd.slots[fld];  // slot 0 has no buffer
    if (!sl.buf || (rec != 0 && sl.record != 0 && rec != sl.record)) return nullptr;
    *fdOut = sl.def;
    return sl.buf->data() + (fld - sl.first);
}

// The cell of field `fld` for the one-member calls (record argument 0) and its type; nullptr
// when invalid.
inline Cell* typed_cell(uint16_t h, uint16_t fld, uint16_t& type) {
    Handle* hd = H(h);
    if (!hd || fld >= hd->slots.size()) return nullptr;
    const Handle::Slot& sl = hd->slots[fld];
    if (!sl.buf) return nullptr;
    type = sl.type;
    return sl.buf->data() + (fld - sl.first);
}

// The slot of field `fld` for a one-member put, its cell noted as changed; nullptr when invalid.
[[gnu::always_inline]] inline const Handle::Slot* put_slot(uint16_t h, uint16_t fld, Cell*& cell) {
    Handle* hd = H(h);
    if (!hd || fld >= hd->slots.size()) return nullptr;
    const Handle::Slot& sl = hd->slots[fld];
    if (!sl.buf) return nullptr;
    const std::size_t at = fld - sl.first;
    note_change(sl.owner, at);
    cell = sl.buf->data() + at;
    return &sl;
}

inline RecState* rec_of(Handle& hd, uint16_t rec) { return rec < hd.recIndex.size() ? hd.recIndex[rec] : nullptr; }

// Fields of key `key` for record type `rec`; nullptr when the key is not the record's.
inline const std::vector<uint16_t>* key_fields(Handle& hd, RecState& rs, uint16_t key, bool& unique) {
    if (key == 0) {
        unique = true;
        return &rs.def->primaryKey;
    }
    if (key > hd.dict->keys.size()) return nullptr;
    const auto& k = hd.dict->keys[key - 1].def;
    if (k.record != rs.def->number) return nullptr;
    unique = k.unique && !k.blankAllowed;
    return &k.fields;
}

// The folded primary key of a record whose key field `f` is `cellOf(i, f)` (i its place in the key).
template <class CellOf>
std::string key_text_of(Handle& hd, const RecordDef& r, CellOf cellOf) {
    std::string out;
    for (size_t i = 0; i < r.primaryKey.size(); ++i) {
        const uint16_t f = r.primaryKey[i];
        const Cell& c = cellOf(i, f);
        const uint16_t t = hd.dict->fields[f].def.type;
        if (!out.empty()) out += '\x1f';
        if (is_text(t)) {
            for (char ch : c.s) out += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        } else if (is_real(t)) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.17g", c.d);
            out += buf;
        } else {
            out += std::to_string(c.i);
        }
    }
    return out;
}

inline std::string key_text(Handle& hd, RecState& rs) {
    return key_text_of(hd, *rs.def, [&](size_t, uint16_t f) -> const Cell& { return rs.buf[f - rs.def->firstField]; });
}


// ---- Shared between the files of the data-file layer ---------------------------------------

// Connections and errors (xio_conn.cpp).
bool planned_failure(const Handle& hd, xio::FaultCall call, int& status);
int set_error(int status, const std::string& text);
// The same, with what the person can do next kept apart from the cause's words.
int set_error(int status, const std::string& text, ui::NextStep next);
// A refusal for want of write permission on `file` or its folder, with the step to be given it.
int set_unwritable(const std::string& text, const std::filesystem::path& file);
bool folder_writable(const std::filesystem::path& path);
int map_sqlite(int rc);
// BEGIN IMMEDIATE, then the file's first page written (its identity set, drawn when it has none):
// the write's journal saves that page first. The SQLite code; when not SQLITE_OK, nothing is
// left begun and `why` holds SQLite's words.
int begin_immediate(sqlite3* db, std::string& why);
uint32_t draw_identity();
int set_identity(sqlite3* db, uint32_t identity);
void note_txn_gone(Handle& hd);
// `said`: SQLite's words of the failure, kept where a rollback since has replaced its own.
int db_fail(Handle& hd, int rc, const std::string& said = {});
int writer_settle(Handle& hd);

// Schema (xio_schema.cpp).
std::string quote(const std::string& name);
std::string sql_literal(const FieldDef& f);
Cells default_cells(const Dictionary& d, const RecordDef& r);
std::vector<uint16_t> order_fields(const RecordDef& r, const std::vector<uint16_t>& keyFields);
int exec(sqlite3* db, const std::string& sql, const std::vector<std::string>& args = {});
int nocase_texts(void*, int n1, const void* k1, int n2, const void* k2);
int use_nocase_texts(sqlite3* db);
std::vector<IndexSpec> dictionary_index_specs(const Dictionary& d);
std::vector<IndexSpec> unique_indexes_astray(sqlite3* db, const Dictionary& d, int& rc);
std::set<std::string> table_columns(sqlite3* db, const std::string& table);
int ensure_schema(sqlite3* db, const Dictionary& d, uint16_t fileNo);
int create_file(const Dictionary& d, uint16_t fileNo, const std::filesystem::path& path);
void end_read_txn(Conn& c);
void hold_reads(Handle& hd);
bool known_empty(Handle& hd, RecState& rs);

// Bulk loads (xio_bulk.cpp).
void bulk_page_cache(Conn& c);
int take_index_job(Handle& hd);
int bulk_settle(Handle& hd, uint16_t rec);
int bulk_settle_for_write(Handle& hd, uint16_t rec);
int bulk_settle_all(Handle& hd);
int bulk_admit(Handle& hd, RecState& rs, BulkTable*& out);
int bulk_added(Handle& hd, RecState& rs, BulkTable& bt);
bool bulk_absent(Handle& hd, RecState& rs, uint16_t key);
int64_t bulk_row(Handle& hd, RecState& rs);

// Opening (xio_open.cpp).
int open_path(const std::filesystem::path& path, const std::string& expectAbbr, bool asked, bool readOnly,
              uint16_t& handle);

// Field access (xio_fields.cpp).
int take_lock(Handle& hd, char kind, const std::string& key);
// Fails with `status`: the writer lock is held by another program (who, and its lock file),
// waited for with the next step.
int writer_lock_held(Handle& hd, int status);

// Writes (xio_write.cpp).
int begin_write(Handle& hd);
std::vector<uint16_t> record_key_fields(const Dictionary& d, const RecordDef& r);
int read_stored_keys(Handle& hd, RecState& rs, int64_t row);
void clear_positions(Handle& hd);

}  // namespace xio_private
}  // namespace dz
