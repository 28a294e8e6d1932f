// SQLite's file layer with a guard before it: every journal a connection of this program is
// about to open or remove is judged first (own_journal.h). The judgement before a connection
// opens says why a file is refused; this one keeps SQLite itself from playing, or even opening,
// a journal that appeared meanwhile (a pipe opened to read would wait for ever).
#include "platform/datafile/own_journal.h"

#include "platform/datafile/xio_internal.h"

#include <mutex>
#include <string_view>

namespace dz::xio {
namespace {

constexpr std::string_view kSuffix = "-journal";

sqlite3_vfs* g_base = nullptr;
sqlite3_vfs g_guard{};
std::mutex g_hookMutex;
std::function<void(const std::string&)> g_removalHook;

// The data file of a main journal's name ("" for any other name).
std::string data_file_of(const char* name) {
    const std::string_view n = name ? name : "";
    if (n.size() <= kSuffix.size() || !n.ends_with(kSuffix)) return {};
    return std::string(n.substr(0, n.size() - kSuffix.size()));
}

int guard_open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out) {
    if ((flags & SQLITE_OPEN_MAIN_JOURNAL) != 0) {
        if (const std::string dataFile = data_file_of(name); !dataFile.empty()) {
            const bool creating = (flags & SQLITE_OPEN_CREATE) != 0;
            const JournalKind kind = judge_journal(dataFile, creating ? JournalUse::Create : JournalUse::Playback).kind;
            // Gone since SQLite saw it: not opened by name again, as something else may stand
            // there by now (SQLite then takes the journal for played by another program).
            if (kind == JournalKind::NotOwn || (kind == JournalKind::None && !creating)) {
                file->pMethods = nullptr;
                return SQLITE_CANTOPEN;
            }
        }
    }
    return g_base->xOpen(g_base, name, file, flags, out);
}

int guard_delete(sqlite3_vfs*, const char* name, int syncFolder) {
    if (const std::string dataFile = data_file_of(name); !dataFile.empty()) {
        if (judge_journal(dataFile, JournalUse::Create).kind == JournalKind::NotOwn) return SQLITE_IOERR_DELETE;
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard<std::mutex> lock(g_hookMutex);
            hook = g_removalHook;
        }
        if (hook) hook(name);
    }
    return g_base->xDelete(g_base, name, syncFolder);
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

}  // namespace

void install_journal_guard() {
    static const bool installed = [] {
        g_base = sqlite3_vfs_find("unix");
        if (!g_base || g_base->iVersion < 3) return false;
        g_guard.iVersion = 3;
        g_guard.szOsFile = g_base->szOsFile;
        g_guard.mxPathname = g_base->mxPathname;
        g_guard.zName = "dodedoz-journal-guard";
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
        return sqlite3_vfs_register(&g_guard, 1) == SQLITE_OK;
    }();
    (void)installed;
}

void set_journal_removal_hook_for_tests(std::function<void(const std::string& journal)> hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_removalHook = std::move(hook);
}

}  // namespace dz::xio
