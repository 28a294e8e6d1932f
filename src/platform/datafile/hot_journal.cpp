#include "platform/datafile/hot_journal.h"

#include "platform/datafile/file_aside.h"
#include "platform/datafile/idle_journal.h"
#include "platform/datafile/journal_guard.h"
#include "platform/datafile/journal_removal.h"
#include "platform/datafile/lock_file.h"
#include "platform/datafile/locks.h"
#include "platform/datafile/own_journal.h"
#include "platform/datafile/owned_fd.h"
#include "platform/datafile/sticky_folder.h"
#include "platform/datafile/sqlite_files.h"
#include "platform/datafile/users.h"
#include "platform/datafile/utf8.h"
#include "platform/datafile/write_bar.h"
#include "platform/datafile/xio.h"

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <filesystem>
#include <fcntl.h>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::xio {
namespace {

using xio_private::configure_sqlite_once;
using xio_private::harden;
using xio_private::sqlite_name;

constexpr std::string_view kSuffixes[] = {"-journal", "-wal", "-shm"};

std::mutex g_hookMutex;
std::function<void(const std::string&)> g_takeBackHook;
std::function<void(const std::string&)> g_checkHook;

// SQLite's own words, and each finding of its check, as said: their first characters. Both may
// carry the file's schema text (a name of any length), which says nothing more past its start.
std::string said_text(std::string_view text) {
    constexpr std::size_t kSaid = 200;
    const std::string_view start = Utf8Prefix(text, kSaid);
    return std::string(start) + (start.size() < text.size() ? "..." : "");
}

// Reads the file's schema through a connection that may write it: the first read is where SQLite
// meets a hot journal and plays it back. The SQLite result code, extended; `why` its words when
// not SQLITE_OK.
int first_read(const std::string& dataFile, std::string& why) {
    configure_sqlite_once();
    // Without the guard SQLite would play whatever stands beside the file.
    if (!journal_guard_in_place(&why)) return SQLITE_CANTOPEN;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(sqlite_name(dataFile).c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
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
        why = said_text(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    }
    sqlite3_close(db);
    return rc;
}

// The first program other than this one seen holding a lock on the data file itself, in words;
// "" when none is seen.
std::string data_file_holder(const std::string& dataFile) {
    struct stat st {};
    if (::stat(dataFile.c_str(), &st) != 0) return "";
    const auto holders = other_holders(st.st_dev, st.st_ino);
    return holders.empty() ? "" : holders.front().words();
}

// What the integrity check found, as a person reads it: the first few findings, then how many
// there were (the check stops at 100).
std::string said_findings(const std::vector<std::string>& findings) {
    constexpr std::size_t kSaid = 3, kCheckStops = 100;
    std::string said;
    for (std::size_t i = 0; i < findings.size() && i < kSaid; ++i) said += (i == 0 ? "" : "; ") + said_text(findings[i]);
    if (findings.size() > kSaid)
        said += " (" + std::to_string(findings.size()) + (findings.size() >= kCheckStops ? " findings or more" : " findings") +
                " in all)";
    return said;
}

// Whether the file SQLite reads as `dataFile` is whole (its integrity check finds nothing wrong:
// a journal's checksums sample one byte in 200, so a played page may break what only that check
// sees, an index against its rows); `why` what it found when not. Run only after a take-back.
bool whole(const std::string& dataFile, std::string& why) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(sqlite_name(dataFile).c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) rc = harden(db);
    std::vector<std::string> findings;
    if (rc == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
        while (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
            rc = SQLITE_OK;
            const unsigned char* text = sqlite3_column_text(st, 0);
            std::istringstream lines(text ? reinterpret_cast<const char*>(text) : "");
            for (std::string line; std::getline(lines, line);)
                if (!line.empty() && !line.starts_with("*** in database")) findings.push_back(line);
        }
        if (rc == SQLITE_DONE) rc = SQLITE_OK;
        sqlite3_finalize(st);
    }
    if (rc != SQLITE_OK) findings = {db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)};
    sqlite3_close(db);
    if (rc == SQLITE_OK && findings.size() == 1 && findings[0] == "ok") return true;
    why = said_findings(findings);
    return false;
}

// The topmost folder of the file system that holds `path`: where `find -xdev` looks for its names.
std::string file_system_of(const std::string& path) {
    std::filesystem::path at = std::filesystem::absolute(path).parent_path();
    struct stat st {}, up {};
    if (::stat(at.c_str(), &st) != 0) return "/";
    while (at != at.root_path() && ::stat(at.parent_path().c_str(), &up) == 0 && up.st_dev == st.st_dev)
        at = at.parent_path();
    return at.string();
}

// A journal removed that had other names (hard links made to it, by one who could read and write
// it): those names, which no program can list, stay where they are. Emptied by its removal
// (journal_removal.h), they hold nothing: said as empty leftovers, and nothing finds them by the
// inode, which may be another file's once they are gone. One the removal could not empty still
// holds the journal: said with how an administrator finds it while it does.
std::string other_names(const JournalJudgement& j, bool emptied) {
    const bool one = j.names == 2;
    const std::string them = one ? "the other one" : "the " + std::to_string(j.names - 1) + " others";
    if (emptied)
        return "Its journal had " + std::to_string(j.names) + " names (hard links): " + them + ", on the same file " +
               "system, " + (one ? "was" : "were") + " emptied with it and hold" + (one ? "s" : "") + " nothing: " +
               (one ? "an empty leftover" : "empty leftovers") + " that may be removed";
    return "Its journal had " + std::to_string(j.names) + " names (hard links): " + them + ", on the same file system, " +
           (one ? "is" : "are") + " no journal of the file: have " + (one ? "it" : "them") +
           " removed, never put back beside it (find " + file_system_of(j.journal) + " -xdev -inum " +
           std::to_string(j.inode) + (one ? " lists it)" : " lists them)");
}

// Whether the journal held as `held` holds nothing now.
bool emptied(const Fd& held) {
    struct stat st {};
    return held.fd >= 0 && ::fstat(held.fd, &st) == 0 && st.st_size == 0;
}

// The data files of the folder with something at their journal's name, whatever it is, or a
// write-ahead log or its index beside them.
std::vector<std::string> journalled(const std::string& folder, const std::string& onlyFile) {
    std::vector<std::string> names;
    auto stands = [&](const std::string& name) {
        struct stat st {}, journal {};
        if (::lstat((folder + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        for (const std::string_view suffix : kSuffixes)
            if (::lstat((folder + name + std::string(suffix)).c_str(), &journal) == 0) return true;
        return false;
    };
    if (!onlyFile.empty()) {
        if (stands(onlyFile)) names.push_back(onlyFile);
        return names;
    }
    DIR* d = ::opendir(folder.c_str());
    if (!d) return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        for (const std::string_view suffix : kSuffixes) {
            if (name.size() <= suffix.size() || !name.ends_with(suffix)) continue;
            const std::string dataFile = name.substr(0, name.size() - suffix.size());
            if (stands(dataFile) && std::find(names.begin(), names.end(), dataFile) == names.end())
                names.push_back(dataFile);
        }
    }
    ::closedir(d);
    return names;
}

// The serial of a writer lock taken here: counted down, apart from the connections' own.
int64_t lock_serial() {
    static std::atomic<int64_t> serial{0};
    return --serial;
}

// A journal that holds no write and has other names (a take-back stopped after it emptied them):
// a writer removes it under the file's writer lock, as the file's next write would, and says its
// other names as the empty leftovers they are. Nothing is said where it cannot be removed: the
// file's next write meets it as any idle journal (idle_journal.h).
void remove_idle(const JournalJudgement& judged, std::vector<StoppedWrite>& found) {
    LockTable lock(judged.dataFile, lock_serial());
    if (lock.open() != XIO_OK || lock.acquire('W', "") != XIO_OK) return;
    const JournalJudgement now = judge_journal(judged.dataFile);
    if (now.kind != JournalKind::Idle || now.inode != judged.inode || now.device != judged.device) return;
    if (idle_journal_bar(now).barred) return;
    if (remove_journal({now.journal, now.device, now.inode, true}) != 0) return;
    StoppedWrite w;
    w.dataFile = judged.dataFile;
    w.state = StoppedWrite::State::IdleRemoved;
    w.why = now.journal + ", which held no write, was removed. " + other_names(now, true);
    found.push_back(std::move(w));
}

// Who takes the write back: this user (no values), or the journal's owner or an administrator.
ui::NextStep who_takes_back(const JournalJudgement& j) {
    // Nobody removes it until an administrator lifts what keeps it (and a take-back would play it
    // for nothing): every command says that, root's included.
    if (const WriteBar bar = removal_bar(j.journal)) return {ui::Step::LiftJournalBar, {j.journal, bar.cause, bar.lift}};
    auto may = [](const std::string& path, int mode) { return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0; };
    const std::string folder = std::filesystem::path(j.dataFile).parent_path().string();
    // This user's own journal, which this user may not read: only its read right is missing.
    if (j.kind == JournalKind::Unread && j.owner == ::geteuid()) return {ui::Step::MakeJournalReadable, {j.journal}};
    if (j.kind != JournalKind::Unread && may(j.dataFile, R_OK | W_OK) && may(j.journal, R_OK | W_OK) &&
        may(folder.empty() ? "." : folder, W_OK | X_OK) && !sticky_bar(j.journal).barred)
        return {ui::Step::TakeBackWrite, {}};
    // The journal's owner may write the file (the judge passed it for that), read and remove the
    // journal, whatever the folder's sticky bit.
    return {ui::Step::TakeBackWrite, {user_name(j.owner), j.dataFile}};
}

}  // namespace

// Playing the journal writes the file and the journal, and removing the journal after writes in
// its folder. A sticky folder lets only the journal's owner, the folder's owner and root remove it.
// One that holds nothing to take back is only removed, by the same writing command.
ui::NextStep take_back_step(const JournalJudgement& j) {
    ui::NextStep next = who_takes_back(j);
    if (j.playsNothing && next.step == ui::Step::TakeBackWrite) next.step = ui::Step::RemoveSpentJournal;
    return next;
}

std::vector<StoppedWrite> settle_stopped_writes(const StoppedWriteRequest& request) {
    const std::string folder = with_slash(request.dataFolder);
    std::vector<StoppedWrite> found;
    for (const std::string& name : journalled(folder, request.onlyFile)) {
        const std::string dataFile = folder + name;
        // Open here, the file's own connection met the journal at its first read.
        if (request.openHere && request.openHere(dataFile)) continue;
        const JournalJudgement judged = judge_journal(dataFile);
        StoppedWrite w;
        w.dataFile = dataFile;
        if (judged.kind == JournalKind::NotOwn) {
            w.state = StoppedWrite::State::NotItsJournal;
            w.why = judged.reason();
            w.next = judged.next();
            found.push_back(std::move(w));
            continue;
        }
        // Kept from being taken back by a reader's lock: nobody takes it back until it lets go.
        if (judged.kind == JournalKind::HeldOff) {
            w.why = judged.reason();
            w.next = judged.next();
            found.push_back(std::move(w));
            continue;
        }
        if (judged.kind == JournalKind::Idle && judged.names > 1) {
            if (request.takeBack) remove_idle(judged, found);
            continue;
        }
        if (judged.kind != JournalKind::Own && judged.kind != JournalKind::Unread) continue;
        w.next = take_back_step(judged);
        if (w.next.step == ui::Step::LiftJournalBar) {
            w.why = dataFile + " was left in the middle of a write, and its journal " + judged.journal +
                    " cannot be removed: " + w.next.args[1] + ", which only an administrator lifts";
            found.push_back(std::move(w));
            continue;
        }
        // Said as what the judge found: nothing to take back, never a stopped write.
        if (judged.playsNothing && (!request.takeBack || !w.next.args.empty())) {
            w.why = judged.reason();
            found.push_back(std::move(w));
            continue;
        }
        if (!w.next.args.empty()) {
            w.why = dataFile + " is not taken back by this user, who may not write it, its journal or its folder, "
                               "or remove its journal from a sticky folder";
            found.push_back(std::move(w));
            continue;
        }
        if (!request.takeBack) {
            // A program holding a lock on the file itself (a reader's, on SQLite's shared range)
            // keeps the writing command sent here from taking the write back: it is named.
            if (const std::string holder = data_file_holder(dataFile); !holder.empty()) {
                w.why = dataFile + " was left in the middle of a write (its journal " + judged.journal +
                        " stands hot), and " + holder + " holds a lock on the file, which keeps a writing command "
                        "from taking that write back until it lets go";
                w.next = {ui::Step::TakeBackWhenLetGo, {holder, dataFile}};
            }
            found.push_back(std::move(w));
            continue;
        }
        // Under the writer lock: a program that holds it is writing the file, and met the journal
        // at its own first read (its own commit may be what stands beside the file now).
        LockTable lock(dataFile, lock_serial());
        if (lock.open() != XIO_OK || lock.acquire('W', "") != XIO_OK) {
            if (!lock.error().empty()) {
                w.why = lock.error();
                w.next = lock.next() ? lock.next() : ui::NextStep{ui::Step::Again, {}};
                found.push_back(std::move(w));
            }
            continue;
        }
        {
            std::function<void(const std::string&)> hook;
            {
                std::lock_guard<std::mutex> guard(g_hookMutex);
                hook = g_takeBackHook;
            }
            if (hook) hook(dataFile);
        }
        // Taken back by another program while this one waited for the lock: nothing to say.
        const JournalJudgement taken = judge_journal(dataFile);
        if (taken.kind != JournalKind::Own) continue;
        // Said taken back only once it was, and the file is whole; otherwise what it left. The
        // journal is held open until then, so that its inode goes to no other file meanwhile: one
        // of another inode at its name after the take-back was put there since.
        const Fd held(::open(taken.journal.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        struct stat heldAs {};
        const bool holds = held.fd >= 0 && ::fstat(held.fd, &heldAs) == 0;
        std::string why;
        const int rc = first_read(dataFile, why);
        JournalJudgement after = judge_journal(dataFile);
        // Kept off by another program's lock on the file itself (a reader's, on any of the
        // bytes SQLite locks, which no writer of this program holds beside the writer lock):
        // named, as nothing takes the write back until it lets go.
        const std::string holder = (rc & 0xff) == SQLITE_BUSY ? data_file_holder(dataFile) : "";
        auto stands = [&] { return after.kind != JournalKind::None && after.kind != JournalKind::Idle; };
        auto put_since = [&] {
            struct stat now {};
            return holds && ::lstat(taken.journal.c_str(), &now) == 0 &&
                   (now.st_dev != heldAs.st_dev || now.st_ino != heldAs.st_ino);
        };
        bool isWhole = false;
        if (rc == SQLITE_OK && !stands()) {
            std::function<void(const std::string&)> hook;
            {
                std::lock_guard<std::mutex> guard(g_hookMutex);
                hook = g_checkHook;
            }
            if (hook) hook(dataFile);
            // A look that may not write refuses any file with a hot journal beside it: one put at
            // the name since the take-back keeps the check from reading the file at all.
            isWhole = whole(dataFile, why);
            if (!isWhole) after = judge_journal(dataFile);
        }
        // Another file put at the journal's name while it was played (renamed over it): what
        // stands there now is a journal this command never judged, judged by the next one.
        if (stands() && put_since()) {
            w.why = dataFile + ": its journal was replaced at its name while it was taken back (" + after.journal +
                    " is another file now): what stands there is judged when the command is run again";
            w.next = {ui::Step::Again, {}};
        } else if (stands()) {
            // Kept off by a lock: said as whose, never in SQLite's words ("database is locked").
            const std::string cause = (rc & 0xff) != SQLITE_BUSY ? (why.empty() ? std::string("it still stands") : why)
                                      : holder.empty()             ? std::string("another program holds a lock on the file")
                                                                   : holder + " holds a lock on the file";
            w.why = dataFile + ": its journal was not played back (" + cause +
                    "): the file and its journal stand as the stopped write left them";
            w.next = holder.empty() ? ui::NextStep{ui::Step::Again, {}} : ui::NextStep{ui::Step::TakeBackWhenLetGo, {holder, dataFile}};
        } else if (rc != SQLITE_OK || !isWhole) {
            w.why = dataFile + ": its journal was played back and removed, and the file is not whole: " + why;
            w.next = {ui::Step::RestoreDataFile, {dataFile}};
        } else {
            // One that held nothing to take back went as SQLite lets it go, unsaid (but for the
            // names it had besides).
            if (taken.playsNothing && taken.names <= 1) continue;
            w.state = StoppedWrite::State::TakenBack;
            w.next = {};
            if (taken.names > 1) w.why = other_names(taken, emptied(held));
        }
        found.push_back(std::move(w));
    }
    return found;
}

void set_take_back_hook_for_tests(std::function<void(const std::string& dataFile)> hook) {
    std::lock_guard<std::mutex> guard(g_hookMutex);
    g_takeBackHook = std::move(hook);
}

void set_take_back_check_hook_for_tests(std::function<void(const std::string& dataFile)> hook) {
    std::lock_guard<std::mutex> guard(g_hookMutex);
    g_checkHook = std::move(hook);
}

}  // namespace dz::xio
