// Keyed reads and walks.
#include "platform/datafile/xio_internal.h"

namespace dz {
namespace xio_private {

namespace {

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

// Whether column `col` of the row holds a value of its field's own kind: a text in a text field,
// a number in a number field, a whole number in any other. Another program may store any value
// anywhere (a blob, a text in a number column), and such a value sorts apart from those of its
// field's kind: a walk that went on from it as read would come back to it for ever.
bool stored_as_its_kind(sqlite3_stmt* st, int col, uint16_t type) {
    const int kind = sqlite3_column_type(st, col);
    if (is_text(type)) return kind == SQLITE_TEXT;
    if (is_real(type)) return kind == SQLITE_FLOAT || kind == SQLITE_INTEGER;
    return kind == SQLITE_INTEGER;
}

int take_record_lock(Handle& hd, uint16_t rec, int64_t row) {
    const int s = hd.locks->acquireRecord(rec, row);
    if (s != XIO_OK && !hd.locks->error().empty()) set_error(s, hd.path.string() + " is in use: " + hd.locks->error());
    return s;
}

int read_op_once(uint16_t h, uint16_t rec, uint16_t key, Op op, uint16_t lock) {
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
    // A walk goes on from the values of the walk's key that it read: each must be stored as its
    // field's kind, or the file is refused rather than walked round and round.
    auto walkable = [&](sqlite3_stmt* s) {
        for (const uint16_t f : of) {
            const uint16_t at = f - r.firstField;
            int col = at + 1;
            if (choice && !bulkRow)
                col = static_cast<int>(std::lower_bound(choice->read.begin(), choice->read.end(), at) - choice->read.begin()) + 1;
            if (!stored_as_its_kind(s, col, d.fields[f].def.type)) return false;
        }
        return true;
    };
    if (op != Op::Exact && op != Op::Find && !walkable(st)) {
        checked_reset(st);
        return hd->lastStatus = set_error(XIO_CORRUPT, hd->path.string() + " is either an old version or corrupt (a key "
                                                                            "holds a value of another kind than its field's)");
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
            if (!walkable(st)) break;  // the read that comes to it refuses the file
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

// A read that refused the file as corrupt marks its connection (see Conn::corrupt).
int read_op(uint16_t h, uint16_t rec, uint16_t key, Op op, uint16_t lock) {
    const int s = read_op_once(h, rec, key, op, lock);
    if (s == XIO_CORRUPT)
        if (Handle* hd = H(h); hd && hd->conn->corrupt.empty()) hd->conn->corrupt = g_error;
    return s;
}

}  // namespace

}  // namespace xio_private

using namespace xio_private;

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


// A walk of every record of the type in primary-key order: through the fields chosen for the
// record type (xio_read_fields) when `chosen`, else through all of them.
int rd_every(uint16_t h, uint16_t rec, const std::function<bool()>& each, bool chosen) {
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
    const std::shared_ptr<FieldChoice> choice = chosen ? rs->choice : nullptr;
    std::string order;
    for (uint16_t f : r.primaryKey) order += hd->col(f) + ", ";
    // A statement of its own, not the cached ones: `each` may read (and replace) through those
    // meanwhile.
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
        // A replace of the row just offered may bring it round once more: a walk through the
        // chosen fields offers it once.
        if (chosen && any && row == last) continue;
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

}  // namespace

int xio_rd_every(uint16_t h, uint16_t rec, const std::function<bool()>& each) { return rd_every(h, rec, each, false); }

int xio_rd_every_chosen(uint16_t h, uint16_t rec, const std::function<bool()>& each) {
    return rd_every(h, rec, each, true);
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

}  // namespace dz
