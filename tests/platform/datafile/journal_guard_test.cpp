// SQLite's file layer opens only what this program makes (a data file, its nameless temporary
// files, the journal a connection makes, a journal the judge passed) and removes only a journal
// it opened as its own: nothing planted beside a data file, and no name read from a journal, is
// opened, read, waited on or removed.
#include "platform/datafile/access_list.h"
#include "platform/datafile/journal_guard.h"
#include "platform/datafile/run_marker.h"
#include "platform/datafile/users.h"
#include "support.h"
#include "as_user.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <array>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <utility>

namespace dz::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;

// Runs `body` in a child process; false when it has not ended within 20 seconds (it waits on
// something), after which it is killed.
template <class Body>
bool ends(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    for (int tenths = 0; tenths < 200; ++tenths) {
        if (::waitpid(child, nullptr, WNOHANG) == child) return true;
        ::usleep(100000);
    }
    kill_and_reap(child);
    return false;
}

class JournalGuard : public DataFileTest {
public:
    // What a command here took back or refused is said to no later test.
    void TearDown() override {
        xio::take_run_notices();
        xio::forget_run_notices_said();
        DataFileTest::TearDown();
    }
    fs::path file() const { return dir / "MASTER.TST"; }
    fs::path journal() const { return dir / "MASTER.TST-journal"; }
    void made() {
        const uint16_t h = open();
        ASSERT_EQ(addCustomer(h, "C1", "A1", "Kept"), XIO_OK);
        close(h);
    }
    // The customers' names as a connection that may write the file reads them.
    std::string names() {
        uint16_t h = 0;
        if (xio_open_file(file(), 1, h) != XIO_OK) return "refused: " + xio_error_text();
        opened.push_back(h);
        const std::string codes = walk(h, 0, "NAME");
        close(h);
        return codes;
    }
    static sqlite3_vfs* guard() { return sqlite3_vfs_find("dodedoz-journal-guard"); }
    // Asks the guard itself to open `name`: the status, the file closed again when it opened.
    static int openThrough(const fs::path& name, int flags) {
        sqlite3_vfs* vfs = guard();
        std::unique_ptr<char[]> buf(new char[static_cast<std::size_t>(vfs->szOsFile)]());
        auto* f = reinterpret_cast<sqlite3_file*>(buf.get());
        int out = 0;
        const int rc = vfs->xOpen(vfs, name.empty() ? nullptr : name.c_str(), f, flags, &out);
        if (rc == SQLITE_OK && f->pMethods) f->pMethods->xClose(f);
        return rc;
    }
};

// A log planted beside a data file (a copy of the file put in write-ahead-log mode, every name
// changed in its log) is neither read nor played nor removed, by a look or by a writer.
TEST_F(JournalGuard, AWriteAheadLogBesideADataFileNeverReachesIt) {
    made();
    fs::copy_file(file(), dir / "evil.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2((dir / "evil.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; UPDATE r1 SET NAME = 'Planted'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    fs::copy_file(dir / "evil.db-wal", dir / "MASTER.TST-wal");
    sqlite3_close(db);
    const std::string before = bytes_of(file()), log = bytes_of(dir / "MASTER.TST-wal");
    ASSERT_GT(log.size(), 0u);
    const std::string named = (dir / "MASTER.TST-wal").string() + " is a write-ahead log";
    EXPECT_THAT(names(), HasSubstr(named));
    {
        xio_read_only_scope look;
        EXPECT_THAT(names(), HasSubstr(named));
    }
    EXPECT_EQ(bytes_of(file()), before);
    EXPECT_EQ(bytes_of(dir / "MASTER.TST-wal"), log);
    EXPECT_FALSE(fs::exists(dir / "MASTER.TST-shm"));
    fs::remove(dir / "MASTER.TST-wal");
    // Its index alone is refused as well, named.
    std::ofstream(dir / "MASTER.TST-shm") << "index";
    EXPECT_THAT(names(), HasSubstr((dir / "MASTER.TST-shm").string() + " is a write-ahead log or its index"));
    fs::remove(dir / "MASTER.TST-shm");
    EXPECT_EQ(names(), "Kept");
}

// A journal that SQLite would play names a file (or a pipe) as its super journal: SQLite would
// read it as a list of journals and remove it. It is never opened, never waited on, never removed.
TEST_F(JournalGuard, ASuperJournalNamedByAJournalIsNeverOpenedNorRemoved) {
    made();
    // Outside the company folder, as a file an administrator keeps elsewhere.
    const fs::path victim = dir.string() + "-victim", pipe = dir / "pipe";
    struct Gone {
        fs::path p;
        ~Gone() { fs::remove(p); }
    } gone{victim};
    std::ofstream(victim) << "precious";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string before = bytes_of(file());
    for (const fs::path& named : {victim, pipe}) {
        JournalSpec naming;
        naming.super = named.string();
        std::ofstream(journal(), std::ios::binary) << journal_of(file(), naming);
        ASSERT_TRUE(ends([&] { (void)names(); })) << named << " was waited on";
        EXPECT_THAT(names(), HasSubstr("names another file as its super journal"));
        EXPECT_TRUE(fs::exists(named)) << named;
        EXPECT_EQ(bytes_of(file()), before) << named;
        fs::remove(journal());
    }
    EXPECT_EQ(bytes_of(victim), "precious");
    EXPECT_EQ(names(), "Kept");
}

// The journal of a write stopped in its commit is replaced after the judge passed it, before
// SQLite opens it: to see whether it is hot (a pipe there would hold an open to read for ever),
// or to play it (another file there would be played and removed). Neither is opened; the file
// stays as the stopped write left it, and is taken back once its own journal stands there again.
TEST_F(JournalGuard, AJournalReplacedAfterItsJudgementIsNeverOpened) {
    made();
    ASSERT_TRUE(stop_in_commit([&] {
        uint16_t w = 0;
        if (xio_open_file(file(), 1, w) == XIO_OK) (void)addCustomer(w, "C2", "A2", "Stopped");
    }));
    const std::string stopped = bytes_of(file());
    const fs::path own = dir / "own", pipe = dir / "pipe", other = dir / "other";
    fs::copy_file(journal(), other);
    fs::rename(journal(), own);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (auto [swapped, atOpen] : {std::pair{pipe, 1}, {other, 2}}) {
        fs::rename(own, journal());
        int opens = 0;
        xio::set_journal_open_hook_for_tests([&, swapped = swapped, atOpen = atOpen](const std::string&) {
            if (++opens != atOpen) return;
            fs::rename(journal(), own);
            fs::rename(swapped, journal());
        });
        EXPECT_TRUE(ends([&] { (void)names(); })) << swapped << " was waited on";
        xio::set_journal_open_hook_for_tests(nullptr);
        EXPECT_EQ(bytes_of(file()), stopped) << swapped;
        ASSERT_TRUE(fs::exists(own)) << swapped;
        EXPECT_TRUE(fs::exists(journal())) << swapped << " was removed";
        fs::rename(journal(), swapped);
    }
    fs::rename(own, journal());
    EXPECT_EQ(names(), "Kept");
}

// The other way round: a journal replaced while the judge looks at it, before SQLite opens it to
// play it, is judged again, and the journal it judged last is the one opened, whatever stood at
// the name before the judge looked.
TEST_F(JournalGuard, TheJournalOpenedIsTheOneJudgedLast) {
    made();
    ASSERT_TRUE(stop_in_commit([&] {
        uint16_t w = 0;
        if (xio_open_file(file(), 1, w) == XIO_OK) (void)addCustomer(w, "C2", "A2", "Stopped");
    }));
    const fs::path copy = dir / "copy";
    fs::copy_file(journal(), copy);
    fs::last_write_time(copy, fs::last_write_time(journal()));
    bool swapped = false;
    xio::set_journal_judged_hook_for_tests([&](const std::string&) {
        if (!std::exchange(swapped, true)) fs::rename(copy, journal());
    });
    EXPECT_EQ(openThrough(journal(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_MAIN_JOURNAL), SQLITE_OK);
    xio::set_journal_judged_hook_for_tests(nullptr);
    EXPECT_TRUE(swapped);
    EXPECT_EQ(names(), "Kept");
}

// What the layer itself is asked: every open of another kind, and every removal of what it did
// not open as its own, is refused and leaves what stands there as it was.
TEST_F(JournalGuard, EveryOtherOpenAndRemovalIsRefused) {
    made();
    ASSERT_NE(guard(), nullptr);
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "precious";
    std::ofstream(dir / "MASTER.TST-shm") << "index";
    const int rw = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    struct Case {
        fs::path name;
        int flags;
    } refused[] = {
        {victim, SQLITE_OPEN_READONLY | SQLITE_OPEN_SUPER_JOURNAL},
        {victim, rw | SQLITE_OPEN_TEMP_JOURNAL},
        {victim, rw | SQLITE_OPEN_SUBJOURNAL},
        {victim, rw},  // of no kind
        {victim, rw | SQLITE_OPEN_MAIN_JOURNAL},  // no journal's name
        {dir / "MASTER.TST-wal", rw | SQLITE_OPEN_WAL},  // its index stands beside it
        {journal(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_MAIN_JOURNAL},  // gone since SQLite saw it
        {dir / "pipe", rw | SQLITE_OPEN_MAIN_DB},
    };
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    for (const Case& c : refused) EXPECT_EQ(openThrough(c.name, c.flags), SQLITE_CANTOPEN) << c.name << " " << c.flags;
    EXPECT_FALSE(fs::exists(dir / "MASTER.TST-wal"));
    EXPECT_FALSE(fs::exists(journal()));

    // A journal SQLite never plays: read only to see that it is not hot, never played.
    std::ofstream(journal()) << std::string(512, '\0');
    EXPECT_EQ(openThrough(journal(), SQLITE_OPEN_READONLY | SQLITE_OPEN_MAIN_JOURNAL), SQLITE_OK);
    EXPECT_EQ(openThrough(journal(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_MAIN_JOURNAL), SQLITE_CANTOPEN);

    for (const fs::path& p : {victim, journal(), dir / "MASTER.TST-shm", file()}) {
        EXPECT_EQ(guard()->xDelete(guard(), p.c_str(), 0), SQLITE_IOERR_DELETE) << p;
        EXPECT_TRUE(fs::exists(p)) << p;
    }
    EXPECT_EQ(bytes_of(victim), "precious");
    // Its nameless temporary files are SQLite's own.
    EXPECT_EQ(openThrough({}, rw | SQLITE_OPEN_TEMP_JOURNAL | SQLITE_OPEN_DELETEONCLOSE | SQLITE_OPEN_EXCLUSIVE),
              SQLITE_OK);
}

// A commit whose journal cannot be removed (a folder made immutable) is said as not committed,
// naming the journal and why it stands; the journal, hot, takes the write back at the next open.
TEST_F(JournalGuard, ACommitWhoseJournalStaysIsSaidNotCommittedAndTakenBack) {
    made();
    const uint16_t h = open(false);
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C2", "A2", "Second"), XIO_OK);
    xio::set_journal_removal_error_for_tests(EPERM);
    const int s = xio_end_writes(h);
    xio::set_journal_removal_error_for_tests(0);
    EXPECT_NE(s, XIO_OK);
    EXPECT_THAT(xio_error_text(), AllOf(HasSubstr("the write was not committed"),
                                        HasSubstr(journal().string() + " could not be removed (" + std::strerror(EPERM) + ")"),
                                        HasSubstr("takes the write back")));
    close(h);
    EXPECT_EQ(names(), "Kept");
    EXPECT_FALSE(fs::exists(journal()));
}

// Whether another user may write a file, by its bits and its access list: as the kernel itself
// answers that user.
TEST_F(JournalGuard, WriteRightIsTheKernelsAnswer) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be another user";
    const uid_t user = 65534;
    const gid_t group = 65534;
    fs::permissions(dir, fs::perms(0755));
    const fs::path f = dir / "file";
    std::ofstream(f) << "x";
    struct Case {
        const char* what;
        uid_t owner;
        gid_t fileGroup;
        mode_t mode;
        std::vector<std::array<uint32_t, 3>> acl;
    } cases[] = {
        {"a 0644 file of theirs", user, 0, 0644, {}},
        {"a 0464 file of theirs", user, group, 0464, {}},
        {"a 0664 file of their group", 0, group, 0664, {}},
        {"a named user, the mask giving it", 0, 0, 0644, {{kUserObj, 6, kAny}, {kUser, 6, user}, {kGroupObj, 4, kAny}, {kMask, 6, kAny}, {kOther, 4, kAny}}},
        {"a named user, the mask not giving it", 0, 0, 0644, {{kUserObj, 6, kAny}, {kUser, 6, user}, {kGroupObj, 6, kAny}, {kMask, 4, kAny}, {kOther, 6, kAny}}},
        {"their group named", 0, 0, 0644, {{kUserObj, 6, kAny}, {kGroupObj, 4, kAny}, {kGroup, 6, group}, {kMask, 6, kAny}, {kOther, 4, kAny}}},
        {"the file's group, the mask not giving it", 0, group, 0644, {{kUserObj, 6, kAny}, {kGroupObj, 6, kAny}, {kMask, 4, kAny}, {kOther, 6, kAny}}},
        {"a group of theirs named without it, others with it", 0, 0, 0644, {{kUserObj, 6, kAny}, {kGroupObj, 4, kAny}, {kGroup, 4, group}, {kMask, 6, kAny}, {kOther, 6, kAny}}},
        {"others, another user named", 0, 0, 0644, {{kUserObj, 6, kAny}, {kUser, 4, 1}, {kGroupObj, 4, kAny}, {kMask, 6, kAny}, {kOther, 6, kAny}}},
    };
    for (const Case& c : cases) {
        ::removexattr(f.c_str(), "system.posix_acl_access");
        ASSERT_EQ(::chown(f.c_str(), c.owner, c.fileGroup), 0);
        ASSERT_EQ(::chmod(f.c_str(), c.mode), 0);
        if (!c.acl.empty() && !set_acl(f, c.acl)) GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
        const std::string kernel = testing_support::AnswerAs(user, group, [&] {
            return std::string(::access(f.c_str(), W_OK) == 0 ? "Yes" : "No");
        });
        struct stat st {};
        ASSERT_EQ(::stat(f.c_str(), &st), 0);
        const xio::WriteRight ours = c.acl.empty() ? xio::write_right(user, st) : xio::write_right(user, f.string(), st);
        EXPECT_EQ(ours == xio::WriteRight::Yes ? "Yes" : ours == xio::WriteRight::No ? "No" : "Untold", kernel) << c.what;
        EXPECT_EQ(xio::write_right(user, f.string()), ours) << c.what;
    }
}

// A user whose right to write comes from an access list commits a write, and its journal goes.
TEST_F(JournalGuard, AWriterByAnAccessListCommitsAndLeavesNoJournal) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be another user";
    made();
    const uid_t user = 65534;
    const gid_t group = 65534;
    fs::permissions(dir, fs::perms(0755));
    for (const fs::path& p : {dir, file(), xio::lock_file_path(file())}) {
        const bool folder = p == dir;
        if (!set_acl(p, {{kUserObj, 7, kAny}, {kUser, folder ? 7u : 6u, user}, {kGroupObj, 5, kAny}, {kMask, 7, kAny},
                         {kOther, 5, kAny}}))
            GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
    }
    EXPECT_EQ(testing_support::AnswerAs(user, group, [&] {
                  uint16_t h = 0;
                  if (xio_open_file(file(), 1, h) != XIO_OK) return "not opened: " + xio_error_text();
                  const int written = addCustomer(h, "C2", "A2", "Theirs");
                  xio_cls_file(h);
                  return written == XIO_OK ? std::string("written") : "not written: " + xio_error_text();
              }),
              "written");
    EXPECT_FALSE(fs::exists(journal()));
    // Their write stopped in its commit is the file's own journal, taken back by root.
    ASSERT_EQ(testing_support::AnswerAs(user, group, [&] {
                  return stop_in_commit([&] {
                      uint16_t w = 0;
                      if (xio_open_file(file(), 1, w) == XIO_OK) (void)addCustomer(w, "C3", "A3", "Stopped");
                  }) ? "stopped" : "";
              }),
              "stopped");
    ASSERT_TRUE(fs::exists(journal()));
    EXPECT_EQ(names(), "Kept,Theirs");
    EXPECT_FALSE(fs::exists(journal()));
}

// A journal carries its data file's access list from the moment it is made: nobody but its maker
// may open it until it has it (it stands at its name only then), then writable by nobody the
// list keeps from writing the file (a member named
// read-only, whom the group's entry shuts out too), whether root or a writer the list names made
// it; one a writer made keeps the file's owner able to take it back. A journal that stood empty
// is made afresh: whoever held it open holds nothing of the new one.
TEST_F(JournalGuard, AJournalCarriesItsDataFilesAccessListFromItsFirstMoment) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be other users";
    made();
    const uid_t owner = 4323, member = 4321, writer = 4322;
    const gid_t group = 1234;
    fs::permissions(dir, fs::perms(0777));
    ASSERT_EQ(::chown(file().c_str(), owner, group), 0);
    if (!set_acl(file(), {{kUserObj, 6, kAny}, {kUser, 4, member}, {kUser, 6, writer}, {kGroupObj, 4, kAny},
                          {kMask, 6, kAny}, {kOther, 4, kAny}}))
        GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
    auto writes = [&](uid_t uid) {
        return testing_support::AnswerAs(uid, {uid, group}, [&] {
            const int fd = ::open(journal().c_str(), O_WRONLY);
            return std::string(fd >= 0 ? "writes" : std::strerror(errno));
        });
    };
    // A write of `uid` stopped in its commit, its journal hot; false when the journal was open to
    // anyone but its maker when made.
    auto stopped_write_of = [&](uid_t uid) {
        return stop_in_commit([&] {
            if (::setgroups(1, &group) != 0 || ::setgid(group) != 0 || ::setuid(uid) != 0) ::_exit(2);
            xio::set_journal_made_hook_for_tests([](const std::string& j) {
                struct stat st {};
                if (::stat(j.c_str(), &st) == 0 ? (st.st_mode & 0077) != 0 : errno != ENOENT) ::_exit(3);
            });
            uint16_t w = 0;
            if (xio_open_file(file(), 1, w) == XIO_OK) (void)addCustomer(w, "C" + std::to_string(uid), "A", "Stopped");
        });
    };
    const struct Case {
        uid_t maker;
        const char* list;
    } cases[] = {
        {0, "user::rw-,user:4321:r--,user:4322:rw-,group::r--,mask::rw-,other::r--"},
        {writer, "user::rw-,user:4321:r--,user:4322:rw-,user:4323:rw-,group::r--,mask::rw-,other::r--"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maker);
        ASSERT_TRUE(stopped_write_of(c.maker));
        struct stat st {};
        ASSERT_EQ(::stat(journal().c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, c.maker == 0 ? owner : c.maker);
        EXPECT_EQ(xio::access_list(journal().string())->words(), c.list);
        EXPECT_EQ(writes(member), std::strerror(EACCES));
        EXPECT_EQ(writes(owner), "writes");
        EXPECT_EQ(names(), "Kept");  // taken back
    }
    const int held = ::open(journal().c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(held, 0);
    EXPECT_EQ(names(), "Kept");
    uint16_t h = open(false);
    ASSERT_EQ(addCustomer(h, "C2", "A2", "Second"), XIO_OK);
    close(h);
    struct stat st {};
    ASSERT_EQ(::fstat(held, &st), 0);
    EXPECT_EQ(st.st_size, 0);
    ::close(held);
    EXPECT_EQ(names(), "Kept,Second");
}

// Without the guard SQLite would open whatever stands beside a file: no data file is opened or
// made, and the reason is said.
TEST_F(JournalGuard, NoDataFileIsOpenedOrMadeWithoutTheGuard) {
    made();
    ASSERT_TRUE(stop_in_commit([&] {
        uint16_t w = 0;
        if (xio_open_file(file(), 1, w) == XIO_OK) (void)addCustomer(w, "C2", "A2", "Stopped");
    }));
    const std::string stopped = bytes_of(file());
    sqlite3_vfs* vfs = guard();
    ASSERT_NE(vfs, nullptr);
    ASSERT_EQ(sqlite3_vfs_unregister(vfs), SQLITE_OK);
    std::string why;
    EXPECT_FALSE(xio::journal_guard_in_place(&why));
    // Nor is a stopped write taken back: its journal and the file stay as they are, and why is said.
    EXPECT_FALSE(xio::settle_dead_runs({dir.string(), true, "MASTER.TST"}));
    const auto said = xio::take_run_notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_THAT(said[0].reason, AllOf(HasSubstr("is not in place"),
                                      HasSubstr("the file and its journal stand as the stopped write left them")));
    EXPECT_EQ(said[0].next.step, ui::Step::Again);
    EXPECT_EQ(bytes_of(file()), stopped);
    ASSERT_EQ(sqlite3_vfs_register(vfs, 1), SQLITE_OK);
    EXPECT_EQ(names(), "Kept");
    ASSERT_EQ(sqlite3_vfs_unregister(vfs), SQLITE_OK);
    EXPECT_THAT(names(), HasSubstr("the guard that keeps SQLite from opening or removing any file"));
    fs::remove(file());
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    req.create = true;
    uint16_t h = 0;
    EXPECT_NE(xio_ask_file(req, h), XIO_OK);
    EXPECT_THAT(xio_error_text(), HasSubstr("is not in place"));
    EXPECT_FALSE(fs::exists(file()));
    ASSERT_EQ(sqlite3_vfs_register(vfs, 1), SQLITE_OK);
    EXPECT_TRUE(xio::journal_guard_in_place());
    EXPECT_NE(open(), 0);
}

// Something put at the journal's name while a write makes its journal there (after its nameless
// open, before its link) is never written over: the write fails naming what stands there, never
// with SQLite's "unable to open database file".
// Both where a write is its own commit and where writes were started (a load's, a conversion's).
TEST_F(JournalGuard, AFilePutAtTheJournalsNameWhileItIsMadeIsNamed) {
    made();
    for (const bool started : {false, true}) {
        SCOPED_TRACE(started ? "writes started" : "a write of its own");
        fs::remove(journal());
        xio::set_journal_made_hook_for_tests([](const std::string& j) { std::ofstream(j) << "planted"; });
        const uint16_t h = open(false);
        if (started) {
            ASSERT_EQ(xio_start_writes(h), XIO_OK);
        }
        EXPECT_NE(addCustomer(h, "C2", "A2", "Second"), XIO_OK);
        xio::set_journal_made_hook_for_tests(nullptr);
        EXPECT_THAT(xio_error_text(),
                    AllOf(HasSubstr(journal().string() + " was made by another program while this write made its "
                                    "journal there (a file of " + xio::user_name(::geteuid()) + ")"),
                          ::testing::Not(HasSubstr("unable to open"))));
        EXPECT_EQ(bytes_of(journal()), "planted");
        close(h);
    }
}

// SQLite run as root gives every journal it opens the data file's owner: a look of root's gives
// nobody what stands at a journal's name.
TEST_F(JournalGuard, ALookOfRootsGivesNoJournalAway) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, whose SQLite gives journals away";
    made();
    ASSERT_EQ(::chown(file().c_str(), 65534, 65534), 0);
    std::ofstream(journal()) << std::string(512, '\0');
    fs::permissions(journal(), fs::perms(0666));
    {
        xio_read_only_scope look;
        EXPECT_EQ(names(), "Kept");
    }
    struct stat st {};
    ASSERT_EQ(::stat(journal().c_str(), &st), 0);
    EXPECT_EQ(std::tuple(st.st_uid, st.st_gid, st.st_mode & 07777), std::tuple(0u, 0u, 0666u));
}

}  // namespace
}  // namespace dz::test
