// Record I/O on SQLite data files. The on-disk schema is described in store.h.
#include "platform/datafile/xio.h"

#include "platform/datafile/dictionary.h"
#include "platform/datafile/locks.h"
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

namespace {

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

// ---- The writer of a connection ---------------------------------------------------------
//
// While a table is bulk loaded (see "Bulk loads"), an insert into it can fail only for a reason
// the caller cannot act on record by record (a full disk, an I/O error): the key hashes have
// answered the duplicate question already. Such inserts are handed to a thread of the connection
// that binds and steps them while the caller goes on with its next record: the caller copies the
// row's cells into a slot of a short queue and moves on. The connection has no mutex of its own,
// so nothing on the caller's thread may use it while its writer has rows: every such use waits
// until the queue is empty (Conn::db, Conn::stmt, writer_settle), and the statement wrappers
// below refuse loudly any use that did not wait. A row that fails on the writer is kept, with
// SQLite's code and message, until the rollback: every later wait of the caller answers it, and
// no commit happens while it stands; the rows queued after it are not run.

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
    void run() {
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
    void runRow(QueuedRow& r) {
        if (failed_.load(std::memory_order_relaxed) || dropping_.load(std::memory_order_acquire)) return;
        if (r.job) build(*r.job);
        else step(r);
    }
    // Makes a job's indexes as bulk_settle would, in as small a page cache; stops at a failure
    // and leaves its message for the caller.
    void build(IndexJob& job) {
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
    void fail(int code, std::string message) {
        failCode_ = code;
        failMessage_ = std::move(message);
        failed_.store(true, std::memory_order_release);
    }
    void step(QueuedRow& r) {
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
const bool kWriterThreads = sqlite3_threadsafe() != 0;

// The connections whose writer was handed rows since the caller last waited for it: a statement
// of one of them run on the caller's thread is a fault of this file (see the wrappers below).
std::vector<sqlite3*> g_unwaited;

// The caller's thread runs and resets statements through these. A statement of a connection
// whose writer was handed rows the caller has not waited for would race the writer on the
// connection's state: that is a fault of this file, stopped here before it can do harm.
[[noreturn]] void unwaited_use() {
    std::fputs("data files: a connection was used while its writer had rows (it was not waited for)\n", stderr);
    std::abort();
}
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

std::map<std::string, std::weak_ptr<Conn>> g_conns;

void note_row_changes(Conn& c, uint16_t rec, int64_t n = 1) {
    if (c.rowChanges.size() <= rec) c.rowChanges.resize(rec + 1u, 0);
    c.rowChanges[rec] += n;
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

std::vector<std::unique_ptr<Handle>> g_handles(1);
xio_file_control g_fileControl;
int g_readOnlyScopes = 0;
std::string g_error;
bool g_errorUnwritable = false;  // g_error is a refusal for want of write permission
int64_t g_serial = 0;
// Test hook (store.h): the number of count statements run.
int64_t g_countQueries = 0;

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
std::vector<Fault> g_faults;

// True, with the status to answer, when this call is one a test planned to fail.
bool planned_failure(const Handle& hd, xio::FaultCall call, int& status) {
    for (Fault& f : g_faults) {
        if (f.remaining == 0 || f.call != call || (!f.abbr.empty() && f.abbr != hd.dict->abbr)) continue;
        if (--f.remaining > 0) continue;
        status = f.status;
        return true;
    }
    return false;
}

int set_error(int status, const std::string& text) {
    g_error = text;
    g_errorUnwritable = false;
    return status;
}

// A file refused because this user may not write it or its folder: in use (7) to every caller,
// as a read-only file always was, but told apart by xio_error_unwritable.
int set_unwritable(const std::string& text) {
    set_error(XIO_LOCKED, text);
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

int db_fail(Handle& hd, int rc) {
    g_error = hd.path.string() + ": " + sqlite3_errmsg(hd.db());
    note_txn_gone(hd);
    return map_sqlite(rc);
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
    g_error = hd.path.string() + ": " + message;
    note_txn_gone(hd);
    return map_sqlite(rc);
}

// An identifier for SQL: in double quotes, each double quote inside doubled.
std::string quote(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string table_of(const RecordDef& r) { return (r.isHeader ? "h" : "r") + std::to_string(r.number); }

bool is_text(uint16_t t) { return xio_is_text_type(t); }
bool is_real(uint16_t t) { return xio_is_number_type(t); }

std::string sql_literal(const FieldDef& f) {
    const auto& v = f.def.defaultValue;
    const uint16_t t = f.def.type;
    if (is_text(t)) {
        std::string out = "'";
        for (char c : v.text) {
            if (c == '\'') out += '\'';
            out += c;
        }
        return out + "'";
    }
    if (is_real(t)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", v.number);
        return buf;
    }
    if (t == XIO_TYPE_LOGICAL) return std::to_string(v.flag ? 1 : 0);
    if (t == XIO_TYPE_DATE) return std::to_string(v.date.year * 10000LL + v.date.month * 100 + v.date.day);
    if (t == XIO_TYPE_TIME) return std::to_string(v.time.hour * 10000LL + v.time.minute * 100 + v.time.second);
    return std::to_string(static_cast<int64_t>(v.number));
}

std::string column_decl(const FieldDef& f) {
    const uint16_t t = f.def.type;
    std::string type = is_text(t) ? "TEXT COLLATE NOCASE" : is_real(t) ? "REAL" : "INTEGER";
    return quote(f.def.name) + " " + type + " NOT NULL DEFAULT " + sql_literal(f);
}

Cell default_cell(const FieldDef& f) {
    Cell c;
    const auto& v = f.def.defaultValue;
    const uint16_t t = f.def.type;
    if (is_text(t)) c.s = v.text;
    else if (is_real(t)) c.d = v.number;
    else if (t == XIO_TYPE_LOGICAL) c.i = v.flag ? 1 : 0;
    else if (t == XIO_TYPE_DATE) c.i = v.date.year * 10000LL + v.date.month * 100 + v.date.day;
    else if (t == XIO_TYPE_TIME) c.i = v.time.hour * 10000LL + v.time.minute * 100 + v.time.second;
    else c.i = static_cast<int64_t>(v.number);
    return c;
}

Cells default_cells(const Dictionary& d, const RecordDef& r) {
    Cells out;
    out.reserve(r.lastField >= r.firstField ? r.lastField - r.firstField + 1u : 0u);
    for (uint16_t n = r.firstField; n <= r.lastField; ++n) out.push_back(default_cell(d.fields[n]));
    return out;
}

// Puts the defaults back into a buffer, its texts keeping their storage (a record's buffer is
// reset for every line of a text file).
inline void reset_cell(Cell& c, const Cell& d) {
    if (d.s.empty()) c.s.clear();
    else AssignText(c.s, d.s);
    c.d = d.d;
    c.i = d.i;
}

void reset_cells(Cells& buf, const Cells& defaults) {
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
void reset_record(RecState& rs) {
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

void bind_cell(sqlite3_stmt* st, int idx, uint16_t type, const Cell& c) {
    if (is_text(type)) sqlite3_bind_text(st, idx, c.s.data(), static_cast<int>(c.s.size()), SQLITE_STATIC);
    else if (is_real(type)) sqlite3_bind_double(st, idx, c.d);
    else sqlite3_bind_int64(st, idx, c.i);
}

CellKind kind_of(uint16_t type) {
    return is_text(type) ? CellKind::Text : is_real(type) ? CellKind::Real : CellKind::Integer;
}

void bind_kind(sqlite3_stmt* st, int idx, CellKind k, const Cell& c) {
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

void InsertPlan::bind(const Cells& cells) {
    const std::size_t n = std::min(cells.size(), kinds_.size());
    bool all = n == kinds_.size();
    for (std::size_t i = 0; i < n; ++i) all = bindAt(cells[i], i) && all;
    complete_ = all;
}

bool InsertPlan::bindListed(const Cells& cells, const uint16_t* listed, std::size_t count) {
    if (!complete_ || cells.size() < kinds_.size()) return false;
    for (std::size_t n = 0; n < count; ++n)
        if (!bindAt(cells[listed[n]], listed[n])) complete_ = false;
    return true;
}

void read_cell(sqlite3_stmt* st, int col, uint16_t type, Cell& c) {
    if (is_text(type)) {
        const unsigned char* p = sqlite3_column_text(st, col);
        c.s.assign(p ? reinterpret_cast<const char*>(p) : "", static_cast<size_t>(sqlite3_column_bytes(st, col)));
    } else if (is_real(type)) {
        c.d = sqlite3_column_double(st, col);
    } else {
        c.i = sqlite3_column_int64(st, col);
    }
}

bool blank_cell(uint16_t type, const Cell& c) {
    if (is_text(type)) return c.s.empty();
    if (is_real(type)) return c.d == 0;
    return c.i == 0;
}

// ---- Schema -------------------------------------------------------------------------------

// A walk's order: the key's fields, then those of the primary key that the key lacks, so that
// records with equal non-unique keys follow their primary keys.
std::vector<uint16_t> order_fields(const RecordDef& r, const std::vector<uint16_t>& keyFields) {
    std::vector<uint16_t> out = keyFields;
    for (uint16_t f : r.primaryKey)
        if (std::find(out.begin(), out.end(), f) == out.end()) out.push_back(f);
    return out;
}

// Runs one statement, prepared on its own: text after the first statement is refused, never run.
int exec(sqlite3* db, const std::string& sql, const std::vector<std::string>& args = {}) {
    check_waited(db);
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st, &tail);
    if (rc != SQLITE_OK) return rc;
    if (!st || (tail && *tail)) {
        sqlite3_finalize(st);
        return SQLITE_MISUSE;
    }
    for (size_t i = 0; i < args.size(); ++i)
        sqlite3_bind_text(st, static_cast<int>(i + 1), args[i].data(), static_cast<int>(args[i].size()), SQLITE_STATIC);
    while ((rc = checked_step(st)) == SQLITE_ROW) {
    }
    sqlite3_finalize(st);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// The statements of a data file's own schema never need these; a file that brings them along
// (a trigger or view in it, an ATTACH smuggled into its schema) is someone else's SQL.
int authorize(void*, int action, const char*, const char*, const char*, const char* triggerOrView) {
    if (triggerOrView) return SQLITE_DENY;  // run on behalf of a trigger or view of the file
    switch (action) {
        case SQLITE_ATTACH:
        case SQLITE_DETACH:
        case SQLITE_CREATE_TRIGGER:
        case SQLITE_CREATE_TEMP_TRIGGER:
        case SQLITE_CREATE_VIEW:
        case SQLITE_CREATE_TEMP_VIEW:
        case SQLITE_CREATE_VTABLE: return SQLITE_DENY;
        default: return SQLITE_OK;
    }
}

// SQLite's own memory statistics take a process-wide mutex on every allocation, and a bulk
// insert allocates for every row; nothing here reads them. Set before SQLite's first use (a
// later call is refused by SQLite and changes nothing).
//
// SQLite allocates a statement's record buffer afresh on every run and frees it at the end, in
// a size that follows the row's; once the heap holds many freed pieces of other sizes (after a
// table of a hundred thousand rows was built and dropped), each such allocation searches them.
// Sizes rounded up to a few classes make the freed buffer the one the next run is given. Pages
// of the page cache (a size of their own, above 4 KB) are left as they are.
constexpr std::size_t sqlite_size_class(std::size_t n) {
    if (n > 4096) return n;
    if (n <= 256) return (n + 31) & ~std::size_t{31};
    std::size_t step = 64;  // an eighth of the power of two below n, at least 64
    while (step * 16 <= n) step *= 2;
    return (n + step - 1) & ~(step - 1);
}
// SQLite serves its small allocations from each connection's lookaside slots; what reaches
// the heap are the larger pieces a statement takes and gives back on every run (a cursor over a
// wide table, a row's record). glibc keeps no quick list for pieces that large, so each one went
// through its general free and search: a thread keeps a few freed pieces of each class up to
// 4 KB and gives them out again. Every piece is still the heap's own (its size, realloc and free
// work as for any other); a thread's pieces go back to the heap when it ends.
constexpr std::size_t kPieceLargest = 4096;
constexpr int kPieceClasses = 40, kPiecesPerClass = 8;

// The classes up to kPieceLargest by (size - 1) / 32: `up`, the class of a request of that
// many bytes (every class is a multiple of 32, so one for the 32 sizes); `down`, by size / 32 - 1,
// the largest class a piece of that many usable bytes serves.
struct PieceClasses {
    std::array<int8_t, kPieceLargest / 32> up{}, down{};
    constexpr PieceClasses() {
        int below = -1;  // the class of the last size seen
        std::size_t last = 0;
        for (std::size_t i = 0; i < up.size(); ++i) {
            const std::size_t size = 32 * (i + 1);
            if (sqlite_size_class(size) == size) ++below, last = size;  // size is a class
            down[i] = static_cast<int8_t>(below);
            up[i] = static_cast<int8_t>(last == size ? below : below + 1);
        }
    }
};
constexpr PieceClasses kPieceClassTable;
static_assert(kPieceClassTable.down.back() < kPieceClasses, "room for every class");

// A thread's kept pieces: plain data, so that every use is a direct access.
struct Pieces {
    void* kept[kPieceClasses][kPiecesPerClass];
    uint8_t count[kPieceClasses];
    bool returnAtEnd;  // the end of the thread hands them back
    bool gone;         // handed back: a piece freed later goes straight to the heap
};
constinit thread_local Pieces t_pieces{};

struct PiecesReturn {
    ~PiecesReturn() {
        t_pieces.gone = true;
        for (int c = 0; c < kPieceClasses; ++c)
            while (t_pieces.count[c]) std::free(t_pieces.kept[c][--t_pieces.count[c]]);
    }
};

void* sqlite_malloc(int n) {
    const auto size = static_cast<std::size_t>(n);
    if (size - 1 < kPieceLargest) {  // 1..kPieceLargest
        const int c = kPieceClassTable.up[(size - 1) / 32];
        if (t_pieces.count[c]) return t_pieces.kept[c][--t_pieces.count[c]];
    }
    return std::malloc(sqlite_size_class(size));
}
void sqlite_free(void* p) {
    if (!p) return;
    const std::size_t usable = malloc_usable_size(p);
    // Not a piece far larger than any class: kept, it would hold its memory for a small request.
    if (usable >= 32 && usable <= kPieceLargest + 32 && !t_pieces.gone) {
        const int c = kPieceClassTable.down[std::min(usable, kPieceLargest) / 32 - 1];
        if (t_pieces.count[c] < kPiecesPerClass) {
            if (!t_pieces.returnAtEnd) {
                t_pieces.returnAtEnd = true;
                static thread_local PiecesReturn handBack;
                (void)handBack;
            }
            t_pieces.kept[c][t_pieces.count[c]++] = p;
            return;
        }
    }
    std::free(p);
}
void* sqlite_realloc(void* p, int n) { return std::realloc(p, sqlite_size_class(static_cast<std::size_t>(n))); }
int sqlite_size(void* p) { return p ? static_cast<int>(malloc_usable_size(p)) : 0; }
int sqlite_roundup(int n) { return static_cast<int>(sqlite_size_class(static_cast<std::size_t>(n))); }
int sqlite_mem_init(void*) { return SQLITE_OK; }
void sqlite_mem_shutdown(void*) {}

void configure_sqlite_once() {
    static const bool configured = [] {
        static const sqlite3_mem_methods methods = {sqlite_malloc, sqlite_free,     sqlite_realloc,      sqlite_size,
                                                    sqlite_roundup, sqlite_mem_init, sqlite_mem_shutdown, nullptr};
        sqlite3_config(SQLITE_CONFIG_MALLOC, &methods);
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        return true;
    }();
    (void)configured;
}

// Every connection treats the file as input from someone else: defensive mode (no writes to the
// schema tables, no journal or page tricks), no functions or virtual tables of the file's schema
// trusted, no triggers or views run, and the authorizer above.
int harden(sqlite3* db) {
    int rc = sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_set_authorizer(db, authorize, nullptr);
    if (rc == SQLITE_OK) rc = exec(db, "PRAGMA trusted_schema=OFF");
    // A name in double quotes is a column and nothing else: otherwise a column missing from a
    // damaged file would read as a text holding its own name.
    if (rc == SQLITE_OK) rc = sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    return rc;
}

// Texts compared as SQLite's own NOCASE compares them, to the same sign: ASCII letters without
// regard to case, the first zero byte ending the comparison of the common length, then the
// longer text after the shorter. An index is made at a commit by sorting its keys with this
// comparison, millions of calls, mostly on short texts: eight equal bytes without a zero are
// passed over at a time, and a byte costs a look at its case only where the two differ.
int nocase_texts(void*, int n1, const void* k1, int n2, const void* k2) {
    const auto* a = static_cast<const unsigned char*>(k1);
    const auto* b = static_cast<const unsigned char*>(k2);
    if (!a || !b) return !a ? (b ? -1 : n1 - n2) : 1;
    int n = n1 < n2 ? n1 : n2;
    static_assert(std::endian::native == std::endian::little, "the first byte of a word is its lowest");
    constexpr uint64_t kLow = 0x0101'0101'0101'0101u, kHigh = 0x8080'8080'8080'8080u;
    for (; n >= 8; n -= 8, a += 8, b += 8) {
        uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        // The lowest bit set marks the first byte that differs or is zero (exactly: a borrow
        // only runs on past a zero byte). The bytes before it are passed over.
        const uint64_t stop = (x ^ y) | ((x - kLow) & ~x & kHigh);
        if (stop != 0) {
            const int same = std::countr_zero(stop) / 8;
            n -= same, a += same, b += same;
            break;
        }
    }
    for (int i = 0; i < n; ++i) {
        const unsigned char ca = a[i], cb = b[i];
        if (ca == cb) {
            if (ca == 0) break;
            continue;
        }
        // A zero byte in the first text differs from the other's byte in any case.
        const int la = ca >= 'A' && ca <= 'Z' ? ca + ('a' - 'A') : ca;
        const int lb = cb >= 'A' && cb <= 'Z' ? cb + ('a' - 'A') : cb;
        if (la != lb) return la - lb;
    }
    return n1 - n2;
}

// Has the connection make NOCASE indexes with nocase_texts: the same order, so the same index.
int use_nocase_texts(sqlite3* db) {
    return sqlite3_create_collation_v2(db, "NOCASE", SQLITE_UTF8, nullptr, nocase_texts, nullptr);
}

// The name SQLite is handed for a file: absolute, so that a folder named like "file:..." is never
// read as a URI.
std::string sqlite_name(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(path, ec);
    if (ec || abs.empty()) return "./" + path.string();
    return abs.string();
}

// Names of the indexes this library makes: dzk_r<N>_0, dzk_<K>, dzk_<K>_u.
bool own_index_name(std::string_view n) {
    auto digits = [](std::string_view t) {
        return !t.empty() && t.size() <= 5 && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (n.substr(0, 4) != "dzk_") return false;
    n.remove_prefix(4);
    if (n.size() > 3 && n[0] == 'r' && n.substr(n.size() - 2) == "_0") return digits(n.substr(1, n.size() - 3));
    if (n.size() > 2 && n.substr(n.size() - 2) == "_u") return digits(n.substr(0, n.size() - 2));
    return digits(n);
}

std::string index_sql(const Dictionary& d, const std::string& name, const RecordDef& r, const std::vector<uint16_t>& fields,
                      bool unique, const std::string& where) {
    std::string cols;
    for (uint16_t f : fields) cols += (cols.empty() ? "" : ", ") + quote(d.fields[f].def.name);  // index: real columns
    return std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + quote(name) + " ON " + quote(table_of(r)) + "(" +
           cols + ")" + where;
}

std::vector<IndexSpec> dictionary_index_specs(const Dictionary& d) {
    std::vector<IndexSpec> out;
    for (const auto& r : d.records) {
        const std::string name = "dzk_r" + std::to_string(r.number) + "_0";
        out.push_back({name, index_sql(d, name, r, r.primaryKey, true, ""), true, r.number, 0, r.primaryKey, false});
    }
    for (const auto& k : d.keys) {
        const RecordDef& r = *d.record(k.def.record);
        const std::string name = "dzk_" + std::to_string(k.def.number);
        const uint16_t kn = k.def.number;
        if (k.def.unique && k.def.blankAllowed) {
            std::string where;
            for (uint16_t f : k.def.fields) {
                const auto& fd = d.fields[f].def;
                where += (where.empty() ? "" : " AND ") + quote(fd.name) + (is_text(fd.type) ? " = ''" : " = 0");
            }
            out.push_back({name + "_u", index_sql(d, name + "_u", r, k.def.fields, true, " WHERE NOT (" + where + ")"),
                           true, r.number, kn, k.def.fields, true});
            out.push_back({name, index_sql(d, name, r, order_fields(r, k.def.fields), false, ""), false, r.number, kn, {}, false});
        } else if (k.def.unique) {
            out.push_back({name, index_sql(d, name, r, k.def.fields, true, ""), true, r.number, kn, k.def.fields, false});
        } else {
            out.push_back({name, index_sql(d, name, r, order_fields(r, k.def.fields), false, ""), false, r.number, kn, {}, false});
        }
    }
    return out;
}
std::vector<std::pair<std::string, std::string>> dictionary_indexes(const Dictionary& d) {
    std::vector<std::pair<std::string, std::string>> out;
    for (auto& i : dictionary_index_specs(d)) out.emplace_back(i.name, i.create);
    return out;
}

// A file written to must keep its keys unique whatever was done to it: every unique index of
// the dictionary must stand as the dictionary makes it. The ones that do not (dropped, or
// changed), or none; rc receives a failed query's code.
std::vector<IndexSpec> unique_indexes_astray(sqlite3* db, const Dictionary& d, int& rc) {
    std::vector<IndexSpec> astray;
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE type='index' AND name=?1", -1, &st, nullptr);
    if (rc != SQLITE_OK) return astray;
    for (IndexSpec& i : dictionary_index_specs(d)) {
        if (!i.unique) continue;
        checked_reset(st);
        sqlite3_bind_text(st, 1, i.name.c_str(), -1, SQLITE_TRANSIENT);
        rc = checked_step(st);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) break;
        const unsigned char* p = rc == SQLITE_ROW ? sqlite3_column_text(st, 0) : nullptr;
        rc = SQLITE_OK;
        if (!p || i.create != reinterpret_cast<const char*>(p)) astray.push_back(std::move(i));
    }
    sqlite3_finalize(st);
    return astray;
}

// The columns of a table, in capitals; none when the table is not there.
std::set<std::string> table_columns(sqlite3* db, const std::string& table) {
    std::set<std::string> cols;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, ("PRAGMA table_info(" + quote(table) + ")").c_str(), -1, &st, nullptr) == SQLITE_OK)
        while (checked_step(st) == SQLITE_ROW) {
            const unsigned char* p = sqlite3_column_text(st, 1);
            std::string c = p ? reinterpret_cast<const char*>(p) : "";
            for (auto& ch : c) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            cols.insert(c);
        }
    sqlite3_finalize(st);
    return cols;
}

// Brings the tables and indexes of a database to the dictionary (inside the caller's transaction).
int ensure_schema(sqlite3* db, const Dictionary& d, uint16_t fileNo) {
    std::vector<std::string> sql = {
        "CREATE TABLE IF NOT EXISTS dz_meta(name TEXT PRIMARY KEY, value TEXT)",
        "CREATE TABLE IF NOT EXISTS dz_notes(rec INTEGER, keytext TEXT, text TEXT, PRIMARY KEY(rec, keytext))"};
    auto columns_of = [&](const std::string& table) { return table_columns(db, table); };
    for (const auto* list : {&d.records, &d.headers})
        for (const auto& r : *list) {
            const std::string table = table_of(r);
            auto existing = columns_of(table);
            if (existing.empty()) {
                std::string cols = r.isHeader ? "id INTEGER PRIMARY KEY" : "";
                for (uint16_t n = r.firstField; n <= r.lastField; ++n)
                    cols += (cols.empty() ? "" : ", ") + column_decl(d.fields[n]);
                sql.push_back("CREATE TABLE " + quote(table) + "(" + cols + ")");
            } else {
                for (uint16_t n = r.firstField; n <= r.lastField; ++n)
                    if (!existing.count(d.fields[n].def.name))
                        sql.push_back("ALTER TABLE " + quote(table) + " ADD COLUMN " + column_decl(d.fields[n]));
            }
            if (r.isHeader) {
                std::string cols = "id", vals = "1";
                for (uint16_t n = r.firstField; n <= r.lastField; ++n) {
                    cols += ", " + quote(d.fields[n].def.name);
                    vals += ", " + sql_literal(d.fields[n]);
                }
                sql.push_back("INSERT OR IGNORE INTO " + quote(table) + "(" + cols + ") VALUES(" + vals + ")");
            }
        }
    for (const std::string& s : sql)
        if (int rc = exec(db, s); rc != SQLITE_OK) return rc;
    sql.clear();
    // Indexes are rebuilt from the dictionary. Only names this library makes are dropped, and
    // only as quoted identifiers: a name in the file is never part of the SQL text.
    {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='index' AND name LIKE 'dzk\\_%' ESCAPE '\\'", -1,
                           &st, nullptr);
        while (st && checked_step(st) == SQLITE_ROW) {
            const unsigned char* p = sqlite3_column_text(st, 0);
            const std::string name = p ? reinterpret_cast<const char*>(p) : "";
            if (own_index_name(name)) sql.push_back("DROP INDEX IF EXISTS " + quote(name));
        }
        sqlite3_finalize(st);
    }
    for (const auto& [name, create] : dictionary_indexes(d)) sql.push_back(create);
    for (const std::string& s : sql)
        if (int rc = exec(db, s); rc != SQLITE_OK) return rc;
    const std::pair<const char*, std::string> meta[] = {
        {"format", "dodedoz-datafile"}, {"abbr", d.abbr}, {"file_no", std::to_string(fileNo)}, {"dictionary", std::to_string(d.version)}};
    for (const auto& [name, value] : meta)
        if (int rc = exec(db, "INSERT OR REPLACE INTO dz_meta VALUES(?1, ?2)", {name, value}); rc != SQLITE_OK) return rc;
    return SQLITE_OK;
}

int create_file(const Dictionary& d, uint16_t fileNo, const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return set_error(XIO_LOCKED, path.string() + " already exists");
    // A folder this user may not write in, said as such (a missing one fails below as it did).
    if (!folder_writable(path) && (errno == EACCES || errno == EROFS || errno == EPERM))
        return set_unwritable(path.string() + " cannot be made: its folder cannot be written");
    // Built aside and renamed, so that a data file is never seen half made.
    const std::filesystem::path tmp = path.string() + ".creating";
    std::filesystem::remove(tmp, ec);
    std::filesystem::remove(tmp.string() + "-journal", ec);
    // Made here, empty, so that its permissions are those of any new file of this user (0666
    // past the umask): the library's own would leave out the group's write, and the other
    // users of a company shared by a group could not convert into it.
    if (const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666); fd >= 0)
        ::close(fd);
    sqlite3* db = nullptr;
    configure_sqlite_once();
    int rc = sqlite3_open_v2(sqlite_name(tmp).c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) rc = harden(db);
    if (rc == SQLITE_OK) rc = exec(db, "PRAGMA journal_mode=DELETE");
    if (rc == SQLITE_OK) rc = exec(db, "BEGIN");
    if (rc == SQLITE_OK) rc = ensure_schema(db, d, fileNo);
    if (rc == SQLITE_OK) rc = exec(db, "COMMIT");
    std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    if (rc != SQLITE_OK) {
        std::filesystem::remove(tmp, ec);
        int st = map_sqlite(rc);
        return set_error(st == XIO_DUPLICATE ? XIO_IO_ERROR : st, path.string() + ": " + msg);
    }
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        return set_error(XIO_IO_ERROR, path.string() + ": " + ec.message());
    }
    return XIO_OK;
}

// Ends a transaction that has only read (nothing to keep or undo).
void end_read_txn(Conn& c) {
    if (!c.readTxn) return;
    if (exec(c.db(), "COMMIT") != SQLITE_OK) exec(c.db(), "ROLLBACK");
    c.inTxn = false;
    c.readTxn = false;
    ++c.txnSerial;
}

// Between xio_start_writes and the commit, the reads of a handle run in one transaction, even
// when nothing is written (Examine Files). The file is in use by the conversion anyway: another
// program's writes wait for the commit as they do for a conversion's writes. A file that several
// programs write at once is left alone.
void hold_reads(Handle& hd) {
    Conn& c = *hd.conn;
    if (c.inTxn || !hd.writesStarted || hd.dict->multiUser) return;
    if (exec(c.db(), "BEGIN") != SQLITE_OK) return;  // the reads then lock one by one as before
    c.inTxn = true;
    c.readTxn = true;
    ++c.readTxnSerial;
    ++c.txnSerial;
}

// True when record type `rs` is known to have no rows. Only a read transaction can tell: while
// it holds the file nothing changes it (another program's writes wait, and a write of this
// program ends the read transaction first), so a record type found without rows stays without
// them. Examine Files of a text file into a new data file then looks up none of its records.
bool known_empty(Handle& hd, RecState& rs) {
    Conn& c = *hd.conn;
    if (!c.readTxn) return false;
    if (rs.probedInReadTxn != c.readTxnSerial) {
        rs.probedInReadTxn = c.readTxnSerial;
        sqlite3_stmt* st = hd.stmt("SELECT 1 FROM " + table_of(*rs.def) + " LIMIT 1");
        rs.emptyInReadTxn = st && checked_step(st) == SQLITE_DONE;
        if (st) checked_reset(st);
    }
    return rs.emptyInReadTxn;
}

// ---- Bulk loads ---------------------------------------------------------------------------
//
// A conversion into an empty file adds its records one by one in the order of the text file.
// Keeping every index up to date costs a search per index and row, in key orders far from the
// order the rows come in; building an index once over the whole table sorts instead. So when a
// table was empty at its first insert of a write transaction and more than kBulkMinRows rows go
// into it, its indexes are set aside (dropped, inside the transaction) and made again before
// anything else looks at the table: a keyed read, a walk, a count, a replace or a delete, and
// before the commit. Meanwhile hashes of the rows' key values stand in for the unique
// indexes: a new row whose hash is absent cannot be a duplicate; a row whose hash is present
// (a duplicate, or rarely another value with the same hash) has the indexes made again first,
// and the real index decides. A keyed read of a unique key whose hash is absent is answered
// "not found" without them. Everything happens inside the transaction, so a process that dies
// leaves the file as it was before it, indexes included (the journal covers the drops and the
// builds), and an index that cannot be built (a full disk) fails the commit like any write.

constexpr int64_t kBulkMinRows = 4096;
// While a table of the connection is bulk loaded, its rows only go onto the end of the table
// (its indexes are set aside), which needs a few pages and no cache: 4 MB then keeps the peak of
// a million-record load some 28 MB lower for every file so written, in the same time.
constexpr const char* kLoadPageCache = "PRAGMA cache_size=-4096";
// Hashes held by all bulk loads together (6 bytes each, at most 48 MB with the table's free
// slots): past this the table's indexes are made again and the load goes on through them.
constexpr std::size_t kBulkMaxHashes = 6'000'000;
std::size_t g_bulkHashes = 0;

KeyHashes::~KeyHashes() { g_bulkHashes -= size_; }

constexpr std::size_t kHugePage = std::size_t{2} << 20;

uint16_t* KeyHashes::HugeAllocator::allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(uint16_t);
    if (bytes < 2 * kHugePage) return static_cast<uint16_t*>(::operator new(bytes));
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) throw std::bad_alloc();
    (void)madvise(p, rounded, MADV_HUGEPAGE);  // advice only: ordinary pages serve as well
    return static_cast<uint16_t*>(p);
}

void KeyHashes::HugeAllocator::deallocate(uint16_t* p, std::size_t n) {
    if (n * sizeof(uint16_t) < 2 * kHugePage) ::operator delete(p);
    else std::free(p);
}

void KeyHashes::reserve(std::size_t count) {
    std::size_t newCapacity = capacity() ? capacity() : 1024;
    while (count * 4 > newCapacity * 3) newCapacity *= 2;
    if (newCapacity == capacity()) return;
    auto old = std::move(slots_);
    auto oldRows = std::move(rows_);
    const std::size_t oldCapacity = old.size() / 3;
    slots_.assign(3 * newCapacity, 0);
    if (keepRows_) rows_.assign(capacity(), 0);
    const std::size_t mask = capacity() - 1;
    for (std::size_t n = 0; n < oldCapacity; ++n) {
        const uint16_t* p = &old[n * 3];
        const uint64_t v = p[0] | uint64_t{p[1]} << 16 | uint64_t{p[2]} << 32;
        if (v == 0) continue;
        std::size_t i = v & mask;
        while (at(i) != 0) i = (i + 1) & mask;
        set(i, v);
        if (keepRows_) rows_[i] = oldRows[n];
    }
}

bool KeyHashes::put(uint64_t h, int64_t row) {
    const std::size_t mask = capacity() - 1;
    std::size_t i = h & mask;
    for (uint64_t v; (v = at(i)) != 0; i = (i + 1) & mask)
        if (v == h) {
            if (keepRows_) rows_[i] = kNoRow;  // two rows claim it: neither can be found by it
            return false;
        }
    set(i, h);
    if (keepRows_) rows_[i] = rowid(row);
    return true;
}

void KeyHashes::insert(uint64_t h, int64_t row) {
    place();
    reserve(size_ + 1);
    if (!put(kept(h), row)) return;
    ++size_;
    ++g_bulkHashes;
}

void KeyHashes::addNew(uint64_t h, int64_t row) {
    if (keepRows_) return insert(h, row);
    // A few thousand at a time: the waits overlap as well, and the memory stays the table's.
    constexpr std::size_t kMaxWaiting = 4096;
    if (waiting_.size() == kMaxWaiting) placeWaiting();
    waiting_.push_back(kept(h));
    ++size_;
    ++g_bulkHashes;
}

void KeyHashes::placeWaiting() {
    reserve(size_);
    const std::size_t mask = capacity() - 1;
    // The slots are asked of memory a few hashes ahead, so that the waits overlap.
    constexpr std::size_t kAhead = 16;
    for (std::size_t n = 0; n < waiting_.size(); ++n) {
        if (n + kAhead < waiting_.size()) __builtin_prefetch(&slots_[(waiting_[n + kAhead] & mask) * 3], 1);
        if (!put(waiting_[n], 0)) {  // another key with the same hash is held
            --size_;
            --g_bulkHashes;
        }
    }
    waiting_.clear();
}

// A byte as a NOCASE index compares it: only ASCII letters have a case.
inline unsigned char nocase_byte(char ch) {
    const auto b = static_cast<unsigned char>(ch);
    return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
}

// Up to eight bytes of a text as one word, the first the lowest; the bytes past `n` are zero.
inline uint64_t text_word(const char* p, std::size_t n) {
    uint64_t x = 0;
    if (n >= 8) {
        std::memcpy(&x, p, 8);
    } else if (n >= 4) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + n - 4, 4);  // overlaps lo but for its last n - 4 bytes
        x = lo | (uint64_t{hi} >> (8 * (8 - n)) << 32);
    } else if (n > 0) {
        const auto at = [p](std::size_t i) { return uint64_t{static_cast<unsigned char>(p[i])}; };
        x = at(0) | at(n >> 1) << (8 * (n >> 1)) | at(n - 1) << (8 * (n - 1));
    }
    return x;
}

// The word with its ASCII capitals lowered (as nocase_byte lowers a byte), other bytes as they are.
inline uint64_t lower_word(uint64_t x) {
    constexpr uint64_t kLow = 0x0101'0101'0101'0101u, kHigh = 0x8080'8080'8080'8080u;
    const uint64_t low7 = x & ~kHigh;
    const uint64_t fromA = low7 + kLow * (0x80 - 'A');      // high bit: at least 'A'
    const uint64_t pastZ = low7 + kLow * (0x80 - 'Z' - 1);  // high bit: past 'Z'
    return x | (fromA & ~pastZ & ~x & kHigh) >> 2;         // 0x80 >> 2 is the case bit
}

// The hash of a key's values in the buffer as the unique index compares them: texts without
// regard to ASCII letter case, numbers by value. `allBlank` tells whether every value is blank.
// Every row of a bulk load passes here once a unique key: the values are mixed in eight bytes
// at a time, without a copy.
uint64_t key_hash(const Dictionary& d, const RecordDef& r, const Cells& buf, const std::vector<uint16_t>& fields,
                  bool& allBlank) {
    static_assert(std::endian::native == std::endian::little, "the first byte of a word is its lowest");
    uint64_t h = 0x9E37'79B9'7F4A'7C15u;
    const auto mix = [&h](uint64_t w) { h = std::rotl((h ^ w) * 0xC2B2'AE3D'27D4'EB4Fu, 31); };
    allBlank = true;
    for (uint16_t f : fields) {
        const uint16_t t = d.fields[f].def.type;
        const Cell& c = buf[f - r.firstField];
        allBlank = allBlank && blank_cell(t, c);
        if (is_text(t)) {
            mix(c.s.size());  // the length keeps values apart
            for (std::size_t at = 0; at < c.s.size(); at += 8) mix(lower_word(text_word(c.s.data() + at, c.s.size() - at)));
        } else if (is_real(t)) {
            const double v = c.d == 0 ? 0.0 : c.d;  // -0 equals 0
            mix(std::bit_cast<uint64_t>(v));
        } else {
            mix(static_cast<uint64_t>(c.i));
        }
    }
    // The bits of every value reach the low ones, which place the hash in its table.
    h ^= h >> 33;
    h *= 0xFF51'AFD7'ED55'8CCDu;
    h ^= h >> 33;
    h *= 0xC4CE'B9FE'1A85'EC53u;
    h ^= h >> 33;
    return h ? h : 1;  // 0 marks a value left out
}

// Whether the key's values in the buffer come after `top` (values of the same key fields) in an
// order in which values the unique index holds equal are equal: texts by their bytes without
// regard to ASCII letter case (the order of the index itself), numbers by value. A key above
// the highest key held equals none of them.
bool key_above(const Dictionary& d, const RecordDef& r, const Cells& buf, const std::vector<uint16_t>& fields,
               const Cells& top) {
    for (std::size_t n = 0; n < fields.size(); ++n) {
        const uint16_t t = d.fields[fields[n]].def.type;
        const Cell& c = buf[fields[n] - r.firstField];
        const Cell& m = top[n];
        if (is_text(t)) {
            const std::size_t common = std::min(c.s.size(), m.s.size());
            // Keys in order share their leading bytes: equal ones are passed over as they are.
            std::size_t i = 0;
            while (i + 8 <= common && std::memcmp(c.s.data() + i, m.s.data() + i, 8) == 0) i += 8;
            for (; i < common; ++i) {
                if (c.s[i] == m.s[i]) continue;
                const unsigned char a = nocase_byte(c.s[i]), b = nocase_byte(m.s[i]);
                if (a != b) return a > b;
            }
            if (c.s.size() != m.s.size()) return c.s.size() > m.s.size();
        } else if (is_real(t)) {
            if (c.d > m.d) return true;
            if (!(c.d == m.d)) return false;  // below, or not a number: not known to be above
        } else if (c.i != m.i) {
            return c.i > m.i;
        }
    }
    return false;  // the same key
}

// The page cache the connection's bulk loads call for: the small one while any table loads.
void bulk_page_cache(Conn& c) {
    bool loading = false;
    for (const auto& [rec, bt] : c.bulk) loading = loading || bt.state == BulkTable::State::Loading;
    if (loading == c.loadCache) return;
    c.loadCache = loading;
    exec(c.db(), loading ? kLoadPageCache : kPageCache);
}

BulkTable* bulk_of(Conn& c, uint16_t rec) {
    auto it = c.bulk.find(rec);
    return it == c.bulk.end() || it->second.state != BulkTable::State::Loading ? nullptr : &it->second;
}

// A load whose indexes all stand again ends: its rows go through them from now on.
void end_load(BulkTable& bt) {
    bt.state = BulkTable::State::Off;
    bt.uniques.clear();
}

// What an index of `rec` that could not be made answers (`rc`, SQLite's `message`).
int bulk_settle_failed(Handle& hd, uint16_t rec, int rc, std::string message) {
    bulk_page_cache(*hd.conn);
    if ((rc & 0xff) == SQLITE_LOCKED && !sqlite3_get_autocommit(hd.db())) return XIO_OK;
    g_error = hd.path.string() + ": " + message + " (making the indexes of " + table_of(*hd.recs[rec].def) + ")";
    note_txn_gone(hd);
    return map_sqlite(rc);
}

// Takes the outcome of the index builds xio_start_commit handed to the writer, once it has
// made them: the loads whose indexes all stand end, as bulk_settle ends them; a build that
// failed answers as it would have there, and what it left set aside stays so.
int take_index_job(Handle& hd) {
    Conn& c = *hd.conn;
    IndexJob& job = c.indexJob;
    if (!job.handedOver) return XIO_OK;
    c.waitWriter();
    job.handedOver = false;
    uint16_t failedRec = 0;
    for (IndexJob::Table& t : job.tables) {
        BulkTable* bt = bulk_of(c, t.rec);
        if (!bt) continue;
        for (std::size_t n = 0; n < t.made && !bt->setAside.empty(); ++n) bt->setAside.pop_back();
        if (bt->setAside.empty()) {
            end_load(*bt);
        } else if (failedRec == 0) {
            failedRec = t.rec;
        }
    }
    const int rc = job.rc;
    std::string message = std::move(job.message);
    job = IndexJob{};
    c.loadCache = false;  // the builds ran in the small cache and left the full one
    if (rc == SQLITE_OK || failedRec == 0) {
        bulk_page_cache(c);
        return XIO_OK;
    }
    return bulk_settle_failed(hd, failedRec, rc, std::move(message));
}

// Makes the indexes of `rec` that a bulk load set aside again; the load ends. A failure leaves
// those not yet made set aside (the hashes keep guarding), to be tried again by the next use
// or the commit. An index that cannot be made while a walk of this file is under way
// (SQLITE_LOCKED) is no failure: reads are right without it, only slower.
int bulk_settle(Handle& hd, uint16_t rec) {
    if (int s = take_index_job(hd); s != XIO_OK) return s;
    BulkTable* bt = bulk_of(*hd.conn, rec);
    if (!bt) return XIO_OK;
    exec(hd.db(), index_build_cache());
    hd.conn->loadCache = false;
    int rc = SQLITE_OK;
    while (!bt->setAside.empty()) {
        rc = exec(hd.db(), bt->setAside.back().create);
        if (rc != SQLITE_OK) break;
        bt->setAside.pop_back();
    }
    exec(hd.db(), kPageCache);
    if (rc == SQLITE_OK) {
        end_load(*bt);
        bulk_page_cache(*hd.conn);
        return XIO_OK;
    }
    return bulk_settle_failed(hd, rec, rc, sqlite3_errmsg(hd.db()));
}

// For a write that changes or may clash with the rows of `rec`: its indexes must stand.
int bulk_settle_for_write(Handle& hd, uint16_t rec) {
    if (int s = bulk_settle(hd, rec); s != XIO_OK) return s;
    if (bulk_of(*hd.conn, rec)) return set_error(XIO_LOCKED, hd.path.string() + " is in use: its indexes cannot be made now");
    return XIO_OK;
}

int bulk_settle_all(Handle& hd) {
    for (auto& [rec, bt] : hd.conn->bulk)
        if (int s = bulk_settle(hd, rec); s != XIO_OK) return s;
    return XIO_OK;
}

// The bulk load a new row of `rs` goes into, or nullptr: the table's first insert of the
// transaction decides whether there is one; a row whose key hash is held already, or one past
// the budget, ends it (its indexes are made again and take the row).
int bulk_admit(Handle& hd, RecState& rs, BulkTable*& out) {
    out = nullptr;
    Conn& c = *hd.conn;
    if (!hd.writesStarted || !c.inTxn || c.readTxn || hd.dict->multiUser) return XIO_OK;
    const uint16_t rec = rs.def->number;
    auto it = c.bulk.find(rec);
    if (it == c.bulk.end()) {
        sqlite3_stmt* st = hd.stmt("SELECT 1 FROM " + table_of(*rs.def) + " LIMIT 1");
        const bool empty = st && checked_step(st) == SQLITE_DONE;
        if (st) checked_reset(st);
        BulkTable& bt = c.bulk[rec];
        bt.state = empty ? BulkTable::State::Watching : BulkTable::State::Off;
        if (empty)
            for (IndexSpec& i : dictionary_index_specs(*hd.dict))
                if (i.record == rec && i.unique) bt.uniques.push_back({i.key, i.fields, i.blanksOut, {}, {}, false});
        it = c.bulk.find(rec);
    }
    BulkTable& bt = it->second;
    if (bt.state == BulkTable::State::Off) return XIO_OK;
    bool held = g_bulkHashes + bt.uniques.size() > kBulkMaxHashes;
    bt.pending.clear();
    bt.above.clear();
    for (auto& u : bt.uniques) {
        bool allBlank = false;
        const uint64_t h = key_hash(*hd.dict, *rs.def, rs.buf, u.fields, allBlank);
        bt.pending.push_back(u.blanksOut && allBlank ? 0 : h);
        // A key above every key held needs no look-up among them.
        const bool above = u.hasTop ? key_above(*hd.dict, *rs.def, rs.buf, u.fields, u.top) : u.seen.size() == 0;
        bt.above.push_back(above);
        held = held || (bt.pending.back() != 0 && !above && u.seen.contains(h));
    }
    if (held) {
        if (bt.state == BulkTable::State::Watching) {
            bt.state = BulkTable::State::Off;  // the indexes are still there
            bt.uniques.clear();
            return XIO_OK;
        }
        return bulk_settle_for_write(hd, rec);
    }
    out = &bt;
    return XIO_OK;
}

// After a row went into a bulk load: its hashes are kept, and past kBulkMinRows rows the
// table's indexes are set aside. An index that cannot be dropped stays (and keeps working).
int bulk_added(Handle& hd, RecState& rs, BulkTable& bt) {
    bt.lastRow = rs.current;
    for (std::size_t i = 0; i < bt.uniques.size(); ++i) {
        if (bt.pending[i] == 0) continue;
        BulkTable::Unique& u = bt.uniques[i];
        if (!bt.above[i]) {
            u.seen.insert(bt.pending[i], rs.current);
            continue;
        }
        u.seen.addNew(bt.pending[i], rs.current);
        u.top.resize(u.fields.size());
        for (std::size_t n = 0; n < u.fields.size(); ++n) u.top[n] = rs.buf[u.fields[n] - rs.def->firstField];
        u.hasTop = true;
    }
    if (bt.state != BulkTable::State::Watching || ++bt.rows <= kBulkMinRows) return XIO_OK;
    bt.state = BulkTable::State::Loading;
    bulk_page_cache(*hd.conn);
    for (IndexSpec& i : dictionary_index_specs(*hd.dict)) {
        if (i.record != rs.def->number) continue;
        const int rc = exec(hd.db(), "DROP INDEX " + quote(i.name));
        if (rc != SQLITE_OK) {
            if (sqlite3_get_autocommit(hd.db())) return db_fail(hd, rc);  // the transaction is gone
            break;
        }
        bt.setAside.push_back(std::move(i));
    }
    return XIO_OK;
}

// A keyed read of `key` that a bulk load of `rs` can answer: true when the buffer's value is
// certainly not on file.
bool bulk_absent(Handle& hd, RecState& rs, uint16_t key) {
    BulkTable* bt = bulk_of(*hd.conn, rs.def->number);
    if (!bt) return false;
    for (auto& u : bt->uniques) {
        if (u.key != key) continue;
        bool allBlank = false;
        const uint64_t h = key_hash(*hd.dict, *rs.def, rs.buf, u.fields, allBlank);
        if (u.blanksOut && allBlank) return false;
        if (u.hasTop ? key_above(*hd.dict, *rs.def, rs.buf, u.fields, u.top) : u.seen.size() == 0) return true;
        return !u.seen.contains(h);
    }
    return false;
}

// The rowids of a load's primary-key hashes are kept from the first read of that key on (most
// loads are never so read, and the rowids of a million rows cost 8 MB); the rows added before
// it are the whole table (it was empty), read once for theirs. A row not given its rowid here
// (a failed read) is left to the indexes, so the answer stays exact either way.
void bulk_keep_rows(Handle& hd, RecState& rs, BulkTable::Unique& u) {
    u.seen.keepRows();
    const RecordDef& r = *rs.def;
    std::string sql = "SELECT rowid";
    for (uint16_t f : u.fields) sql += ", " + hd.col(f);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(hd.db(), (sql + " FROM " + table_of(r)).c_str(), -1, &st, nullptr) == SQLITE_OK) {
        Cells buf = rs.buf;  // the record's cells; the key's are read into it row by row
        while (checked_step(st) == SQLITE_ROW) {
            for (std::size_t i = 0; i < u.fields.size(); ++i)
                read_cell(st, static_cast<int>(i + 1), hd.dict->fields[u.fields[i]].def.type,
                          buf[u.fields[i] - r.firstField]);
            bool allBlank = false;
            u.seen.setRow(key_hash(*hd.dict, r, buf, u.fields, allBlank), sqlite3_column_int64(st, 0));
        }
    }
    sqlite3_finalize(st);
}

// A keyed read of the primary key that a bulk load of `rs` can find without the table's
// indexes: the rowid of the one row added with the buffer's key hash, or 0. Only that row can
// hold the key (a second row with the same hash ends the load), so the caller compares its key
// with the buffer's and has the answer either way.
int64_t bulk_row(Handle& hd, RecState& rs) {
    BulkTable* bt = bulk_of(*hd.conn, rs.def->number);
    if (!bt) return 0;
    for (auto& u : bt->uniques) {
        if (u.key != 0) continue;
        if (!u.seen.keepsRows()) bulk_keep_rows(hd, rs, u);
        bool allBlank = false;
        return u.seen.row(key_hash(*hd.dict, *rs.def, rs.buf, u.fields, allBlank));
    }
    return 0;
}

// ---- Opening ------------------------------------------------------------------------------

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

// An older file opened read-only is read as it is: a field it lacks reads as its default. A
// table it lacks cannot be read that way; such a file is refused until a conversion upgrades it.
int read_older(Handle& hd) {
    const Dictionary& d = *hd.dict;
    for (const auto* list : {&d.records, &d.headers})
        for (const auto& r : *list) {
            const std::set<std::string> have = table_columns(hd.db(), table_of(r));
            if (have.empty())
                return set_error(XIO_CORRUPT, hd.path.string() +
                                                  " was written by an older version of the program and cannot be read "
                                                  "as it is; a conversion will upgrade it");
            for (uint16_t n = r.firstField; n <= r.lastField; ++n) {
                const FieldDef& f = d.fields[n];
                if (have.count(f.def.name)) continue;
                // CAST keeps a number from being read as a column position in ORDER BY.
                const uint16_t t = f.def.type;
                hd.cols[n] = is_text(t) ? "(" + sql_literal(f) + " COLLATE NOCASE)"
                                        : "CAST(" + sql_literal(f) + (is_real(t) ? " AS REAL)" : " AS INTEGER)");
            }
        }
    return XIO_OK;
}

// Is the file in write-ahead-log mode (its header's two format bytes are 2)? This program makes
// its files with a journal that is removed after each write; a file put in that mode elsewhere
// would have even a look leave two files beside it.
bool wal_mode_file(const std::filesystem::path& path) {
    unsigned char head[20] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    return got == static_cast<ssize_t>(sizeof head) && (head[18] == 2 || head[19] == 2);
}

// What a file of the dictionary's own version lacks that every such file holds: a table, a
// column, a header's record. Empty when nothing is missing. A file missing any of them was
// damaged, and read as it is its records or settings would silently come out empty.
std::string missing_schema(Handle& hd, bool columns) {
    const Dictionary& d = *hd.dict;
    auto columns_of = [&hd](const std::string& table) { return table_columns(hd.db(), table); };
    if (columns && columns_of("dz_notes") != std::set<std::string>{"REC", "KEYTEXT", "TEXT"}) return "the table of the notes";
    for (const auto* list : {&d.records, &d.headers})
        for (const auto& r : *list) {
            const std::string table = table_of(r);
            const std::set<std::string> have = columns_of(table);
            sqlite3_stmt* st = nullptr;
            const std::string what = (r.isHeader ? "header " : "record type ") + std::to_string(r.number);
            if (have.empty()) return "the table of " + what;
            for (uint16_t n = r.firstField; columns && n <= r.lastField; ++n)
                if (!have.count(d.fields[n].def.name)) return "field " + d.fields[n].def.name + " of " + what;
            if (!r.isHeader) continue;
            int rows = 0;
            if (sqlite3_prepare_v2(hd.db(), ("SELECT count(*) FROM " + quote(table) + " WHERE id = 1").c_str(), -1, &st,
                                   nullptr) == SQLITE_OK &&
                checked_step(st) == SQLITE_ROW)
                rows = sqlite3_column_int(st, 0);
            sqlite3_finalize(st);
            if (rows != 1) return "the record of " + what;
        }
    return "";
}

// `asked`: opened for a command through xio_ask_file, which refuses a read-only file.
// `readOnly`: the handle never writes and an older file is not upgraded; it has a connection of
// its own, opened read-only.
int open_path(const std::filesystem::path& path, const std::string& expectAbbr, bool asked, bool readOnly,
              uint16_t& handle) {
    handle = 0;
    readOnly = readOnly || g_readOnlyScopes > 0;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        // A folder or a device in the file's place is not a file that is missing.
        if (std::filesystem::exists(path, ec))
            return set_error(XIO_IO_ERROR, path.string() + " is not a regular file (a folder, a device or a pipe)");
        return set_error(XIO_NO_FILE, path.string() + " does not exist");
    }
    // A link would have a conversion write wherever it points, unseen: a data file is a file of
    // its own (file control is the way to keep one elsewhere).
    if (std::filesystem::is_symlink(path, ec))
        return set_error(XIO_IO_ERROR, path.string() + " is a symbolic link, which is not opened as a data file");
    auto hd = std::make_unique<Handle>();
    hd->path = path;
    hd->readOnly = readOnly;
    std::string connKey = std::filesystem::weakly_canonical(path, ec).string();
    if (ec || connKey.empty()) connKey = std::filesystem::absolute(path, ec).string();
    if (readOnly) connKey += "\n(read-only)";
    if (auto it = g_conns.find(connKey); it != g_conns.end()) hd->conn = it->second.lock();
    int rc = SQLITE_OK;
    if (!hd->conn) {
        hd->conn = std::make_shared<Conn>();
        hd->conn->key = connKey;
        // One thread at a time uses the connection (its writer, see "The writer of a connection",
        // only while the program's thread keeps off it), so it needs no mutexes of its own. No
        // SQLITE_OPEN_URI, and an absolute name: a folder named "file:..." is a folder.
        const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
        const bool wal = wal_mode_file(path);
        if (wal && readOnly)
            return set_error(XIO_CORRUPT, path.string() + " was put in write-ahead-log mode elsewhere; it is put back in "
                                                          "this program's mode when it is next opened to be written");
        configure_sqlite_once();
        rc = sqlite3_open_v2(sqlite_name(path).c_str(), &hd->conn->raw, flags, nullptr);
        if (rc == SQLITE_OK) rc = harden(hd->conn->raw);
        if (rc == SQLITE_OK) rc = use_nocase_texts(hd->conn->raw);
        // Back to the journal of the files this program makes: the log's writes go into the file.
        if (rc == SQLITE_OK && wal) rc = exec(hd->conn->raw, "PRAGMA journal_mode=DELETE");
        if (rc != SQLITE_OK) {
            const char* why = hd->conn->raw ? sqlite3_errmsg(hd->conn->raw) : sqlite3_errstr(rc);
            return set_error(map_sqlite(rc) == XIO_CORRUPT ? XIO_CORRUPT : XIO_IO_ERROR, path.string() + ": " + why);
        }
        sqlite3_busy_timeout(hd->conn->raw, 2000);
        // 32 MB: writes in key orders far from the file's own order (a second unique key) run
        // faster up to it; the peak memory of a million-record conversion stays well under 200 MB.
        exec(hd->conn->raw, kPageCache);
        exec(hd->conn->raw, sorter_threads());
        g_conns[connKey] = hd->conn;
    }
    if (asked && (readOnly ? ::access(path.c_str(), W_OK) != 0 : sqlite3_db_readonly(hd->db(), "main") == 1))
        return set_unwritable(path.string() + " is read-only");
    // Every write goes through a journal made beside the file: in a folder that cannot be
    // written each record would fail on its own, so the file is refused before any is tried.
    if (asked && !readOnly && !folder_writable(path))
        return set_unwritable(path.string() + " is in a folder that cannot be written");
    std::map<std::string, std::string> meta;
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(hd->db(), "SELECT name, value FROM dz_meta", -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        while ((rc = checked_step(st)) == SQLITE_ROW) {
            auto txt = [&](int c) {
                const unsigned char* p = sqlite3_column_text(st, c);
                return std::string(p ? reinterpret_cast<const char*>(p) : "");
            };
            meta[txt(0)] = txt(1);
        }
        if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    const int extended = rc == SQLITE_OK ? SQLITE_OK : sqlite3_extended_errcode(hd->db());
    sqlite3_finalize(st);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) return set_error(XIO_LOCKED, path.string() + " is in use");
    // A program stopped in the middle of writing the file left its journal beside it: the file
    // is whole again at its next open for writing, which alone may put the journal back.
    if (extended == SQLITE_READONLY_ROLLBACK)
        return set_error(XIO_CORRUPT, path.string() + " was left in the middle of a write; it is put back as it was "
                                                      "when it is next opened to be written");
    if (rc != SQLITE_OK || meta["format"] != "dodedoz-datafile")
        return set_error(XIO_CORRUPT, path.string() + " is either an old version or corrupt");
    std::string err;
    hd->dict = xio::get(meta["abbr"], err);
    if (!hd->dict) return set_error(XIO_NO_DICTIONARY, path.string() + ": " + err);
    if (!expectAbbr.empty() && hd->dict->abbr != expectAbbr)
        return set_error(XIO_CORRUPT, path.string() + " is either an old version or corrupt (it holds " + meta["abbr"] + ")");
    hd->fileNo = static_cast<uint16_t>(std::atoi(meta["file_no"].c_str()));
    const int version = std::atoi(meta["dictionary"].c_str());
    if (version > hd->dict->version)
        return set_error(XIO_CORRUPT, path.string() + " is either an old version or corrupt (written by a newer dictionary)");
    hd->cols.resize(hd->dict->fields.size());
    for (size_t n = 1; n < hd->dict->fields.size(); ++n) hd->cols[n] = quote(hd->dict->fields[n].def.name);
    if (version < hd->dict->version && readOnly) {
        if (int s = read_older(*hd); s != XIO_OK) return s;
    } else if (version < hd->dict->version) {
        if (hd->conn->readTxn) end_read_txn(*hd->conn);
        if (hd->conn->inTxn) return set_error(XIO_LOCKED, path.string() + " is in use");
        rc = exec(hd->db(), "BEGIN IMMEDIATE");
        if (rc == SQLITE_OK) rc = ensure_schema(hd->db(), *hd->dict, hd->fileNo);
        if (rc == SQLITE_OK) rc = exec(hd->db(), "COMMIT");
        if (rc != SQLITE_OK) {
            std::string msg = sqlite3_errmsg(hd->db());
            exec(hd->db(), "ROLLBACK");
            return set_error(map_sqlite(rc) == XIO_LOCKED ? XIO_LOCKED : XIO_IO_ERROR, path.string() + ": " + msg);
        }
    }
    // An older file read as it is lacks the columns the dictionary added since.
    if (const std::string gap = missing_schema(*hd, version >= hd->dict->version || !readOnly); !gap.empty())
        return set_error(XIO_CORRUPT, path.string() + " is either an old version or corrupt (it lacks " + gap + ")");
    if (!readOnly && !hd->conn->inTxn) {
        // Unique keys hold whatever the file says: a unique index that is gone or changed is
        // made again, which fails when the file already holds duplicates.
        std::vector<IndexSpec> astray = unique_indexes_astray(hd->db(), *hd->dict, rc);
        if (rc == SQLITE_OK && !astray.empty()) {
            if (hd->conn->readTxn) end_read_txn(*hd->conn);
            rc = exec(hd->db(), "BEGIN IMMEDIATE");
            for (std::size_t i = 0; rc == SQLITE_OK && i < astray.size(); ++i) {
                rc = exec(hd->db(), "DROP INDEX IF EXISTS " + quote(astray[i].name));
                if (rc == SQLITE_OK) rc = exec(hd->db(), astray[i].create);
            }
            if (rc == SQLITE_OK) rc = exec(hd->db(), "COMMIT");
            if (rc != SQLITE_OK) exec(hd->db(), "ROLLBACK");
        }
        if (rc != SQLITE_OK) {
            if (map_sqlite(rc) == XIO_LOCKED) return set_error(XIO_LOCKED, path.string() + " is in use");
            return set_error(XIO_CORRUPT, path.string() + " is either an old version or corrupt (a unique key holds duplicates)");
        }
    }
    hd->locks = std::make_unique<xio::LockTable>(path, ++g_serial);
    if (hd->locks->open() != XIO_OK) return set_error(XIO_LOCKED, path.string() + " is in use: " + hd->locks->error());
    if (!hd->dict->multiUser && hd->locks->heldByOther('W', "", true))
        return set_error(XIO_LOCKED, path.string() + " is in use by another program");
    const Dictionary& d = *hd->dict;
    for (const auto& r : d.records) {
        RecState& rs = hd->recs[r.number];
        rs.def = &r;
        for (uint16_t n = r.firstField; n <= r.lastField; ++n) rs.kinds.push_back(kind_of(d.fields[n].def.type));
        rs.defaults = default_cells(d, r);
        rs.buf = rs.defaults;
        std::string cols, params, sets;
        for (uint16_t n = r.firstField; n <= r.lastField; ++n) {
            const std::string q = quote(d.fields[n].def.name);
            const std::string p = "?" + std::to_string(n - r.firstField + 1);
            cols += (cols.empty() ? "" : ", ") + q;
            params += (params.empty() ? "" : ", ") + p;
            sets += (sets.empty() ? "" : ", ") + q + " = " + p;
        }
        rs.columns.clear();
        for (uint16_t n = r.firstField; n <= r.lastField; ++n) rs.columns += (rs.columns.empty() ? "" : ", ") + hd->col(n);
        rs.insertSql = "INSERT INTO " + table_of(r) + "(" + cols + ") VALUES(" + params + ")";
        rs.updateSql = "UPDATE " + table_of(r) + " SET " + sets + " WHERE rowid = ?" +
                       std::to_string(r.lastField - r.firstField + 2);
    }
    for (const auto& r : d.headers) {
        HdrState& hs = hd->hdrs[r.number];
        hs.def = &r;
        hs.defaults = default_cells(d, r);
        hs.buf = hs.defaults;
    }
    for (auto& [n, rs] : hd->recs) {
        if (hd->recIndex.size() <= n) hd->recIndex.resize(n + 1u, nullptr);
        hd->recIndex[n] = &rs;
    }
    hd->slots.resize(d.fields.size());
    for (auto& [n, rs] : hd->recs)
        for (uint16_t f = rs.def->firstField; f <= rs.def->lastField; ++f)
            hd->slots[f] = {&rs.buf, &d.fields[f], rs.def->firstField, n, d.fields[f].def.type, &rs};
    for (auto& [n, hs] : hd->hdrs)
        for (uint16_t f = hs.def->firstField; f <= hs.def->lastField; ++f)
            hd->slots[f] = {&hs.buf, &d.fields[f], hs.def->firstField, 0, d.fields[f].def.type};
    for (size_t i = 1; i < g_handles.size(); ++i)
        if (!g_handles[i]) {
            handle = static_cast<uint16_t>(i);
            g_handles[i] = std::move(hd);
            return XIO_OK;
        }
    if (g_handles.size() >= 65536) return set_error(XIO_IO_ERROR, "too many open data files");
    handle = static_cast<uint16_t>(g_handles.size());
    g_handles.push_back(std::move(hd));
    return XIO_OK;
}

// ---- Field access -------------------------------------------------------------------------

// The buffer cell of field `fld` addressed with record argument `rec`; nullptr when invalid.
Cell* cell_of(Handle& hd, uint16_t rec, uint16_t fld, const FieldDef** fdOut) {
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

RecState* rec_of(Handle& hd, uint16_t rec) { return rec < hd.recIndex.size() ? hd.recIndex[rec] : nullptr; }

// Fields of key `key` for record type `rec`; nullptr when the key is not the record's.
const std::vector<uint16_t>* key_fields(Handle& hd, RecState& rs, uint16_t key, bool& unique) {
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

std::string key_text(Handle& hd, RecState& rs) {
    return key_text_of(hd, *rs.def, [&](size_t, uint16_t f) -> const Cell& { return rs.buf[f - rs.def->firstField]; });
}

// A lock of the handle; when the lock file fails, the reason is the error text.
int take_lock(Handle& hd, char kind, const std::string& key) {
    const int s = hd.locks->acquire(kind, key);
    if (s != XIO_OK && !hd.locks->error().empty()) set_error(s, hd.path.string() + " is in use: " + hd.locks->error());
    return s;
}

// ---- Keyed reads --------------------------------------------------------------------------

enum class Op { Exact, Find, GE, GT, First, Last, Next, Prev };

// True when the row at `st` (rowid, then the record's columns) holds the buffer's values of
// `fields` as the file's keys compare them: texts without regard to ASCII letter case (the
// columns' collation), numbers by value.
bool same_key(sqlite3_stmt* st, const Dictionary& d, const RecordDef& r, const std::vector<uint16_t>& fields,
              const Cells& buf) {
    for (uint16_t f : fields) {
        const int col = f - r.firstField + 1;
        const uint16_t t = d.fields[f].def.type;
        const Cell& c = buf[f - r.firstField];
        if (is_text(t)) {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
            const auto n = static_cast<std::size_t>(sqlite3_column_bytes(st, col));
            if (n != c.s.size()) return false;
            for (std::size_t i = 0; i < n; ++i) {
                const auto a = static_cast<unsigned char>(p[i]), b = static_cast<unsigned char>(c.s[i]);
                auto fold = [](unsigned char x) { return x >= 'a' && x <= 'z' ? x - ('a' - 'A') : x; };
                if (fold(a) != fold(b)) return false;
            }
        } else if (is_real(t)) {
            if (sqlite3_column_double(st, col) != c.d) return false;
        } else if (sqlite3_column_int64(st, col) != c.i) {
            return false;
        }
    }
    return true;
}

int take_record_lock(Handle& hd, uint16_t rec, int64_t row) {
    const int s = hd.locks->acquireRecord(rec, row);
    if (s != XIO_OK && !hd.locks->error().empty()) set_error(s, hd.path.string() + " is in use: " + hd.locks->error());
    return s;
}

int read_op(uint16_t h, uint16_t rec, uint16_t key, Op op, uint16_t lock) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return hd->lastStatus = XIO_BAD_CALL;
    hold_reads(*hd);
    bool unique = true;
    const auto* kf = key_fields(*hd, *rs, key, unique);
    if (!kf) return hd->lastStatus = XIO_BAD_CALL;
    if ((op == Op::Exact || op == Op::Find) && known_empty(*hd, *rs)) return hd->lastStatus = XIO_NOT_FOUND;
    if ((op == Op::Exact || op == Op::Find) && unique && bulk_absent(*hd, *rs, key)) return hd->lastStatus = XIO_NOT_FOUND;
    if (int s = writer_settle(*hd); s != XIO_OK) return hd->lastStatus = s;
    // A record added by a bulk load is found by its rowid: the load goes on.
    const int64_t bulkRow = (op == Op::Exact || op == Op::Find) && key == 0 ? bulk_row(*hd, *rs) : 0;
    if (bulkRow == 0)
        if (int s = bulk_settle(*hd, rec); s != XIO_OK) return hd->lastStatus = s;
    const Dictionary& d = *hd->dict;
    const RecordDef& r = *rs->def;
    // Matching uses the key's fields; order (and the cursor) also the primary key's.
    std::vector<uint16_t> orderStore;
    if (!unique) orderStore = order_fields(r, *kf);
    const std::vector<uint16_t>& of = unique ? *kf : orderStore;
    auto col_list = [&](const std::vector<uint16_t>& fields, const char* suffix) {
        std::string out;
        for (size_t i = 0; i < fields.size(); ++i) out += (i ? ", " : "") + hd->col(fields[i]) + suffix;
        return out;
    };
    auto param_list = [](size_t n) {
        std::string out;
        for (size_t i = 0; i < n; ++i) out += (i ? ", ?" : "?") + std::to_string(i + 1);
        return out;
    };

    // Where a walk starts from.
    Op eff = op;
    Cells from;
    if (op == Op::Next || op == Op::Prev) {
        if ((rs->pos == Pos::PastEnd && op == Op::Next) || (rs->pos == Pos::BeforeStart && op == Op::Prev))
            return hd->lastStatus = XIO_END;
        if (rs->pos == Pos::None) eff = op == Op::Next ? Op::First : Op::Last;
        else if (rs->pos == Pos::PastEnd) eff = Op::Last;
        else if (rs->pos == Pos::BeforeStart) eff = Op::First;
        if (eff == op) {
            if (rs->curKey == key) {
                from = rs->curVals;
            } else {
                // The cursor was set by another key: take this key's values from its row.
                sqlite3_stmt* st = hd->stmt("SELECT " + col_list(of, "") + " FROM " + table_of(r) + " WHERE rowid = ?1");
                if (!st) return hd->lastStatus = db_fail(*hd, sqlite3_errcode(hd->db()));
                sqlite3_bind_int64(st, 1, rs->curRow);
                if (checked_step(st) != SQLITE_ROW) {
                    checked_reset(st);
                    return hd->lastStatus = XIO_END;
                }
                from.resize(of.size());
                for (size_t i = 0; i < of.size(); ++i) read_cell(st, static_cast<int>(i), d.fields[of[i]].def.type, from[i]);
                checked_reset(st);
            }
        }
    }

    FieldChoice* const choice = rs->choice.get();
    // A walk on from the cursor inside a transaction reads ahead (see ReadAhead).
    ReadAhead& ra = rs->ahead;
    const bool walkOn = eff == Op::Next && rs->pos == Pos::At && rs->curKey == key && hd->conn->inTxn;
    std::size_t batch = 0;  // rows to read ahead of the one asked for; 0 when not reading ahead
    if (walkOn) {
        const bool followsAhead = ra.key == key && ra.choice == rs->choice && ra.afterRow == rs->curRow &&
                                  ra.txn == hd->conn->txnSerial && ra.changes == sqlite3_total_changes64(hd->db()) &&
                                  !sqlite3_get_autocommit(hd->db());  // SQLite has not ended the transaction
        if (followsAhead && ra.next < ra.rows.size()) {
            const int64_t row = ra.rows[ra.next];
            if (lock && !rs->locked.count(row)) {
                if (int ls = take_record_lock(*hd, rec, row); ls != XIO_OK) return hd->lastStatus = ls;
                rs->locked.insert(row);
            }
            changed_whole(*rs);  // what a read puts in the buffer is not listed cell by cell
            Cell* held = ra.cells.data() + ra.next * ra.width;
            auto take = [&](uint16_t at, Cell& c) {
                const CellKind k = rs->kinds[at];
                if (k == CellKind::Text) rs->buf[at].s.swap(c.s);
                else if (k == CellKind::Real) rs->buf[at].d = c.d;
                else rs->buf[at].i = c.i;
            };
            if (choice)
                for (std::size_t i = 0; i < choice->read.size(); ++i) take(choice->read[i], held[i]);
            else
                for (std::size_t i = 0; i < ra.width; ++i) take(static_cast<uint16_t>(i), held[i]);
            ++ra.next;
            ra.afterRow = row;
            if (choice)
                for (uint16_t at : choice->unread) reset_cell(rs->buf[at], rs->defaults[at]);
            rs->readWith = rs->choice;
            rs->current = row;
            const int64_t prevOrdinal = key == 0 ? rs->ordinal : -1;
            rs->curRow = row;
            rs->curVals.resize(of.size());
            for (size_t i = 0; i < of.size(); ++i) rs->curVals[i] = rs->buf[of[i] - r.firstField];
            rs->ordinal = prevOrdinal >= 0 ? prevOrdinal + 1 : -1;
            return hd->lastStatus = XIO_OK;
        }
        // A batch used up with nothing written since asks for twice as many; else the walk
        // starts again from one (a walk that writes as it goes reads one row at a time).
        batch = followsAhead ? std::min(ra.batch * 2, kReadAheadMax) : 1;
        ra.rows.clear();
        ra.next = 0;
    }

    const uint32_t cacheKey = bulkRow ? 15u : static_cast<uint32_t>(key) * 16 + (batch ? 8u : static_cast<uint32_t>(eff));
    static_assert(static_cast<int>(Op::Prev) < 8, "the read-ahead statement has a slot of its own");
    // A row found by its rowid during a bulk load is read whole: its key is compared column by
    // column, and the fields not chosen are set back to their defaults afterwards.
    auto& readStmts = choice && !bulkRow ? choice->readStmts : rs->readStmts;
    sqlite3_stmt* st = nullptr;
    if (bulkRow) {
        if (auto it = readStmts.find(cacheKey); it != readStmts.end()) {
            st = it->second;
            checked_reset(st);
        } else if ((st = hd->stmt("SELECT rowid, " + rs->columns + " FROM " + table_of(r) + " WHERE rowid = ?1"))) {
            readStmts.emplace(cacheKey, st);
        }
    } else if (auto it = readStmts.find(cacheKey); it != readStmts.end()) {
        st = it->second;
        checked_reset(st);
        checked_clear_bindings(st);
    } else {
        std::string where, order = col_list(of, "");
        switch (eff) {
            case Op::Exact:
            case Op::Find:
                for (size_t i = 0; i < kf->size(); ++i)
                    where += (i ? " AND " : "") + hd->col((*kf)[i]) + " = ?" + std::to_string(i + 1);
                break;
            case Op::GE: where = "(" + col_list(*kf, "") + ") >= (" + param_list(kf->size()) + ")"; break;
            case Op::GT: where = "(" + col_list(*kf, "") + ") > (" + param_list(kf->size()) + ")"; break;
            case Op::First: break;
            case Op::Last: order = col_list(of, " DESC"); break;
            case Op::Next: where = "(" + col_list(of, "") + ") > (" + param_list(of.size()) + ")"; break;
            case Op::Prev:
                where = "(" + col_list(of, "") + ") < (" + param_list(of.size()) + ")";
                order = col_list(of, " DESC");
                break;
        }
        const std::string& columns = choice ? choice->columns : rs->columns;
        const std::string limit = batch ? "?" + std::to_string(of.size() + 1) : "1";
        const std::string sql = "SELECT rowid, " + (eff == Op::Find ? std::string("1") : columns) + " FROM " +
                                table_of(r) + (where.empty() ? "" : " WHERE " + where) + " ORDER BY " + order +
                                " LIMIT " + limit;
        st = hd->stmt(sql);
        if (st) readStmts.emplace(cacheKey, st);
    }
    if (!st) return hd->lastStatus = db_fail(*hd, sqlite3_errcode(hd->db()));
    if (bulkRow) {
        sqlite3_bind_int64(st, 1, bulkRow);
    } else if (eff == Op::Exact || eff == Op::Find || eff == Op::GE || eff == Op::GT) {
        for (size_t i = 0; i < kf->size(); ++i)
            bind_cell(st, static_cast<int>(i + 1), d.fields[(*kf)[i]].def.type, rs->buf[(*kf)[i] - r.firstField]);
    } else if (eff == Op::Next || eff == Op::Prev) {
        for (size_t i = 0; i < of.size(); ++i) bind_cell(st, static_cast<int>(i + 1), d.fields[of[i]].def.type, from[i]);
        if (batch) sqlite3_bind_int64(st, static_cast<int>(of.size() + 1), static_cast<int64_t>(batch));
    }
    int rc = checked_step(st);
    if (rc == SQLITE_DONE) {
        checked_reset(st);
        if (op == Op::Exact || op == Op::Find) return hd->lastStatus = XIO_NOT_FOUND;
        rs->pos = (op == Op::Prev) ? Pos::BeforeStart : Pos::PastEnd;
        rs->curKey = key;
        rs->ordinal = -1;
        return hd->lastStatus = XIO_END;
    }
    if (rc != SQLITE_ROW) {
        int s = db_fail(*hd, rc);
        checked_reset(st);
        return hd->lastStatus = (s == XIO_NOT_FOUND ? XIO_IO_ERROR : s);
    }
    if (bulkRow && !same_key(st, d, r, *kf, rs->buf)) {
        checked_reset(st);
        return hd->lastStatus = XIO_NOT_FOUND;
    }
    const int64_t row = sqlite3_column_int64(st, 0);
    if (op == Op::Find) {
        checked_reset(st);
        return hd->lastStatus = XIO_OK;
    }
    if (lock && !rs->locked.count(row)) {
        int ls = take_record_lock(*hd, rec, row);
        if (ls != XIO_OK) {
            checked_reset(st);
            return hd->lastStatus = ls;
        }
        rs->locked.insert(row);
    }
    changed_whole(*rs);
    if (choice && !bulkRow) {
        for (size_t i = 0; i < choice->read.size(); ++i) {
            const uint16_t at = choice->read[i];
            read_cell(st, static_cast<int>(i + 1), d.fields[r.firstField + at].def.type, rs->buf[at]);
        }
    } else {
        for (uint16_t n = r.firstField; n <= r.lastField; ++n)
            read_cell(st, n - r.firstField + 1, d.fields[n].def.type, rs->buf[n - r.firstField]);
    }
    // What was not chosen holds no other record's value.
    if (choice)
        for (uint16_t at : choice->unread) reset_cell(rs->buf[at], rs->defaults[at]);
    rs->readWith = rs->choice;
    if (batch) {
        // The rows after this one, for the reads that follow; none when a step failed.
        ra.key = key;
        ra.choice = rs->choice;
        ra.txn = hd->conn->txnSerial;
        ra.changes = sqlite3_total_changes64(hd->db());
        ra.afterRow = row;
        ra.batch = batch;
        ra.width = choice ? choice->read.size() : rs->kinds.size();
        ra.cells.resize(ra.width * (batch - 1));
        int more = SQLITE_ROW;
        while (ra.rows.size() + 1 < batch && (more = checked_step(st)) == SQLITE_ROW) {
            Cell* to = ra.cells.data() + ra.rows.size() * ra.width;
            for (std::size_t i = 0; i < ra.width; ++i) {
                const uint16_t at = choice ? choice->read[i] : static_cast<uint16_t>(i);
                read_cell(st, static_cast<int>(i + 1), d.fields[r.firstField + at].def.type, to[i]);
            }
            ra.rows.push_back(sqlite3_column_int64(st, 0));
        }
        if (more != SQLITE_ROW && more != SQLITE_DONE) {
            ra.rows.clear();  // the next read seeks and meets the failure
            // A failure that ended the transaction took its writes with it: this read tells
            // so now, as the read that met it, or later writes would each be kept on their own.
            if (hd->conn->inTxn && sqlite3_get_autocommit(hd->db())) {
                const int s = db_fail(*hd, more);
                checked_reset(st);
                return hd->lastStatus = (s == XIO_NOT_FOUND ? XIO_IO_ERROR : s);
            }
        }
    }
    checked_reset(st);
    rs->current = row;
    rs->pos = Pos::At;
    const int64_t prevOrdinal = (rs->curKey == 0 && key == 0) ? rs->ordinal : -1;
    rs->curKey = key;
    rs->curRow = row;
    rs->curVals.resize(of.size());  // assigned in place: the texts keep their storage
    for (size_t i = 0; i < of.size(); ++i) rs->curVals[i] = rs->buf[of[i] - r.firstField];
    rs->ordinal = -1;
    if (key == 0) {
        if (eff == Op::First) rs->ordinal = 0;
        else if (eff == Op::Next && prevOrdinal >= 0) rs->ordinal = prevOrdinal + 1;
        else if (eff == Op::Prev && prevOrdinal > 0) rs->ordinal = prevOrdinal - 1;
    }
    return hd->lastStatus = XIO_OK;
}

// ---- Writes -------------------------------------------------------------------------------

int begin_write(Handle& hd) {
    if (hd.readOnly) return set_error(XIO_LOCKED, hd.path.string() + " is open read-only");
    // A read transaction is ended rather than raised to a write one: raising it would not wait
    // for another program's short write, and a handle without writes started commits each write.
    if (hd.conn->readTxn) end_read_txn(*hd.conn);
    // A write after xio_start_commit: the loads the writer's index builds ended are ended here too.
    if (int s = take_index_job(hd); s != XIO_OK) return s;
    if (!hd.writesStarted || hd.conn->inTxn) return XIO_OK;
    int rc = exec(hd.db(), "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return db_fail(hd, rc);
    hd.conn->inTxn = true;
    ++hd.conn->txnSerial;
    return XIO_OK;
}

// After a unique-constraint failure: the number of the key the buffer's values clash on.
uint16_t clashing_key(Handle& hd, RecState& rs, int64_t self) {
    const Dictionary& d = *hd.dict;
    auto clashes = [&](const std::vector<uint16_t>& fields, bool skipBlank) {
        bool allBlank = true;
        std::string where;
        for (size_t i = 0; i < fields.size(); ++i) {
            where += (i ? " AND " : "") + quote(d.fields[fields[i]].def.name) + " = ?" + std::to_string(i + 1);
            allBlank = allBlank && blank_cell(d.fields[fields[i]].def.type, rs.buf[fields[i] - rs.def->firstField]);
        }
        if (skipBlank && allBlank) return false;
        sqlite3_stmt* st = hd.stmt("SELECT 1 FROM " + table_of(*rs.def) + " WHERE " + where + " AND rowid <> ?" +
                                   std::to_string(fields.size() + 1) + " LIMIT 1");
        if (!st) return false;
        for (size_t i = 0; i < fields.size(); ++i)
            bind_cell(st, static_cast<int>(i + 1), d.fields[fields[i]].def.type, rs.buf[fields[i] - rs.def->firstField]);
        sqlite3_bind_int64(st, static_cast<int>(fields.size() + 1), self);
        bool found = checked_step(st) == SQLITE_ROW;
        checked_reset(st);
        return found;
    };
    if (clashes(rs.def->primaryKey, false)) return 0;
    for (const auto& k : d.keys)
        if (k.def.record == rs.def->number && k.def.unique && clashes(k.def.fields, k.def.blankAllowed)) return k.def.number;
    return 0;
}

// Choices of fields to store kept for a record type; a replace that needs another stores every
// field.
constexpr std::size_t kNarrowUpdatesMax = 64;

// Before a whole-record replace of the current row of `rs`: reads the stored values of the
// fields in the record type's keys (the row must be there: XIO_NOT_FOUND otherwise), gives its
// primary key as text in `oldKey`, and chooses what the replace stores into rs.storing. Storing
// a field rewrites every index it is in, so a key field whose stored value is exactly what
// storing the buffer's would leave (a text of the same bytes, an integer of the same number) is
// left in place; every other field is stored. `narrowed` is the statement storing the chosen
// fields, or null for the whole-record statement; with `nothing` set, no field needs storing.
// `keySame` tells that the stored primary key reads as the buffer's (oldKey is then not made).
// Reads the key fields of row `row` into rs.keysRead (the statement made once per record type):
// SQLITE_ROW when read, SQLITE_DONE when the row is not there, -1 when the statement cannot be
// made (sqlite3_errcode says why), else the failure of the read.
// The fields of every key of a record type: the primary key's first, then those of the other
// keys, each once.
std::vector<uint16_t> record_key_fields(const Dictionary& d, const RecordDef& r) {
    std::vector<uint16_t> fields = r.primaryKey;
    for (const auto& k : d.keys)
        if (k.def.record == r.number)
            for (uint16_t f : k.def.fields)
                if (std::find(fields.begin(), fields.end(), f) == fields.end()) fields.push_back(f);
    return fields;
}

int read_stored_keys(Handle& hd, RecState& rs, int64_t row) {
    const RecordDef& r = *rs.def;
    const Dictionary& d = *hd.dict;
    rs.keysRow = 0;
    sqlite3_stmt*& st = rs.storedKeysStmt;
    if (st) {
        checked_reset(st);
    } else {
        rs.keyFields = record_key_fields(d, r);
        std::string cols;
        for (uint16_t f : rs.keyFields) cols += (cols.empty() ? "" : ", ") + quote(d.fields[f].def.name);
        st = hd.stmt("SELECT " + cols + " FROM " + table_of(r) + " WHERE rowid = ?1");
    }
    if (!st) return -1;
    sqlite3_bind_int64(st, 1, row);
    const int rc = checked_step(st);
    if (rc != SQLITE_ROW) {
        checked_reset(st);
        return rc;
    }
    rs.keysRead.resize(rs.keyFields.size());
    for (std::size_t k = 0; k < rs.keyFields.size(); ++k) {
        const int col = static_cast<int>(k);
        rs.keysRead[k].type = sqlite3_column_type(st, col);  // before read_cell converts it
        read_cell(st, col, d.fields[rs.keyFields[k]].def.type, rs.keysRead[k].cell);
    }
    checked_reset(st);
    rs.keysRow = row;
    rs.keysTxn = hd.conn->txnSerial;
    rs.keysChanges = sqlite3_total_changes64(hd.db());
    return SQLITE_ROW;
}

// Whether rs.keysRead still holds row `row` as stored (see RecState::keysRead).
bool stored_keys_kept(Handle& hd, const RecState& rs, int64_t row) {
    return rs.keysRow == row && row != 0 && hd.conn->inTxn && !hd.conn->readTxn && rs.keysTxn == hd.conn->txnSerial &&
           rs.keysChanges == sqlite3_total_changes64(hd.db()) && !sqlite3_get_autocommit(hd.db());
}

int stored_keys(Handle& hd, RecState& rs, std::string& oldKey, sqlite3_stmt*& narrowed, bool& nothing, bool& keySame) {
    narrowed = nullptr;
    nothing = false;
    keySame = false;
    const RecordDef& r = *rs.def;
    const Dictionary& d = *hd.dict;
    if (!stored_keys_kept(hd, rs, rs.current)) {
        const int rc = read_stored_keys(hd, rs, rs.current);
        if (rc == -1) return db_fail(hd, sqlite3_errcode(hd.db()));
        if (rc != SQLITE_ROW) return XIO_NOT_FOUND;
    }
    rs.keysRow = 0;  // the replace changes the row
    const std::size_t width = rs.kinds.size();
    bool keyRead = true;  // every primary key field reads as the buffer holds it
    rs.storing.assign(width, '1');
    std::size_t storing = width;
    for (std::size_t k = 0; k < rs.keyFields.size(); ++k) {
        const RecState::StoredKey& v = rs.keysRead[k];
        const std::size_t i = rs.keyFields[k] - r.firstField;
        const Cell& c = rs.buf[i];
        bool same = false;
        if (rs.kinds[i] == CellKind::Text) same = v.type == SQLITE_TEXT && v.cell.s == c.s;
        else if (rs.kinds[i] == CellKind::Integer) same = v.type == SQLITE_INTEGER && v.cell.i == c.i;
        if (k < r.primaryKey.size() && !same) {
            bool readSame = false;
            if (rs.kinds[i] == CellKind::Real) {
                readSame = (v.type == SQLITE_FLOAT || v.type == SQLITE_INTEGER) && std::memcmp(&v.cell.d, &c.d, sizeof c.d) == 0;
            }
            keyRead = keyRead && readSame;
        }
        // How SQLite encodes a stored real is not visible here: a number field is always stored.
        if (same) rs.storing[i] = '0', --storing;
    }
    keySame = keyRead;
    if (!keySame) {
        oldKey = key_text_of(hd, r, [&](size_t i, uint16_t) -> const Cell& { return rs.keysRead[i].cell; });
    }
    if (storing == 0) {
        nothing = true;
        return XIO_OK;
    }
    if (storing == width) return XIO_OK;
    auto it = rs.narrowUpdates.find(rs.storing);
    if (it == rs.narrowUpdates.end()) {
        if (rs.narrowUpdates.size() >= kNarrowUpdatesMax) return XIO_OK;
        std::string sets;
        for (std::size_t i = 0; i < width; ++i)
            if (rs.storing[i] == '1')
                sets += (sets.empty() ? "" : ", ") + quote(d.fields[r.firstField + i].def.name) + " = ?" + std::to_string(i + 1);
        sqlite3_stmt* up = hd.stmt("UPDATE " + table_of(r) + " SET " + sets + " WHERE rowid = ?" + std::to_string(width + 1));
        if (!up) return db_fail(hd, sqlite3_errcode(hd.db()));
        it = rs.narrowUpdates.emplace(rs.storing, up).first;
    }
    narrowed = it->second;
    return XIO_OK;
}

// The buffer's listed changes went with a row (every cell of it when `all`): the list starts
// afresh. Puts made while the buffer's changes are not listed are not listed either.
void changes_taken(RecState& rs, bool all) {
    if (all) {
        rs.isUnbound.assign(rs.buf.size(), 0);
        rs.unbound.resize(rs.buf.size());
    } else {
        for (std::size_t n = 0; n < rs.unboundCount; ++n) rs.isUnbound[rs.unbound[n]] = 0;
    }
    rs.unboundCount = 0;
    rs.bindAll = rs.allChanged;
}

// A new row of a table being bulk loaded, handed to the connection's writer (see "The writer of
// a connection"): its rowid is the one SQLite gives it, the table's last plus one (rows only go
// onto the end of the table meanwhile), and the writer checks that it does.
int queue_insert(Handle& hd, RecState& rs, BulkTable& bt) {
    Conn& c = *hd.conn;
    const std::size_t width = rs.kinds.size();
    bool all = false;  // every cell goes, not only those changed since the last row
    if (!rs.queued) {
        auto t = std::make_unique<QueuedTable>();
        const int rc = sqlite3_prepare_v3(hd.db(), rs.insertSql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &t->st, nullptr);
        if (rc != SQLITE_OK) return db_fail(hd, rc);
        t->kinds = rs.kinds;
        t->cells.resize(width);
        rs.queued = std::move(t);
        all = true;
    }
    if (!c.writer) {
        static const bool forkGuarded = ::pthread_atfork(end_writers_before_fork, nullptr, nullptr) == 0;
        (void)forkGuarded;
        c.writer = std::make_unique<Writer>(c.raw);
    }
    int planned = SQLITE_OK;
    if (int s = XIO_OK; planned_failure(hd, xio::FaultCall::QueuedRecord, s))
        planned = s == XIO_DISK_FULL ? SQLITE_FULL : SQLITE_IOERR;
    QueuedRow& q = c.writer->slot();
    q.job = nullptr;
    q.table = rs.queued.get();
    // The cells changed since the last row are those the insert statement's binding follows.
    all = all || rs.bindAll || !rs.queuedInStep || rs.queuedEpoch != c.queueEpoch;
    rs.queuedInStep = true;
    rs.queuedEpoch = c.queueEpoch;
    const std::size_t count = all ? width : rs.unboundCount;
    if (q.at.size() < count) q.at.resize(count), q.cells.resize(count);
    for (std::size_t n = 0; n < count; ++n) {
        const uint16_t i = all ? static_cast<uint16_t>(n) : rs.unbound[n];
        q.at[n] = i;
        const Cell& from = rs.buf[i];
        Cell& to = q.cells[n];
        switch (rs.kinds[i]) {
            case CellKind::Text: to.s.assign(from.s); break;
            case CellKind::Real: to.d = from.d; break;
            case CellKind::Integer: to.i = from.i; break;
        }
    }
    q.count = count;
    changes_taken(rs, all);
    rs.insert.forget();  // its parameters no longer follow the changes listed
    q.row = bt.lastRow + 1;
    q.planned = planned;
    c.writer->push();
    c.unwaited(true);
    rs.current = q.row;
    ++c.rowsVersion;
    note_row_changes(c, rs.def->number);
    return bulk_added(hd, rs, bt);
}

int write_row(uint16_t h, uint16_t rec, uint16_t* dupKey, bool replace) {
    if (dupKey) *dupKey = 0;
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    // A row that failed on the writer is answered before anything else is tried.
    if (hd->conn->writer && hd->conn->writer->failed()) return writer_settle(*hd);
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return XIO_BAD_CALL;
    const RecordDef& r = *rs->def;
    const Dictionary& d = *hd->dict;
    std::string oldKey;
    // A record read in part is stored only over itself, and only with the fields read: what it
    // was not read with is unknown here, and a value put there would be lost.
    FieldChoice* const part = rs->readWith.get();
    if (part && !replace) return set_error(XIO_BAD_CALL, "a record read in part cannot be added");
    if (part)
        for (uint16_t at : part->unread)
            if (!(rs->buf[at] == rs->defaults[at]))
                return set_error(XIO_BAD_CALL, "field " + d.fields[r.firstField + at].def.name + " was not read");
    if (replace) {
        if (rs->current == 0) return set_error(XIO_BAD_CALL, "no record to replace");
        if (!rs->locked.count(rs->current) && hd->locks->recordHeldByOther(rec, rs->current)) return XIO_LOCKED;
    }
    if (int s = begin_write(*hd); s != XIO_OK) return s;
    BulkTable* bulk = nullptr;
    if (int s = replace ? bulk_settle_for_write(*hd, rec) : bulk_admit(*hd, *rs, bulk); s != XIO_OK) return s;
    if (bulk && bulk->state == BulkTable::State::Loading && !replace && kWriterThreads) return queue_insert(*hd, *rs, *bulk);
    if (int s = writer_settle(*hd); s != XIO_OK) return s;
    // A whole-record replace leaves the key fields whose stored values are the buffer's.
    sqlite3_stmt* narrowed = nullptr;
    bool nothingToStore = false, keySame = false;
    if (replace && !part) {
        if (int s = stored_keys(*hd, *rs, oldKey, narrowed, nothingToStore, keySame); s != XIO_OK) return s;
    } else if (replace) {
        // Notes follow their record when its primary key changes. Only the stored key is read
        // (a record can be wide), by a statement kept with the record type.
        sqlite3_stmt*& st = rs->storedKeyStmt;
        if (st) {
            checked_reset(st);
        } else {
            std::string cols;
            for (uint16_t f : r.primaryKey) cols += (cols.empty() ? "" : ", ") + quote(d.fields[f].def.name);
            st = hd->stmt("SELECT " + cols + " FROM " + table_of(r) + " WHERE rowid = ?1");
        }
        if (!st) return db_fail(*hd, sqlite3_errcode(hd->db()));
        sqlite3_bind_int64(st, 1, rs->current);
        if (checked_step(st) != SQLITE_ROW) {
            checked_reset(st);
            return XIO_NOT_FOUND;
        }
        Cells stored(r.primaryKey.size());
        for (size_t i = 0; i < r.primaryKey.size(); ++i) read_cell(st, static_cast<int>(i), d.fields[r.primaryKey[i]].def.type, stored[i]);
        checked_reset(st);
        oldKey = key_text_of(*hd, r, [&](size_t i, uint16_t) -> const Cell& { return stored[i]; });
    }
    sqlite3_stmt* st = nullptr;
    if (part) {
        sqlite3_stmt*& slot = part->updateStmt;
        if (slot) checked_reset(slot);
        else slot = hd->stmt(part->updateSql);
        st = slot;
        if (!st) return db_fail(*hd, sqlite3_errcode(hd->db()));
        for (size_t i = 0; i < part->read.size(); ++i) {
            const uint16_t at = part->read[i];
            bind_kind(st, static_cast<int>(i + 1), rs->kinds[at], rs->buf[at]);
        }
        sqlite3_bind_int64(st, static_cast<int>(part->read.size() + 1), rs->current);
    } else if (nothingToStore) {
        // The stored row is already what the replace would leave.
    } else if (narrowed) {
        st = narrowed;
        checked_reset(st);
        for (std::size_t i = 0; i < rs->kinds.size(); ++i)
            if (rs->storing[i] == '1') bind_kind(st, static_cast<int>(i + 1), rs->kinds[i], rs->buf[i]);
        sqlite3_bind_int64(st, r.lastField - r.firstField + 2, rs->current);
    } else if (replace) {
        sqlite3_stmt*& slot = rs->updateStmt;
        if (slot) checked_reset(slot);
        else slot = hd->stmt(rs->updateSql);
        st = slot;
        if (!st) return db_fail(*hd, sqlite3_errcode(hd->db()));
        for (std::size_t i = 0; i < rs->kinds.size(); ++i) bind_kind(st, static_cast<int>(i + 1), rs->kinds[i], rs->buf[i]);
        sqlite3_bind_int64(st, r.lastField - r.firstField + 2, rs->current);
    } else {
        if (int rc = rs->insert.prepare(hd->db(), rs->insertSql, rs->kinds); rc != SQLITE_OK) return db_fail(*hd, rc);
        st = rs->insert.statement();
        const bool all = rs->bindAll || !rs->insert.bindListed(rs->buf, rs->unbound.data(), rs->unboundCount);
        if (all) rs->insert.bind(rs->buf);
        changes_taken(*rs, all);
        rs->queuedInStep = false;
    }
    int rc = SQLITE_DONE;
    if (!nothingToStore) {
        rc = checked_step(st);
        checked_reset(st);
    }
    if (rc != SQLITE_DONE) {
        int s = db_fail(*hd, rc);
        if (s == XIO_DUPLICATE && dupKey) *dupKey = clashing_key(*hd, *rs, replace ? rs->current : 0);
        return s;
    }
    if (replace) {
        if (!nothingToStore && sqlite3_changes(hd->db()) == 0) return XIO_NOT_FOUND;
        std::string newKey = keySame ? std::string() : key_text(*hd, *rs);
        if (!keySame && newKey != oldKey) {
            note_row_changes(*hd->conn, rec);
            sqlite3_stmt* mv = hd->stmt("UPDATE OR REPLACE dz_notes SET keytext = ?1 WHERE rec = ?2 AND keytext = ?3");
            if (mv) {
                sqlite3_bind_text(mv, 1, newKey.data(), static_cast<int>(newKey.size()), SQLITE_STATIC);
                sqlite3_bind_int(mv, 2, rec);
                sqlite3_bind_text(mv, 3, oldKey.data(), static_cast<int>(oldKey.size()), SQLITE_STATIC);
                rc = checked_step(mv);
                checked_reset(mv);
                if (rc != SQLITE_DONE) return db_fail(*hd, rc);
            }
        }
        if (rs->locked.erase(rs->current)) hd->locks->releaseRecord(rec, rs->current);
    } else {
        rs->current = sqlite3_last_insert_rowid(hd->db());
        ++hd->conn->rowsVersion;
        note_row_changes(*hd->conn, rec);
        if (bulk) return bulk_added(*hd, *rs, *bulk);
    }
    return XIO_OK;
}

void clear_positions(Handle& hd) {
    for (auto& [n, rs] : hd.recs) {
        rs.pos = Pos::None;
        rs.current = 0;
        rs.count = -1;
        rs.ordinal = -1;
    }
}

// ---- Value conversion ---------------------------------------------------------------------

void to_value(const FieldDef& f, const Cell& c, x_value_def& v) {
    const uint16_t t = f.def.type;
    if (is_text(t)) {
        AssignText(v.text, Utf8PrefixBytes(c.s, x_value_def::kTextMax));
        if (c.s.size() > x_value_def::kTextMax) v.longText = c.s;
        else v.longText.clear();
    } else if (is_real(t)) {
        v.number = c.d;
    } else if (t == XIO_TYPE_LOGICAL) {
        v.flag = c.i ? 1 : 0;
    } else if (t == XIO_TYPE_DATE) {
        v.date = {static_cast<uint16_t>(c.i / 100 % 100), static_cast<uint16_t>(c.i % 100), static_cast<uint16_t>(c.i / 10000)};
    } else if (t == XIO_TYPE_TIME) {
        v.time = {static_cast<uint16_t>(c.i / 10000), static_cast<uint16_t>(c.i / 100 % 100), static_cast<uint16_t>(c.i % 100)};
    } else {
        v.number = static_cast<double>(c.i);
    }
}

// Does the text hold a zero byte? Values are short and seldom do: words of the text are looked
// at in place, a call to a library search costing more than the look for a short one. A word
// holds a zero byte exactly when subtracting one from each byte borrows into a byte whose top
// bit was clear.
bool holds_nul(std::string_view s) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL, kTops = 0x8080808080808080ULL;
    const char* p = s.data();
    const std::size_t n = s.size();
    if (n < 8) {
        if (n < 4) {
            for (std::size_t i = 0; i < n; ++i)
                if (p[i] == '\0') return true;
            return false;
        }
        uint32_t a, b;  // the first four bytes and the last four, overlapping
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + n - 4, 4);
        return ((((a - 0x01010101U) & ~a) | ((b - 0x01010101U) & ~b)) & 0x80808080U) != 0;
    }
    uint64_t any = 0, w;
    const char* const last = p + n - 8;
    for (; p < last; p += 8) {
        std::memcpy(&w, p, 8);
        any |= (w - kOnes) & ~w & kTops;
    }
    std::memcpy(&w, last, 8);  // the last eight, overlapping those looked at
    any |= (w - kOnes) & ~w & kTops;
    return any != 0;
}

// A text field's cell: trailing blanks and anything from a NUL on dropped, cut to its length.
void text_into_cell(const FieldDef& f, std::string_view s, Cell& c) {
    auto trim = [&s] {
        while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
    };
    trim();
    const std::size_t whole = s.size();
    if (holds_nul(s)) s = s.substr(0, s.find('\0'));
    if (s.size() > f.def.length) s = Utf8Prefix(s, f.def.length);  // the length counts characters
    if (s.size() != whole) trim();  // what was cut may end in blanks
    AssignText(c.s, s);  // into the cell's own storage: no allocation when it fits
}

void from_value(const FieldDef& f, const x_value_def& v, Cell& c) {
    const uint16_t t = f.def.type;
    if (is_text(t)) {
        // The long member carries the value when the text member is its first part.
        const bool useLong = !v.text.empty() && v.longText.size() > v.text.size() &&
                             v.longText.compare(0, v.text.size(), v.text) == 0;
        text_into_cell(f, useLong ? v.longText : v.text, c);
    } else if (is_real(t)) {
        c.d = v.number;
    } else if (t == XIO_TYPE_LOGICAL) {
        c.i = v.flag ? 1 : 0;
    } else if (t == XIO_TYPE_DATE) {
        c.i = v.date.month == 0 ? 0 : v.date.year * 10000LL + v.date.month * 100 + v.date.day;
    } else if (t == XIO_TYPE_TIME) {
        c.i = v.time.hour * 10000LL + v.time.minute * 100 + v.time.second;
    } else {
        c.i = static_cast<int64_t>(std::llround(v.number));
    }
}

}  // namespace

// ==== Public calls =========================================================================

void xio_set_file_control(xio_file_control resolver) { g_fileControl = std::move(resolver); }

bool xio_load_dictionaries(const std::filesystem::path& folder, std::string& error) {
    bool ok = xio::load_all(folder, error);
    if (!ok) g_error = error;
    return ok;
}

std::vector<std::string> xio_dictionary_abbrs() { return xio::abbrs(); }

std::string xio_file_name(const std::string& abbr, uint16_t fileNo) {
    std::string err;
    auto d = xio::get(abbr, err);
    if (!d) return "";
    const auto* fe = d->file(fileNo);
    return fe ? fe->name : "";
}

bool xio_registry_lookup(uint16_t fileCode, std::string& abbr, uint16_t& fileNo) {
    for (const auto& e : kRegistry)
        if (e.code == fileCode) {
            abbr = e.abbr;
            fileNo = e.fileNo;
            return true;
        }
    return false;
}

int xio_create_file(const std::string& abbr, uint16_t fileNo, const std::filesystem::path& path) {
    std::string err;
    auto d = xio::get(abbr, err);
    if (!d) return set_error(XIO_NO_DICTIONARY, err);
    return create_file(*d, fileNo, path);
}

std::string xio_error_text() { return g_error; }
bool xio_error_unwritable() { return g_errorUnwritable; }

int xio_ask_file(const xio_ask_request& req, uint16_t& handle) {
    handle = 0;
    std::string abbr = req.abbr;
    uint16_t fileNo = req.fileNo;
    if (abbr.empty() && !xio_registry_lookup(req.fileCode, abbr, fileNo))
        return set_error(XIO_NO_FILE, "unknown file code " + std::to_string(req.fileCode));
    for (auto& c : abbr) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string err;
    auto d = xio::get(abbr, err);
    if (!d) return set_error(XIO_NO_DICTIONARY, err);
    const auto* fe = d->file(fileNo);
    if (!fe) return set_error(XIO_NO_FILE, abbr + " has no file number " + std::to_string(fileNo));
    if (!g_fileControl) return set_error(XIO_NO_FILE, "no company is open");
    const std::filesystem::path path = g_fileControl(abbr) / fe->name;
    std::error_code ec;
    const bool readOnly = req.readOnly || g_readOnlyScopes > 0;
    if (!std::filesystem::exists(path, ec)) {
        if (!req.create || readOnly) return set_error(XIO_NO_FILE, path.string() + " does not exist");
        // Made meanwhile by another program: opened as it stands.
        if (int s = create_file(*d, fe->number, path); s != XIO_OK && (s != XIO_LOCKED || g_errorUnwritable)) return s;
    }
    return open_path(path, abbr, true, readOnly, handle);
}

int xio_open_file(const std::filesystem::path& path, uint16_t mode, uint16_t& handle) {
    return open_path(path, "", false, mode == XIO_OPEN_READ_ONLY, handle);
}

xio_read_only_scope::xio_read_only_scope() { ++g_readOnlyScopes; }
xio_read_only_scope::~xio_read_only_scope() { --g_readOnlyScopes; }

bool xio_is_read_only(uint16_t h) {
    Handle* hd = H(h);
    return hd && hd->readOnly;
}

int xio_start_writes(uint16_t h) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    if (hd->writesStarted) return XIO_OK;
    if (int s = XIO_OK; planned_failure(*hd, xio::FaultCall::StartWrites, s)) return s;
    if (!hd->dict->multiUser) {
        // Held by another handle of this program is fine; by another program, or not to be had, is not.
        if (int s = take_lock(*hd, 'W', ""); s != XIO_OK && (!hd->locks->error().empty() || hd->locks->heldByOther('W', "", true)))
            return s;
    }
    hd->writesStarted = true;
    return XIO_OK;
}

void xio_start_commit(uint16_t h) {
    Handle* hd = H(h);
    if (!hd) return;
    Conn& c = *hd->conn;
    if (!c.writer || !c.inTxn || c.readTxn || c.indexJob.handedOver || c.writer->failed()) return;
    IndexJob job;
    for (const auto& [rec, bt] : c.bulk) {
        if (bt.state != BulkTable::State::Loading || bt.setAside.empty()) continue;
        IndexJob::Table t;
        t.rec = rec;
        for (auto it = bt.setAside.rbegin(); it != bt.setAside.rend(); ++it) t.creates.push_back(it->create);
        job.tables.push_back(std::move(t));
    }
    if (job.tables.empty()) return;
    c.indexJob = std::move(job);
    c.indexJob.handedOver = true;
    QueuedRow& q = c.writer->slot();
    q.job = &c.indexJob;
    q.table = nullptr;
    q.count = 0;
    q.planned = SQLITE_OK;
    c.writer->pushNow();
    c.unwaited(true);
}

int xio_commit(uint16_t h) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    if (!hd->conn->inTxn) return XIO_OK;
    if (hd->conn->readTxn) {
        end_read_txn(*hd->conn);
        return XIO_OK;
    }
    if (int s = XIO_OK; planned_failure(*hd, xio::FaultCall::Commit, s)) return s;
    // Never a commit while a row handed to the writer failed: the transaction is to be rolled back.
    if (int s = writer_settle(*hd); s != XIO_OK) return s;
    if (int s = take_index_job(*hd); s != XIO_OK) return s;
    // Indexes set aside by a bulk load are made in the transaction they were dropped in.
    if (int s = bulk_settle_all(*hd); s != XIO_OK) return s;
    for (const auto& [rec, bt] : hd->conn->bulk)
        if (!bt.setAside.empty()) return set_error(XIO_LOCKED, hd->path.string() + " is in use: its indexes cannot be made");
    int rc = exec(hd->db(), "COMMIT");
    if (rc != SQLITE_OK) return db_fail(*hd, rc);
    hd->conn->inTxn = false;
    ++hd->conn->txnSerial;
    hd->conn->bulk.clear();
    bulk_page_cache(*hd->conn);
    return XIO_OK;
}

int xio_rollback(uint16_t h) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    // The rows handed to the writer and not yet run are dropped (the one in flight is waited
    // for); a failure of one of them ends with the rollback.
    if (Conn& c = *hd->conn; c.writer) {
        c.writer->drop();
        ++c.queueEpoch;
        c.unwaited(false);
        c.indexJob = IndexJob{};  // whatever it made goes with the transaction
        if (c.writer->failed()) {
            note_txn_gone(*hd);
            c.writer->clearFailure();
        }
    }
    if (!hd->conn->inTxn) return XIO_OK;
    if (hd->conn->readTxn) {  // nothing was written: positions stay
        end_read_txn(*hd->conn);
        return XIO_OK;
    }
    int rc = exec(hd->db(), "ROLLBACK");
    hd->conn->inTxn = false;
    ++hd->conn->txnSerial;
    hd->conn->bulk.clear();
    bulk_page_cache(*hd->conn);
    ++hd->conn->rowsVersion;
    ++hd->conn->rollbacks;
    for (auto& other : g_handles)
        if (other && other->conn == hd->conn) clear_positions(*other);
    return rc == SQLITE_OK ? XIO_OK : db_fail(*hd, rc);
}

int xio_begin_reads(uint16_t h) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    Conn& c = *hd->conn;
    if (c.inTxn) return XIO_OK;
    if (exec(c.db(), "BEGIN") != SQLITE_OK) return XIO_OK;  // the reads then lock one by one
    c.inTxn = true;
    c.readTxn = true;
    ++c.readTxnSerial;  // what an earlier read transaction found out holds no longer
    ++c.txnSerial;
    return XIO_OK;
}

int xio_end_reads(uint16_t h) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    end_read_txn(*hd->conn);
    return XIO_OK;
}

int xio_end_writes(uint16_t h) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    int s = xio_commit(h);
    if (s != XIO_OK) return s;
    hd->writesStarted = false;
    hd->locks->release('W', "");
    return XIO_OK;
}

int xio_cls_file(uint16_t h) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    // Pending writes are committed unless another handle of this program is still writing
    // to the same file (its batch stays whole).
    bool othersWriting = false;
    for (size_t i = 1; i < g_handles.size(); ++i)
        if (i != h && g_handles[i] && g_handles[i]->conn == hd->conn && g_handles[i]->writesStarted) othersWriting = true;
    int s = XIO_OK;
    if (!othersWriting) {
        s = xio_commit(h);
        if (s != XIO_OK) (void)xio_rollback(h);  // the failed commit is what the close answers
    }
    hd->locks->releaseAll();
    g_handles[h].reset();
    while (g_handles.size() > 1 && !g_handles.back()) g_handles.pop_back();
    return s;
}

bool xio_file_exists(const std::string& abbr, uint16_t kind) {
    if (!g_fileControl) return false;
    std::string up = abbr;
    for (auto& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string name;
    if (kind == XIO_EXISTS_MASTER) name = "MASTER." + up;
    else if (kind == XIO_EXISTS_SETTING) name = "SETTING." + up;
    else return false;
    std::error_code ec;
    return std::filesystem::is_regular_file(g_fileControl(up) / name, ec);
}

uint16_t xio_num(uint16_t h, uint16_t kind, uint16_t n, const std::string& name) {
    Handle* hd = H(h);
    if (!hd) return 0;
    const RecordDef* r = nullptr;
    if (kind == XIO_NUM_RECORD) r = hd->dict->record(n);
    else if (kind == XIO_NUM_HEADER) r = hd->dict->header(n);
    else if (kind == XIO_NUM_HEADER_ALIAS) r = hd->dict->header(n ? n : 1);
    return r ? hd->dict->fieldNumber(*r, name) : 0;
}

int xio_init_record(uint16_t h, uint16_t rec) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return XIO_BAD_CALL;
    reset_record(*rs);
    rs->readWith.reset();
    return XIO_OK;
}

int xio_init_header(uint16_t h, uint16_t header) {
    Handle* hd = H(h);
    if (!hd || !hd->hdrs.count(header)) return XIO_BAD_CALL;
    HdrState& hs = hd->hdrs[header];
    reset_cells(hs.buf, hs.defaults);
    return XIO_OK;
}

int xio_get_field(uint16_t h, uint16_t rec, uint16_t fld, x_value_def& value) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    const FieldDef* fd = nullptr;
    Cell* c = cell_of(*hd, rec, fld, &fd);
    if (!c) return XIO_BAD_CALL;
    to_value(*fd, *c, value);
    return XIO_OK;
}

int xio_put_field(uint16_t h, uint16_t rec, uint16_t fld, const x_value_def& value) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    const FieldDef* fd = nullptr;
    Cell* c = cell_of(*hd, rec, fld, &fd);
    if (!c) return XIO_BAD_CALL;
    const Handle::Slot& sl = hd->slots[fld];
    note_change(sl.owner, fld - sl.first);
    from_value(*fd, value, *c);
    return XIO_OK;
}

double xio_get_number(uint16_t h, uint16_t fld) {
    uint16_t t = 0;
    const Cell* c = typed_cell(h, fld, t);
    if (!c) return 0;
    if (is_real(t)) return c->d;
    if (is_text(t) || t == XIO_TYPE_LOGICAL || t == XIO_TYPE_DATE || t == XIO_TYPE_TIME) return 0;
    return static_cast<double>(c->i);
}

uint16_t xio_get_flag(uint16_t h, uint16_t fld) {
    uint16_t t = 0;
    const Cell* c = typed_cell(h, fld, t);
    return c && t == XIO_TYPE_LOGICAL && c->i ? 1 : 0;
}

namespace {
const std::string kNoText;  // what a text read of a field that is not a text answers
}  // namespace

const std::string& xio_get_text(uint16_t h, uint16_t fld) {
    uint16_t t = 0;
    const Cell* c = typed_cell(h, fld, t);
    return c && is_text(t) ? c->s : kNoText;
}

int xio_put_number(uint16_t h, uint16_t fld, double number) {
    Cell* c = nullptr;
    const Handle::Slot* sl = put_slot(h, fld, c);
    if (!sl) return XIO_BAD_CALL;
    if (is_real(sl->type)) {
        c->d = number;
    } else {
        x_value_def v;
        v.number = number;
        from_value(*sl->def, v, *c);
    }
    return XIO_OK;
}

int xio_put_text(uint16_t h, uint16_t fld, std::string_view text) {
    Cell* c = nullptr;
    const Handle::Slot* sl = put_slot(h, fld, c);
    if (!sl) return XIO_BAD_CALL;
    const FieldDef& fd = *sl->def;
    if (is_text(sl->type)) {
        text_into_cell(fd, text, *c);
    } else {
        x_value_def v;  // a text gives any other field its empty value
        from_value(fd, v, *c);
    }
    return XIO_OK;
}

int xio_put_flag(uint16_t h, uint16_t fld, uint16_t flag) {
    Cell* c = nullptr;
    const Handle::Slot* sl = put_slot(h, fld, c);
    if (!sl) return XIO_BAD_CALL;
    if (sl->type == XIO_TYPE_LOGICAL) {
        c->i = flag ? 1 : 0;
    } else {
        x_value_def v;
        v.flag = flag;
        from_value(*sl->def, v, *c);
    }
    return XIO_OK;
}

namespace {

int16_t field_result(const Cell& c, uint16_t t) {
    if (is_text(t)) return c.s.empty() ? 0 : 1;
    if (is_real(t)) return static_cast<int16_t>(std::clamp(std::trunc(c.d), -32768.0, 32767.0));
    if (t == XIO_TYPE_DATE || t == XIO_TYPE_TIME) return c.i ? 1 : 0;
    return static_cast<int16_t>(std::clamp<int64_t>(c.i, -32768, 32767));
}

}  // namespace

int16_t xio_get_field_result(uint16_t h, uint16_t rec, uint16_t fld) {
    Handle* hd = H(h);
    if (!hd || fld >= hd->slots.size()) return 0;
    const Handle::Slot& sl = hd->slots[fld];
    if (!sl.buf || (rec != 0 && sl.record != 0 && rec != sl.record)) return 0;
    return field_result(*(sl.buf->data() + (fld - sl.first)), sl.type);
}

uint16_t xio_first_nonblank_text(uint16_t h, uint16_t first, uint16_t last) {
    Handle* hd = H(h);
    if (!hd || first == 0) return 0;
    for (uint32_t f = first; f <= last && f < hd->slots.size(); ++f) {
        const Handle::Slot& sl = hd->slots[f];
        if (!sl.buf || !is_text(sl.type)) continue;
        const std::string& text = (sl.buf->data() + (f - sl.first))->s;
        if (text.find_first_not_of(' ') != std::string::npos) return static_cast<uint16_t>(f);
    }
    return 0;
}

uint16_t xio_first_nonzero_number(uint16_t h, uint16_t first, uint16_t last) {
    Handle* hd = H(h);
    if (!hd || first == 0) return 0;
    for (uint32_t f = first; f <= last && f < hd->slots.size(); ++f) {
        const Handle::Slot& sl = hd->slots[f];
        if (!sl.buf) continue;
        const Cell& c = *(sl.buf->data() + (f - sl.first));
        const uint16_t t = sl.type;
        // What xio_get_number reads: none for texts, flags, dates and times.
        if (is_real(t) ? c.d != 0 : !(is_text(t) || t == XIO_TYPE_LOGICAL || t == XIO_TYPE_DATE || t == XIO_TYPE_TIME) && c.i != 0)
            return static_cast<uint16_t>(f);
    }
    return 0;
}

void xio_read_image(uint16_t h, const xio_image_read* reads, std::size_t count, void* image) {
    Handle* hd = H(h);
    char* base = static_cast<char*>(image);
    for (std::size_t n = 0; n < count; ++n) {
        const xio_image_read& r = reads[n];
        const Handle::Slot* sl = hd && r.field < hd->slots.size() && hd->slots[r.field].buf ? &hd->slots[r.field] : nullptr;
        const Cell* c = sl ? sl->buf->data() + (r.field - sl->first) : nullptr;
        const uint16_t t = sl ? sl->type : 0;
        if (r.kind == XIO_READ_TEXT) {
            std::string& m = *reinterpret_cast<std::string*>(base + r.offset);
            if (c && is_text(t) && !c->s.empty()) m.assign(c->s);
            else m.clear();
        } else {
            double& m = *reinterpret_cast<double*>(base + r.offset);
            // What xio_get_number reads: none for texts, flags, dates and times.
            if (!c) m = 0;
            else if (is_real(t)) m = c->d;
            else if (is_text(t) || t == XIO_TYPE_LOGICAL || t == XIO_TYPE_DATE || t == XIO_TYPE_TIME) m = 0;
            else m = static_cast<double>(c->i);
        }
    }
}

void xio_write_image(uint16_t h, const xio_image_write* writes, std::size_t count, const void* image) {
    Handle* hd = H(h);
    if (!hd) return;
    const char* base = static_cast<const char*>(image);
    for (std::size_t n = 0; n < count; ++n) {
        const xio_image_write& w = writes[n];
        if (w.field >= hd->slots.size() || !hd->slots[w.field].buf) continue;
        const Handle::Slot& sl = hd->slots[w.field];
        const std::size_t at = w.field - sl.first;
        Cell& c = sl.buf->data()[at];
        const void* member = base + w.offset;
        if (w.kind == XIO_WRITE_TEXT) {
            const std::string& m = *static_cast<const std::string*>(member);
            if (is_text(sl.type)) {
                if (m.empty() && c.s.empty()) continue;
                note_change(sl.owner, at);
                text_into_cell(*sl.def, m, c);
            } else {
                note_change(sl.owner, at);
                from_value(*sl.def, x_value_def{}, c);  // a text gives any other field its empty value
            }
            continue;
        }
        if (w.kind == XIO_WRITE_DATE) {
            if (sl.type != XIO_TYPE_DATE) continue;
            const x_date_type& m = *static_cast<const x_date_type*>(member);
            note_change(sl.owner, at);
            c.i = m.month == 0 ? 0 : m.year * 10000LL + m.month * 100 + m.day;  // as from_value makes it
            continue;
        }
        const bool word = w.kind == XIO_WRITE_WORD || w.kind == XIO_WRITE_WORD_FLAG;
        const double m = word ? *static_cast<const uint16_t*>(member) : *static_cast<const double*>(member);
        note_change(sl.owner, at);
        const bool flag = w.kind == XIO_WRITE_FLAG || w.kind == XIO_WRITE_WORD_FLAG;
        if (flag && sl.type == XIO_TYPE_LOGICAL) {
            c.i = m != 0 ? 1 : 0;
        } else if (!flag && is_real(sl.type)) {
            c.d = m;
        } else {
            x_value_def v;
            if (flag) v.flag = m != 0 ? 1 : 0;
            else v.number = m;
            from_value(*sl.def, v, c);
        }
    }
}

uint16_t xio_zero_numbers(uint16_t h, uint16_t first, uint16_t last, double& firstValue) {
    Handle* hd = H(h);
    if (!hd || first == 0 || last < first) return 0;
    uint16_t found = 0;
    for (uint32_t f = first; f <= last && f < hd->slots.size(); ++f) {
        const Handle::Slot& sl = hd->slots[f];
        if (!sl.buf) continue;
        Cell& c = *(sl.buf->data() + (f - sl.first));
        const uint16_t t = sl.type;
        if (is_real(t)) {
            // Its field result is non-zero exactly when the number is at least 1 either way.
            if (!(std::fabs(c.d) >= 1.0)) continue;
            if (!found) {
                found = static_cast<uint16_t>(f);
                firstValue = c.d;
            }
            note_change(sl.owner, f - sl.first);
            c.d = 0;
            continue;
        }
        if (field_result(c, t) == 0) continue;
        // The number xio_get_number reads: none for texts, flags, dates and times.
        if (is_text(t) || t == XIO_TYPE_LOGICAL || t == XIO_TYPE_DATE || t == XIO_TYPE_TIME) continue;
        const double v = static_cast<double>(c.i);
        if (v == 0) continue;
        if (!found) {
            found = static_cast<uint16_t>(f);
            firstValue = v;
        }
        x_value_def zero;
        note_change(sl.owner, f - sl.first);
        from_value(*sl.def, zero, c);
    }
    return found;
}

int xio_find_record(uint16_t h, uint16_t rec, uint16_t key) {
    if (int s = XIO_OK; H(h) && planned_failure(*H(h), xio::FaultCall::FindRecord, s)) return s;
    return read_op(h, rec, key, Op::Find, 0);
}
int xio_rd_record(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock) { return read_op(h, rec, key, Op::Exact, lock); }
int xio_rd_ge(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock) { return read_op(h, rec, key, Op::GE, lock); }
int xio_rd_gt(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock) { return read_op(h, rec, key, Op::GT, lock); }
namespace {

// The cursor on stored row `row`, as a read by the primary key would leave it, the buffer
// holding that row's keys.
void cursor_at_row(RecState& rs, int64_t row) {
    const RecordDef& r = *rs.def;
    rs.current = row;
    rs.pos = Pos::At;
    rs.curKey = 0;
    rs.curRow = row;
    rs.curVals.resize(r.primaryKey.size());
    for (size_t i = 0; i < r.primaryKey.size(); ++i) rs.curVals[i] = rs.buf[r.primaryKey[i] - r.firstField];
    rs.ordinal = -1;
}

}  // namespace

int xio_rd_every(uint16_t h, uint16_t rec, const std::function<bool()>& each) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return hd->lastStatus = XIO_BAD_CALL;
    hold_reads(*hd);
    if (int s = writer_settle(*hd); s != XIO_OK) return hd->lastStatus = s;
    if (int s = bulk_settle(*hd, rec); s != XIO_OK) return hd->lastStatus = s;
    const Dictionary& d = *hd->dict;
    const RecordDef& r = *rs->def;
    std::string order;
    for (uint16_t f : r.primaryKey) order += hd->col(f) + ", ";
    // A statement of its own, not the cached one: `each` may read this file meanwhile.
    sqlite3_stmt* st = nullptr;
    const std::string sql = "SELECT rowid, " + rs->columns + " FROM " + table_of(r) + " ORDER BY " + order + "rowid";
    if (sqlite3_prepare_v2(hd->db(), sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        return hd->lastStatus = db_fail(*hd, sqlite3_errcode(hd->db()));
    int rc;
    // `each` may add records to this file, handed to its writer: the walk's statement waits.
    while ((rc = (hd->conn->waitWriter(), checked_step(st))) == SQLITE_ROW) {
        for (uint16_t n = r.firstField; n <= r.lastField; ++n)
            read_cell(st, n - r.firstField + 1, d.fields[n].def.type, rs->buf[n - r.firstField]);
        changed_whole(*rs);
        rs->readWith.reset();
        cursor_at_row(*rs, sqlite3_column_int64(st, 0));
        if (!each()) {
            rc = SQLITE_DONE;
            break;
        }
    }
    const int status = rc == SQLITE_DONE ? XIO_END : db_fail(*hd, rc);
    hd->conn->waitWriter();
    sqlite3_finalize(st);
    return hd->lastStatus = status;
}

int xio_rd_every_chosen(uint16_t h, uint16_t rec, const std::function<bool()>& each) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return hd->lastStatus = XIO_BAD_CALL;
    hold_reads(*hd);
    if (int s = writer_settle(*hd); s != XIO_OK) return hd->lastStatus = s;
    if (int s = bulk_settle(*hd, rec); s != XIO_OK) return hd->lastStatus = s;
    const Dictionary& d = *hd->dict;
    const RecordDef& r = *rs->def;
    // Held for the whole walk: `each` may choose other fields for its own reads.
    const std::shared_ptr<FieldChoice> choice = rs->choice;
    std::string order;
    for (uint16_t f : r.primaryKey) order += hd->col(f) + ", ";
    // A statement of its own: `each` reads and replaces through the cached ones meanwhile.
    sqlite3_stmt* st = nullptr;
    const std::string sql = "SELECT rowid, " + (choice ? choice->columns : rs->columns) + " FROM " + table_of(r) +
                            " ORDER BY " + order + "rowid";
    if (sqlite3_prepare_v2(hd->db(), sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        return hd->lastStatus = db_fail(*hd, sqlite3_errcode(hd->db()));
    int rc;
    int64_t last = 0;
    bool any = false;
    // `each` may add records to this file, handed to its writer: the walk's statement waits.
    while ((rc = (hd->conn->waitWriter(), checked_step(st))) == SQLITE_ROW) {
        const int64_t row = sqlite3_column_int64(st, 0);
        // A replace of the row just offered may bring it round once more: it is offered once.
        if (any && row == last) continue;
        any = true;
        last = row;
        if (choice) {
            for (size_t i = 0; i < choice->read.size(); ++i) {
                const uint16_t at = choice->read[i];
                read_cell(st, static_cast<int>(i + 1), d.fields[r.firstField + at].def.type, rs->buf[at]);
            }
            for (uint16_t at : choice->unread) reset_cell(rs->buf[at], rs->defaults[at]);
        } else {
            for (uint16_t n = r.firstField; n <= r.lastField; ++n)
                read_cell(st, n - r.firstField + 1, d.fields[n].def.type, rs->buf[n - r.firstField]);
        }
        changed_whole(*rs);
        rs->readWith = choice;
        cursor_at_row(*rs, row);
        if (!each()) {
            rc = SQLITE_DONE;
            break;
        }
    }
    const int status = rc == SQLITE_DONE ? XIO_END : db_fail(*hd, rc);
    hd->conn->waitWriter();
    sqlite3_finalize(st);
    return hd->lastStatus = status;
}

int xio_rd_first(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock) { return read_op(h, rec, key, Op::First, lock); }
int xio_rd_next(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock) { return read_op(h, rec, key, Op::Next, lock); }
int xio_rd_previous(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock) { return read_op(h, rec, key, Op::Prev, lock); }
int xio_rd_last(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock) { return read_op(h, rec, key, Op::Last, lock); }

int64_t xio_current_row(uint16_t h, uint16_t rec) {
    Handle* hd = H(h);
    RecState* rs = hd ? rec_of(*hd, rec) : nullptr;
    return rs ? rs->current : 0;
}

int xio_hold_record(uint16_t h, uint16_t rec, int64_t row, uint16_t lock) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs || row <= 0) return hd->lastStatus = XIO_BAD_CALL;
    hold_reads(*hd);
    if (int s = writer_settle(*hd); s != XIO_OK) return hd->lastStatus = s;
    if (int s = bulk_settle(*hd, rec); s != XIO_OK) return hd->lastStatus = s;
    const RecordDef& r = *rs->def;
    // The row's stored keys, so that a row number gone stale never stands for another record;
    // the replace that follows uses them rather than reading them again.
    const Dictionary& d = *hd->dict;
    const int rc = read_stored_keys(*hd, *rs, row);
    if (rc == -1) return hd->lastStatus = db_fail(*hd, sqlite3_errcode(hd->db()));
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return hd->lastStatus = db_fail(*hd, rc);
    bool same = rc == SQLITE_ROW;
    for (size_t i = 0; same && i < r.primaryKey.size(); ++i) {
        // As the file's keys compare: texts without regard to ASCII letter case, numbers by value.
        const uint16_t f = r.primaryKey[i];
        const uint16_t t = d.fields[f].def.type;
        const Cell& stored = rs->keysRead[i].cell;
        const Cell& c = rs->buf[f - r.firstField];
        if (is_text(t))
            same = stored.s.size() == c.s.size() &&
                   std::equal(stored.s.begin(), stored.s.end(), c.s.begin(), [](char a, char b) {
                       auto fold = [](char x) { return x >= 'a' && x <= 'z' ? static_cast<char>(x - ('a' - 'A')) : x; };
                       return fold(a) == fold(b);
                   });
        else if (is_real(t))
            same = stored.d == c.d;
        else
            same = stored.i == c.i;
    }
    if (!same) return hd->lastStatus = XIO_NOT_FOUND;
    if (lock && !rs->locked.count(row)) {
        if (int ls = take_record_lock(*hd, rec, row); ls != XIO_OK) return hd->lastStatus = ls;
        rs->locked.insert(row);
    }
    cursor_at_row(*rs, row);
    return hd->lastStatus = XIO_OK;
}

int xio_read_fields(uint16_t h, uint16_t rec, const std::vector<uint16_t>& fields) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return hd->lastStatus = XIO_BAD_CALL;
    const RecordDef& r = *rs->def;
    if (fields.empty()) {
        rs->choice.reset();
        return hd->lastStatus = XIO_OK;
    }
    for (auto& c : rs->choices)
        if (c->asked == fields) {
            rs->choice = c;
            return hd->lastStatus = XIO_OK;
        }
    std::vector<bool> wanted(r.lastField - r.firstField + 1, false);
    for (uint16_t f : fields) {
        if (f < r.firstField || f > r.lastField) return hd->lastStatus = set_error(XIO_BAD_CALL, "a field of another record type");
        wanted[f - r.firstField] = true;
    }
    // The fields of every key: the reads by any key match and order by them.
    for (uint16_t f : record_key_fields(*hd->dict, r)) wanted[f - r.firstField] = true;
    auto c = std::make_shared<FieldChoice>();
    c->asked = fields;
    std::string sets;
    for (uint16_t at = 0; at < wanted.size(); ++at) {
        if (!wanted[at]) {
            c->unread.push_back(at);
            continue;
        }
        c->read.push_back(at);
        const uint16_t n = static_cast<uint16_t>(r.firstField + at);
        c->columns += (c->columns.empty() ? "" : ", ") + hd->col(n);
        sets += (sets.empty() ? "" : ", ") + quote(hd->dict->fields[n].def.name) + " = ?" + std::to_string(c->read.size());
    }
    c->updateSql = "UPDATE " + table_of(r) + " SET " + sets + " WHERE rowid = ?" + std::to_string(c->read.size() + 1);
    constexpr std::size_t kChoicesKept = 4;
    rs->choices.insert(rs->choices.begin(), c);
    if (rs->choices.size() > kChoicesKept) rs->choices.pop_back();
    rs->choice = std::move(c);
    return hd->lastStatus = XIO_OK;
}

int xio_status(uint16_t h) {
    Handle* hd = H(h);
    return hd ? hd->lastStatus : XIO_BAD_CALL;
}

namespace {

// The number of rows of a record type, counted again only after rows were added or removed;
// -1 when it cannot be counted.
int64_t record_count(Handle& hd, RecState& rs) {
    const int64_t stamp = hd.conn->rowsVersion;
    if (rs.count < 0 || rs.countStamp != stamp) {
        if (bulk_settle(hd, rs.def->number) != XIO_OK) return -1;
        sqlite3_stmt* st = hd.stmt("SELECT count(*) FROM " + table_of(*rs.def));
        ++g_countQueries;
        if (!st || checked_step(st) != SQLITE_ROW) {
            if (st) checked_reset(st);
            return -1;
        }
        rs.count = sqlite3_column_int64(st, 0);
        rs.countStamp = stamp;
        checked_reset(st);
    }
    return rs.count;
}

}  // namespace

int64_t xio_record_count(uint16_t h, uint16_t rec) {
    Handle* hd = H(h);
    if (!hd) return 0;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return 0;
    hold_reads(*hd);
    return std::max<int64_t>(0, record_count(*hd, *rs));
}

int64_t xio_row_changes(uint16_t h, uint16_t rec, bool* anyRow) {
    Handle* hd = H(h);
    if (!hd) return -1;
    if (anyRow) {
        *anyRow = true;  // what cannot be looked at is taken to hold rows
        RecState* rs = rec_of(*hd, rec);
        if (!rs) return -1;
        hold_reads(*hd);
        // Whether the table holds a row needs none of its indexes: a load that set them aside
        // is left as it is.
        sqlite3_stmt* st = hd->stmt("SELECT 1 FROM " + table_of(*rs->def) + " LIMIT 1");
        if (!st) return -1;
        const int rc = checked_step(st);
        checked_reset(st);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return -1;
        *anyRow = rc == SQLITE_ROW;
    }
    const Conn& c = *hd->conn;
    return c.rollbacks + (rec < c.rowChanges.size() ? c.rowChanges[rec] : 0);
}

int xio_rd_rows_aside(uint16_t h, uint16_t rec, int64_t through, const std::function<void()>& each) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return hd->lastStatus = XIO_BAD_CALL;
    hold_reads(*hd);
    if (int s = bulk_settle(*hd, rec); s != XIO_OK) return hd->lastStatus = s;
    const Dictionary& d = *hd->dict;
    const RecordDef& r = *rs->def;
    // A statement of its own: `each` may read this file meanwhile.
    sqlite3_stmt* st = nullptr;
    const std::string sql = "SELECT " + rs->columns + " FROM " + table_of(r) + " WHERE rowid <= ?1 ORDER BY rowid";
    if (sqlite3_prepare_v2(hd->db(), sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        return hd->lastStatus = db_fail(*hd, sqlite3_errcode(hd->db()));
    sqlite3_bind_int64(st, 1, through);
    // The buffer and the cursor are the caller's: put back whatever the walk changed.
    Cells buf = rs->buf;
    auto readWith = std::move(rs->readWith);
    rs->readWith.reset();
    int rc;
    while ((rc = checked_step(st)) == SQLITE_ROW) {
        for (uint16_t n = r.firstField; n <= r.lastField; ++n)
            read_cell(st, n - r.firstField, d.fields[n].def.type, rs->buf[n - r.firstField]);
        changed_whole(*rs);
        each();
    }
    const int status = rc == SQLITE_DONE ? XIO_END : db_fail(*hd, rc);
    sqlite3_finalize(st);
    rs->buf = std::move(buf);
    rs->readWith = std::move(readWith);
    changed_whole(*rs);
    return hd->lastStatus = status;
}

int xio_get_relative_position(uint16_t h, uint16_t rec, uint16_t, uint16_t) {
    Handle* hd = H(h);
    if (!hd) return 0;
    RecState* rs = rec_of(*hd, rec);
    if (!rs || rs->current == 0) return 0;
    hold_reads(*hd);
    const Dictionary& d = *hd->dict;
    const std::string table = table_of(*rs->def);
    if (record_count(*hd, *rs) <= 0) return 0;
    int64_t before = -1;
    if (rs->pos == Pos::At && rs->curKey == 0 && rs->curRow == rs->current) before = rs->ordinal;
    if (before < 0) {
        std::string cols, params;
        for (size_t i = 0; i < rs->def->primaryKey.size(); ++i) {
            cols += (i ? ", " : "") + hd->col(rs->def->primaryKey[i]);
            params += (i ? ", ?" : "?") + std::to_string(i + 1);
        }
        sqlite3_stmt* st = hd->stmt("SELECT count(*) FROM " + table + " WHERE (" + cols + ") < (" + params + ")");
        if (!st) return 0;
        ++g_countQueries;
        for (size_t i = 0; i < rs->def->primaryKey.size(); ++i) {
            uint16_t f = rs->def->primaryKey[i];
            bind_cell(st, static_cast<int>(i + 1), d.fields[f].def.type, rs->buf[f - rs->def->firstField]);
        }
        if (checked_step(st) == SQLITE_ROW) before = sqlite3_column_int64(st, 0);
        checked_reset(st);
        if (before < 0) return 0;
        if (rs->pos == Pos::At && rs->curKey == 0 && rs->curRow == rs->current) rs->ordinal = before;
    }
    return static_cast<int>(std::min<int64_t>(100, (before + 1) * 100 / rs->count));
}

int xio_wr_record(uint16_t h, uint16_t rec, uint16_t* dupKey) {
    if (int s = XIO_OK; H(h) && planned_failure(*H(h), xio::FaultCall::WriteRecord, s)) return s;
    return write_row(h, rec, dupKey, false);
}
namespace {

constexpr std::size_t kGroupedAdds = 64;

// Whether rows added to `rec` may go several to a statement: a write transaction is open and
// no bulk load of the table is watching or running (the table's first add decided that).
bool group_adds(const Handle& hd, uint16_t rec) {
    const Conn& c = *hd.conn;
    if (!hd.writesStarted || !c.inTxn || c.readTxn) return false;
    if (hd.dict->multiUser) return true;
    const auto it = c.bulk.find(rec);
    return it != c.bulk.end() && it->second.state == BulkTable::State::Off;
}

}  // namespace

int xio_wr_records(uint16_t h, uint16_t rec, std::size_t count, const std::function<void(std::size_t)>& make) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return XIO_BAD_CALL;
    const std::size_t width = rs->kinds.size();
    const auto vars = static_cast<std::size_t>(std::max(1, sqlite3_limit(hd->db(), SQLITE_LIMIT_VARIABLE_NUMBER, -1)));
    const std::size_t group = width == 0 ? 1 : std::min(kGroupedAdds, vars / width);
    std::vector<Cells> held;  // the records made and not yet written
    std::size_t n = 0;
    // One by one, as xio_wr_record writes them; the buffer is left as it was.
    auto writeEach = [&]() -> int {
        for (std::size_t k = 0; k < n; ++k) {
            std::swap(rs->buf, held[k]);
            changed_whole(*rs);
            const int s = write_row(h, rec, nullptr, false);
            std::swap(rs->buf, held[k]);
            changed_whole(*rs);
            if (s != XIO_OK) return s;
        }
        n = 0;
        return XIO_OK;
    };
    auto writeGroup = [&]() -> int {
        if (int s = writer_settle(*hd); s != XIO_OK) return s;
        if (int s = begin_write(*hd); s != XIO_OK) return s;
        std::string sql = rs->insertSql.substr(0, rs->insertSql.find(" VALUES(")) + " VALUES";
        std::string row = "(";
        for (std::size_t c = 0; c < width; ++c) row += c ? ",?" : "?";
        row += ")";
        for (std::size_t r = 0; r < n; ++r) sql += (r ? "," : "") + row;
        sqlite3_stmt* st = hd->stmt(sql);
        if (!st) return db_fail(*hd, sqlite3_errcode(hd->db()));
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t c = 0; c < width; ++c)
                bind_kind(st, static_cast<int>(r * width + c + 1), rs->kinds[c], held[r][c]);
        const int rc = checked_step(st);
        checked_reset(st);
        if (rc != SQLITE_DONE) return db_fail(*hd, rc);
        rs->current = sqlite3_last_insert_rowid(hd->db());
        hd->conn->rowsVersion += static_cast<int64_t>(n);
        note_row_changes(*hd->conn, rec, static_cast<int64_t>(n));
        n = 0;
        return XIO_OK;
    };
    for (std::size_t i = 0; i < count; ++i) {
        make(i);
        int s = XIO_OK;
        if (planned_failure(*hd, xio::FaultCall::WriteRecord, s)) {
            if (int w = writeEach(); w != XIO_OK) return w;
            return s;
        }
        if (held.size() <= n) held.push_back(rs->buf);
        else held[n] = rs->buf;  // the cells keep their storage
        ++n;
        if (group < 2 || rs->readWith || !group_adds(*hd, rec)) {
            if (s = writeEach(); s != XIO_OK) return s;
        } else if (n == group) {
            if (s = writeGroup(); s != XIO_OK) return s;
        }
    }
    return writeEach();
}

// What a change of the record last read must pass before it is made: a record to change, not
// held by another program, no planned failure, the write begun and any bulk load settled.
static int start_row_change(Handle& hd, RecState& rs, uint16_t rec, xio::FaultCall call, const char* noRecord) {
    if (rs.current == 0) return set_error(XIO_BAD_CALL, noRecord);
    const int64_t row = rs.current;
    if (!rs.locked.count(row) && hd.locks->recordHeldByOther(rec, row)) return XIO_LOCKED;
    if (int s = XIO_OK; planned_failure(hd, call, s)) return s;
    if (int s = writer_settle(hd); s != XIO_OK) return s;
    if (int s = begin_write(hd); s != XIO_OK) return s;
    return bulk_settle_for_write(hd, rec);
}

int xio_rep_fields(uint16_t h, uint16_t rec, const std::vector<uint16_t>& fields) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs || fields.empty()) return XIO_BAD_CALL;
    const RecordDef& r = *rs->def;
    const Dictionary& d = *hd->dict;
    const std::vector<uint16_t> keyFields = record_key_fields(d, r);
    auto inKey = [&](uint16_t f) { return std::find(keyFields.begin(), keyFields.end(), f) != keyFields.end(); };
    std::string sets;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const uint16_t f = fields[i];
        if (f < r.firstField || f > r.lastField) return set_error(XIO_BAD_CALL, "a field of another record type");
        if (inKey(f)) return set_error(XIO_BAD_CALL, "field " + d.fields[f].def.name + " is a key's");
        sets += (sets.empty() ? "" : ", ") + quote(d.fields[f].def.name) + " = ?" + std::to_string(i + 1);
    }
    const int64_t row = rs->current;
    if (int s = start_row_change(*hd, *rs, rec, xio::FaultCall::ReplaceRecord, "no record to replace"); s != XIO_OK)
        return s;
    sqlite3_stmt* st = hd->stmt("UPDATE " + table_of(r) + " SET " + sets + " WHERE rowid = ?" + std::to_string(fields.size() + 1));
    if (!st) return db_fail(*hd, sqlite3_errcode(hd->db()));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t at = fields[i] - r.firstField;
        bind_kind(st, static_cast<int>(i + 1), rs->kinds[at], rs->buf[at]);
    }
    sqlite3_bind_int64(st, static_cast<int>(fields.size() + 1), row);
    const int rc = checked_step(st);
    checked_reset(st);
    if (rc != SQLITE_DONE) return db_fail(*hd, rc);
    if (sqlite3_changes(hd->db()) == 0) return XIO_NOT_FOUND;
    if (rs->locked.erase(row)) hd->locks->releaseRecord(rec, row);
    return XIO_OK;
}

int xio_rep_record(uint16_t h, uint16_t rec, uint16_t* dupKey) {
    if (int s = XIO_OK; H(h) && planned_failure(*H(h), xio::FaultCall::ReplaceRecord, s)) return s;
    return write_row(h, rec, dupKey, true);
}

int xio_del_record(uint16_t h, uint16_t rec) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return XIO_BAD_CALL;
    const int64_t row = rs->current;
    if (int s = start_row_change(*hd, *rs, rec, xio::FaultCall::DeleteRecord, "no record to delete"); s != XIO_OK)
        return s;
    // The stored key (not the buffer's) names the notes to drop with the record.
    const RecordDef& r = *rs->def;
    const Dictionary& d = *hd->dict;
    RecState stored;
    stored.def = rs->def;
    stored.buf = rs->buf;
    {
        sqlite3_stmt* st = hd->stmt("SELECT " + rs->columns + " FROM " + table_of(r) + " WHERE rowid = ?1");
        if (!st) return db_fail(*hd, sqlite3_errcode(hd->db()));
        sqlite3_bind_int64(st, 1, row);
        int rc = checked_step(st);
        if (rc != SQLITE_ROW) {
            checked_reset(st);
            return rc == SQLITE_DONE ? XIO_NOT_FOUND : db_fail(*hd, rc);
        }
        for (uint16_t n = r.firstField; n <= r.lastField; ++n)
            read_cell(st, n - r.firstField, d.fields[n].def.type, stored.buf[n - r.firstField]);
        checked_reset(st);
    }
    sqlite3_stmt* st = hd->stmt("DELETE FROM " + table_of(r) + " WHERE rowid = ?1");
    if (!st) return db_fail(*hd, sqlite3_errcode(hd->db()));
    sqlite3_bind_int64(st, 1, row);
    int rc = checked_step(st);
    checked_reset(st);
    if (rc != SQLITE_DONE) return db_fail(*hd, rc);
    const std::string kt = key_text(*hd, stored);
    st = hd->stmt("DELETE FROM dz_notes WHERE rec = ?1 AND keytext = ?2");
    if (st) {
        sqlite3_bind_int(st, 1, rec);
        sqlite3_bind_text(st, 2, kt.data(), static_cast<int>(kt.size()), SQLITE_STATIC);
        rc = checked_step(st);
        checked_reset(st);
        if (rc != SQLITE_DONE) return db_fail(*hd, rc);
    }
    if (rs->locked.erase(row)) hd->locks->releaseRecord(rec, row);
    rs->current = 0;
    rs->ordinal = -1;
    ++hd->conn->rowsVersion;
    note_row_changes(*hd->conn, rec);
    return XIO_OK;
}

int xio_unlock_record(uint16_t h, uint16_t rec, uint16_t) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return XIO_BAD_CALL;
    for (int64_t row : rs->locked) hd->locks->releaseRecord(rec, row);
    rs->locked.clear();
    return XIO_OK;
}

int xio_rd_header(uint16_t h, uint16_t header, uint16_t lock) {
    Handle* hd = H(h);
    if (!hd || !hd->hdrs.count(header)) return XIO_BAD_CALL;
    HdrState& hs = hd->hdrs[header];
    const Dictionary& d = *hd->dict;
    const RecordDef& r = *hs.def;
    hold_reads(*hd);
    if (int s = writer_settle(*hd); s != XIO_OK) return hd->lastStatus = s;
    if (lock && !hs.locked) {
        if (int s = take_lock(*hd, 'H', std::to_string(header)); s != XIO_OK) return hd->lastStatus = s;
        hs.locked = true;
    }
    std::string cols;
    for (uint16_t n = r.firstField; n <= r.lastField; ++n) cols += (cols.empty() ? "" : ", ") + hd->col(n);
    sqlite3_stmt* st = hd->stmt("SELECT " + cols + " FROM " + table_of(r) + " WHERE id = 1");
    if (!st) return hd->lastStatus = db_fail(*hd, sqlite3_errcode(hd->db()));
    int rc = checked_step(st);
    if (rc == SQLITE_ROW) {
        for (uint16_t n = r.firstField; n <= r.lastField; ++n)
            read_cell(st, n - r.firstField, d.fields[n].def.type, hs.buf[n - r.firstField]);
    } else if (rc == SQLITE_DONE) {
        hs.buf = hs.defaults;
    } else {
        checked_reset(st);
        return hd->lastStatus = db_fail(*hd, rc);
    }
    checked_reset(st);
    return hd->lastStatus = XIO_OK;
}

int xio_wr_header(uint16_t h, uint16_t header) {
    Handle* hd = H(h);
    if (!hd || !hd->hdrs.count(header)) return XIO_BAD_CALL;
    HdrState& hs = hd->hdrs[header];
    const Dictionary& d = *hd->dict;
    const RecordDef& r = *hs.def;
    if (!hs.locked && hd->locks->heldByOther('H', std::to_string(header))) return XIO_LOCKED;
    if (int s = XIO_OK; planned_failure(*hd, xio::FaultCall::WriteHeader, s)) return s;
    if (int s = writer_settle(*hd); s != XIO_OK) return s;
    if (int s = begin_write(*hd); s != XIO_OK) return s;
    std::string cols = "id", params = "1";
    for (uint16_t n = r.firstField; n <= r.lastField; ++n) {
        cols += ", " + quote(d.fields[n].def.name);
        params += ", ?" + std::to_string(n - r.firstField + 1);
    }
    sqlite3_stmt* st = hd->stmt("INSERT OR REPLACE INTO " + table_of(r) + "(" + cols + ") VALUES(" + params + ")");
    if (!st) return db_fail(*hd, sqlite3_errcode(hd->db()));
    for (uint16_t n = r.firstField; n <= r.lastField; ++n)
        bind_cell(st, n - r.firstField + 1, d.fields[n].def.type, hs.buf[n - r.firstField]);
    int rc = checked_step(st);
    checked_reset(st);
    if (rc != SQLITE_DONE) return db_fail(*hd, rc);
    if (hs.locked) {
        hd->locks->release('H', std::to_string(header));
        hs.locked = false;
    }
    return XIO_OK;
}

int xio_free_header(uint16_t h, uint16_t header) {
    Handle* hd = H(h);
    if (!hd || !hd->hdrs.count(header)) return XIO_BAD_CALL;
    HdrState& hs = hd->hdrs[header];
    if (hs.locked) {
        hd->locks->release('H', std::to_string(header));
        hs.locked = false;
    }
    return XIO_OK;
}

uint16_t xio_save_record(uint16_t h, uint16_t rec) {
    Handle* hd = H(h);
    if (!hd) return 0;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return 0;
    uint16_t id = hd->nextSaveId;
    auto inUse = [&](uint16_t candidate) {
        return std::any_of(hd->saved.begin(), hd->saved.end(), [&](const Saved& s) { return s.id == candidate; });
    };
    while (id == 0 || inUse(id)) ++id;
    hd->nextSaveId = static_cast<uint16_t>(id + 1);
    hd->saved.push_back({id, rec, rs->buf, rs->readWith});
    return id;
}

int xio_restore_record(uint16_t h, uint16_t rec) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    for (auto it = hd->saved.rbegin(); it != hd->saved.rend(); ++it)
        if (it->rec == rec) {
            hd->recs[rec].buf = std::move(it->cells);
            changed_whole(hd->recs[rec]);
            hd->recs[rec].readWith = std::move(it->readWith);
            hd->saved.erase(std::next(it).base());
            return XIO_OK;
        }
    return XIO_NOT_FOUND;
}

int xio_restore_record_id(uint16_t h, uint16_t id) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    for (auto it = hd->saved.begin(); it != hd->saved.end(); ++it)
        if (it->id == id) {
            hd->recs[it->rec].buf = std::move(it->cells);
            changed_whole(hd->recs[it->rec]);
            hd->recs[it->rec].readWith = std::move(it->readWith);
            hd->saved.erase(it);
            return XIO_OK;
        }
    return XIO_NOT_FOUND;
}

int xio_unsave_record(uint16_t h, uint16_t id) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    for (auto it = hd->saved.begin(); it != hd->saved.end(); ++it)
        if (it->id == id) {
            hd->saved.erase(it);
            return XIO_OK;
        }
    return XIO_NOT_FOUND;
}

int xio_rd_notes(uint16_t h, uint16_t rec, uint16_t lock) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    RecState* rs = rec_of(*hd, rec);
    if (!rs) return XIO_BAD_CALL;
    NotesState& ns = hd->notes;
    hold_reads(*hd);
    if (int s = writer_settle(*hd); s != XIO_OK) return hd->lastStatus = s;
    const std::string kt = key_text(*hd, *rs);
    const std::string lk = std::to_string(rec) + ":" + kt;
    if (ns.locked && (ns.rec != rec || ns.keytext != kt)) {
        hd->locks->release('N', std::to_string(ns.rec) + ":" + ns.keytext);
        ns.locked = false;
    }
    if (lock && !ns.locked) {
        if (int s = take_lock(*hd, 'N', lk); s != XIO_OK) return s;
        ns.locked = true;
    }
    sqlite3_stmt* st = hd->stmt("SELECT text FROM dz_notes WHERE rec = ?1 AND keytext = ?2");
    if (!st) return db_fail(*hd, sqlite3_errcode(hd->db()));
    sqlite3_bind_int(st, 1, rec);
    sqlite3_bind_text(st, 2, kt.data(), static_cast<int>(kt.size()), SQLITE_STATIC);
    int rc = checked_step(st);
    std::string text;
    if (rc == SQLITE_ROW) {
        const unsigned char* p = sqlite3_column_text(st, 0);
        text.assign(p ? reinterpret_cast<const char*>(p) : "", static_cast<size_t>(sqlite3_column_bytes(st, 0)));
    }
    checked_reset(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return db_fail(*hd, rc);
    ns.loaded = true;
    ns.rec = rec;
    ns.keytext = kt;
    ns.text = std::move(text);
    ns.pos = 0;
    ns.out.clear();
    return XIO_OK;
}

int xio_get_notes(uint16_t h, std::string& piece) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    NotesState& ns = hd->notes;
    if (!ns.loaded) return XIO_BAD_CALL;
    if (ns.pos >= ns.text.size()) return XIO_END;
    piece = ns.text.substr(ns.pos, 80);
    ns.pos += 80;
    return XIO_OK;
}

int xio_put_notes(uint16_t h, const std::string& text) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    if (!hd->notes.loaded) return XIO_BAD_CALL;
    hd->notes.out += text;
    return XIO_OK;
}

int xio_wr_notes(uint16_t h) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    NotesState& ns = hd->notes;
    if (!ns.loaded) return XIO_BAD_CALL;
    const std::string lk = std::to_string(ns.rec) + ":" + ns.keytext;
    if (!ns.locked && hd->locks->heldByOther('N', lk)) return XIO_LOCKED;
    if (int s = writer_settle(*hd); s != XIO_OK) return s;
    if (int s = begin_write(*hd); s != XIO_OK) return s;
    sqlite3_stmt* st = ns.out.empty() ? hd->stmt("DELETE FROM dz_notes WHERE rec = ?1 AND keytext = ?2")
                                      : hd->stmt("INSERT OR REPLACE INTO dz_notes(rec, keytext, text) VALUES(?1, ?2, ?3)");
    if (!st) return db_fail(*hd, sqlite3_errcode(hd->db()));
    sqlite3_bind_int(st, 1, ns.rec);
    sqlite3_bind_text(st, 2, ns.keytext.data(), static_cast<int>(ns.keytext.size()), SQLITE_STATIC);
    if (!ns.out.empty()) sqlite3_bind_text(st, 3, ns.out.data(), static_cast<int>(ns.out.size()), SQLITE_STATIC);
    int rc = checked_step(st);
    checked_reset(st);
    if (rc != SQLITE_DONE) return db_fail(*hd, rc);
    ns.text = ns.out;
    ns.pos = 0;
    ns.out.clear();
    if (ns.locked) {
        hd->locks->release('N', lk);
        ns.locked = false;
    }
    return XIO_OK;
}

static bool own_meta_name(const std::string& name) {
    return name == "format" || name == "abbr" || name == "file_no" || name == "dictionary";
}

int xio_put_meta(uint16_t h, const std::string& name, const std::string& value) {
    Handle* hd = H(h);
    if (!hd || name.empty() || own_meta_name(name)) return XIO_BAD_CALL;
    if (int s = writer_settle(*hd); s != XIO_OK) return s;
    if (int s = begin_write(*hd); s != XIO_OK) return s;
    if (int rc = exec(hd->db(), "INSERT OR REPLACE INTO dz_meta VALUES(?1, ?2)", {name, value}); rc != SQLITE_OK)
        return db_fail(*hd, rc);
    return XIO_OK;
}

int xio_get_meta(uint16_t h, const std::string& name, std::string& value) {
    value.clear();
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    if (int s = writer_settle(*hd); s != XIO_OK) return s;
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(hd->db(), "SELECT value FROM dz_meta WHERE name = ?1", -1, &st, nullptr);
    if (rc == SQLITE_OK) sqlite3_bind_text(st, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    if (rc == SQLITE_OK) rc = checked_step(st);
    int status = rc == SQLITE_DONE ? XIO_NOT_FOUND : XIO_OK;
    if (rc == SQLITE_ROW) {
        const unsigned char* p = sqlite3_column_text(st, 0);
        if (p) value.assign(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(st, 0)));
    } else if (rc != SQLITE_DONE) {
        status = db_fail(*hd, rc);
    }
    sqlite3_finalize(st);
    return status;
}

int xio_get_def(uint16_t h, xio_file_def& def) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    const Dictionary& d = *hd->dict;
    def = {};
    def.path = hd->path.string();
    def.abbr = d.abbr;
    def.fileNo = hd->fileNo;
    def.keyCount = static_cast<uint16_t>(d.keys.size());
    def.recordCount = static_cast<uint16_t>(d.records.size());
    def.headerCount = static_cast<uint16_t>(d.headers.size());
    def.fieldCount = static_cast<uint16_t>(d.fields.size() - 1);
    for (const auto& r : d.records) def.recordNumbers.push_back(r.number);
    for (const auto& r : d.headers) def.headerNumbers.push_back(r.number);
    return XIO_OK;
}

static void fill_rec_def(const RecordDef& r, xio_rec_def& def) {
    def.number = r.number;
    def.name = r.name;
    def.firstField = r.firstField;
    def.lastField = r.lastField;
    def.primaryKeyFields = r.primaryKey;
}

int xio_get_rec_def(uint16_t h, uint16_t rec, xio_rec_def& def, uint16_t) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    const RecordDef* r = hd->dict->record(rec);
    if (!r) return XIO_BAD_CALL;
    fill_rec_def(*r, def);
    return XIO_OK;
}

int xio_get_header_def(uint16_t h, uint16_t header, xio_rec_def& def) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    const RecordDef* r = hd->dict->header(header);
    if (!r) return XIO_BAD_CALL;
    fill_rec_def(*r, def);
    return XIO_OK;
}

int xio_get_key_def(uint16_t h, uint16_t key, xio_key_def& def, uint16_t rec) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    const Dictionary& d = *hd->dict;
    if (key == 0) {
        const RecordDef* r = d.record(rec);
        if (!r) return XIO_BAD_CALL;
        def = {};
        def.number = 0;
        def.name = r->name;
        def.record = r->number;
        def.unique = true;
        def.blankAllowed = r->keyBlankAllowed;
        def.fields = r->primaryKey;
        return XIO_OK;
    }
    if (key > d.keys.size()) return XIO_BAD_CALL;
    def = d.keys[key - 1].def;
    return XIO_OK;
}

int xio_get_fld_def(uint16_t h, uint16_t fld, xio_fld_def& def, uint16_t, bool) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    const FieldDef* f = hd->dict->field(fld);
    if (!f) return XIO_BAD_CALL;
    def = f->def;
    return XIO_OK;
}

std::shared_ptr<const xio::Dictionary> xio_dictionary_of(uint16_t h) {
    Handle* hd = H(h);
    return hd ? hd->dict : nullptr;
}

const xio_fld_def* xio_field_def(uint16_t h, uint16_t fld) {
    Handle* hd = H(h);
    const FieldDef* f = hd ? hd->dict->field(fld) : nullptr;
    return f ? &f->def : nullptr;
}

const std::vector<uint16_t>* xio_primary_key_fields(uint16_t h, uint16_t rec) {
    Handle* hd = H(h);
    const RecordDef* r = hd ? hd->dict->record(rec) : nullptr;
    return r ? &r->primaryKey : nullptr;
}

int xio_get_item_alpha(uint16_t h, uint16_t fld, uint16_t item, std::string& text) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    const FieldDef* f = hd->dict->field(fld);
    if (!f) return XIO_BAD_CALL;
    text.clear();
    if (item == 0) return XIO_OK;
    if (item > f->def.items.size()) return XIO_NOT_FOUND;
    text = f->def.items[item - 1];
    return XIO_OK;
}

namespace xio {

int set_max_pages(uint16_t h, int pages) {
    Handle* hd = H(h);
    if (!hd) return XIO_BAD_CALL;
    return exec(hd->db(), "PRAGMA max_page_count=" + std::to_string(pages)) == SQLITE_OK ? XIO_OK : XIO_IO_ERROR;
}

int64_t count_queries() { return g_countQueries; }

sqlite3* connection(uint16_t h) {
    Handle* hd = H(h);
    return hd ? hd->db() : nullptr;
}

int nocase_compare(std::string_view a, std::string_view b) {
    return nocase_texts(nullptr, static_cast<int>(a.size()), a.data(), static_cast<int>(b.size()), b.data());
}

void fail_call(FaultCall call, int nth, int status, const std::string& abbr) {
    if (nth > 0) g_faults.push_back(Fault{call, nth, status, abbr});
}

void clear_faults() { g_faults.clear(); }

bool faults_spent() {
    for (const Fault& f : g_faults)
        if (f.remaining > 0) return false;
    return true;
}

}  // namespace xio

}  // namespace dz
