// Record I/O on SQLite data files. The on-disk schema is described in store.h.
#include "platform/datafile/xio.h"

#include "platform/datafile/xio_internal.h"
#include "platform/datafile/run_marker.h"
#include "platform/datafile/run_mark.h"

namespace dz {

using namespace xio_private;

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
ui::NextStep xio_error_next_step() { return g_errorNext; }
void xio_forget_error() {
    g_error.clear();
    g_errorUnwritable = false;
    g_errorNext = {};
}

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

xio_read_only_scope::xio_read_only_scope(bool foretell) : foretell_(foretell) {
    ++g_readOnlyScopes;
    if (foretell_) ++g_foretellScopes;
}
xio_read_only_scope::~xio_read_only_scope() {
    --g_readOnlyScopes;
    if (foretell_) --g_foretellScopes;
}

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
        if (int s = take_lock(*hd, 'W', ""); s != XIO_OK) {
            if (!hd->locks->error().empty()) return s;
            if (hd->locks->heldByOther('W', "", true)) return writer_lock_held(*hd, s);
        }
    }
    // Looked for again under the writer lock: a run that died since the file was opened left a
    // copy that cannot be put back under this open file. A read-only handle writes nothing, and
    // its command looked when it began.
    if (std::string why; !hd->readOnly && !xio::settle_dead_runs({hd->path.parent_path().string(), true, hd->path.filename().string()}, &why)) {
        if (!hd->dict->multiUser) hd->locks->release('W', "");
        return set_error(XIO_LOCKED, hd->path.string() + ": " + why);
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
    if (!hd->conn->corrupt.empty()) return set_error(XIO_CORRUPT, hd->conn->corrupt);
    // Never a commit while a row handed to the writer failed: the transaction is to be rolled back.
    if (int s = writer_settle(*hd); s != XIO_OK) return s;
    if (int s = take_index_job(*hd); s != XIO_OK) return s;
    // Indexes set aside by a bulk load are made in the transaction they were dropped in.
    if (int s = bulk_settle_all(*hd); s != XIO_OK) return s;
    for (const auto& [rec, bt] : hd->conn->bulk)
        if (!bt.setAside.empty()) return set_error(XIO_LOCKED, hd->path.string() + " is in use: its indexes cannot be made");
    // Who commits goes with what is committed: the mark of this program's run while its
    // markers name its copies, else none (the file no longer holds only what that run wrote).
    const auto mark = xio::run_mark_for_commits();
    int rc = mark ? exec(hd->db(), "INSERT OR REPLACE INTO dz_meta VALUES(?1, ?2)",
                         {xio::kRunMarkName, xio::format_run_mark(*mark)})
                  : exec(hd->db(), "DELETE FROM dz_meta WHERE name = ?1", {xio::kRunMarkName});
    if (rc == SQLITE_OK) rc = exec(hd->db(), "COMMIT");
    if (rc != SQLITE_OK) return db_fail(*hd, rc);
    hd->conn->inTxn = false;
    hd->conn->diskFull = false;
    ++hd->conn->txnSerial;
    hd->conn->bulk.clear();
    bulk_page_cache(*hd->conn);
    return XIO_OK;
}

std::string xio_corrupt_met(uint16_t h) {
    Handle* hd = H(h);
    return hd ? hd->conn->corrupt : std::string();
}

bool xio_disk_full_met(uint16_t h) {
    Handle* hd = H(h);
    return hd && hd->conn->diskFull;
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
    hd->conn->diskFull = false;
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
    return name == "format" || name == "abbr" || name == "file_no" || name == "dictionary" || name == xio::kRunMarkName;
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

int xio_list_meta(uint16_t h, const std::string& prefix, std::vector<std::pair<std::string, std::string>>& rows) {
    rows.clear();
    Handle* hd = H(h);
    if (!hd || prefix.empty()) return XIO_BAD_CALL;
    if (int s = writer_settle(*hd); s != XIO_OK) return s;
    // The names from the prefix up to, not including, the prefix with its last byte raised: in
    // the names' own order, a walk of the primary key. A name that is no text (the file is
    // someone else's) sorts apart from every text and is never met.
    std::string end = prefix;
    const bool open = static_cast<unsigned char>(end.back()) == 0xFF;
    if (!open) end.back() = static_cast<char>(static_cast<unsigned char>(end.back()) + 1);
    const char* sql = open ? "SELECT name, value FROM dz_meta WHERE name >= ?1 AND typeof(name) = 'text' ORDER BY name"
                           : "SELECT name, value FROM dz_meta WHERE name >= ?1 AND name < ?2 ORDER BY name";
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(hd->db(), sql, -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(st, 1, prefix.data(), static_cast<int>(prefix.size()), SQLITE_STATIC);
        if (!open) sqlite3_bind_text(st, 2, end.data(), static_cast<int>(end.size()), SQLITE_STATIC);
    }
    auto text = [&](int c) {
        const unsigned char* p = sqlite3_column_text(st, c);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(st, c)))
                 : std::string();
    };
    while (rc == SQLITE_OK && (rc = checked_step(st)) == SQLITE_ROW) {
        std::string name = text(0);
        if (name.compare(0, prefix.size(), prefix) == 0) rows.emplace_back(std::move(name), text(1));
        rc = SQLITE_OK;
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) {
        rows.clear();
        return db_fail(*hd, rc);
    }
    return XIO_OK;
}

int xio_drop_meta(uint16_t h, const std::string& name) {
    Handle* hd = H(h);
    if (!hd || name.empty() || own_meta_name(name)) return XIO_BAD_CALL;
    if (int s = writer_settle(*hd); s != XIO_OK) return s;
    if (int s = begin_write(*hd); s != XIO_OK) return s;
    if (int rc = exec(hd->db(), "DELETE FROM dz_meta WHERE name = ?1", {name}); rc != SQLITE_OK)
        return db_fail(*hd, rc);
    return XIO_OK;
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
