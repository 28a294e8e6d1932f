// Bulk loads into empty tables.
#include "platform/datafile/xio_internal.h"

namespace dz {
namespace xio_private {

namespace {

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
// Hashes held by all bulk loads together (6 bytes each, at most 96 MB with the table's free
// slots): past this the table's indexes are made again and the load goes on through them.
constexpr std::size_t kBulkMaxHashes = 12'000'000;
std::size_t g_bulkHashes = 0;

}  // namespace

KeyHashes::~KeyHashes() { g_bulkHashes -= size_; }

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

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

namespace {

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

}  // namespace

// The page cache the connection's bulk loads call for: the small one while any table loads.
void bulk_page_cache(Conn& c) {
    bool loading = false;
    for (const auto& [rec, bt] : c.bulk) loading = loading || bt.state == BulkTable::State::Loading;
    if (loading == c.loadCache) return;
    c.loadCache = loading;
    exec(c.db(), loading ? kLoadPageCache : kPageCache);
}

namespace {

BulkTable* bulk_of(Conn& c, uint16_t rec) {
    auto it = c.bulk.find(rec);
    return it == c.bulk.end() || it->second.state != BulkTable::State::Loading ? nullptr : &it->second;
}

// Calls each(hash, all blank, rowid) for every row of a load's table, which holds the load's
// rows alone (it was empty): those handed to the writer too, once it has run them. The hash is
// made from the stored key as key_hash made it from the buffer when the row was added.
template <class Each>
int walk_load_keys(Handle& hd, RecState& rs, const BulkTable::Unique& u, Each&& each) {
    if (int s = writer_settle(hd); s != XIO_OK) return s;
    const RecordDef& r = *rs.def;
    std::string sql = "SELECT rowid";
    for (uint16_t f : u.fields) sql += ", " + hd.col(f);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(hd.db(), (sql + " FROM " + table_of(r)).c_str(), -1, &st, nullptr) != SQLITE_OK)
        return db_fail(hd, sqlite3_errcode(hd.db()));
    Cells buf = rs.buf;  // the record's cells; the key's are read into it row by row
    int rc;
    while ((rc = checked_step(st)) == SQLITE_ROW) {
        for (std::size_t i = 0; i < u.fields.size(); ++i)
            read_cell(st, static_cast<int>(i + 1), hd.dict->fields[u.fields[i]].def.type,
                      buf[u.fields[i] - r.firstField]);
        bool allBlank = false;
        const uint64_t h = key_hash(*hd.dict, r, buf, u.fields, allBlank);
        each(h, allBlank, sqlite3_column_int64(st, 0));
    }
    const int status = rc == SQLITE_DONE ? XIO_OK : db_fail(hd, rc);
    sqlite3_finalize(st);
    return status;
}

// The hashes of a load's key, read from its rows when it has held none (`deferred`): until its
// first key out of order, every key went in above all before it and none needed them.
int bulk_fill(Handle& hd, RecState& rs, BulkTable::Unique& u) {
    if (!u.deferred) return XIO_OK;
    const int status = walk_load_keys(hd, rs, u, [&u](uint64_t h, bool allBlank, int64_t) {
        if (!(u.blanksOut && allBlank)) u.seen.addNew(h, 0);
    });
    // Read again after a failure: a hash read twice is held once.
    if (status == XIO_OK) u.deferred = false;
    return status;
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

}  // namespace

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
                if (i.record == rec && i.unique) bt.uniques.push_back({i.key, i.fields, i.blanksOut, {}, true, {}, false});
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
        const bool above = !u.hasTop || key_above(*hd.dict, *rs.def, rs.buf, u.fields, u.top);
        bt.above.push_back(above);
        if (bt.pending.back() == 0 || above) continue;
        if (int s = bulk_fill(hd, rs, u); s != XIO_OK) return s;
        held = held || u.seen.contains(h);
    }
    // The hashes just read may have passed the budget.
    held = held || g_bulkHashes + bt.uniques.size() > kBulkMaxHashes;
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
        if (!u.deferred) u.seen.addNew(bt.pending[i], rs.current);
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
        if (!u.hasTop || key_above(*hd.dict, *rs.def, rs.buf, u.fields, u.top)) return true;
        // Not known absent when the hashes cannot be read: the indexes answer.
        if (bulk_fill(hd, rs, u) != XIO_OK) return false;
        return !u.seen.contains(h);
    }
    return false;
}

namespace {

// The rowids of a load's primary-key hashes are kept from the first read of that key on (most
// loads are never so read, and the rowids of a million rows cost 8 MB); the rows added before
// it are the whole table (it was empty), read once for theirs. A row not given its rowid here
// (a failed read) is left to the indexes, so the answer stays exact either way.
void bulk_keep_rows(Handle& hd, RecState& rs, BulkTable::Unique& u) {
    if (bulk_fill(hd, rs, u) != XIO_OK) return;  // no rowid kept: the indexes answer
    u.seen.keepRows();
    walk_load_keys(hd, rs, u, [&u](uint64_t h, bool, int64_t row) { u.seen.setRow(h, row); });
}

}  // namespace

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

}  // namespace xio_private
}  // namespace dz
