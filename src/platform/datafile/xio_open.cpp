// Opening data files.
#include "platform/datafile/xio_internal.h"
#include "platform/datafile/hot_journal.h"
#include "platform/datafile/idle_journal.h"
#include "platform/datafile/journal_guard.h"
#include "platform/datafile/run_marker.h"

#include <charconv>
#include <system_error>

namespace dz {
namespace xio_private {

namespace {

// ---- Opening ------------------------------------------------------------------------------

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

}  // namespace

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
        // What stands at the file's journal name is judged before anything meets it: SQLite plays
        // a hot journal at its first read, and waits for ever on a pipe it opens to read.
        // A stopped write that a reader's lock keeps SQLite from seeing is never read past.
        const xio::JournalJudgement journal = xio::judge_journal(path.string());
        if (journal.kind == xio::JournalKind::NotOwn || journal.kind == xio::JournalKind::HeldOff)
            return set_error(XIO_LOCKED, journal.reason(), journal.next());
        // One that holds no write is a writer's to write over: named when this one may not.
        if (const xio::IdleJournalBar idle = readOnly ? xio::IdleJournalBar{} : xio::idle_journal_bar(journal); idle.barred)
            return set_error(XIO_LOCKED, idle.reason, idle.next);
        // A conversion that died between the commits of its data files left a copy of this one
        // to put back: it goes back before anything reads or writes the file, from wherever the
        // command was started (a look only reports it, at the start of its command).
        if (!readOnly) {
            std::string why;
            if (!xio::settle_dead_runs({path.parent_path().string(), true, path.filename().string()}, &why))
                return set_error(XIO_LOCKED, path.string() + ": " + why);
        }
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
        if (::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) != 0 && errno == EACCES)
            return set_error(XIO_IO_ERROR, path.string() + " cannot be read: you do not have permission");
        configure_sqlite_once();
        // Without the guard SQLite would open whatever stands beside the file, and play it.
        if (std::string missing; !xio::journal_guard_in_place(&missing))
            return set_error(XIO_IO_ERROR, path.string() + " is not opened: " + missing);
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
    // A look needs only the file's own read permission; Examine Files refuses, as the conversion
    // it foretells would, a file this user may not write.
    if (asked && (readOnly ? g_foretellScopes > 0 && ::access(path.c_str(), W_OK) != 0
                           : sqlite3_db_readonly(hd->db(), "main") == 1))
        return set_unwritable(path.string() + " is read-only", path);
    // Every write goes through a journal made beside the file: in a folder that cannot be
    // written each record would fail on its own, so the file is refused before any is tried.
    if (asked && !readOnly && !folder_writable(path))
        return set_unwritable(path.string() + " is in a folder that cannot be written", path);
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
    // Held by another program: said with its holder, or that none could be seen.
    if (rc == SQLITE_BUSY) return db_fail(*hd, rc);
    if (rc == SQLITE_LOCKED) return set_error(XIO_LOCKED, path.string() + " is in use");
    // A program stopped in the middle of writing the file left its journal beside it: the file
    // is whole again at its next open for writing, which alone may play the journal back (every
    // writing command of the company does, when it starts). Nothing in it is damaged. What SQLite
    // was kept from opening as the file's journal is said as it is, never "corrupt".
    if (rc != SQLITE_OK) {
        const xio::JournalJudgement journal = xio::judge_journal(path.string());
        if (journal.kind == xio::JournalKind::NotOwn || journal.kind == xio::JournalKind::HeldOff)
            return set_error(XIO_LOCKED, journal.reason(), journal.next());
        // One that holds nothing to take back is said as that, never as a stopped write.
        if (journal.kind == xio::JournalKind::Own && journal.playsNothing)
            return set_error(XIO_LOCKED, journal.reason(), xio::take_back_step(journal));
        if (extended == SQLITE_READONLY_ROLLBACK || journal.kind == xio::JournalKind::Unread)
            return set_error(XIO_LOCKED,
                             path.string() + " was left in the middle of a write: the program writing it stopped before "
                                             "its commit, and the file is not read until that write is taken back from "
                                             "its journal",
                             xio::take_back_step(journal));
        // A program holds the file's writers' lock beside its journal: the file stands in the
        // middle of its write, which it has not finished.
        if (journal.kind == xio::JournalKind::Live) return db_fail(*hd, SQLITE_BUSY);
    }
    if (rc != SQLITE_OK || meta["format"] != "dodedoz-datafile")
        return set_error(XIO_CORRUPT, path.string() + " is either an old version or corrupt");
    std::string err;
    hd->dict = xio::get(meta["abbr"], err);
    if (!hd->dict) return set_error(XIO_NO_DICTIONARY, path.string() + ": " + err);
    if (!expectAbbr.empty() && hd->dict->abbr != expectAbbr)
        return set_error(XIO_CORRUPT, path.string() + " is either an old version or corrupt (it holds " + meta["abbr"] + ")");
    const std::string& fileNo = meta["file_no"];
    hd->fileNo = 0;  // a number out of range leaves it 0
    std::from_chars(fileNo.data(), fileNo.data() + fileNo.size(), hd->fileNo);
    // The version as written: whole, from 1 to the dictionary's own. Anything else (-1, 1.5,
    // 4294967298) was never written by this program, and is no older file to upgrade.
    int version = 0;
    const std::string& written = meta["dictionary"];
    const std::from_chars_result parsed = std::from_chars(written.data(), written.data() + written.size(), version);
    if (parsed.ec != std::errc() || parsed.ptr != written.data() + written.size() || version < 1)
        return set_error(XIO_CORRUPT, path.string() + " is either an old version or corrupt (its dictionary version is "
                                                      "not a whole number from 1 up)");
    if (version > hd->dict->version)
        return set_error(XIO_CORRUPT, path.string() + " is either an old version or corrupt (written by a newer dictionary)");
    hd->cols.resize(hd->dict->fields.size());
    for (size_t n = 1; n < hd->dict->fields.size(); ++n) hd->cols[n] = quote(hd->dict->fields[n].def.name);
    if (version < hd->dict->version && readOnly) {
        if (int s = read_older(*hd); s != XIO_OK) return s;
    } else if (version < hd->dict->version) {
        if (hd->conn->readTxn) end_read_txn(*hd->conn);
        if (hd->conn->inTxn) return set_error(XIO_LOCKED, path.string() + " is in use");
        std::string why;
        rc = begin_immediate(hd->db(), why);
        if (rc == SQLITE_OK) rc = ensure_schema(hd->db(), *hd->dict, hd->fileNo);
        if (rc == SQLITE_OK) rc = exec(hd->db(), "COMMIT");
        if (rc != SQLITE_OK) {
            std::string msg = why.empty() ? sqlite3_errmsg(hd->db()) : why;
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
            std::string why;
            rc = begin_immediate(hd->db(), why);
            for (std::size_t i = 0; rc == SQLITE_OK && i < astray.size(); ++i) {
                rc = exec(hd->db(), "DROP INDEX IF EXISTS " + quote(astray[i].name));
                if (rc == SQLITE_OK) rc = exec(hd->db(), astray[i].create);
            }
            if (rc == SQLITE_OK) rc = exec(hd->db(), "COMMIT");
            if (rc != SQLITE_OK) exec(hd->db(), "ROLLBACK");
        }
        if (rc != SQLITE_OK) {
            if ((rc & 0xff) == SQLITE_BUSY) return db_fail(*hd, rc);
            if (map_sqlite(rc) == XIO_LOCKED) return set_error(XIO_LOCKED, path.string() + " is in use");
            return set_error(XIO_CORRUPT, path.string() + " is either an old version or corrupt (a unique key holds duplicates)");
        }
    }
    hd->locks = std::make_unique<xio::LockTable>(path, ++g_serial);
    // A look never makes the lock file (it writes nothing anywhere); it uses one that is there.
    const xio::LockUse use = !readOnly ? xio::LockUse::Write : g_foretellScopes > 0 ? xio::LockUse::Foretell : xio::LockUse::Look;
    if (hd->locks->open(use) != XIO_OK) {
        // A lock file no lock can be taken on is not in use: nothing holds it.
        const bool unusable = hd->locks->next().step == ui::Step::RemoveLockFile;
        const std::string text = path.string() + (unusable ? " cannot be opened: " : " is in use: ") + hd->locks->error();
        // No lock file, and none can be made where this user may not write: not another's doing.
        std::error_code missing;
        if (!readOnly && !folder_writable(path) && !std::filesystem::exists(hd->locks->path(), missing))
            return set_unwritable(text, path);
        return set_error(XIO_LOCKED, text, hd->locks->next());
    }
    // A look is kept off by a writer alone: a reader's read lock over the writer's byte (a lockf
    // of the whole lock file) keeps out writers, never another look.
    if (!hd->dict->multiUser && hd->locks->heldByOther('W', "", true, readOnly))
        return writer_lock_held(*hd, XIO_LOCKED);
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

}  // namespace xio_private

}  // namespace dz
