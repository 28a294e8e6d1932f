#include "platform/datafile/locks.h"

#include "platform/datafile/xio.h"

#include <sqlite3.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace dz::xio {

namespace {

// Reads the state letter and the start time of a process from /proc; false when unknown.
bool read_stat(int64_t pid, char& state, int64_t& start) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    if (!in) return false;
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = all.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream rest(all.substr(close + 1));
    std::string tok;
    rest >> state;
    // Fields after the state: ppid(4) ... starttime(22); the state is field 3.
    for (int field = 4; field < 22; ++field) rest >> tok;
    rest >> start;
    return static_cast<bool>(rest);
}

}  // namespace

int64_t LockTable::processStart(int64_t pid) {
    char state = 0;
    int64_t start = 0;
    return read_stat(pid, state, start) ? start : 0;
}

bool LockTable::processAlive(int64_t pid, int64_t start) {
    if (pid <= 0) return false;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return false;
    char state = 0;
    int64_t now = 0;
    if (read_stat(pid, state, now)) {
        if (state == 'Z' || state == 'X') return false;  // exited, not yet reaped
        if (start != 0 && now != start) return false;      // the pid belongs to a newer process
    }
    return true;
}

LockTable::LockTable(std::filesystem::path dataFile, int64_t owner)
    : path_(dataFile.string() + "-locks"), owner_(owner), pid_(::getpid()), start_(processStart(::getpid())) {}

LockTable::~LockTable() {
    releaseAll();
    if (db_) sqlite3_close(db_);
}

bool LockTable::open(bool create) {
    if (db_) return true;
    if (!create && !std::filesystem::exists(path_)) return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
        if (sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db_, 5000);
            int rc = sqlite3_exec(db_,
                                  "PRAGMA synchronous=OFF;"
                                  "CREATE TABLE IF NOT EXISTS locks(kind TEXT, key TEXT, pid INTEGER, start INTEGER,"
                                  " owner INTEGER, PRIMARY KEY(kind, key));",
                                  nullptr, nullptr, nullptr);
            if (rc == SQLITE_OK) return true;
            sqlite3_close(db_);
            db_ = nullptr;
            // A damaged lock file holds nothing worth keeping.
            if ((rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT) && create) {
                std::error_code ec;
                std::filesystem::remove(path_, ec);
                continue;
            }
            return false;
        }
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    return false;
}

int LockTable::acquire(char kind, const std::string& key) {
    if (!open(true)) return XIO_IO_ERROR;
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return XIO_LOCKED;
    const char k[2] = {kind, 0};
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "SELECT pid, start, owner FROM locks WHERE kind=?1 AND key=?2", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, k, 1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    int result = XIO_OK;
    bool insert = true;
    if (sqlite3_step(st) == SQLITE_ROW) {
        int64_t pid = sqlite3_column_int64(st, 0), start = sqlite3_column_int64(st, 1), owner = sqlite3_column_int64(st, 2);
        sqlite3_finalize(st);
        st = nullptr;
        if (pid == pid_ && owner == owner_) {
            insert = false;
        } else if (pid == pid_ || processAlive(pid, start)) {
            result = XIO_LOCKED;
            insert = false;
        } else {
            sqlite3_stmt* del = nullptr;
            sqlite3_prepare_v2(db_, "DELETE FROM locks WHERE pid=?1 AND start=?2", -1, &del, nullptr);
            sqlite3_bind_int64(del, 1, pid);
            sqlite3_bind_int64(del, 2, start);
            sqlite3_step(del);
            sqlite3_finalize(del);
        }
    }
    if (st) sqlite3_finalize(st);
    if (insert) {
        sqlite3_stmt* ins = nullptr;
        sqlite3_prepare_v2(db_, "INSERT INTO locks(kind, key, pid, start, owner) VALUES(?1, ?2, ?3, ?4, ?5)", -1, &ins,
                           nullptr);
        sqlite3_bind_text(ins, 1, k, 1, SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 2, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(ins, 3, pid_);
        sqlite3_bind_int64(ins, 4, start_);
        sqlite3_bind_int64(ins, 5, owner_);
        if (sqlite3_step(ins) != SQLITE_DONE) result = XIO_IO_ERROR;
        sqlite3_finalize(ins);
    }
    if (result == XIO_OK) {
        if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return XIO_IO_ERROR;
        }
        holdsAny_ = true;
    } else {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return result;
}

void LockTable::release(char kind, const std::string& key) {
    if (!db_ || !holdsAny_) return;
    const char k[2] = {kind, 0};
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "DELETE FROM locks WHERE kind=?1 AND key=?2 AND pid=?3 AND owner=?4", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, k, 1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 3, pid_);
    sqlite3_bind_int64(st, 4, owner_);
    sqlite3_step(st);
    sqlite3_finalize(st);
}

void LockTable::releaseAll() {
    if (!db_ || !holdsAny_) return;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "DELETE FROM locks WHERE pid=?1 AND owner=?2", -1, &st, nullptr);
    sqlite3_bind_int64(st, 1, pid_);
    sqlite3_bind_int64(st, 2, owner_);
    sqlite3_step(st);
    sqlite3_finalize(st);
    holdsAny_ = false;
}

bool LockTable::heldByOther(char kind, const std::string& key, bool otherProcessOnly) {
    if (!open(false)) return false;
    const char k[2] = {kind, 0};
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "SELECT pid, start, owner FROM locks WHERE kind=?1 AND key=?2", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, k, 1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    bool held = false;
    if (sqlite3_step(st) == SQLITE_ROW) {
        int64_t pid = sqlite3_column_int64(st, 0), start = sqlite3_column_int64(st, 1), owner = sqlite3_column_int64(st, 2);
        if (pid == pid_) held = !otherProcessOnly && owner != owner_;
        else held = processAlive(pid, start);
    }
    sqlite3_finalize(st);
    return held;
}

bool LockTable::kindHeldByOtherProcess(char kind) {
    if (!open(false)) return false;
    const char k[2] = {kind, 0};
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "SELECT pid, start FROM locks WHERE kind=?1 AND pid<>?2", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, k, 1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 2, pid_);
    bool held = false;
    while (!held && sqlite3_step(st) == SQLITE_ROW)
        held = processAlive(sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1));
    sqlite3_finalize(st);
    return held;
}

}  // namespace dz::xio
