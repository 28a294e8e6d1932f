#include "platform/datafile/run_mark.h"

#include "platform/datafile/own_journal.h"
#include "platform/datafile/sqlite_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::xio {
namespace {

std::mutex g_mutex;
std::optional<RunMark> g_mark;

}  // namespace

std::string format_run_mark(const RunMark& mark) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lu %016llx", static_cast<unsigned long>(mark.uid),
                  static_cast<unsigned long long>(mark.number));
    return buf;
}

bool parse_run_mark(const std::string& text, RunMark& mark) {
    const auto space = text.find(' ');
    if (space == std::string::npos || space == 0 || space > 10 || text.size() != space + 17) return false;
    uint64_t uid = 0, number = 0;
    for (std::size_t i = 0; i < space; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        uid = uid * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    for (std::size_t i = space + 1; i < text.size(); ++i) {
        const char c = text[i];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) return false;
        number = number << 4 | static_cast<uint64_t>(d);
    }
    if (uid != static_cast<uint64_t>(static_cast<uid_t>(uid))) return false;
    mark = {static_cast<uid_t>(uid), number};
    return true;
}

uint64_t draw_run_number() {
    uint64_t n = 0;
    for (std::size_t got = 0; got < sizeof n;) {
        const ssize_t r = ::getrandom(reinterpret_cast<char*>(&n) + got, sizeof n - got, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    return n;
}

void set_run_mark_for_commits(std::optional<RunMark> mark) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_mark = mark;
}

std::optional<RunMark> run_mark_for_commits() {
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_mark;
}

MarkFound read_run_mark(const std::string& dataFile, RunMark& mark, std::string* why) {
    using namespace xio_private;
    mark = {};
    struct stat st {};
    if (::stat(dataFile.c_str(), &st) != 0 && errno == ENOENT) return MarkFound::Missing;
    // A stopped write that a reader's lock hides from SQLite, which would read the file past it,
    // is not read at all: unsettled, as SQLite's own refusal of a stopped write is.
    struct stat journal {};
    const bool hidden = ::lstat((dataFile + "-journal").c_str(), &journal) == 0 &&
                        xio::judge_journal(dataFile).kind == xio::JournalKind::HeldOff;
    sqlite3* db = nullptr;
    // Read-only: a look reads it too, and a write left in the middle is never played here.
    int rc = hidden ? SQLITE_BUSY : open_raw(dataFile, SQLITE_OPEN_READONLY, db);
    if (rc == SQLITE_OK) sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* st1 = nullptr;
    std::string format, value;
    bool found = false;
    if (rc == SQLITE_OK)
        rc = sqlite3_prepare_v2(db, "SELECT name, value FROM dz_meta WHERE name IN ('format', ?1)", -1, &st1, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(st1, 1, kRunMarkName, -1, SQLITE_STATIC);
        while ((rc = sqlite3_step(st1)) == SQLITE_ROW) {
            const auto* n = reinterpret_cast<const char*>(sqlite3_column_text(st1, 0));
            const auto* v = reinterpret_cast<const char*>(sqlite3_column_text(st1, 1));
            const std::string name = n ? n : "";
            if (name == "format") format = v ? v : "";
            else if (name == kRunMarkName) {
                found = true;
                value = v ? v : "";
            }
        }
        if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    const int extended = db ? sqlite3_extended_errcode(db) : rc;
    const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_finalize(st1);
    sqlite3_close(db);
    const bool journalStands = ::stat((dataFile + "-journal").c_str(), &journal) == 0 && journal.st_size > 0;
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED || extended == SQLITE_READONLY_ROLLBACK ||
        extended == SQLITE_READONLY_RECOVERY || (rc != SQLITE_OK && journalStands)) {
        if (why) *why = "it was left in the middle of a write, or another program is committing it";
        return MarkFound::Unsettled;
    }
    if (rc != SQLITE_OK || format != "dodedoz-datafile") {
        if (why) *why = rc != SQLITE_OK ? message : "it is not a data file";
        return MarkFound::Unreadable;
    }
    if (!found) return MarkFound::None;
    if (!parse_run_mark(value, mark)) {
        mark = {};
        return MarkFound::None;  // no mark of a run this program made
    }
    return MarkFound::Carried;
}

}  // namespace dz::xio
