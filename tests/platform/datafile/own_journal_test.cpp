// A data file's journal is played only when it is the file's own: whatever else stands at its
// name is never played nor removed, and refuses the file at once, saying what it is and who
// removes it. A real write stopped in its commit is still taken back.
#include "platform/datafile/hot_journal.h"
#include "platform/datafile/journal_guard.h"
#include "platform/datafile/journal_removal.h"
#include "platform/datafile/lock_file.h"
#include "platform/datafile/run_marker.h"
#include "platform/datafile/users.h"
#include "platform/datafile/write_bar.h"
#include "support.h"
#include "as_user.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <fstream>
#include <iterator>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>

namespace dz::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

uint32_t be32_at(const std::string& s, std::size_t at) {
    uint32_t n = 0;
    for (std::size_t i = 0; i < 4; ++i) n = (n << 8) | static_cast<unsigned char>(s[at + i]);
    return n;
}

class OwnJournal : public TstFileTest {
public:
    // A write of customer `code` into `f`, stopped in its commit by a child process.
    bool stopWrite(const fs::path& f, const std::string& code) {
        return stop_in_commit([&] {
            uint16_t h = 0;
            if (xio_open_file(f, 1, h) == XIO_OK && xio_start_writes(h) == XIO_OK && addCustomer(h, code, code) == XIO_OK)
                (void)xio_commit(h);  // the child ends inside it
        });
    }
    // The kinds of the notices since the last call, with their reasons and steps.
    std::vector<xio::RunNotice> notices() {
        std::vector<xio::RunNotice> n = xio::take_run_notices();
        xio::forget_run_notices_said();
        return n;
    }
    bool settle(bool mayWrite) { return xio::settle_dead_runs({dir.string(), mayWrite, "MASTER.TST"}); }
    // The customers as a connection of this program that may write the file reads them.
    std::string customers() {
        uint16_t h = 0;
        if (xio_open_file(file(), 1, h) != XIO_OK) return "refused: " + xio_error_text();
        opened.push_back(h);
        const std::string codes = walk(h, 0);
        close(h);
        return codes;
    }
};

TEST_F(OwnJournal, AWriteStoppedInItsCommitIsTakenBackByAWriterAndToldByALook) {
    made();
    const std::string before = bytes_of(file());
    ASSERT_TRUE(stopWrite(file(), "C3"));
    ASSERT_TRUE(fs::exists(journal()));
    {  // The verdict for SQLite's own open names the journal judged, and holds it open.
        const xio::JournalJudgement judged = xio::judge_journal(file().string(), xio::JournalUse::Playback);
        struct stat named {}, held {};
        ASSERT_EQ(::stat(journal().c_str(), &named), 0);
        ASSERT_NE(judged.descriptor, nullptr);
        ASSERT_EQ(::fstat(*judged.descriptor, &held), 0);
        EXPECT_EQ(std::tuple(judged.device, judged.inode, held.st_dev, held.st_ino),
                  std::tuple(named.st_dev, named.st_ino, named.st_dev, named.st_ino));
    }
    EXPECT_NE(bytes_of(file()), before);  // the commit's pages are in the file
    {
        xio_read_only_scope look;
        uint16_t h = 0;
        EXPECT_EQ(xio_open_file(file(), 1, h), XIO_LOCKED);
        EXPECT_THAT(xio_error_text(), AllOf(HasSubstr("left in the middle of a write"), HasSubstr("stopped before its commit")));
        EXPECT_EQ(xio_error_next_step(), (ui::NextStep{ui::Step::TakeBackWrite, {}}));
    }
    EXPECT_FALSE(settle(false));
    auto said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].kind, xio::RunNoticeKind::WriteStopped);
    EXPECT_TRUE(fs::exists(journal()));  // a look takes nothing back

    EXPECT_TRUE(settle(true));
    said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].kind, xio::RunNoticeKind::WriteTakenBack);
    EXPECT_EQ(said[0].files, file().string());
    EXPECT_FALSE(fs::exists(journal()));
    EXPECT_EQ(customers(), "C1,C2");

    // A look beside a program writing the file meets that program's journal, and leaves it be.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    // Pages spilled from a small cache: the journal's header is written, as a stopped write's is.
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA cache_size=2; BEGIN IMMEDIATE; CREATE TABLE spill(x); WITH RECURSIVE c(i) AS "
                           "(SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 2000) INSERT INTO spill SELECT randomblob(200) FROM c",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_TRUE(fs::exists(journal()));
    EXPECT_EQ(xio::judge_journal(file().string()).kind, xio::JournalKind::Live);
    EXPECT_EQ(sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    // So is a journal just made, still empty (its mode not yet set past the umask).
    ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::ofstream(journal()).close();
    EXPECT_EQ(xio::judge_journal(file().string()).kind, xio::JournalKind::Live);
    fs::remove(journal());
    EXPECT_EQ(sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

// A lock on the file's reserved byte is a writer's only where it is a write lock. A reader's read
// lock there, which SQLite takes for a writer's and would read the file past, keeps a stopped
// write from being taken back: a look and a writer are refused, naming the holder and what to
// do; nothing is read or taken back until it lets go, and then a writer takes the write back.
TEST_F(OwnJournal, AReadersLockOnTheReservedByteKeepsAStoppedWriteFromBeingReadOrTakenBack) {
    made();
    ASSERT_TRUE(stopWrite(file(), "C3"));
    const std::string data = file().string();
    auto holdReserved = [&](short type) {
        return spawn_holder([&] {
            const int fd = ::open(data.c_str(), type == F_RDLCK ? O_RDONLY : O_RDWR);
            struct flock fl {};
            fl.l_type = type;
            fl.l_whence = SEEK_SET;
            fl.l_start = 0x40000001;  // SQLite's reserved byte
            fl.l_len = 1;
            return fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0;
        });
    };
    const pid_t writer = holdReserved(F_WRLCK);
    ASSERT_GT(writer, 0);
    EXPECT_EQ(xio::judge_journal(data).kind, xio::JournalKind::Live);
    kill_and_reap(writer);
    const pid_t reader = holdReserved(F_RDLCK);
    ASSERT_GT(reader, 0);
    const xio::JournalJudgement judged = xio::judge_journal(data);
    EXPECT_EQ(judged.kind, xio::JournalKind::HeldOff);
    EXPECT_THAT(judged.holder, HasSubstr("process " + std::to_string(reader) + " of user "));
    for (const bool look : {true, false}) {
        SCOPED_TRACE(look ? "a look" : "a writer");
        std::optional<xio_read_only_scope> looking;
        if (look) looking.emplace();
        uint16_t h = 0;
        EXPECT_EQ(xio_open_file(file(), 1, h), XIO_LOCKED);
        EXPECT_THAT(xio_error_text(), AllOf(HasSubstr(data + " was left in the middle of a write"), HasSubstr(judged.holder),
                                            HasSubstr("holds a read lock on the file's reserved byte")));
        EXPECT_EQ(xio_error_next_step(), (ui::NextStep{ui::Step::TakeBackWhenLetGo, {judged.holder, data}}));
    }
    EXPECT_FALSE(settle(true));
    const auto said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].kind, xio::RunNoticeKind::WriteStopped);
    EXPECT_EQ(said[0].next.step, ui::Step::TakeBackWhenLetGo);
    EXPECT_TRUE(fs::exists(journal()));
    kill_and_reap(reader);
    EXPECT_EQ(customers(), "C1,C2");
    EXPECT_FALSE(fs::exists(journal()));
    ASSERT_EQ(notices().size(), 1u);  // said taken back
}

// A reader's lock on the other bytes SQLite locks (its shared range, the pending byte) keeps a
// take-back off as well: the writer that meets it names the holder and says to wait for it, not
// merely to run again; once it lets go, the write is taken back.
TEST_F(OwnJournal, AReadersLockOnTheFileKeepingATakeBackOffIsNamed) {
    made();
    ASSERT_TRUE(stopWrite(file(), "C3"));
    const std::string data = file().string();
    const pid_t reader = spawn_holder([&] {
        const int fd = ::open(data.c_str(), O_RDONLY);
        struct flock fl {};
        fl.l_type = F_RDLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 0x40000002;  // in SQLite's shared range, where a reader's lock stands
        fl.l_len = 1;
        return fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0;
    });
    ASSERT_GT(reader, 0);
    // A look sends to a writing command only with the holder that would refuse it.
    EXPECT_FALSE(settle(false));
    const auto looked = notices();
    EXPECT_FALSE(settle(true));
    const auto said = notices();
    const bool stands = fs::exists(journal());
    kill_and_reap(reader);
    EXPECT_TRUE(stands);
    ASSERT_EQ(looked.size(), 1u);
    EXPECT_EQ(looked[0].next.step, ui::Step::TakeBackWhenLetGo);
    EXPECT_THAT(looked[0].reason, HasSubstr("process " + std::to_string(reader) + " of user "));
    ASSERT_EQ(said.size(), 1u);
    EXPECT_THAT(said[0].reason, HasSubstr("process " + std::to_string(reader) + " of user "));
    EXPECT_THAT(said[0].reason, Not(HasSubstr("database is locked")));
    EXPECT_EQ(said[0].next.step, ui::Step::TakeBackWhenLetGo);
    EXPECT_EQ(customers(), "C1,C2");
    EXPECT_FALSE(fs::exists(journal()));
    ASSERT_EQ(notices().size(), 1u);  // said taken back
}

// A journal nobody may remove (its folder made immutable just as a commit removes it) leaves the
// write hot: said so by the commit, and by every command after it while it stands, with what keeps
// it and the command that lifts it, never a program to wait for or a take-back that cannot happen.
// Lifted, a writer takes the write back.
TEST_F(OwnJournal, AJournalThatCannotBeRemovedIsSaidWithWhatKeepsItAndWhoLiftsIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make a folder immutable";
    made();
    auto immutable = [&](bool on) { return SetImmutable(dir, on); };
    struct Lifted {
        std::function<bool(bool)> set;
        ~Lifted() { set(false); }
    } lifted{immutable};
    if (!immutable(true) || !immutable(false)) GTEST_SKIP() << "the file system of " << dir << " keeps no immutable attribute";
    xio::set_journal_removal_hook_for_tests([&](const std::string&) { immutable(true); });
    const uint16_t h = open(false);
    EXPECT_EQ(addCustomer(h, "C3", "A3"), XIO_IO_ERROR);
    xio::set_journal_removal_hook_for_tests(nullptr);
    const std::string cause = "the folder " + dir.string() + " is immutable (chattr +i)", lift = "chattr -i " + dir.string();
    const ui::NextStep lifting{ui::Step::LiftJournalBar, {journal().string(), cause, lift}};
    EXPECT_THAT(xio_error_text(), AllOf(HasSubstr("could not be removed (Operation not permitted: " + cause + ")"),
                                        HasSubstr("the first writing command after an administrator lifts that")));
    EXPECT_EQ(xio_error_next_step(), lifting);
    close(h);
    for (const bool mayWrite : {false, true}) {
        SCOPED_TRACE(mayWrite ? "a writer" : "a look");
        EXPECT_FALSE(settle(mayWrite));
        const auto said = notices();
        ASSERT_EQ(said.size(), 1u);
        EXPECT_EQ(said[0].kind, xio::RunNoticeKind::WriteStopped);
        EXPECT_THAT(said[0].reason, HasSubstr("cannot be removed: " + cause + ", which only an administrator lifts"));
        EXPECT_EQ(said[0].next, lifting);
    }
    {
        xio_read_only_scope look;
        uint16_t r = 0;
        EXPECT_EQ(xio_open_file(file(), 1, r), XIO_LOCKED);
        EXPECT_EQ(xio_error_next_step(), lifting);
    }
    // A lock file that cannot be made there (a put-back's folder lock): no program to wait for.
    xio::LockFileSpec folderLock;
    folderLock.folder = dir.string();
    folderLock.name = "folder.lock";
    xio::LockWaitFailure failure;
    EXPECT_LT(xio::take_lock_file(folderLock, true, failure), 0);
    EXPECT_EQ(failure.next, (ui::NextStep{ui::Step::LiftWriteBar, {(dir / "folder.lock").string(), cause, lift}}));
    ASSERT_TRUE(immutable(false));
    EXPECT_EQ(customers(), "C1,C2");
    EXPECT_FALSE(fs::exists(journal()));
    ASSERT_EQ(notices().size(), 1u);  // said taken back
}

// A journal on a file system mounted read-only (a read-only bind mount of its folder) cannot be
// removed either: said with where it is mounted and the command that lifts it.
TEST_F(OwnJournal, AReadOnlyMountIsSaidWithWhereItIsMountedAndHowToLiftIt) {
    const std::string folder = dir.string();
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "needs root, to mount " << folder << ": " << std::strerror(errno);
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount(at.c_str()); }
    } unmount{folder};
    ASSERT_EQ(::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    const xio::WriteBar bar = xio::removal_bar(journal().string());
    EXPECT_EQ(bar.cause, "the file system holding " + folder + " is mounted read-only (at " + folder + ")");
    EXPECT_EQ(bar.lift, "mount -o remount,rw " + folder);
}

// A verdict holds only for the journal it was given of: one removed between the judge's look and
// its verdict is no journal, and nothing is said of it; one replaced is judged again, whichever
// way round (a refused one replaced by a stopped write's, or the other way).
TEST_F(OwnJournal, AJournalRemovedOrReplacedWhileJudgedIsJudgedAsItStandsAfter) {
    made();
    ASSERT_TRUE(stopWrite(file(), "C3"));
    const std::string stopped = bytes_of(file());
    const fs::path own = dir / "own", bad = dir / "bad";
    fs::copy_file(journal(), own);
    fs::last_write_time(own, fs::last_write_time(journal()));
    fs::remove(journal());
    std::ofstream(bad, std::ios::binary) << std::string(512, 'x');
    // Acts once, on the first verdict given.
    auto once = [](std::function<void()> act) {
        auto done = std::make_shared<bool>(false);
        xio::set_journal_judged_hook_for_tests([act, done](const std::string&) {
            if (!*done) {
                *done = true;
                act();
            }
        });
    };
    fs::copy_file(bad, journal());
    once([&] { fs::remove(journal()); });
    EXPECT_EQ(xio::judge_journal(file().string()).kind, xio::JournalKind::None);
    EXPECT_TRUE(settle(true));
    EXPECT_TRUE(notices().empty());

    fs::copy_file(bad, journal());
    once([&] {
        fs::remove(journal());
        fs::copy_file(own, journal());
        fs::last_write_time(journal(), fs::last_write_time(own));
    });
    EXPECT_EQ(xio::judge_journal(file().string()).kind, xio::JournalKind::Own);

    once([&] {
        fs::remove(journal());
        fs::copy_file(bad, journal());
    });
    EXPECT_THAT(customers(), HasSubstr("not a journal"));
    xio::set_journal_judged_hook_for_tests(nullptr);
    EXPECT_EQ(bytes_of(file()), stopped);
    fs::remove(journal());
    fs::copy_file(own, journal());
    // One replaced at every look is said as that, with a step that waits, never one that removes it.
    xio::set_journal_judged_hook_for_tests([&](const std::string&) {
        fs::copy_file(own, dir / "again", fs::copy_options::overwrite_existing);
        fs::rename(dir / "again", journal());
    });
    const xio::JournalJudgement changing = xio::judge_journal(file().string());
    xio::set_journal_judged_hook_for_tests(nullptr);
    EXPECT_EQ(changing.kind, xio::JournalKind::NotOwn);
    EXPECT_EQ(changing.next(), (ui::NextStep{ui::Step::AgainWhenFinished, {}}));
    EXPECT_THAT(changing.reason(), HasSubstr("was replaced each time it was looked at"));
    fs::last_write_time(journal(), fs::last_write_time(own));
    EXPECT_EQ(customers(), "C1,C2");
    notices();
}

// A write stopped in its commit whose journal was given a second name (by one who may read and
// write it) is the file's own as any: a look says the stopped write, a writer takes it back, and
// the second name, emptied, is said as no journal of the file.
TEST_F(OwnJournal, AJournalGivenASecondNameIsTakenBackAndTheNameSaid) {
    made();
    ASSERT_TRUE(stopWrite(file(), "C3"));
    const fs::path kept = dir / "kept";
    fs::create_hard_link(journal(), kept);
    EXPECT_FALSE(settle(false));
    auto said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].next, (ui::NextStep{ui::Step::TakeBackWrite, {}}));
    EXPECT_TRUE(settle(true));
    said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].kind, xio::RunNoticeKind::WriteTakenBack);
    // Emptied with it, the other name holds nothing: no step finds it by an inode that may be
    // another file's once it is gone.
    EXPECT_THAT(said[0].reason, AllOf(HasSubstr("Its journal had 2 names (hard links): the other one, on the same file "
                                                "system, was emptied with it and holds nothing: an empty leftover"),
                                      Not(HasSubstr("-inum"))));
    EXPECT_EQ(fs::file_size(kept), 0u);
    EXPECT_EQ(customers(), "C1,C2");
}

// Only under the file's writer lock (a program holding it is writing the file, and is left
// alone), and only while the journal is still there to take back.
TEST_F(OwnJournal, AStoppedWriteIsTakenBackOnlyUnderTheWriterLockAndOnlyOnce) {
    made();
    ASSERT_TRUE(stopWrite(file(), "C3"));
    const std::string stopped = bytes_of(file());
    const pid_t writer = spawn_holder([&] {
        static xio::LockTable table(file(), 1);
        return table.open() == XIO_OK && table.acquire('W', "") == XIO_OK;
    });
    ASSERT_GT(writer, 0);
    settle(true);
    EXPECT_TRUE(notices().empty());
    EXPECT_EQ(bytes_of(file()), stopped);
    EXPECT_TRUE(fs::exists(journal()));
    kill_and_reap(writer);

    // Another program takes it back while this one waits for the lock: nothing is said of it.
    xio::set_take_back_hook_for_tests([](const std::string& dataFile) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(dataFile.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    });
    EXPECT_TRUE(settle(true));
    xio::set_take_back_hook_for_tests(nullptr);
    EXPECT_TRUE(notices().empty());
    EXPECT_FALSE(fs::exists(journal()));
    EXPECT_EQ(customers(), "C1,C2");
}

// A copy of the journal renamed over its name, before the take-back or after it (before the check
// of what it left): the file is never called not whole, nor sent to a backup; what was put there
// since is judged by the next command.
TEST_F(OwnJournal, AJournalReplacedWhileItIsTakenBackIsJudgedAgainNeverCalledNotWhole) {
    made();
    ASSERT_TRUE(stopWrite(file(), "C3"));
    const fs::path copy = dir / "journal-copy";
    auto put_copy = [&](const std::string&) {  // with its times, as `cp -a` copies
        fs::copy_file(journal(), copy, fs::copy_options::overwrite_existing);
        fs::last_write_time(copy, fs::last_write_time(journal()));
        fs::rename(copy, journal());
    };
    xio::set_take_back_hook_for_tests(put_copy);
    EXPECT_TRUE(settle(true));
    xio::set_take_back_hook_for_tests(nullptr);
    auto said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].kind, xio::RunNoticeKind::WriteTakenBack);
    EXPECT_FALSE(fs::exists(journal()));

    ASSERT_TRUE(stopWrite(file(), "C3"));
    fs::copy_file(journal(), copy);
    xio::set_take_back_check_hook_for_tests([&](const std::string&) { fs::rename(copy, journal()); });
    settle(true);
    xio::set_take_back_check_hook_for_tests(nullptr);
    said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_THAT(said[0].reason, AllOf(HasSubstr("replaced at its name while it was taken back"), Not(HasSubstr("not whole"))));
    EXPECT_EQ(said[0].next, (ui::NextStep{ui::Step::Again, {}}));
    EXPECT_TRUE(fs::exists(journal()));
    EXPECT_EQ(customers(), "C1,C2");
}

// Each thing that may stand at the journal's name and is not the file's own: the file stays as
// it is, whoever opens it (a writer, a look, SQLite itself), at once, told what stands there and
// who removes it; what stands there stays too.
TEST_F(OwnJournal, WhatIsNotTheFilesOwnJournalIsNeverPlayedNorRemoved) {
    made();
    const fs::path aside = dir / "aside";
    fs::create_directory(aside);
    // This file's own journal of a commit that then ended (kept aside), and another data file's.
    ASSERT_TRUE(stopWrite(file(), "C3"));
    fs::rename(journal(), aside / "own");
    fs::create_directory(dir / "other");
    ASSERT_EQ(xio_create_file("TST", 1, dir / "other" / "MASTER.TST"), XIO_OK);
    ASSERT_TRUE(stopWrite(dir / "other" / "MASTER.TST", "OTHER"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // what is copied now is younger than the file

    // A journal of one who may write the file that its content cannot tell may be another
    // program's stopped write: kept by its step, which says how to take it back.
    const struct {
        const char* what;
        std::function<void()> plant;
        bool kept = false;
    } ways[] = {
        {"a journal last written after the data file", [&] { fs::copy_file(aside / "own", journal()); }, true},
        {"the journal of another data file", [&] { fs::copy_file(dir / "other" / "MASTER.TST-journal", journal()); }, true},
        {"a named pipe", [&] { ASSERT_EQ(::mkfifo(journal().c_str(), 0666), 0); }},
        {"a symbolic link", [&] { fs::create_symlink(aside / "own", journal()); }},
        {"a folder", [&] { fs::create_directory(journal()); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.what);
        way.plant();
        struct stat planted {};
        ASSERT_EQ(::lstat(journal().c_str(), &planted), 0);
        const std::string before = bytes_of(file());
        uint16_t h = 0;
        EXPECT_EQ(xio_open_file(file(), 1, h), XIO_LOCKED);
        // Who may remove it is the step's to say (its owner among its values), once.
        EXPECT_THAT(xio_error_text(), AllOf(HasSubstr(journal().string() + " is " + way.what),
                                            HasSubstr(way.kept ? "until it is taken back into the file or removed"
                                                               : "until the journal is removed")));
        const ui::Step step = way.kept ? ui::Step::TakeBackOrRemoveJournal : ui::Step::RemoveJournal;
        EXPECT_EQ(xio_error_next_step().step, step);
        EXPECT_EQ(xio_error_next_step().args.back(), xio::user_name(planted.st_uid));
        {
            xio_read_only_scope look;
            EXPECT_EQ(xio_open_file(file(), 1, h), XIO_LOCKED);
            EXPECT_THAT(xio_error_text(), HasSubstr(way.what));
        }
        EXPECT_FALSE(settle(true));
        const auto said = notices();
        ASSERT_EQ(said.size(), 1u);
        EXPECT_EQ(said[0].kind, xio::RunNoticeKind::NotItsJournal);
        EXPECT_EQ(said[0].next.step, step);
        // SQLite's own open, of this program, plays nothing either.
        sqlite3* db = nullptr;
        sqlite3_open_v2(file().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        EXPECT_NE(sqlite3_exec(db, "SELECT count(*) FROM r1", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        EXPECT_EQ(bytes_of(file()), before);
        struct stat after {};
        EXPECT_EQ(::lstat(journal().c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, planted.st_ino);
        fs::remove_all(journal());
    }
    // Written again since: the journal is old by its content, whatever its times.
    EXPECT_EQ(customers(), "C1,C2,C3");
    const uint16_t h = open(false);
    ASSERT_EQ(addCustomer(h, "C4", "A4"), XIO_OK);
    close(h);
    fs::copy_file(aside / "own", journal());
    fs::last_write_time(journal(), fs::last_write_time(file()) - std::chrono::hours(1));
    EXPECT_EQ(customers(), "refused: " + journal().string() + " is an old journal of " + file().string() +
                               " (or of a copy of it), not the journal of its last write (the file was written after "
                               "it): it is never played into the file nor removed, and the file is neither read nor "
                               "written until the journal is removed");
}

// Every size and count a journal's header (or the file's) gives is bounded before it is used: a
// page size of 0, 16, 32 or 64 in both headers, or in the journal's alone, ends the command with
// words, and leaves the file as it stands.
TEST_F(OwnJournal, SizesInTheHeadersAreBoundedBeforeUse) {
    made();
    const std::string good = bytes_of(file());
    for (const uint32_t size : {0u, 16u, 32u, 64u}) {
        for (const bool both : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (both ? " in both headers" : " in the journal's"));
            JournalSpec spec;
            spec.pageSize = size;
            std::ofstream(journal(), std::ios::binary) << journal_of(file(), spec);
            std::string bad = good;
            if (both) {
                bad[16] = static_cast<char>(size >> 8);
                bad[17] = static_cast<char>(size & 0xff);
                std::ofstream(file(), std::ios::binary | std::ios::trunc) << bad;
            }
            EXPECT_THAT(customers(), HasSubstr("refused: " + journal().string() + " is "));
            EXPECT_FALSE(settle(true));
            notices();
            EXPECT_EQ(bytes_of(file()), bad);
            fs::remove(journal());
            std::ofstream(file(), std::ios::binary | std::ios::trunc) << good;
        }
    }
    // The largest page size is one: a hot journal of a file of 65536-byte pages is judged hot.
    const fs::path large = dir / "large.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(large.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "PRAGMA page_size=65536; CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    std::ofstream(large.string() + "-journal", std::ios::binary) << journal_of(large);
    EXPECT_EQ(xio::judge_journal(large.string()).kind, xio::JournalKind::Own);

    // A hot journal that does not start as one.
    std::ofstream(journal(), std::ios::binary) << std::string(4096, '\xff');
    EXPECT_THAT(customers(), HasSubstr(journal().string() + " is not a journal"));
    fs::remove(journal());
    // Beside a file that is no data file.
    const std::string planted = journal_of(file());
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << "X" + good.substr(1);
    std::ofstream(journal(), std::ios::binary) << planted;
    EXPECT_THAT(customers(), HasSubstr(journal().string() + " is a journal beside a file that is no data file"));
    fs::remove(journal());
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << good;
    EXPECT_EQ(customers(), "C1,C2");
}

// A journal is played whole or not at all: one of a real stopped write with a record that fails
// its checksum, with fewer records than its header counts, of a page the file never had, or that
// would grow the file, is refused as damaged, named, and left with the file as they stand; the
// step is a backup. The journal as it was is then taken back, and the file is whole.
TEST_F(OwnJournal, AJournalIsPlayedWholeOrNotAtAll) {
    made();
    ASSERT_TRUE(stopWrite(file(), "C3"));
    const std::string stopped = bytes_of(file()), real = bytes_of(journal());
    fs::rename(journal(), dir / "real");
    auto be32 = [&](std::size_t at) {
        uint32_t n = 0;
        for (std::size_t i = 0; i < 4; ++i) n = (n << 8) | static_cast<unsigned char>(real[at + i]);
        return n;
    };
    const uint32_t sector = be32(20), records = be32(8), pages = be32(16), pageSize = be32(24);
    ASSERT_GE(records, 2u);
    const std::size_t second = sector + pageSize + 8;  // the second record
    const struct {
        std::string what;
        std::function<void(std::string&)> damage;
    } ways[] = {
        {"a damaged journal (record 2 fails its checksum)", [&](std::string& j) { j[second + 4 + pageSize] ^= 0x10; }},
        {"stop short of the", [&](std::string& j) { put_be32(j, 8, records + 3); }},
        {"is of page 0", [&](std::string& j) { put_be32(j, second, 0); }},
        {"is of page " + std::to_string(pages + 1), [&](std::string& j) { put_be32(j, second, pages + 1); }},
        {"it would grow the file", [&](std::string& j) { put_be32(j, 16, 0xffffffffu); }},
        {"more than the " + std::to_string(stopped.size() / pageSize) + " it has",
         [&](std::string& j) { put_be32(j, 16, static_cast<uint32_t>(stopped.size() / pageSize) + 1); }},
        {"is of page " + std::to_string(0x40000000u / pageSize + 1) + ", the locking page",
         [&](std::string& j) { put_be32(j, second, 0x40000000u / pageSize + 1); }},
        // SQLite would play the last copy over the first.
        {"record 2 saves page 1 a second time (record 1 saved it first)",
         [&](std::string& j) { j.replace(second, pageSize + 8, j, sector, pageSize + 8); }},
        // Cut inside its second part's header, the magic standing.
        {"it ends inside the header of its part 2: the journal was cut", [&](std::string& j) {
             j.resize((j.size() + sector - 1) / sector * sector, '\0');
             j += real.substr(0, 12);
         }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.what);
        std::string j = real;
        way.damage(j);
        std::ofstream(journal(), std::ios::binary | std::ios::trunc) << j;
        EXPECT_THAT(customers(), AllOf(HasSubstr(journal().string() + " is a damaged journal"), HasSubstr(way.what),
                                       HasSubstr("restored from a backup")));
        EXPECT_EQ(xio_error_next_step(),
                  (ui::NextStep{ui::Step::RestoreFromBackupAndRemoveJournal, {file().string(), journal().string()}}));
        EXPECT_FALSE(settle(true));
        notices();
        EXPECT_EQ(bytes_of(file()), stopped);
        EXPECT_EQ(bytes_of(journal()), j);
    }
    // What follows its last part without a part's header is not played, as SQLite plays it; nor
    // is a later part's header whose writing stopped (whole pieces of it, counting nothing).
    std::string piece = real.substr(0, std::min(pageSize, sector));
    put_be32(piece, 8, 0);
    std::ofstream(dir / "real", std::ios::binary | std::ios::app)
        << std::string((real.size() + sector - 1) / sector * sector - real.size(), '\0') << piece
        << std::string(sector - piece.size(), '\0') << std::string(2 * sector, '\x01');
    fs::last_write_time(dir / "real", fs::last_write_time(file()));  // last written no later than the file
    fs::rename(dir / "real", journal());
    EXPECT_TRUE(settle(true));
    const auto said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].kind, xio::RunNoticeKind::WriteTakenBack);
    EXPECT_EQ(customers(), "C1,C2");
}

// A journal is read as SQLite reads it, here with 512-byte pages in 4096-byte sectors (a file
// whose device does not promise safe overwrites), where a part's header fills several pieces: a
// later part whose magic is not set ends the journal, and the parts before it are played, whether
// the writer stopped inside that part's header or wrote records past the last part's count that
// cross into the sector after it. Each is taken back to the file as it was before the write.
TEST_F(OwnJournal, APartWhoseMagicIsNotSetEndsTheJournalAsSQLiteEndsIt) {
    const fs::path shell = dir / "shell.db", j = dir / "shell.db-journal";
    xio::install_journal_guard();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(shell.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA page_size=512; CREATE TABLE t(x INTEGER PRIMARY KEY, y TEXT); WITH RECURSIVE "
                               "c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 3000) INSERT INTO t SELECT i, "
                               "printf('%080d', i) FROM c", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::string before = bytes_of(shell);
    // Every other row of the first half changed in a cache too small for them: parts synced one
    // after another.
    ASSERT_TRUE(stop_in_commit([&] {
        sqlite3* w = nullptr;
        if (sqlite3_open_v2(("file:" + shell.string() + "?psow=0").c_str(), &w, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI,
                            nullptr) == SQLITE_OK)
            sqlite3_exec(w, "PRAGMA cache_size=50; UPDATE t SET y = y || 'x' WHERE x % 2 = 0 AND x <= 1500", nullptr,
                         nullptr, nullptr);
    }));
    const std::string stopped = bytes_of(shell), real = bytes_of(j);
    const fs::file_time_type madeAt = fs::last_write_time(j);
    const uint32_t sector = be32_at(real, 20), pageSize = be32_at(real, 24), record = pageSize + 8;
    ASSERT_EQ(sector, 4096u);
    ASSERT_EQ(pageSize, 512u);
    // Its parts: the pages they save, and the last one's checksum seed.
    std::vector<bool> saved(stopped.size() / pageSize + 1, false);
    uint32_t parts = 0, seed = 0;
    for (std::size_t at = 0; at + sector <= real.size(); ++parts) {
        const uint32_t count = be32_at(real, at + 8);
        seed = be32_at(real, at + 12);
        for (uint32_t i = 0; i < count; ++i) saved[be32_at(real, at + sector + i * record)] = true;
        at = (at + sector + count * record + sector - 1) / sector * sector;
    }
    ASSERT_GE(parts, 2u);
    const std::size_t next = (real.size() + sector - 1) / sector * sector;
    // The next part's header as SQLite writes it before that part is synced (its magic and count
    // zero), stopped after one piece and part of the next.
    std::string header = real.substr(0, pageSize);
    std::fill(header.begin(), header.begin() + 12, '\0');
    const std::string begun = real + std::string(next - real.size(), '\0') + header + header.substr(0, 100);
    // A part completed with no records (its magic set, counting none), ending with its header.
    std::string none = real.substr(0, sector);
    put_be32(none, 8, 0);
    const std::string empty = real + std::string(next - real.size(), '\0') + none;
    // Records past the last count that save pages the write left alone, as the file holds them,
    // into the sector after that count's.
    std::string past = real;
    for (uint32_t page = 2; past.size() <= next && page < saved.size(); ++page) {
        if (saved[page]) continue;
        const std::string data = stopped.substr(static_cast<std::size_t>(page - 1) * pageSize, pageSize);
        uint32_t sum = seed;
        for (int b = static_cast<int>(pageSize) - 200; b > 0; b -= 200) sum += static_cast<unsigned char>(data[static_cast<std::size_t>(b)]);
        std::string rec(record, '\0');
        put_be32(rec, 0, page);
        rec.replace(4, pageSize, data);
        put_be32(rec, 4 + pageSize, sum);
        past += rec;
    }
    ASSERT_LT(past.size(), next + sector);
    for (const auto& [what, journal] :
         {std::pair{"a part begun", begun}, {"records past the count", past}, {"a part of no records", empty}}) {
        SCOPED_TRACE(what);
        std::ofstream(shell, std::ios::binary | std::ios::trunc) << stopped;
        std::ofstream(j, std::ios::binary | std::ios::trunc) << journal;
        fs::last_write_time(j, madeAt);
        EXPECT_TRUE(xio::settle_dead_runs({dir.string(), true, "shell.db"}));
        const auto said = notices();
        ASSERT_EQ(said.size(), 1u);
        EXPECT_EQ(said[0].kind, xio::RunNoticeKind::WriteTakenBack) << said[0].reason;
        EXPECT_TRUE(bytes_of(shell) == before);  // not printed: half a megabyte
    }
}

// The pages a stopped write's journal says the file had are SQLite's own reading of the file: its
// length, where bytes lie past the count its header gives, and a header count of 0 is none. Such
// a journal is the file's own, and taken back whole.
TEST_F(OwnJournal, AJournalsPageCountIsReadAsSQLiteReadsTheFile) {
    made();
    const std::string before = customers();
    const std::string clean = bytes_of(file());
    for (const std::size_t extra : {std::size_t{1000}, std::size_t{4096}}) {
        SCOPED_TRACE(std::to_string(extra) + " bytes past the header's count");
        std::ofstream(file(), std::ios::binary | std::ios::app) << std::string(extra, '\0');
        ASSERT_TRUE(stopWrite(file(), "C3"));
        EXPECT_EQ(customers(), before);
        EXPECT_FALSE(fs::exists(journal()));
        notices();
    }
    // The first page it saved counting 0 pages (bytes SQLite's checksums do not sample).
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << clean;
    ASSERT_TRUE(stopWrite(file(), "C3"));
    std::string j = bytes_of(journal());
    const uint32_t sector = be32_at(j, 20);
    ASSERT_EQ(be32_at(j, sector), 1u);
    put_be32(j, sector + 4 + 28, 0);
    const fs::file_time_type madeAt = fs::last_write_time(journal());
    std::ofstream(journal(), std::ios::binary | std::ios::trunc) << j;
    fs::last_write_time(journal(), madeAt);
    EXPECT_EQ(customers(), before);
    EXPECT_FALSE(fs::exists(journal()));
    ASSERT_EQ(notices().size(), 1u);
}

// A journal's header counts agree with what it holds, or it is damaged, whatever its times: a page
// count its saved first page contradicts (played, SQLite would cut the file to it), or a record
// count short of records that check out and save pages the write had changed (played, the file
// would be left half old, half new). A record past the count that saves its page as the file
// holds it (written after the last sync) is no damage: that journal is taken back.
TEST_F(OwnJournal, AJournalsHeaderCountsAgreeWithWhatItHolds) {
    made();
    {  // pages enough that the stopped write saves some of them only
        const uint16_t h = open(false);
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        for (int i = 0; i < 300; ++i)
            ASSERT_EQ(addCustomer(h, "K" + std::to_string(1000 + i), "B" + std::to_string(i), std::string(30, 'n')), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
        close(h);
    }
    const std::string before = customers();
    ASSERT_TRUE(stopWrite(file(), "C3"));
    const std::string stopped = bytes_of(file()), real = bytes_of(journal());
    const fs::file_time_type madeAt = fs::last_write_time(journal());
    const uint32_t sector = be32_at(real, 20), records = be32_at(real, 8), pages = be32_at(real, 16),
                   pageSize = be32_at(real, 24), nonce = be32_at(real, 12);
    ASSERT_EQ(real.size(), sector + records * (pageSize + 8));
    std::vector<uint32_t> saved;
    for (uint32_t i = 0; i < records; ++i) saved.push_back(be32_at(real, sector + i * (pageSize + 8)));
    const uint32_t highest = *std::max_element(saved.begin(), saved.end());
    ASSERT_GE(records, 2u);
    ASSERT_LT(highest, pages);
    const struct {
        std::string what;
        uint32_t at, value;
        bool later;  // the journal last written after the file
    } ways[] = {
        {"its header says the data file had " + std::to_string(highest) + " pages, the first page it saved says " +
             std::to_string(pages), 16, highest, false},
        {"record 2, past the 1 its headers count, checks out and saves page " + std::to_string(saved[1]) +
             " as the file no longer holds it", 8, 1, false},
        // The last record alone past the count, ending where the journal ends.
        {"record " + std::to_string(records) + ", past the " + std::to_string(records - 1) +
             " its headers count, checks out and saves page " + std::to_string(saved.back()), 8, records - 1, true},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.what + (way.later ? ", written after the file" : ""));
        std::string j = real;
        put_be32(j, way.at, way.value);
        std::ofstream(journal(), std::ios::binary | std::ios::trunc) << j;
        fs::last_write_time(journal(), way.later ? fs::last_write_time(file()) + std::chrono::seconds(1) : madeAt);
        EXPECT_THAT(customers(), AllOf(HasSubstr(journal().string() + " is a damaged journal (" + way.what),
                                       Not(HasSubstr("old journal"))));
        EXPECT_EQ(xio_error_next_step().step, ui::Step::RestoreFromBackupAndRemoveJournal);
        EXPECT_FALSE(settle(true));
        const auto said = notices();
        ASSERT_EQ(said.size(), 1u);
        EXPECT_EQ(said[0].next.step, ui::Step::RestoreFromBackupAndRemoveJournal);
        EXPECT_EQ(bytes_of(file()), stopped);
        EXPECT_EQ(bytes_of(journal()), j);
    }
    // A page the write left alone, saved past the count as the file holds it.
    uint32_t alone = 2;
    while (std::find(saved.begin(), saved.end(), alone) != saved.end()) ++alone;
    ASSERT_LE(alone, pages);
    const std::string page = stopped.substr(static_cast<std::size_t>(alone - 1) * pageSize, pageSize);
    uint32_t sum = nonce;
    for (int64_t b = static_cast<int64_t>(pageSize) - 200; b > 0; b -= 200) sum += static_cast<unsigned char>(page[static_cast<std::size_t>(b)]);
    std::string tail(4, '\0'), check(4, '\0');
    put_be32(tail, 0, alone);
    put_be32(check, 0, sum);
    std::ofstream(journal(), std::ios::binary | std::ios::trunc) << real + tail + page + check;
    fs::last_write_time(journal(), madeAt);
    EXPECT_TRUE(settle(true));
    const auto said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].kind, xio::RunNoticeKind::WriteTakenBack);
    EXPECT_EQ(customers(), before);
}

// A hot journal's sectors are a power of two from 512 to 65536 bytes, as SQLite writes them; any
// other is damage, told before any record is looked for (a record holds none to look for).
TEST_F(OwnJournal, AJournalsSectorsAreOnesSQLiteWrites) {
    made();
    for (const uint32_t sector : {256u, 1536u, 0u}) {
        SCOPED_TRACE(sector);
        JournalSpec form;
        if (sector == 0) form.pages.clear();
        else form.sector = sector;
        std::string j = journal_of(file(), form);
        put_be32(j, 20, sector);
        std::ofstream(journal(), std::ios::binary | std::ios::trunc) << j;
        const xio::JournalJudgement judged = xio::judge_journal(file().string());
        EXPECT_EQ(judged.kind, xio::JournalKind::NotOwn);
        EXPECT_EQ(judged.refusal, xio::JournalRefusal::Damaged);
        EXPECT_THAT(judged.what, HasSubstr("its header gives sectors of " + std::to_string(sector) + " bytes"));
    }
}

// A journal's checksums sample one byte in 200: a saved page changed elsewhere is played into the
// file, where an index may then disagree with its rows, which SQLite's quick check never compares.
// Such a take-back is said as failed, with what was found, never as the file standing as it was;
// each finding by its first characters, whatever the length of the names the file gives.
TEST_F(OwnJournal, ATakeBackIsSaidWholeOnlyWhenIndexesAgreeWithTheirRows) {
    made();
    const std::string longName(3000, 'L');
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file().c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, ("CREATE INDEX \"" + longName + "\" ON r1(\"CODE\")").c_str(), nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    ASSERT_TRUE(stopWrite(file(), "C3"));
    std::string j = bytes_of(journal());
    const fs::file_time_type madeAt = fs::last_write_time(journal());
    const uint32_t sector = be32_at(j, 20), records = be32_at(j, 8), pageSize = be32_at(j, 24);
    // Customer C1's code becomes C0 in one saved page (its row or its key), at a byte not sampled.
    bool changed = false;
    for (uint32_t i = 1; i < records && !changed; ++i) {
        const std::size_t data = sector + i * (pageSize + 8) + 4;
        for (std::size_t at = j.find("C1", data); at != std::string::npos && at + 1 < data + pageSize && !changed;
             at = j.find("C1", at + 1)) {
            if ((data + pageSize - (at + 1)) % 200 == 0) continue;
            j[at + 1] = '0';
            changed = true;
        }
    }
    ASSERT_TRUE(changed);
    std::ofstream(journal(), std::ios::binary | std::ios::trunc) << j;
    fs::last_write_time(journal(), madeAt);
    settle(true);
    const auto said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].kind, xio::RunNoticeKind::WriteTakenBack);
    EXPECT_THAT(said[0].reason, AllOf(HasSubstr("is not whole"), HasSubstr("missing from index " + longName.substr(0, 150)),
                                      Not(HasSubstr(longName.substr(0, 250)))));
    EXPECT_EQ(said[0].next, (ui::NextStep{ui::Step::RestoreDataFile, {file().string()}}));
    // What the quick check would have passed.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))), "ok");
    sqlite3_finalize(st);
    sqlite3_close(db);
}

// A file left not whole by a take-back is said with the check's first findings and how many it
// found, never every one of them.
TEST_F(OwnJournal, ATakeBackLeavingTheFileNotWholeSaysItsFirstFindingsAndHowMany) {
    made();
    {
        const uint16_t h = open(false);
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        for (int i = 0; i < 300; ++i) ASSERT_EQ(addCustomer(h, "K" + std::to_string(1000 + i), "B" + std::to_string(i)), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
        close(h);
    }
    {  // a write that changes every customer, stopped in its commit: its journal saves their pages
        const uint16_t h = open(false);
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        for (int i = 0; i < 300; ++i) ASSERT_EQ(addCustomer(h, "L" + std::to_string(1000 + i), "M" + std::to_string(i)), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
        close(h);
    }
    ASSERT_TRUE(stopWrite(file(), "C3"));
    std::string j = bytes_of(journal());
    const fs::file_time_type madeAt = fs::last_write_time(journal());
    const uint32_t sector = be32_at(j, 20), records = be32_at(j, 8), pageSize = be32_at(j, 24);
    // Every code saved in a row page, at bytes not sampled, made another one.
    int changed = 0;
    for (uint32_t i = 1; i < records; ++i) {
        const std::size_t data = sector + i * (pageSize + 8) + 4;
        for (std::size_t at = j.find("K1", data); at != std::string::npos && at + 1 < data + pageSize; at = j.find("K1", at + 1))
            if ((data + pageSize - (at + 1)) % 200 != 0 && ++changed) j[at + 1] = '7';
    }
    ASSERT_GT(changed, 4);
    std::ofstream(journal(), std::ios::binary | std::ios::trunc) << j;
    fs::last_write_time(journal(), madeAt);
    settle(true);
    const auto said = notices();
    ASSERT_EQ(said.size(), 1u);
    // Three findings, then the count.
    EXPECT_THAT(said[0].reason, ::testing::ContainsRegex("is not whole: [^;(]+; [^;(]+; [^;(]+ \\(100 findings or more in all\\)$"));
    EXPECT_THAT(said[0].reason, Not(HasSubstr("***")));
    EXPECT_LT(said[0].reason.size(), 600u);
}

// A journal copied with its times at the end of a commit and put back before any later write is,
// by what it holds and who made it, the commit's own: taken back, as SQLite would take it. A
// lock file's head, whatever it holds and whoever wrote it, changes no verdict.
TEST_F(OwnJournal, AJournalCopiedAtACommitAndPutBackIsTakenBackWhateverTheLockFileHolds) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be another user";
    made();
    const fs::path saved = dir / "saved";
    xio::set_journal_removal_hook_for_tests([&](const std::string& j) {
        fs::copy_file(j, saved, fs::copy_options::overwrite_existing);
        fs::last_write_time(saved, fs::last_write_time(j));
    });
    const uint16_t h = open(false);
    EXPECT_EQ(addCustomer(h, "C3", "A3"), XIO_OK);
    close(h);
    xio::set_journal_removal_hook_for_tests(nullptr);
    ASSERT_TRUE(fs::exists(saved));
    fs::rename(saved, journal());
    // What earlier versions took for a note of that journal, by an outsider in the lock file's place.
    std::string head = "dzjnote1" + std::string(4, '\0') + bytes_of(journal()).substr(12, 4);
    head[11] = 1;
    const fs::path forged = dir / "forged";
    std::ofstream(forged, std::ios::binary) << head;
    ASSERT_EQ(::chown(forged.c_str(), 65534, 65534), 0);
    fs::rename(forged, dir / ".MASTER.TST.locks");
    EXPECT_EQ(customers(), "C1,C2");
    EXPECT_FALSE(fs::exists(journal()));
    const auto said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].kind, xio::RunNoticeKind::WriteTakenBack);
    struct stat st {};
    ASSERT_EQ(::stat((dir / ".MASTER.TST.locks").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ::geteuid());
}

// A take-back killed just before its journal's removal (the file already played back and synced)
// leaves the journal hot: the next command plays it again, and the file stands as before.
TEST_F(OwnJournal, ATakeBackKilledJustBeforeItsJournalsRemovalIsTakenBackAgain) {
    made();
    const std::string before = customers();
    ASSERT_TRUE(stopWrite(file(), "C3"));
    ASSERT_TRUE(stop_in_commit([&] { (void)customers(); }));
    ASSERT_TRUE(fs::exists(journal()));
    EXPECT_EQ(customers(), before);
    EXPECT_FALSE(fs::exists(journal()));
    EXPECT_EQ(notices().size(), 1u);
}

// A journal that holds no write which a writer may not write over, or may not remove from a
// sticky folder, is named with its owner before the file is written, with who may remove it;
// a look goes on, and a writer who may write over and remove it writes.
TEST_F(OwnJournal, AnIdleJournalAWriterMayNotUseIsNamedWithWhoMayRemoveIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be other users";
    made();
    const uid_t owner = 65534, writer = 65533;
    fs::permissions(file(), fs::perms(0666));
    fs::remove(dir / ".MASTER.TST.locks");
    auto writeAs = [&](bool look) {
        return testing_support::AnswerAs(writer, writer, [&] {
            std::unique_ptr<xio_read_only_scope> scope(look ? new xio_read_only_scope : nullptr);
            uint16_t h = 0;
            if (xio_open_file(file(), 1, h) != XIO_OK) {
                std::string out = xio_error_text();
                for (const auto& a : xio_error_next_step().args) out += "|" + a;
                return out + "|" + std::to_string(static_cast<int>(xio_error_next_step().step));
            }
            return std::string(look || addCustomer(h, "C9", "A9") == XIO_OK ? "written" : "failed");
        });
    };
    const std::string named = journal().string() + " is a journal of " + xio::user_name(owner) + " that holds no write";
    const std::string who = "|" + journal().string() + "|" + xio::user_name(owner) + "|";
    struct Case {
        mode_t folder, journal;
        std::string said;
    } cases[] = {
        {0777, 0644, named + " (it is never played), which you may not write over: " + file().string() +
                         " is not written while it stands, as every write makes its journal at that name" + who + std::to_string(static_cast<int>(ui::Step::RemoveIdleJournal))},
        {01777, 0644, named + " (it is never played), which you may not write over nor remove (its folder is sticky)" +
                          ": " + file().string() + " is not written while it stands, as every write makes its journal "
                          "at that name" + who + std::to_string(static_cast<int>(ui::Step::RemoveJournal))},
        {01777, 0666, named + " (it is never played), which you may not remove (its folder is sticky)"},
        {0777, 0666, "written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.folder) + " " + std::to_string(c.journal));
        std::ofstream(journal(), std::ios::binary) << std::string(4096, '\0');
        ASSERT_EQ(::chown(journal().c_str(), owner, owner), 0);
        fs::permissions(journal(), fs::perms(c.journal));
        fs::permissions(dir, fs::perms(c.folder));
        EXPECT_EQ(writeAs(true), "written");
        EXPECT_THAT(writeAs(false), HasSubstr(c.said));
    }
}

// A member's write stopped in its commit, met once they may no longer write the file: its
// content cannot tell it from one they made to write into the file, so it is never played, and
// never called another file's. Before that, its owner who may not read it is told to give its
// read right back. The step (give it to the file's owner) then lets any writer take it back.
TEST_F(OwnJournal, AJournalOfAMemberWhoMayNoLongerWriteIsSaidAsWhatItMayBe) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be another user";
    made();
    const uid_t member = 65534;
    const gid_t group = 65534;
    fs::permissions(dir, fs::perms(0777));
    fs::remove(dir / ".MASTER.TST.locks");
    ASSERT_EQ(::chown(file().c_str(), 0, group), 0);
    fs::permissions(file(), fs::perms(0664));
    ASSERT_EQ(testing_support::AnswerAs(member, group, [&] { return stopWrite(file(), "C3") ? "stopped" : ""; }), "stopped");
    const std::string stopped = bytes_of(file());
    fs::permissions(journal(), fs::perms(0200));
    EXPECT_EQ(testing_support::AnswerAs(member, group, [&] {
                  xio::settle_dead_runs({dir.string(), true, "MASTER.TST"});
                  const auto said = xio::take_run_notices();
                  return said.size() == 1 && said[0].next == ui::NextStep{ui::Step::MakeJournalReadable, {journal().string()}}
                             ? "read right" : "said otherwise";
              }),
              "read right");
    fs::permissions(journal(), fs::perms(0664));

    fs::permissions(file(), fs::perms(0644));  // the member may no longer write it
    // Unread by another member, it is no writer's journal to tell: refused as the member's.
    fs::permissions(journal(), fs::perms(0600));
    EXPECT_EQ(testing_support::AnswerAs(65533, group, [&] {
                  xio_read_only_scope look;
                  uint16_t h = 0;
                  return xio_open_file(file(), 1, h) == XIO_OK ? std::string("opened") : xio_error_text();
              }),
              journal().string() + " is a journal of " + xio::user_name(member) + ", who may no longer write " +
                  file().string() + ": it may be a write of theirs that stopped before its commit, or a file they made, "
                  "which its content cannot tell; it is never played into the file nor removed, and the file is neither "
                  "read nor written until an administrator settles it");
    fs::permissions(journal(), fs::perms(0664));
    const std::string said = customers();
    EXPECT_THAT(said, AllOf(HasSubstr(journal().string() + " is a journal of " + xio::user_name(member) +
                                      ", who may no longer write " + file().string()),
                            HasSubstr("it may be a write of theirs that stopped before its commit"),
                            Not(HasSubstr("not the journal of"))));
    EXPECT_FALSE(settle(true));
    const auto n = notices();
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0].next.step, ui::Step::GiveJournalToFileOwner);
    EXPECT_EQ(bytes_of(file()), stopped);
    ASSERT_EQ(::chown(journal().c_str(), 0, group), 0);  // the step, once the member says it is theirs
    // Still open to its group, whose members may not write the file: narrowed too, then played.
    EXPECT_THAT(customers(), HasSubstr(" may write, whom the rights of " + file().string() + " keep from writing it"));
    EXPECT_EQ(xio_error_next_step().step, ui::Step::NarrowJournal);
    fs::permissions(journal(), fs::perms(0644));
    EXPECT_EQ(customers(), "C1,C2");
    EXPECT_FALSE(fs::exists(journal()));
}

// A journal SQLite never plays (its header zero) stops nobody, whoever made it: it is left to
// the writers, as SQLite leaves it.
TEST_F(OwnJournal, AJournalThatIsNotHotStopsNobody) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be another user";
    made();
    std::ofstream(journal(), std::ios::binary) << std::string(4096, '\0');
    ASSERT_EQ(::chown(journal().c_str(), 65534, 65534), 0);
    EXPECT_EQ(customers(), "C1,C2");
    {
        xio_read_only_scope look;
        EXPECT_EQ(customers(), "C1,C2");
    }
    const uint16_t h = open(false);
    EXPECT_EQ(addCustomer(h, "C3", "A3"), XIO_OK);
    close(h);
    EXPECT_EQ(customers(), "C1,C2,C3");
}

// A large write spills pages into its file before its commit saves the first page: its journal
// is hot without that page. Every write of this program saves the page first, so that its
// journal is tied to the file by the identity the page holds.
TEST_F(OwnJournal, EveryWriteSavesTheFilesFirstPageFirst) {
    made();
    const uint16_t h = open(false);
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C3", "A3"), XIO_OK);
    const std::string journal = bytes_of(this->journal());
    ASSERT_GE(journal.size(), 28u);
    auto be32 = [&](std::size_t at) {
        uint32_t n = 0;
        for (std::size_t i = 0; i < 4; ++i) n = (n << 8) | static_cast<unsigned char>(journal[at + i]);
        return n;
    };
    const uint32_t sector = be32(20);
    ASSERT_GE(journal.size(), sector + 4);
    EXPECT_EQ(be32(sector), 1u);  // the first record's page number
    ASSERT_EQ(xio_rollback(h), XIO_OK);
}

// In a sticky folder a member may make files beside a data file they may not write: their
// journal, even one made from a copy of the file, is never played into it. A member who may
// write the file stops a write of their own in its commit: that one is taken back. One who may
// not write the file is told whose command takes it back.
TEST_F(OwnJournal, AMembersJournalIsPlayedOnlyWhenTheMemberMayWriteTheFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be another user";
    made();
    const uid_t member = 65534;
    const gid_t group = 65534;
    fs::permissions(dir, fs::perms(01777));
    fs::permissions(file(), fs::perms(0644));
    const std::string before = bytes_of(file());
    const std::string planted = testing_support::AnswerAs(member, group, [&] {
        fs::copy_file(file(), dir / "evil.db");
        if (!stopWrite(dir / "evil.db", "EVIL")) return std::string("not stopped");
        fs::copy_file(dir / "evil.db-journal", journal());
        return std::string("planted");
    });
    ASSERT_EQ(planted, "planted");
    // By its content it is the file's own: it may be the member's stopped write, and is never
    // called another file's; an administrator settles it, keeping the file whole.
    EXPECT_EQ(customers(), "refused: " + journal().string() + " is a journal of " + xio::user_name(member) +
                               ", who may no longer write " + file().string() +
                               ": it may be a write of theirs that stopped before its commit, or a file they made, which "
                               "its content cannot tell; it is never played into the file nor removed, and the file is "
                               "neither read nor written until an administrator settles it");
    EXPECT_EQ(xio_error_next_step(), (ui::NextStep{ui::Step::GiveJournalToFileOwner,
                                                   {xio::user_name(member), journal().string(), xio::user_name(0),
                                                    file().string()}}));
    EXPECT_EQ(bytes_of(file()), before);
    ASSERT_EQ(::unlink(journal().c_str()), 0);

    // Once the member may write the file (its group's), their own stopped write is its own.
    fs::permissions(dir, fs::perms(0777));
    // The lock file made for a file of 0644 is not one the member may take: made again for them.
    fs::remove(dir / ".MASTER.TST.locks");
    ASSERT_EQ(::chown(file().c_str(), 0, group), 0);
    fs::permissions(file(), fs::perms(0664));
    ASSERT_EQ(testing_support::AnswerAs(member, group, [&] { return stopWrite(file(), "C3") ? "stopped" : ""; }), "stopped");
    EXPECT_EQ(customers(), "C1,C2");
    EXPECT_FALSE(fs::exists(journal()));

    // Root's write stopped in its commit, met by one who may not write the file.
    fs::permissions(file(), fs::perms(0644));
    ASSERT_TRUE(stopWrite(file(), "C4"));
    const std::string stopped = bytes_of(file());
    const std::string step = testing_support::AnswerAs(member, group, [&] {
        xio::settle_dead_runs({dir.string(), true, "MASTER.TST"});
        std::string out;
        for (const auto& n : xio::take_run_notices())
            for (const auto& a : n.next.args) out += a + "|";
        return out;
    });
    EXPECT_EQ(step, xio::user_name(0) + "|" + file().string() + "|");
    EXPECT_EQ(bytes_of(file()), stopped);
    EXPECT_EQ(customers(), "C1,C2");
}

// Taking a write back removes its journal, which a sticky folder lets only the journal's owner,
// the folder's owner and root do: another member who may write the file is sent to the writer.
TEST_F(OwnJournal, AWriteStoppedInAStickyFolderIsTakenBackByOneWhoMayRemoveItsJournal) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be other users";
    made();
    const uid_t writer = 65534, member = 65533;
    const gid_t group = 65534;
    fs::permissions(dir, fs::perms(01777));
    fs::remove(dir / ".MASTER.TST.locks");
    ASSERT_EQ(::chown(file().c_str(), writer, group), 0);
    fs::permissions(file(), fs::perms(0664));
    ASSERT_EQ(testing_support::AnswerAs(writer, group, [&] { return stopWrite(file(), "C3") ? "stopped" : ""; }), "stopped");
    const std::string stopped = bytes_of(file());
    notices();
    auto settledAs = [&](uid_t who) {
        return testing_support::AnswerAs(who, group, [&] {
            xio::settle_dead_runs({dir.string(), true, "MASTER.TST"});
            std::string out;
            for (const auto& n : xio::take_run_notices()) {
                out += std::to_string(static_cast<int>(n.kind));
                for (const auto& a : n.next.args) out += "|" + a;
            }
            return out;
        });
    };
    EXPECT_EQ(settledAs(member), std::to_string(static_cast<int>(xio::RunNoticeKind::WriteStopped)) + "|" +
                                     xio::user_name(writer) + "|" + file().string());
    EXPECT_EQ(bytes_of(file()), stopped);
    EXPECT_EQ(settledAs(writer), std::to_string(static_cast<int>(xio::RunNoticeKind::WriteTakenBack)));
    EXPECT_FALSE(fs::exists(journal()));
    EXPECT_EQ(customers(), "C1,C2");
}

// A take-back killed once it emptied a journal of two names, before it removed it, leaves an empty
// journal: it plays nothing and stops nobody. A look goes on; a writer removes it and says its
// other name as the empty leftover it is.
TEST_F(OwnJournal, AnEmptiedJournalOfTwoNamesStopsNobody) {
    made();
    ASSERT_TRUE(stopWrite(file(), "C3"));
    const fs::path kept = dir / "kept";
    fs::create_hard_link(journal(), kept);
    const pid_t child = ::fork();
    if (child == 0) {
        xio::set_journal_emptied_hook_for_tests([](const std::string&) { ::_exit(0); });
        settle(true);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_TRUE(::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(fs::hard_link_count(journal()), 2u);
    ASSERT_EQ(fs::file_size(journal()), 0u);
    notices();
    {
        xio_read_only_scope look;
        settle(false);
        EXPECT_THAT(notices(), ::testing::IsEmpty());
        EXPECT_EQ(customers(), "C1,C2");
    }
    EXPECT_TRUE(fs::exists(journal()));  // a look removes nothing
    settle(true);
    const auto said = notices();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].kind, xio::RunNoticeKind::EmptyJournalRemoved);
    EXPECT_THAT(said[0].reason, AllOf(HasSubstr(journal().string() + ", which held no write, was removed"),
                                      HasSubstr("the other one, on the same file system, was emptied with it and holds "
                                                "nothing"),
                                      Not(HasSubstr("-inum"))));
    EXPECT_FALSE(fs::exists(journal()));
    EXPECT_EQ(customers(), "C1,C2");
}

// A journal, the file's own by its content and its owner, that someone the file's rights keep
// out may write is never played: it may hold what they wrote. Said with whom it lets write, and
// the command that narrows it; narrowed, the next writer takes the write back.
TEST_F(OwnJournal, AJournalOneTheFilesRightsKeepOutMayWriteIsPlayedOnlyOnceNarrowed) {
    made();
    fs::permissions(file(), fs::perms(0644));
    ASSERT_TRUE(stopWrite(file(), "C3"));
    const std::string stopped = bytes_of(file());
    fs::permissions(journal(), fs::perms(0666));
    EXPECT_THAT(customers(), AllOf(HasSubstr(journal().string() + " is a journal of " + xio::user_name(::geteuid()) +
                                             " that every user may write, whom the rights of " + file().string() +
                                             " keep from writing it"),
                                   HasSubstr("an administrator who knows it to be the file's own narrows it")));
    const std::string narrow = "chmod go-w " + fs::absolute(journal()).lexically_normal().string();
    EXPECT_EQ(xio_error_next_step(), (ui::NextStep{ui::Step::NarrowJournal, {journal().string(), file().string(), narrow}}));
    EXPECT_EQ(bytes_of(file()), stopped);
    ASSERT_EQ(std::system(narrow.c_str()), 0);
    EXPECT_EQ(customers(), "C1,C2");
    EXPECT_FALSE(fs::exists(journal()));
}

// The same where the journal's group, or a named user, may write it and the file's list keeps a
// member of that group, or that user, out; with the file's own list it is played.
TEST_F(OwnJournal, AJournalAMemberTheFilesListKeepsOutMayWriteIsNeverPlayed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give files to other users";
    made();
    const uid_t member = 65534;  // nobody, of the group nogroup
    const gid_t group = 65534;
    ASSERT_EQ(::chown(file().c_str(), 0, group), 0);
    if (!set_acl(file(), {{kUserObj, 6, kAny}, {kUser, 4, member}, {kGroupObj, 6, kAny}, {kMask, 6, kAny}, {kOther, 4, kAny}}))
        GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
    ASSERT_TRUE(stopWrite(file(), "C3"));
    EXPECT_EQ(customers(), "C1,C2");  // the file's own list: played
    const std::vector<std::array<uint32_t, 3>> wider[] = {
        {{kUserObj, 6, kAny}, {kGroupObj, 6, kAny}, {kOther, 4, kAny}},
        {{kUserObj, 6, kAny}, {kUser, 6, member}, {kGroupObj, 4, kAny}, {kMask, 6, kAny}, {kOther, 4, kAny}},
    };
    for (const auto& list : wider) {
        const std::string whole = bytes_of(file());
        ASSERT_TRUE(stopWrite(file(), "C3"));
        ASSERT_TRUE(set_acl(journal(), list));
        const std::string stopped = bytes_of(file());
        EXPECT_THAT(customers(), HasSubstr(" that " + xio::user_name(member) + " may write, whom the rights of "));
        EXPECT_EQ(bytes_of(file()), stopped);
        ASSERT_EQ(::unlink(journal().c_str()), 0);
        std::ofstream(file(), std::ios::binary | std::ios::trunc) << whole;
    }
}

// A journal is judged by the records it holds, not by its length: a part whose count stands and
// whose one record is cut is damage, never a write that reached nothing; one that never synced
// (its count open) holding one whole record is a write to take back.
TEST_F(OwnJournal, AJournalOfOneRecordIsJudgedByThatRecord) {
    made();
    JournalSpec counted;
    std::string cut = journal_of(file(), counted);
    cut.resize(counted.sector + 10);
    std::ofstream(journal(), std::ios::binary | std::ios::trunc) << cut;
    xio::JournalJudgement judged = xio::judge_journal(file().string());
    EXPECT_EQ(judged.kind, xio::JournalKind::NotOwn);
    EXPECT_EQ(judged.refusal, xio::JournalRefusal::Damaged);
    JournalSpec open;
    open.count = 0xffffffffu;
    std::ofstream(journal(), std::ios::binary | std::ios::trunc) << journal_of(file(), open);
    judged = xio::judge_journal(file().string());
    EXPECT_EQ(judged.kind, xio::JournalKind::Own);
    EXPECT_FALSE(judged.playsNothing);
}

}  // namespace
}  // namespace dz::test
