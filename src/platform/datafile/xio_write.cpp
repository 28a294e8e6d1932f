// Writes: adds, replaces and deletes.
#include "platform/datafile/xio_internal.h"

namespace dz {
namespace xio_private {

// ---- Writes -------------------------------------------------------------------------------

int begin_write(Handle& hd) {
    if (hd.readOnly) return set_error(XIO_LOCKED, hd.path.string() + " is open read-only");
    // A read transaction is ended rather than raised to a write one: raising it would not wait
    // for another program's short write, and a handle without writes started commits each write.
    if (hd.conn->readTxn) end_read_txn(*hd.conn);
    // A write after xio_start_commit: the loads the writer's index builds ended are ended here too.
    if (int s = take_index_job(hd); s != XIO_OK) return s;
    if (!hd.writesStarted || hd.conn->inTxn) return XIO_OK;
    std::string why;
    // SQLite's own words of the failure are kept by begin_immediate (its rollback replaces them);
    // what the guard knows of the journal (one planted while it was made) comes before them.
    if (const int rc = begin_immediate(hd.db(), why); rc != SQLITE_OK) return db_fail(hd, rc, why);
    hd.conn->inTxn = true;
    ++hd.conn->txnSerial;
    return XIO_OK;
}

namespace {

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

}  // namespace

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

namespace {

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

}  // namespace

void clear_positions(Handle& hd) {
    for (auto& [n, rs] : hd.recs) {
        rs.pos = Pos::None;
        rs.current = 0;
        rs.count = -1;
        rs.ordinal = -1;
    }
}

}  // namespace xio_private

using namespace xio_private;

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

}  // namespace dz
