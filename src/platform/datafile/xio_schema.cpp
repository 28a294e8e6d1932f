// Schema: tables, columns and indexes of a data file, and SQLite set up for them.
#include "platform/datafile/xio_internal.h"
#include "platform/datafile/journal_guard.h"
#include "platform/datafile/own_journal.h"

namespace dz {
namespace xio_private {

// ---- Schema -------------------------------------------------------------------------------

std::string quote(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

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

namespace {

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

}  // namespace

Cells default_cells(const Dictionary& d, const RecordDef& r) {
    Cells out;
    out.reserve(r.lastField >= r.firstField ? r.lastField - r.firstField + 1u : 0u);
    for (uint16_t n = r.firstField; n <= r.lastField; ++n) out.push_back(default_cell(d.fields[n]));
    return out;
}

// A walk's order: the key's fields, then those of the primary key that the key lacks, so that
// records with equal non-unique keys follow their primary keys.
std::vector<uint16_t> order_fields(const RecordDef& r, const std::vector<uint16_t>& keyFields) {
    std::vector<uint16_t> out = keyFields;
    for (uint16_t f : r.primaryKey)
        if (std::find(out.begin(), out.end(), f) == out.end()) out.push_back(f);
    return out;
}

// Runs one statement, prepared on its own: text after the first statement is refused, never run.
int exec(sqlite3* db, const std::string& sql, const std::vector<std::string>& args) {
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

namespace {

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

}  // namespace

void configure_sqlite_once() {
    static const bool configured = [] {
        static const sqlite3_mem_methods methods = {sqlite_malloc, sqlite_free,     sqlite_realloc,      sqlite_size,
                                                    sqlite_roundup, sqlite_mem_init, sqlite_mem_shutdown, nullptr};
        sqlite3_config(SQLITE_CONFIG_MALLOC, &methods);
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        // Before any connection opens: every journal is judged before SQLite opens or removes it.
        xio::install_journal_guard();
        // A conversion holds a few large tables for a whole text file (key hashes, record IDs, a
        // cross-reference) and lets them go between passes and files. glibc raises its threshold
        // for serving a block from fresh pages to the size of each large block freed, so the
        // next tables of that size come from the heap, whose freed pages the process keeps: a
        // million AP invoices peaked some 35 MB higher. A fixed threshold (glibc's own starting
        // one) gives every large block back when it is freed; measured, it costs no time.
#ifdef M_MMAP_THRESHOLD
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
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
int open_raw(const std::filesystem::path& path, int flags, sqlite3*& db) {
    configure_sqlite_once();
    db = nullptr;
    int rc = sqlite3_open_v2(sqlite_name(path).c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) rc = harden(db);
    return rc;
}

namespace {

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

}  // namespace

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

namespace {

std::vector<std::pair<std::string, std::string>> dictionary_indexes(const Dictionary& d) {
    std::vector<std::pair<std::string, std::string>> out;
    for (auto& i : dictionary_index_specs(d)) out.emplace_back(i.name, i.create);
    return out;
}

}  // namespace

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
        return set_unwritable(path.string() + " cannot be made: its folder cannot be written", path);
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
    if (std::string missing; !xio::journal_guard_in_place(&missing)) {
        std::filesystem::remove(tmp, ec);
        return set_error(XIO_IO_ERROR, path.string() + " is not made: " + missing);
    }
    int rc = sqlite3_open_v2(sqlite_name(tmp).c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) rc = harden(db);
    if (rc == SQLITE_OK) rc = exec(db, "PRAGMA journal_mode=DELETE");
    if (rc == SQLITE_OK) rc = exec(db, "BEGIN");
    if (rc == SQLITE_OK) rc = ensure_schema(db, d, fileNo);
    if (rc == SQLITE_OK) rc = set_identity(db, draw_identity());
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

}  // namespace xio_private
}  // namespace dz
