// SQLite's file layer with a guard before it. SQLite opens and removes files by names it makes
// from a data file's name, and by names it reads from files (a journal names a super journal,
// which SQLite reads as a list of journals and removes); a database opens in write-ahead-log mode
// whenever a "-wal" file stands beside it. Here each open is let through only for what this
// program makes: the data file, SQLite's nameless temporary files, the journal a connection
// makes, and a journal the judge passed (own_journal.h). Every other open is refused before
// anything is opened (a pipe opened to read would wait for ever), and a removal is let through
// only for a journal this process opened as its own, known by its inode. The journal a
// connection makes carries the data file's rights from its first moment: made afresh, its
// maker's alone, then given the file's owner, group and access list before SQLite writes to it.
#include "platform/datafile/journal_guard.h"

#include "platform/datafile/access_list.h"
#include "platform/datafile/journal_removal.h"
#include "platform/datafile/made_file.h"
#include "platform/datafile/own_journal.h"
#include "platform/datafile/sqlite_files.h"
#include "platform/datafile/users.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::xio {
namespace {

constexpr std::string_view kJournalSuffix = "-journal";
constexpr std::string_view kLogSuffix = "-wal";
constexpr std::string_view kIndexSuffix = "-shm";
constexpr const char* kGuardName = "dodedoz-journal-guard";
constexpr int kKinds = SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_TEMP_DB | SQLITE_OPEN_TRANSIENT_DB | SQLITE_OPEN_MAIN_JOURNAL |
                       SQLITE_OPEN_TEMP_JOURNAL | SQLITE_OPEN_SUBJOURNAL | SQLITE_OPEN_SUPER_JOURNAL | SQLITE_OPEN_WAL;

sqlite3_vfs* g_base = nullptr;
sqlite3_vfs g_guard{};
std::string g_missing;  // why the guard could not be installed

std::mutex g_hookMutex;
std::function<void(const std::string&)> g_removalHook;
std::function<void(const std::string&)> g_openHook;
std::function<void(const std::string&)> g_madeHook;
int g_removalError = 0;  // tests: every removal of a journal fails with it

// Why the removal of a journal failed, by its path, until the commit's failure is worded.
std::mutex g_failedMutex;
std::map<std::string, std::string, std::less<>> g_failedRemovals;
// What was put at a journal's name while this program made it there, by its path, until the
// write's failure is worded.
std::map<std::string, std::string, std::less<>> g_failedMakings;

void call_hook(const std::function<void(const std::string&)>& which, const char* name) {
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = which;
    }
    if (hook) hook(name);
}

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FileId&) const = default;
};
FileId id_of(const struct stat& st) { return {st.st_dev, st.st_ino}; }

// The journals (and logs) this process opened as its own, by name: what stands there now is
// removed only while it is still that file.
std::mutex g_ownMutex;
std::map<std::string, FileId, std::less<>> g_own;

void remember_own(const std::string& name, FileId id) {
    std::lock_guard<std::mutex> lock(g_ownMutex);
    g_own[name] = id;
}
std::optional<FileId> own_at(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_ownMutex);
    const auto it = g_own.find(name);
    if (it == g_own.end()) return std::nullopt;
    return it->second;
}
void forget_own(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_ownMutex);
    g_own.erase(name);
}

// The data file of a name "<data file><suffix>" ("" for any other name).
std::string data_file_of(std::string_view name, std::string_view suffix) {
    if (name.size() <= suffix.size() || !name.ends_with(suffix)) return {};
    return std::string(name.substr(0, name.size() - suffix.size()));
}

// SQLite's unix file layer keeps the descriptor of an open file in its file object, after the
// methods, the layer and the inode's lock record. What is read from there is trusted only when
// it names the very file that stands at the name.
struct UnixFileHead {
    const sqlite3_io_methods* methods;
    sqlite3_vfs* vfs;
    void* inode;
    int fd;
};

// The file just opened at `name`, when that is what stands there (a regular file).
std::optional<FileId> opened_file(sqlite3_file* file, const char* name) {
    struct stat held {}, named {};
    const int fd = reinterpret_cast<const UnixFileHead*>(file)->fd;
    if (fd < 0 || ::fstat(fd, &held) != 0 || ::lstat(name, &named) != 0 || !S_ISREG(held.st_mode) ||
        id_of(held) != id_of(named))
        return std::nullopt;
    return id_of(held);
}

// The journal a connection is making on this thread, while SQLite's open of it is under way.
struct Making {
    const char* journal;
    const std::string& dataFile;
    int fd = -1;                  // the file made
    std::optional<FileId> made;  // and which it is
};
thread_local Making* t_making = nullptr;

using OpenCall = int (*)(const char*, int, int);
OpenCall g_open = nullptr;

// Something put at a journal's name after SQLite saw none there and before the journal made for
// it could be linked: kept, naming what it is and whose, for the write's failure to say.
void note_planted(const std::string& journal) {
    struct stat st {};
    std::string what = "something that was gone again when looked at";
    if (::lstat(journal.c_str(), &st) == 0)
        what = std::string(S_ISREG(st.st_mode) ? "a file" : S_ISLNK(st.st_mode) ? "a symbolic link"
                           : S_ISFIFO(st.st_mode)                        ? "a named pipe (FIFO)"
                           : S_ISDIR(st.st_mode)                         ? "a folder"
                                                                         : "a special file") +
               " of " + user_name(st.st_uid);
    std::lock_guard<std::mutex> lock(g_failedMutex);
    g_failedMakings[journal] = journal + " was made by another program while this write made its journal there (" +
                               what + "), and the write never writes over what it did not make: it was not made, and " +
                               "what stands there is judged by the next command";
}

// The journal a connection makes, made by the one maker (made_file.h): without a name in its
// folder, its maker's alone (0600, whatever mode SQLite asks), given the data file's rights (by
// root its owner, and its group where this user may give it; then its access list as a file of
// the owner and group it has carries it), and only then linked at its name, which fails as
// O_EXCL does where something stands there: nobody, not even a look judging what stands at the
// name, meets it before it has them. Where the data file's list cannot be read it stays open to
// its owner alone.
int make_journal(const char* name, const std::string& dataFile) {
    MadeFile spec;
    // SQLite names a journal by its full path.
    spec.name = name;
    spec.openFlags = O_NONBLOCK;
    if (std::optional<MadeRights> rights = rights_for(dataFile, 07)) spec.rights = std::move(*rights);
    spec.beforeNamed = [name](int) { call_hook(g_madeHook, name); };
    const Made made = make_file(spec);
    if (made.error == EEXIST) note_planted(name);
    errno = made.error;
    return made.fd;
}

// The open of SQLite's unix layer, and the same never waiting: a pipe put at a name after it was
// judged (or looked at) answers at once, and is then refused as no regular file, where an open
// to read would wait for a writer for ever. Regular files read and write as before, but for the
// journal a connection makes (make_journal).
int open_without_waiting(const char* name, int flags, int mode) {
    Making* m = t_making;
    if (!m || (flags & (O_CREAT | O_EXCL)) != (O_CREAT | O_EXCL) || std::strcmp(name, m->journal) != 0)
        return g_open(name, flags | O_NONBLOCK, mode);
    const int fd = make_journal(name, m->dataFile);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return fd;
    m->fd = fd;
    m->made = id_of(st);
    return fd;
}

// SQLite's unix layer sets a journal it opens to the data file's mode when it is empty, and, run by
// root, gives every journal it opens (a look's too) the data file's owner, right after the open:
// passed over for every journal, while its open is under way on this thread. The journal made
// above has its rights already; any other keeps those it has, and is judged by them: a look
// gives no file to anyone, and a file planted at the name is never made the owner's.
thread_local bool t_journalOpen = false;
struct JournalOpen {
    JournalOpen() { t_journalOpen = true; }
    ~JournalOpen() { t_journalOpen = false; }
    JournalOpen(const JournalOpen&) = delete;
    JournalOpen& operator=(const JournalOpen&) = delete;
};
using ModeCall = int (*)(int, mode_t);
using OwnerCall = int (*)(int, uid_t, gid_t);
ModeCall g_fchmod = nullptr;
OwnerCall g_fchown = nullptr;
int fchmod_unless_journal(int fd, mode_t mode) { return t_journalOpen ? 0 : g_fchmod(fd, mode); }
int fchown_unless_journal(int fd, uid_t uid, gid_t gid) { return t_journalOpen ? 0 : g_fchown(fd, uid, gid); }

int refuse(sqlite3_file* file) {
    file->pMethods = nullptr;
    return SQLITE_CANTOPEN;
}

int open_base(const char* name, sqlite3_file* file, int flags, int* out) {
    return g_base->xOpen(g_base, name, file, flags, out);
}

// Opens as `name` only the file judged: anything else that stands there by then is closed again.
int open_checked(const char* name, sqlite3_file* file, int flags, int* out, std::optional<FileId> judged, bool own) {
    const int rc = open_base(name, file, flags, out);
    if (rc != SQLITE_OK) return rc;
    const std::optional<FileId> opened = opened_file(file, name);
    if (!opened || (judged && *opened != *judged)) {
        if (file->pMethods) file->pMethods->xClose(file);
        return refuse(file);
    }
    if (own) remember_own(name, *opened);
    return SQLITE_OK;
}

// The journal a connection makes: a file made by this open (open_without_waiting), and only that
// file is SQLite's. Something that stood there is never written over, whoever made it: anyone
// who could once open it may hold it open still.
int open_made(const char* name, const std::string& dataFile, sqlite3_file* file, int flags, int* out) {
    Making making{name, dataFile, -1, std::nullopt};
    t_making = &making;
    const int rc = open_base(name, file, flags | SQLITE_OPEN_EXCLUSIVE, out);
    t_making = nullptr;
    if (rc != SQLITE_OK) return rc;
    const std::optional<FileId> opened = opened_file(file, name);
    if (!opened || opened != making.made) {
        if (file->pMethods) file->pMethods->xClose(file);
        return refuse(file);
    }
    remember_own(name, *opened);
    return SQLITE_OK;
}

// What stands at `name` (nothing: nullopt); `looked` is false when that cannot be told.
std::optional<FileId> standing(const char* name, bool& looked) {
    struct stat st {};
    looked = true;
    if (::lstat(name, &st) == 0) return id_of(st);
    looked = errno == ENOENT;
    return std::nullopt;
}

// A data file's journal: the one a connection makes, where the judge lets it write one; a hot one
// the judge passed as the file's own, to be played; any journal a writer may write over, only to
// read its first byte (SQLite's test of whether it is hot).
int open_journal(const char* name, sqlite3_file* file, int flags, int* out) {
    const JournalOpen opening;
    const std::string dataFile = data_file_of(name, kJournalSuffix);
    if (dataFile.empty()) return refuse(file);
    bool looked = false;
    const std::optional<FileId> before = standing(name, looked);
    if (!looked) return refuse(file);
    const bool creating = (flags & SQLITE_OPEN_CREATE) != 0;
    // Its descriptor, open until SQLite has opened the journal, keeps the inode judged from any
    // other file.
    const JournalJudgement judged = judge_journal(dataFile, creating ? JournalUse::Create : JournalUse::Playback);
    const JournalKind kind = judged.kind;
    call_hook(g_openHook, name);
    if (creating) {
        if (kind == JournalKind::NotOwn) return refuse(file);
        // A journal that holds no write (never played) goes, as the commit would remove it, while
        // the name still names the one judged; the journal is then made afresh.
        if (kind == JournalKind::Idle && before &&
            remove_journal({name, before->dev, before->ino, false}) != 0)
            return refuse(file);
        if (kind == JournalKind::None || kind == JournalKind::Idle || !before) return open_made(name, dataFile, file, flags, out);
        return open_checked(name, file, flags, out, before, true);
    }
    // Gone since SQLite saw it: never opened by name again, as something else may stand there by
    // now (SQLite then takes the journal for played by another program). Otherwise only the very
    // journal the judge judged is opened, whatever stood at the name before it looked.
    const bool reading = (flags & SQLITE_OPEN_READONLY) != 0;
    if (!before || !(kind == JournalKind::Own || (reading && kind == JournalKind::Idle)) || judged.inode == 0)
        return refuse(file);
    return open_checked(name, file, flags, out, FileId{judged.device, judged.inode}, !reading);
}

// A write-ahead log: only one this connection makes where nothing stood, for a data file put in
// that mode elsewhere, which is then put back in this program's mode. A log (or its index) that
// stands beside a data file is never this program's: never opened, read or replayed.
int open_log(const char* name, sqlite3_file* file, int flags, int* out) {
    const std::string dataFile = data_file_of(name, kLogSuffix);
    if (dataFile.empty() || (flags & SQLITE_OPEN_CREATE) == 0) return refuse(file);
    struct stat st {};
    const std::string index = dataFile + std::string(kIndexSuffix);
    if (::lstat(name, &st) == 0 || errno != ENOENT || ::lstat(index.c_str(), &st) == 0 || errno != ENOENT)
        return refuse(file);
    return open_checked(name, file, flags | SQLITE_OPEN_EXCLUSIVE, out, std::nullopt, true);
}

int guard_open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out) {
    switch (flags & kKinds) {
        case SQLITE_OPEN_MAIN_DB: {
            // A data file, or the file a new one is made in: a regular file or nothing.
            struct stat st {};
            if (!name || (::lstat(name, &st) == 0 ? !S_ISREG(st.st_mode) : errno != ENOENT)) return refuse(file);
            return open_checked(name, file, flags, out, std::nullopt, false);
        }
        case SQLITE_OPEN_TEMP_DB:
        case SQLITE_OPEN_TRANSIENT_DB:
        case SQLITE_OPEN_TEMP_JOURNAL:
        case SQLITE_OPEN_SUBJOURNAL:
            // SQLite's own temporary files have no name: the layer beneath makes one and removes
            // it at once.
            if (name) return refuse(file);
            return open_base(name, file, flags, out);
        case SQLITE_OPEN_MAIN_JOURNAL:
            return open_journal(name, file, flags, out);
        case SQLITE_OPEN_WAL:
            return open_log(name, file, flags, out);
        default:  // a super journal (this program never writes one), or anything else
            return refuse(file);
    }
}

int guard_delete(sqlite3_vfs*, const char* name, int syncFolder) {
    if (!name) return SQLITE_IOERR_DELETE;
    const std::optional<FileId> own = own_at(name);
    if (!own) return SQLITE_IOERR_DELETE;
    struct stat st {};
    if (::lstat(name, &st) != 0 && errno == ENOENT) {
        forget_own(name);
        return SQLITE_IOERR_DELETE_NOENT;
    }
    if (id_of(st) != *own) return SQLITE_IOERR_DELETE;
    const bool journal = !data_file_of(name, kJournalSuffix).empty();
    if (journal) call_hook(g_removalHook, name);
    int error = 0;
    int rc = SQLITE_IOERR_DELETE;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        error = g_removalError;
    }
    if (error == 0 && journal) {
        // Its other names, if any, emptied first (journal_removal.h).
        error = remove_journal({name, own->dev, own->ino, syncFolder != 0});
        rc = error == 0 ? SQLITE_OK : error == ENOENT ? SQLITE_IOERR_DELETE_NOENT : SQLITE_IOERR_DELETE;
    } else if (error == 0) {
        errno = 0;
        rc = g_base->xDelete(g_base, name, syncFolder);
        error = errno;
    }
    if (rc == SQLITE_OK) forget_own(name);
    // The journal stands, hot: SQLite ends the commit as failed, and the file's next open that
    // may write it takes the write back. Why it stands is kept for the failure's words.
    if (journal && (rc & 0xff) == SQLITE_IOERR && ::lstat(name, &st) == 0) {
        std::lock_guard<std::mutex> lock(g_failedMutex);
        g_failedRemovals[name] = error != 0 ? std::strerror(error) : "the system gave no reason";
    }
    return rc;
}

// The rest is SQLite's own, asked of the layer beneath.
int guard_access(sqlite3_vfs*, const char* name, int flags, int* out) { return g_base->xAccess(g_base, name, flags, out); }
int guard_full_pathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return g_base->xFullPathname(g_base, name, n, out);
}
void* guard_dl_open(sqlite3_vfs*, const char* name) { return g_base->xDlOpen(g_base, name); }
void guard_dl_error(sqlite3_vfs*, int n, char* out) { g_base->xDlError(g_base, n, out); }
void (*guard_dl_sym(sqlite3_vfs*, void* lib, const char* sym))(void) { return g_base->xDlSym(g_base, lib, sym); }
void guard_dl_close(sqlite3_vfs*, void* lib) { g_base->xDlClose(g_base, lib); }
int guard_randomness(sqlite3_vfs*, int n, char* out) { return g_base->xRandomness(g_base, n, out); }
int guard_sleep(sqlite3_vfs*, int micro) { return g_base->xSleep(g_base, micro); }
int guard_current_time(sqlite3_vfs*, double* out) { return g_base->xCurrentTime(g_base, out); }
int guard_last_error(sqlite3_vfs*, int n, char* out) { return g_base->xGetLastError(g_base, n, out); }
int guard_current_time_int64(sqlite3_vfs*, sqlite3_int64* out) { return g_base->xCurrentTimeInt64(g_base, out); }
int guard_set_system_call(sqlite3_vfs*, const char* name, sqlite3_syscall_ptr call) {
    return g_base->xSetSystemCall(g_base, name, call);
}
sqlite3_syscall_ptr guard_get_system_call(sqlite3_vfs*, const char* name) { return g_base->xGetSystemCall(g_base, name); }
const char* guard_next_system_call(sqlite3_vfs*, const char* name) { return g_base->xNextSystemCall(g_base, name); }

std::string install() {
    g_base = sqlite3_vfs_find("unix");
    if (!g_base) return "SQLite has no unix file layer to put it before";
    if (g_base->iVersion < 3) return "SQLite's unix file layer is of version " + std::to_string(g_base->iVersion);
    g_open = reinterpret_cast<OpenCall>(g_base->xGetSystemCall(g_base, "open"));
    if (!g_open ||
        g_base->xSetSystemCall(g_base, "open", reinterpret_cast<sqlite3_syscall_ptr>(open_without_waiting)) != SQLITE_OK)
        return "SQLite's unix file layer did not let its opens be made without waiting";
    g_fchmod = reinterpret_cast<ModeCall>(g_base->xGetSystemCall(g_base, "fchmod"));
    g_fchown = reinterpret_cast<OwnerCall>(g_base->xGetSystemCall(g_base, "fchown"));
    if (!g_fchmod || !g_fchown ||
        g_base->xSetSystemCall(g_base, "fchmod", reinterpret_cast<sqlite3_syscall_ptr>(fchmod_unless_journal)) != SQLITE_OK ||
        g_base->xSetSystemCall(g_base, "fchown", reinterpret_cast<sqlite3_syscall_ptr>(fchown_unless_journal)) != SQLITE_OK)
        return "SQLite's unix file layer did not let a journal it makes keep the rights given it";
    g_guard.iVersion = 3;
    g_guard.szOsFile = g_base->szOsFile;
    g_guard.mxPathname = g_base->mxPathname;
    g_guard.zName = kGuardName;
    g_guard.xOpen = guard_open;
    g_guard.xDelete = guard_delete;
    g_guard.xAccess = guard_access;
    g_guard.xFullPathname = guard_full_pathname;
    g_guard.xDlOpen = guard_dl_open;
    g_guard.xDlError = guard_dl_error;
    g_guard.xDlSym = guard_dl_sym;
    g_guard.xDlClose = guard_dl_close;
    g_guard.xRandomness = guard_randomness;
    g_guard.xSleep = guard_sleep;
    g_guard.xCurrentTime = guard_current_time;
    g_guard.xGetLastError = guard_last_error;
    g_guard.xCurrentTimeInt64 = guard_current_time_int64;
    g_guard.xSetSystemCall = guard_set_system_call;
    g_guard.xGetSystemCall = guard_get_system_call;
    g_guard.xNextSystemCall = guard_next_system_call;
    if (const int rc = sqlite3_vfs_register(&g_guard, 1); rc != SQLITE_OK)
        return std::string("SQLite refused it (") + sqlite3_errstr(rc) + ")";
    return {};
}

}  // namespace

void install_journal_guard() {
    // Once; why it could not be installed is kept, and said at every open of a data file.
    static std::once_flag once;
    std::call_once(once, [] { g_missing = install(); });
}

bool journal_guard_in_place(std::string* why) {
    // Registered as SQLite's default; a layer of a test's may stand over it and hand it its files.
    if (g_guard.zName && sqlite3_vfs_find(kGuardName) == &g_guard) return true;
    if (why)
        *why = "the guard that keeps SQLite from opening or removing any file but the data file and its own journal "
               "is not in place" +
               (g_missing.empty() ? std::string() : ": " + g_missing);
    return false;
}

void set_journal_removal_hook_for_tests(std::function<void(const std::string& journal)> hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_removalHook = std::move(hook);
}

std::string journal_removal_failure(const std::string& dataFile) {
    std::lock_guard<std::mutex> lock(g_failedMutex);
    const auto it = g_failedRemovals.find(dataFile + std::string(kJournalSuffix));
    if (it == g_failedRemovals.end()) return {};
    std::string why = std::move(it->second);
    g_failedRemovals.erase(it);
    return why;
}

std::string journal_making_failure(const std::string& dataFile) {
    std::lock_guard<std::mutex> lock(g_failedMutex);
    const auto it = g_failedMakings.find(dataFile + std::string(kJournalSuffix));
    if (it == g_failedMakings.end()) return {};
    std::string why = std::move(it->second);
    g_failedMakings.erase(it);
    return why;
}

void set_journal_removal_error_for_tests(int error) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_removalError = error;
}

void set_journal_open_hook_for_tests(std::function<void(const std::string& journal)> hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_openHook = std::move(hook);
}

void set_journal_made_hook_for_tests(std::function<void(const std::string& journal)> hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_madeHook = std::move(hook);
}

}  // namespace dz::xio
