#include "platform/datafile/hot_journal.h"

#include "platform/datafile/file_aside.h"
#include "platform/datafile/xio_internal.h"

#include <dirent.h>
#include <sys/stat.h>

namespace dz::xio {
namespace {

using xio_private::configure_sqlite_once;
using xio_private::harden;
using xio_private::sqlite_name;

constexpr std::string_view kJournalSuffix = "-journal";

// Reads the file's schema through a connection of its own: the first read is where SQLite meets
// a hot journal (and, on a connection that may write, plays it back). The SQLite result code,
// extended; `why` its words when not SQLITE_OK.
int first_read(const std::string& dataFile, bool mayWrite, std::string& why) {
    configure_sqlite_once();
    sqlite3* db = nullptr;
    const int flags = (mayWrite ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(sqlite_name(dataFile).c_str(), &db, flags, nullptr);
    if (rc == SQLITE_OK) rc = harden(db);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        sqlite3_stmt* st = nullptr;
        rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &st, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(st);
            if (rc == SQLITE_ROW) rc = SQLITE_OK;
        }
        sqlite3_finalize(st);
    }
    if (rc != SQLITE_OK) {
        rc = db ? sqlite3_extended_errcode(db) : rc;
        why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    }
    sqlite3_close(db);
    return rc;
}

// Whether the data file's journal is hot: a read-only connection refuses to read past it.
bool hot(const std::string& dataFile) {
    std::string why;
    return first_read(dataFile, false, why) == SQLITE_READONLY_ROLLBACK;
}

// The data files of the folder that have a journal beside them.
std::vector<std::string> journalled(const std::string& folder, const std::string& onlyFile) {
    std::vector<std::string> names;
    auto stands = [&](const std::string& name) {
        struct stat st {}, journal {};
        return ::lstat((folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
               ::lstat((folder + name + std::string(kJournalSuffix)).c_str(), &journal) == 0 &&
               S_ISREG(journal.st_mode) && journal.st_size > 0;
    };
    if (!onlyFile.empty()) {
        if (stands(onlyFile)) names.push_back(onlyFile);
        return names;
    }
    DIR* d = ::opendir(folder.c_str());
    if (!d) return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() <= kJournalSuffix.size() || !name.ends_with(kJournalSuffix)) continue;
        const std::string dataFile = name.substr(0, name.size() - kJournalSuffix.size());
        if (stands(dataFile)) names.push_back(dataFile);
    }
    ::closedir(d);
    return names;
}

}  // namespace

std::vector<StoppedWrite> settle_stopped_writes(const StoppedWriteRequest& request) {
    const std::string folder = with_slash(request.dataFolder);
    std::vector<StoppedWrite> found;
    static int64_t serial = 0;
    for (const std::string& name : journalled(folder, request.onlyFile)) {
        const std::string dataFile = folder + name;
        // Open here, the file's own connection met the journal at its first read.
        if (request.openHere && request.openHere(dataFile)) continue;
        if (!hot(dataFile)) continue;
        StoppedWrite w;
        w.dataFile = dataFile;
        if (!request.takeBack) {
            found.push_back(std::move(w));
            continue;
        }
        // Under the writer lock: a program that holds it is writing the file, and met the journal
        // at its own first read (its own commit may be what stands beside the file now).
        LockTable lock(dataFile, --serial);
        if (lock.open() != XIO_OK || lock.acquire('W', "") != XIO_OK) {
            if (!lock.error().empty()) {
                w.why = lock.error();
                w.next = {ui::Step::Again, {}};
                found.push_back(std::move(w));
            }
            continue;
        }
        if (!hot(dataFile)) continue;
        std::string why;
        const int rc = first_read(dataFile, true, why);
        w.takenBack = rc == SQLITE_OK && !hot(dataFile);
        if (!w.takenBack) {
            // A file or folder this user may not write: one who may takes it back.
            const bool unwritable = ::access(dataFile.c_str(), W_OK) != 0 || ::access(folder.c_str(), W_OK) != 0;
            w.why = dataFile + (unwritable ? " or its folder cannot be written by this user"
                                           : ": " + (why.empty() ? std::string("its journal could not be played back") : why));
            w.next = unwritable ? ui::NextStep{ui::Step::WritableFolder, {folder.substr(0, folder.size() - 1)}}
                                : ui::NextStep{ui::Step::Again, {}};
        }
        found.push_back(std::move(w));
    }
    return found;
}

}  // namespace dz::xio
