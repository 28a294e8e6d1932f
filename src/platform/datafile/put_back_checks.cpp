// What the put-back of a dead run needs from the data files' own layer, given beside it.
#include "platform/datafile/put_back_checks.h"
#include "platform/datafile/dictionary.h"
#include "platform/datafile/sqlite_files.h"

#include <charconv>
#include <system_error>

namespace dz {
namespace xio_private {
namespace {

// "" when `file` is a data file of the dictionary file named `name`. Opened as every data file
// is, defensively: nothing in the file runs (no view, no trigger), and the reading is bounded.
std::string not_a_data_file_named(const std::string& file, const std::string& name) {
    sqlite3* db = nullptr;
    std::map<std::string, std::string> meta;
    if (open_raw(file, SQLITE_OPEN_READONLY, db) == SQLITE_OK) {
        int steps = 0;
        sqlite3_progress_handler(db, 1000, [](void* n) { return ++*static_cast<int*>(n) > 10000 ? 1 : 0; }, &steps);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT name, value FROM dz_meta LIMIT 1000", -1, &st, nullptr) == SQLITE_OK)
            while (sqlite3_step(st) == SQLITE_ROW) {
                const auto* n = sqlite3_column_text(st, 0);
                const auto* v = sqlite3_column_text(st, 1);
                if (n && v) meta[reinterpret_cast<const char*>(n)] = reinterpret_cast<const char*>(v);
            }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    if (meta["format"] != "dodedoz-datafile") return "it is not a data file";
    std::string error;
    const auto dict = xio::get(meta["abbr"], error);
    uint16_t number = 0;
    std::from_chars(meta["file_no"].data(), meta["file_no"].data() + meta["file_no"].size(), number);
    const xio::FileEntry* entry = dict ? dict->file(number) : nullptr;
    auto upper = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    if (!entry || upper(entry->name) != upper(name)) return "it holds " + meta["abbr"] + " file " + meta["file_no"] + ", not " + name;
    return "";
}

}  // namespace
}  // namespace xio_private

xio::PutBackChecks xio::put_back_checks() { return {xio_private::open_on_a_connection, xio_private::not_a_data_file_named}; }

}  // namespace dz
