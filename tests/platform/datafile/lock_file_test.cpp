// Lock files as every lock of the program makes and keeps them: fitted to what they guard by
// making them afresh (so that a descriptor opened before locks nothing), never by a look, and a
// bounded wait that ends naming the lock file and why.
#include "platform/datafile/access_list.h"
#include "platform/datafile/lock_file.h"
#include "as_user.h"
#include "socket_file.h"
#include "support.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/xattr.h>

#include <cstring>
#include <functional>
#include <tuple>
#include <utility>
#include <sys/stat.h>

namespace dz::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;

class LockFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = make_temp_dir();
        fs::permissions(folder, fs::perms(0755));
        guarded = folder / "company.toml";
        std::ofstream(guarded) << "x";
    }
    void TearDown() override {
        xio::set_lock_wait_for_tests(std::chrono::seconds(10));
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    xio::LockFileSpec spec(xio::LockKind kind, bool make = true) const {
        xio::LockFileSpec s;
        s.folder = folder.string();
        s.name = "x.locks";
        s.kind = kind;
        s.guarded = guarded.string();
        s.make = make;
        return s;
    }
    fs::path lockFile() const { return folder / "x.locks"; }

    fs::path folder, guarded;
};

struct stat stat_of(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st;
}

TEST_F(LockFileTest, OneOfTheWrongModeOrOwnerIsMadeAfreshByOneWhoMayWriteWhatItGuards) {
    constexpr uid_t kMe = static_cast<uid_t>(-1);
    struct Case {
        const char* what;
        xio::LockKind kind;
        mode_t guardedMode;
        mode_t found;  // 0: there is none
        uid_t foundOwner, guardedOwner;
        bool make;
        mode_t want;
        bool afresh;
        gid_t foundGroup = static_cast<gid_t>(-1);  // its owner's, unless given
    } cases[] = {
        {"narrower than the group-writable file it guards", xio::LockKind::Writers, 0664, 0600, kMe, kMe, true, 0660, true},
        {"wider than the file it guards gives writers", xio::LockKind::Writers, 0644, 0666, kMe, kMe, true, 0600, true},
        {"a data file's: reading shows presence", xio::LockKind::DataFile, 0640, 0666, kMe, kMe, true, 0640, true},
        {"a backup folder's, widened", xio::LockKind::OwnerOnly, 0644, 0644, kMe, kMe, true, 0600, true},
        {"as it should be: kept", xio::LockKind::Writers, 0664, 0660, kMe, kMe, true, 0660, false},
        {"missing: made", xio::LockKind::Writers, 0666, 0, kMe, kMe, true, 0666, true},
        {"a look uses it as it is", xio::LockKind::Writers, 0644, 0666, kMe, kMe, false, 0666, false},
        {"of an owner who may not write what it guards", xio::LockKind::Writers, 0664, 0660, 4321, 1234, true, 0660, true},
        {"of the right mode but root's group, not what it guards'", xio::LockKind::Writers, 0660, 0660, 0, 1234, true, 0660, true},
        {"a run's lock, by a look: used as it is", xio::LockKind::OwnerOnly, 0644, 0644, kMe, kMe, false, 0644, false},
        {"a backup folder's, of another owner", xio::LockKind::OwnerOnly, 0644, 0600, 4321, kMe, true, 0600, true},
        {"of the right mode and group, of an owner who may not write what it guards", xio::LockKind::Writers, 0664, 0660,
         4321, 1234, true, 0660, true, 1234},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if ((c.foundOwner != kMe || c.guardedOwner != kMe) && ::geteuid() != 0) {
            std::cout << "skipped (needs root, to give files to other users): " << c.what << "\n";
            continue;
        }
        fs::remove(lockFile());
        fs::permissions(guarded, fs::perms(c.guardedMode));
        if (c.guardedOwner != kMe) {
            ASSERT_EQ(::chown(guarded.c_str(), c.guardedOwner, c.guardedOwner), 0);
        }
        int before = -1;
        if (c.found != 0) {
            std::ofstream(lockFile()).flush();
            fs::permissions(lockFile(), fs::perms(c.found));
            if (c.foundOwner != kMe) {
                ASSERT_EQ(::chown(lockFile().c_str(), c.foundOwner, c.foundGroup != static_cast<gid_t>(-1) ? c.foundGroup : c.foundOwner), 0);
            }
            before = ::open(lockFile().c_str(), O_RDONLY);  // an outsider's, opened while it was so
            ASSERT_GE(before, 0);
        }
        const ino_t oldInode = c.found != 0 ? stat_of(lockFile()).st_ino : 0;
        const xio::LockFileOpened opened = xio::open_lock_file(spec(c.kind, c.make));
        ASSERT_GE(opened.fd, 0) << opened.why;
        const struct stat now = stat_of(lockFile());
        EXPECT_EQ(now.st_mode & 07777, c.want);
        EXPECT_EQ(c.afresh, now.st_ino != oldInode);
        if (c.guardedOwner != kMe) {
            EXPECT_EQ(now.st_uid, c.guardedOwner);
            EXPECT_EQ(now.st_gid, c.guardedOwner);
        }
        if (before >= 0 && c.afresh) {
            // The old descriptor's lock holds nothing: the lock is had at once.
            ASSERT_EQ(::flock(before, LOCK_EX | LOCK_NB), 0);
            xio::LockWaitFailure failure;
            const int fd = xio::take_lock_file(spec(c.kind), true, failure);
            EXPECT_GE(fd, 0) << failure.cause;
            ::close(fd);
        }
        ::close(opened.fd);
        if (before >= 0) ::close(before);
    }
    EXPECT_FALSE(fs::exists(folder / ("x.locks.new" + std::to_string(::getpid()))));
    if (::geteuid() != 0) return;
    // Another owner's lock of a backup folder that is not to be made afresh (a run's, or by a
    // look) is not used.
    fs::remove(lockFile());
    std::ofstream(lockFile()).flush();
    fs::permissions(lockFile(), fs::perms(0600));
    ASSERT_EQ(::chown(lockFile().c_str(), 4321, 4321), 0);
    for (const bool make : {true, false}) {
        xio::LockFileSpec s = spec(xio::LockKind::OwnerOnly, make);
        s.refuseOtherOwner = true;
        const xio::LockFileOpened o = xio::open_lock_file(s);
        EXPECT_EQ(o.why, "cannot be used (it must be a file of the folder's owner alone, with one link)");
        EXPECT_EQ(o.fd, -1);
    }
}

TEST_F(LockFileTest, ALookMakesNoLockFile) {
    const xio::LockFileOpened opened = xio::open_lock_file(spec(xio::LockKind::DataFile, false));
    EXPECT_EQ(opened.fd, -1);
    EXPECT_EQ(opened.error, ENOENT);
    EXPECT_FALSE(fs::exists(lockFile()));
    // A data file's table that looks, or foretells a conversion, goes on without one.
    for (const xio::LockUse use : {xio::LockUse::Look, xio::LockUse::Foretell}) {
        xio::LockTable look(guarded, 1);
        EXPECT_EQ(look.open(use), XIO_OK) << look.error();
        EXPECT_EQ(look.acquire('H', "1"), XIO_OK);
    }
    EXPECT_FALSE(fs::exists(xio::lock_file_path(guarded)));
}

// A wait that ends says the lock file and its cause, and the next step as a value.
TEST_F(LockFileTest, AWaitThatEndsNamesTheLockFileAndWhy) {
    fs::permissions(guarded, fs::perms(0644));
    {
        SCOPED_TRACE("held by a program that reads it");
        const std::string name = lockFile().string();
        // Let go a minute later: a wait that overran its bound would have the lock.
        const pid_t holder = spawn_holder_for(60, [&] {
            const int fd = ::open(name.c_str(), O_RDWR | O_CREAT, 0600);
            return fd >= 0 && ::flock(fd, LOCK_SH) == 0;
        });
        ASSERT_GT(holder, 0);
        xio::set_lock_wait_for_tests(std::chrono::milliseconds(200));
        xio::LockWaitFailure failure;
        EXPECT_EQ(xio::take_lock_file(spec(xio::LockKind::Writers), true, failure), -1);
        kill_and_reap(holder);
        EXPECT_THAT(failure.cause, HasSubstr("the lock file " + name + " is held by process " + std::to_string(holder) + " of user "));
        EXPECT_THAT(failure.cause, HasSubstr("a program reading it"));
        EXPECT_EQ(failure.next.step, ui::Step::AgainWhenFinished);
        ASSERT_EQ(failure.next.args.size(), 1u);
        EXPECT_THAT(failure.next.args[0], HasSubstr("process " + std::to_string(holder)));
    }
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as a user who may not write what the lock guards";
    {
        SCOPED_TRACE("one who may not write what it guards cannot open it, and says so");
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
            xio::LockWaitFailure failure;
            const bool said = xio::take_lock_file(spec(xio::LockKind::Writers), true, failure) == -1 &&
                              failure.cause == "the lock file " + lockFile().string() + " cannot be opened: Permission denied";
            ::_exit(said ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(stat_of(lockFile()).st_mode & 07777, 0600u);  // nobody's permission widened it
    }
}


// Whether a process other than this one can take, on the file `fd` is open on, the lock every
// program takes on a lock file of `kind` (the presence byte of a data file's, an exclusive flock).
bool another_could_lock(int fd, xio::LockKind kind) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int own = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_RDLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = static_cast<off_t>(1ull << 62);
        fl.l_len = 1;
        const bool had = own >= 0 && (kind == xio::LockKind::DataFile ? ::fcntl(own, F_SETLK, &fl) == 0
                                                                       : ::flock(own, LOCK_EX | LOCK_NB) == 0);
        ::_exit(had ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A lock file is replaced only while the replacer holds the old one's lock: in both windows (before
// and after the rename) no other program can lock the old file, so none can lock it and still find
// its name naming it; after the rename its name leads to the new file, which can be had at once.
TEST_F(LockFileTest, ALockFileIsReplacedOnlyUnderTheOldOnesLock) {
    fs::permissions(guarded, fs::perms(0644));
    for (const xio::LockKind kind : {xio::LockKind::Writers, xio::LockKind::DataFile}) {
        SCOPED_TRACE(kind == xio::LockKind::DataFile ? "a data file's" : "the settings'");
        fs::remove(lockFile());
        std::ofstream(lockFile()).flush();
        fs::permissions(lockFile(), fs::perms(0666));  // wider than what it guards: made afresh
        const int old = ::open(lockFile().c_str(), O_RDWR);
        ASSERT_GE(old, 0);
        const ino_t oldInode = stat_of(lockFile()).st_ino;
        std::vector<std::string> seen;
        xio::set_lock_hook_for_tests([&](xio::LockStep window, const std::string&) {
            if (window != xio::LockStep::BeforeRename && window != xio::LockStep::AfterRename) return;
            const bool before = window == xio::LockStep::BeforeRename;
            const bool named = stat_of(lockFile()).st_ino == oldInode;
            seen.push_back(std::string(before ? "before" : "after") + (named ? " old named" : " new named") +
                           (another_could_lock(old, kind) ? ", old lockable" : ", old held"));
            if (!before) {
                const int fresh = ::open(lockFile().c_str(), O_RDWR);
                seen.back() += another_could_lock(fresh, kind) ? ", new lockable" : ", new held";
                ::close(fresh);
            }
        });
        const xio::LockFileOpened opened = xio::open_lock_file(spec(kind));
        xio::set_lock_hook_for_tests(nullptr);
        ASSERT_GE(opened.fd, 0) << opened.why;
        EXPECT_NE(opened.ino, oldInode);
        EXPECT_THAT(seen, ::testing::ElementsAre("before old named, old held", "after new named, old held, new lockable"));
        EXPECT_TRUE(another_could_lock(old, kind));  // let go once the name leads elsewhere
        ::close(opened.fd);
        ::close(old);
    }
}

// One it is for holds it: it stays as it is, the wait ends naming the holder, and no new file is
// left in its place.
TEST_F(LockFileTest, AHolderItIsForKeepsItsLockFileAndNoNewOneIsLeft) {
    fs::permissions(guarded, fs::perms(0644));
    std::ofstream(lockFile()).flush();
    fs::permissions(lockFile(), fs::perms(0666));
    const ino_t oldInode = stat_of(lockFile()).st_ino;
    const std::string name = lockFile().string();
    const pid_t holder = spawn_holder([&] {
        const int fd = ::open(name.c_str(), O_RDWR);
        return fd >= 0 && ::flock(fd, LOCK_SH) == 0;
    });
    ASSERT_GT(holder, 0);
    xio::set_lock_wait_for_tests(std::chrono::milliseconds(100));
    xio::LockWaitFailure failure;
    EXPECT_EQ(xio::take_lock_file(spec(xio::LockKind::Writers), true, failure), -1);
    kill_and_reap(holder);
    EXPECT_THAT(failure.cause, HasSubstr("is held by process " + std::to_string(holder)));
    EXPECT_EQ(stat_of(lockFile()).st_ino, oldInode);
    for (const auto& e : fs::directory_iterator(folder)) EXPECT_THAT(e.path().filename().string(), ::testing::Not(HasSubstr(".new")));
}

// Root fits a backup folder's lock left 0666 only under its own lock: a program of a user it is
// not for that opened it then and holds it is waited for and named (what this machine shows of
// holders never frees a lock file), and the lock file is made afresh once it lets go.
TEST_F(LockFileTest, AnOutsidersHoldOfAFolderLockIsWaitedForAndNamed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give the folder to another user";
    ASSERT_EQ(::chown(folder.c_str(), 1234, 1234), 0);
    const fs::path lock = folder / "folder.lock";
    std::ofstream(lock).flush();
    ASSERT_EQ(::chown(lock.c_str(), 1234, 1234), 0);
    fs::permissions(lock, fs::perms(0666));
    const ino_t oldInode = stat_of(lock).st_ino;
    const pid_t outsider = spawn_holder([&] {
        const int fd = ::open(lock.c_str(), O_RDWR);
        return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
    }, 4321);
    ASSERT_GT(outsider, 0);
    xio::set_lock_wait_for_tests(std::chrono::milliseconds(100));
    xio::LockFileSpec s = spec(xio::LockKind::OwnerOnly);
    s.name = "folder.lock";
    xio::LockWaitFailure failure;
    EXPECT_EQ(xio::take_lock_file(s, true, failure), -1);
    EXPECT_THAT(failure.cause, HasSubstr("is held by process " + std::to_string(outsider) + " of user 4321"));
    EXPECT_EQ(stat_of(lock).st_ino, oldInode);
    kill_and_reap(outsider);
    const int fd = xio::take_lock_file(s, true, failure);
    ASSERT_GE(fd, 0) << failure.cause;
    const struct stat now = stat_of(lock);
    EXPECT_NE(now.st_ino, oldInode);
    EXPECT_EQ(now.st_mode & 07777, 0600u);
    EXPECT_EQ(now.st_uid, 1234u);
    ::close(fd);
}

// A lock held by none of the programs it is for (a user who may not take it, who opened it while
// it was wider; a process that has ended, through a descriptor another process kept) is said at
// once, naming it and its holder, with the step to have that process ended: waiting would not
// end it. One it is for is waited for. Each holder lets go on its own within the wait, so a
// wait shows as a lock had.
TEST_F(LockFileTest, ALockHeldByNoneItIsForIsSaidAtOnceAndOneItIsForIsWaitedFor) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as an outsider";
    xio::LockFileSpec s = spec(xio::LockKind::OwnerOnly);
    s.name = "folder.lock";
    const std::string lock = (folder / "folder.lock").string();
    std::ofstream(lock).flush();
    xio::set_lock_wait_for_tests(std::chrono::seconds(10));
    auto take = [&](xio::LockWaitFailure& failure) {
        const int fd = xio::take_lock_file(s, true, failure);
        if (fd >= 0) ::close(fd);
        return fd >= 0;
    };
    {
        SCOPED_TRACE("an outsider's, opened while it was wider");
        fs::permissions(lock, fs::perms(0666));
        const pid_t outsider = spawn_holder_for(3, [&] {
            const int fd = ::open(lock.c_str(), O_RDONLY);
            return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
        }, 4321);
        ASSERT_GT(outsider, 0);
        fs::permissions(lock, fs::perms(0600));
        xio::LockWaitFailure failure;
        EXPECT_FALSE(take(failure));
        kill_and_reap(outsider);
        const std::string holder = "process " + std::to_string(outsider) + " of user 4321";
        EXPECT_THAT(failure.cause, HasSubstr(lock + " is held by " + holder + ", which is none of the programs it is for"));
        EXPECT_TRUE(failure.foreign);
        EXPECT_EQ(failure.next, (ui::NextStep{ui::Step::EndLockHolder, {lock, holder}}));
    }
    {
        SCOPED_TRACE("root's, kept by a descriptor after the process that took it ended");
        const pid_t group = spawn_kept_lock(lock, LOCK_EX, 3);
        ASSERT_GT(group, 0);
        xio::LockWaitFailure failure;
        EXPECT_FALSE(take(failure));
        EXPECT_THAT(failure.cause, HasSubstr("is held by a process that has ended (process "));
        EXPECT_THAT(failure.cause, HasSubstr(", which took the lock), through a descriptor another process kept (process "));
        EXPECT_EQ(failure.next.step, ui::Step::EndLockHolder);
        // The process named as keeping it open is the one that does: of the holder's group.
        const std::string kept = "through a descriptor another process kept (process ";
        const auto at = failure.cause.find(kept);
        ASSERT_NE(at, std::string::npos) << failure.cause;
        const pid_t keeper = static_cast<pid_t>(std::atol(failure.cause.c_str() + at + kept.size()));
        EXPECT_THAT(failure.cause, HasSubstr("(process " + std::to_string(keeper) + " of user root has it open)"));
        EXPECT_EQ(::getpgid(keeper), group);
        // The step names the process an administrator ends: the one keeping it, never the ended one.
        EXPECT_EQ(failure.next, (ui::NextStep{ui::Step::EndLockHolder, {lock, "process " + std::to_string(keeper) + " of user root"}}));
        kill_group_and_reap(group, lock);
    }
    {
        SCOPED_TRACE("root's own live program: waited for");
        const pid_t holder = spawn_holder_for(1, [&] {
            const int fd = ::open(lock.c_str(), O_RDONLY);
            return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
        });
        ASSERT_GT(holder, 0);
        xio::LockWaitFailure failure;
        EXPECT_TRUE(take(failure)) << failure.cause;
        kill_and_reap(holder);
    }
}

// What a refit killed midway left ("<name>.new<pid>" of a process that no longer runs, a regular
// file) goes with the next one who may make the lock file; a look, a live process's, one of
// another name or owner, or what is no regular file stays.
TEST_F(LockFileTest, WhatAKilledRefitLeftIsClearedByTheNextWhoMayMakeIt) {
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const pid_t alive = spawn_holder([] { return true; });
    ASSERT_GT(alive, 0);
    const fs::path dead = folder / ("x.locks.new" + std::to_string(gone));
    const fs::path live = folder / ("x.locks.new" + std::to_string(alive));
    const fs::path odd = folder / ("x.locks.new" + std::to_string(gone + 100000));
    const fs::path named = folder / "x.locks.newer", outsiders = folder / ("x.locks.new" + std::to_string(gone + 200000));
    std::ofstream(dead).flush();
    std::ofstream(live).flush();
    std::ofstream(named).flush();
    fs::create_directory(odd);
    std::ofstream(outsiders).flush();
    fs::permissions(guarded, fs::perms(0644));
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(outsiders.c_str(), 4321, 4321), 0);  // of one who may not make the lock file
    }
    ::close(xio::open_lock_file(spec(xio::LockKind::Writers, false)).fd);
    EXPECT_TRUE(fs::exists(dead));  // a look clears nothing
    const xio::LockFileOpened opened = xio::open_lock_file(spec(xio::LockKind::Writers));
    kill_and_reap(alive);
    ASSERT_GE(opened.fd, 0) << opened.why;
    ::close(opened.fd);
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(odd));
    EXPECT_TRUE(fs::exists(named));
    EXPECT_EQ(fs::exists(outsiders), ::geteuid() == 0);
    // Left by a killed program whose number this one has now: given way to when this one refits.
    const fs::path mine = folder / ("x.locks.new" + std::to_string(::getpid()));
    std::ofstream(mine).flush();
    fs::permissions(lockFile(), fs::perms(0666));
    const ino_t old = stat_of(lockFile()).st_ino;
    ::close(xio::open_lock_file(spec(xio::LockKind::Writers)).fd);
    EXPECT_NE(stat_of(lockFile()).st_ino, old);
    EXPECT_FALSE(fs::exists(mine));
    if (::geteuid() != 0) return;
    // Left by another who may write what a writers' lock file guards: one who may make it too.
    const fs::path writers = folder / ("x.locks.new" + std::to_string(gone + 300000));
    std::ofstream(writers).flush();
    ASSERT_EQ(::chown(writers.c_str(), 4322, 4322), 0);
    fs::permissions(guarded, fs::perms(0666));
    fs::permissions(lockFile(), fs::perms(0666));
    ::close(xio::open_lock_file(spec(xio::LockKind::Writers)).fd);
    EXPECT_FALSE(fs::exists(writers));
}

// A name that holds what no lock can be taken on is said as it is, with the step that works:
// nothing holds it, and waiting would never help.
TEST_F(LockFileTest, ANameThatIsNoLockFileSaysWhatItIsAndWhoCanRemoveIt) {
    auto socket_at = [](const fs::path& p) { ASSERT_TRUE(testing_support::MakeSocketFile(p)) << p; };
    const struct {
        const char* what;
        std::function<void(const fs::path&)> make;
    } cases[] = {
        {"is a pipe (FIFO), not a lock file", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"is a folder, not a lock file", [](const fs::path& p) { fs::create_directory(p); }},
        {"is a symbolic link, which is not used as a lock file", [](const fs::path& p) {
             // A target of the test's own: a fault that followed the link must harm nothing else.
             std::ofstream(p.parent_path() / "link-target") << "x";
             fs::create_symlink(p.parent_path() / "link-target", p);
         }},
        {"is a socket, not a lock file", socket_at},
    };
    xio::set_lock_wait_for_tests(std::chrono::milliseconds(100));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(lockFile());
        c.make(lockFile());
        xio::LockWaitFailure failure;
        EXPECT_EQ(xio::take_lock_file(spec(xio::LockKind::Writers), true, failure), -1);
        EXPECT_EQ(failure.cause, "the lock file " + lockFile().string() + " " + c.what);
        EXPECT_EQ(failure.next.step, ui::Step::RemoveLockFile);
        ASSERT_EQ(failure.next.args.size(), 2u);
        EXPECT_EQ(failure.next.args[0], lockFile().string());
        if (::geteuid() != 0) continue;
        // Said the same to a user whom it does not let open it.
        ::chmod(lockFile().c_str(), 0700);
        EXPECT_EQ(testing_support::AnswerAs(4321, 4321, [&] {
                      xio::LockWaitFailure f;
                      xio::take_lock_file(spec(xio::LockKind::Writers), true, f);
                      return f.cause + (f.next.step == ui::Step::RemoveLockFile ? ", remove it" : "");
                  }),
                  "the lock file " + lockFile().string() + " " + c.what + ", remove it");
    }
}

// As a user who is not root: a new lock file takes the group of what it guards (one of this
// user's groups, not their own); another's lock file this user may not open is "held by" its
// holder when one it is for holds it, "cannot be opened" to one who may not write what it guards,
// and made afresh otherwise; a look opens one it may only read for reading.
TEST_F(LockFileTest, AsAUserWhoIsNotRoot) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    fs::permissions(folder, fs::perms(0777));
    ASSERT_EQ(::chown(guarded.c_str(), 0, 1234), 0);
    fs::permissions(guarded, fs::perms(0664));
    using testing_support::AnswerAs;
    auto opened_as = [&](const std::vector<gid_t>& groups, bool make) {
        return AnswerAs(4321, groups, [&] {
            xio::LockFileSpec s = spec(xio::LockKind::Writers, make);
            s.mustWrite = make;
            const xio::LockFileOpened o = xio::open_lock_file(s);
            struct stat st {};
            ::fstat(o.fd, &st);
            return o.fd < 0 ? "refused: " + o.why
                            : std::string(o.writable ? "writable" : "for reading: " + o.writeWhy) + ", group " +
                                  std::to_string(st.st_gid);
        });
    };
    EXPECT_EQ(opened_as({4321, 1234}, true), "writable, group 1234");
    EXPECT_EQ(stat_of(lockFile()).st_mode & 07777, 0660u);

    fs::remove(lockFile());
    std::ofstream(lockFile()).flush();
    fs::permissions(lockFile(), fs::perms(0600));  // root's, narrower than what it guards
    const ino_t rootsInode = stat_of(lockFile()).st_ino;
    const std::string name = lockFile().string();
    const pid_t holder = spawn_holder([&] {
        const int fd = ::open(name.c_str(), O_RDWR);
        return fd >= 0 && ::flock(fd, LOCK_SH) == 0;
    });
    ASSERT_GT(holder, 0);
    // Not to be locked by this user, and held by one it is for: never replaced from under them.
    EXPECT_EQ(opened_as({4321, 1234}, true),
              "refused: is held by process " + std::to_string(holder) + " of user root, a program reading it");
    EXPECT_EQ(stat_of(lockFile()).st_ino, rootsInode);
    kill_and_reap(holder);
    EXPECT_EQ(opened_as({4321}, true), "refused: cannot be opened: Permission denied");
    EXPECT_EQ(stat_of(lockFile()).st_ino, rootsInode);
    fs::permissions(lockFile(), fs::perms(0644));
    EXPECT_EQ(opened_as({4321}, false), "for reading: cannot be opened for writing: Permission denied, group 0");
    EXPECT_EQ(opened_as({4321}, true), "refused: cannot be opened: Permission denied");  // a writer never reads only
    EXPECT_EQ(stat_of(lockFile()).st_ino, rootsInode);
    // Held by nobody, and readable, it is locked (for reading is enough) and so made afresh by one
    // who may write what it guards.
    EXPECT_EQ(opened_as({4321, 1234}, true), "writable, group 1234");
    EXPECT_NE(stat_of(lockFile()).st_ino, rootsInode);
}


// Three programs take turns under the lock while a fourth keeps widening the lock file, so that it
// is made afresh again and again: no two ever hold it at once (every turn adds one to a count
// that a turn read and wrote back with a pause between), and no turn ends without the lock.
TEST_F(LockFileTest, ProgramsTakingTurnsWhileTheLockFileIsRemadeNeverHoldItTogether) {
    fs::permissions(guarded, fs::perms(0644));
    const fs::path count = folder / "count";
    for (const xio::LockKind kind : {xio::LockKind::Writers, xio::LockKind::DataFile}) {
        SCOPED_TRACE(kind == xio::LockKind::DataFile ? "a data file's writer lock" : "the settings' lock");
        std::ofstream(count) << 0;
        const xio::LockFileSpec s = spec(kind);
        // A data file's lock file is the one its writers use: ".<name>.locks" beside it.
        const fs::path lock = kind == xio::LockKind::DataFile ? xio::lock_file_path(guarded) : lockFile();
        constexpr int kTurns = 60;
        auto turns = [&] {
            // However loaded the machine: a turn fails by never having the lock, not by its time.
            constexpr auto kGenerous = std::chrono::minutes(5);
            xio::set_lock_wait_for_tests(kGenerous);
            for (int turn = 0; turn < kTurns; ++turn) {
                int fd = -1;
                std::unique_ptr<xio::LockTable> table;
                if (kind == xio::LockKind::DataFile) {
                    table = std::make_unique<xio::LockTable>(guarded, 1);
                    const auto until = std::chrono::steady_clock::now() + kGenerous;
                    while (table->open() != XIO_OK || table->acquire('W', "") != XIO_OK) {
                        if (std::chrono::steady_clock::now() > until) return false;
                        table = std::make_unique<xio::LockTable>(guarded, 1);
                        ::usleep(200);
                    }
                } else {
                    xio::LockWaitFailure failure;
                    if ((fd = xio::take_lock_file(s, true, failure)) < 0) {
                        std::cerr << failure.cause << "\n";
                        return false;
                    }
                }
                int n = 0;
                std::ifstream(count) >> n;
                ::usleep(100);
                std::ofstream(count) << n + 1;
                table.reset();
                if (fd >= 0) ::close(fd);
                ::usleep(2000);  // the others' turn: a waiter looks again only every few milliseconds
            }
            return true;
        };
        std::vector<pid_t> workers;
        for (int i = 0; i < 3; ++i) {
            const pid_t p = ::fork();
            if (p == 0) ::_exit(turns() ? 0 : 1);
            workers.push_back(p);
        }
        const pid_t widener = ::fork();
        if (widener == 0)
            for (;;) {
                ::chmod(lock.c_str(), 0666);
                ::usleep(1000);
            }
        for (const pid_t p : workers) {
            int status = 0;
            ::waitpid(p, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a turn ended without the lock";
        }
        kill_and_reap(widener);
        int n = 0;
        std::ifstream(count) >> n;
        EXPECT_EQ(n, 3 * kTurns);
    }
}

// Whom the holders of a lock file found unfitting keep it for: a holder it is for keeps it as it
// is (by the owner's, the group's or the others' write bit of what it guards); an outsider's
// lock, or one that names no process (an open file description's), is judged so too.
TEST_F(LockFileTest, ItsHoldersAreJudgedByTheWriteBitsOfWhatItGuards) {
    {
        SCOPED_TRACE("an open file description's lock, which names no process");
        std::ofstream(lockFile()).flush();
        fs::permissions(lockFile(), fs::perms(0666));
        const int ofd = ::open(lockFile().c_str(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_RDLCK;
        fl.l_whence = SEEK_SET;
        ASSERT_EQ(::fcntl(ofd, F_OFD_SETLK, &fl), 0);
        const ino_t old = stat_of(lockFile()).st_ino;
        ::close(xio::open_lock_file(spec(xio::LockKind::DataFile)).fd);
        EXPECT_EQ(stat_of(lockFile()).st_ino, old);
        ::close(ofd);
    }
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to hold it as other users";
    ASSERT_EQ(::chown(guarded.c_str(), 1234, 1234), 0);
    const struct {
        const char* who;
        uid_t uid;
        std::vector<gid_t> groups;
        mode_t guardedMode;
        bool kept;
    } cases[] = {
        {"its owner, who may write it", 1234, {1234}, 0644, true},
        {"its owner, who may not", 1234, {1234}, 0444, false},
        {"a member of its group, who may", 4321, {4321, 1234}, 0664, true},
        {"a member of its group, who may not", 4321, {4321, 1234}, 0646, false},
        {"another, who may", 4321, {4321}, 0646, true},
        {"another, who may not", 4321, {4321}, 0664, false},
        {"root, whatever the bits", 0, {0}, 0660, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.who);
        fs::remove(lockFile());
        std::ofstream(lockFile()).flush();
        fs::permissions(lockFile(), fs::perms(0666));
        fs::permissions(guarded, fs::perms(c.guardedMode));
        const std::string name = lockFile().string();
        const pid_t holder = spawn_holder([&] {
            const int fd = ::open(name.c_str(), O_RDWR);
            return ::setgroups(c.groups.size(), c.groups.data()) == 0 && ::setgid(c.groups[0]) == 0 &&
                   ::setuid(c.uid) == 0 && fd >= 0 && ::flock(fd, LOCK_SH) == 0;
        });
        ASSERT_GT(holder, 0);
        const ino_t old = stat_of(lockFile()).st_ino;
        ::close(xio::open_lock_file(spec(xio::LockKind::Writers)).fd);
        kill_and_reap(holder);
        EXPECT_EQ(stat_of(lockFile()).st_ino == old, c.kept);
    }
}

// Made once, a lock file stays as it is, whoever opens it next: one its maker could not give the
// group it wants (a group-readable data file whose group they are not in) goes without the
// group's bits; one of the right mode that an ACL entry keeps a member from opening is left.
TEST_F(LockFileTest, MadeOnceItStaysWhoeverOpensItNext) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    fs::permissions(folder, fs::perms(0777));
    using testing_support::AnswerAs;
    auto opened_as = [&](uid_t uid, const std::vector<gid_t>& groups) {
        return AnswerAs(uid, groups, [&] {
            const xio::LockFileOpened o = xio::open_lock_file(spec(xio::LockKind::DataFile));
            ::close(o.fd);
            return o.fd < 0 ? o.why : "opened";
        });
    };
    ASSERT_EQ(::chown(guarded.c_str(), 4321, 1234), 0);
    fs::permissions(guarded, fs::perms(0640));
    ASSERT_EQ(opened_as(4321, {4321}), "opened");
    const int made = ::open(lockFile().c_str(), O_RDONLY);  // its inode is no other file's meanwhile
    EXPECT_EQ(stat_of(lockFile()).st_mode & 07777, 0600u);
    EXPECT_EQ(opened_as(4321, {4321}), "opened");
    ::close(xio::open_lock_file(spec(xio::LockKind::DataFile)).fd);  // root's
    struct stat st {};
    EXPECT_TRUE(::fstat(made, &st) == 0 && st.st_ino == stat_of(lockFile()).st_ino);
    ::close(made);

    fs::remove(lockFile());
    ASSERT_EQ(::chown(guarded.c_str(), 0, 1234), 0);
    fs::permissions(guarded, fs::perms(0660));
    ::close(xio::open_lock_file(spec(xio::LockKind::DataFile)).fd);
    // user::rw-, user:4321:---, group::rw-, mask::rw-, other::---
    std::string acl(4, '\0');
    acl[0] = 2;
    for (const auto& [tag, perm, id] : {std::tuple{1, 6, ~0u}, {2, 0, 4321u}, {4, 6, ~0u}, {0x10, 6, ~0u}, {0x20, 0, ~0u}}) {
        const uint16_t te[2] = {static_cast<uint16_t>(tag), static_cast<uint16_t>(perm)};
        acl.append(reinterpret_cast<const char*>(te), sizeof te).append(reinterpret_cast<const char*>(&id), sizeof id);
    }
    if (::setxattr(lockFile().c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "no ACLs here: " << std::strerror(errno);
    const ino_t fitting = stat_of(lockFile()).st_ino;
    EXPECT_EQ(opened_as(4321, {4321, 1234}), "cannot be opened: Permission denied");
    EXPECT_EQ(stat_of(lockFile()).st_ino, fitting);
}

// A lock file has no name from the moment it is made until it has its owner, group and mode:
// under a umask that opens new files to the maker's group (a setgid folder's), nobody of that
// group can open it in between, nor, made aside to replace one, its new file.
TEST_F(LockFileTest, ALockFileIsNobodyElsesBeforeItHasItsOwnerGroupAndMode) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    ASSERT_EQ(::chown(folder.c_str(), 0, 1234), 0);
    fs::permissions(folder, fs::perms(02775));
    ASSERT_EQ(::chown(guarded.c_str(), 0, 1234), 0);
    fs::permissions(guarded, fs::perms(0664));
    auto madeAs = [&](uid_t uid) {
        return testing_support::AnswerAs(uid, {uid, 1234}, [&] {
            ::umask(0002);
            std::string seen;
            xio::set_lock_hook_for_tests([&](xio::LockStep step, const std::string& path) {
                struct stat st {};
                if (step == xio::LockStep::Made)
                    seen += ::stat(path.c_str(), &st) != 0 ? "nameless " : (st.st_mode & 0077) == 0 ? "alone " : "open to others ";
            });
            const xio::LockFileOpened o = xio::open_lock_file(spec(xio::LockKind::DataFile));
            ::close(o.fd);
            return seen + (o.fd < 0 ? o.why : "opened");
        });
    };
    EXPECT_EQ(madeAs(4321), "nameless opened");
    EXPECT_EQ(stat_of(lockFile()).st_mode & 07777, 0664u);
    fs::permissions(lockFile(), fs::perms(0600));  // too narrow: made afresh, aside
    EXPECT_EQ(madeAs(4321), "nameless opened");
}

// A data file's lock file made by a member for a file of a group that is not their own takes
// that group; one made by a user who may write the file by an access list entry alone fits as
// they made it: neither is made afresh by the next who opens it.
TEST_F(LockFileTest, AMembersOrAnAccessListWritersLockFileFitsAsMade) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    fs::permissions(folder, fs::perms(0777));
    auto openedAs = [&](uid_t uid, const std::vector<gid_t>& groups) {
        return testing_support::AnswerAs(uid, groups, [&] {
            const xio::LockFileOpened o = xio::open_lock_file(spec(xio::LockKind::DataFile));
            ::close(o.fd);
            return o.fd < 0 ? o.why : "opened";
        });
    };
    ASSERT_EQ(::chown(guarded.c_str(), 0, 1234), 0);
    fs::permissions(guarded, fs::perms(0660));
    ASSERT_EQ(openedAs(4321, {4321, 1234}), "opened");
    EXPECT_EQ(stat_of(lockFile()).st_gid, 1234u);
    EXPECT_EQ(stat_of(lockFile()).st_mode & 07777, 0660u);

    fs::remove(lockFile());
    ASSERT_EQ(::chown(guarded.c_str(), 0, 0), 0);
    // user::rw-, user:4321:rw-, group::r--, mask::rw-, other::---
    std::string acl(4, '\0');
    acl[0] = 2;
    for (const auto& [tag, perm, id] : {std::tuple{1, 6, ~0u}, {2, 6, 4321u}, {4, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 0, ~0u}}) {
        const uint16_t te[2] = {static_cast<uint16_t>(tag), static_cast<uint16_t>(perm)};
        acl.append(reinterpret_cast<const char*>(te), sizeof te).append(reinterpret_cast<const char*>(&id), sizeof id);
    }
    if (::setxattr(guarded.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "no ACLs here: " << std::strerror(errno);
    ASSERT_EQ(openedAs(4321, {4321}), "opened");
    const int made = ::open(lockFile().c_str(), O_RDONLY);  // its inode is no other file's meanwhile
    EXPECT_EQ(stat_of(lockFile()).st_uid, 4321u);
    EXPECT_EQ(openedAs(4321, {4321}), "opened");
    ::close(xio::open_lock_file(spec(xio::LockKind::DataFile)).fd);  // root's
    struct stat st {};
    EXPECT_TRUE(::fstat(made, &st) == 0 && st.st_ino == stat_of(lockFile()).st_ino);
    ::close(made);
}

// A data file's lock file carries its access list: nobody the list keeps from writing the file
// may open it for writing (a member named read-only may still open it to show presence), whoever
// made it; one made by its bits alone, before, is made afresh once, and one that fits is kept at
// every open; one a writer the list names made keeps the file's owner able to lock it.
TEST_F(LockFileTest, ADataFilesLockFileCarriesItsAccessList) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    const uid_t owner = 4323, member = 4321, writer = 4322;
    const gid_t group = 1234;
    fs::permissions(folder, fs::perms(0777));
    ASSERT_EQ(::chown(guarded.c_str(), owner, group), 0);
    if (!set_acl(guarded, {{kUserObj, 6, kAny}, {kUser, 4, member}, {kUser, 6, writer}, {kGroupObj, 4, kAny},
                           {kMask, 6, kAny}, {kOther, 4, kAny}}))
        GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
    auto opened_as = [&](uid_t uid) {
        return testing_support::AnswerAs(uid, {uid, group}, [&] {
            xio::LockFileSpec s = spec(xio::LockKind::DataFile);
            s.mustWrite = false;
            const xio::LockFileOpened o = xio::open_lock_file(s);
            ::close(o.fd);
            return o.fd < 0 ? o.why : o.writable ? "opened" : "opened to read";
        });
    };
    auto fitting = [&](uid_t opener) {
        const ino_t was = stat_of(lockFile()).st_ino;
        return (opener == 0 ? (::close(xio::open_lock_file(spec(xio::LockKind::DataFile)).fd), "opened")
                            : opened_as(opener)) == std::string("opened") &&
               stat_of(lockFile()).st_ino == was;
    };
    std::ofstream(lockFile()).flush();
    ASSERT_EQ(::chown(lockFile().c_str(), owner, group), 0);
    fs::permissions(lockFile(), fs::perms(0664));
    const ino_t before = stat_of(lockFile()).st_ino;
    ASSERT_EQ(opened_as(writer), "opened");
    EXPECT_NE(stat_of(lockFile()).st_ino, before);
    EXPECT_EQ(xio::access_list(lockFile().string())->words(),
              "user::rw-,user:4321:r--,user:4322:rw-,user:4323:rw-,group::r--,mask::rw-,other::r--");
    EXPECT_TRUE(fitting(0));
    EXPECT_TRUE(fitting(owner));
    EXPECT_TRUE(fitting(writer));
    EXPECT_EQ(opened_as(member), "opened to read");
    ::unlink(lockFile().c_str());
    ::close(xio::open_lock_file(spec(xio::LockKind::DataFile)).fd);  // root's, the owner's
    EXPECT_EQ(xio::access_list(lockFile().string())->words(),
              "user::rw-,user:4321:r--,user:4322:rw-,group::r--,mask::rw-,other::r--");
    EXPECT_EQ(stat_of(lockFile()).st_uid, owner);
    EXPECT_EQ(opened_as(member), "opened to read");
}

// The settings' lock carries the writers of company.toml's access list alone: a member the list
// keeps out may not open it, and their hold of one made before (opened while it was wider) is
// said at once with an administrator's step, never waited for. One of another owner that a
// writer may not open at all is made afresh by them; where a sticky folder keeps it for its
// owner, it is said as that, naming the owner, and a look foretells it without making anything.
TEST_F(LockFileTest, TheSettingsLockIsOpenToTheSettingsWritersAlone) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    const uid_t writer = 4321, member = 4322;
    const gid_t group = 1234;
    fs::permissions(folder, fs::perms(0777));
    ASSERT_EQ(::chown(guarded.c_str(), 0, group), 0);
    if (!set_acl(guarded, {{kUserObj, 6, kAny}, {kUser, 6, writer}, {kGroupObj, 4, kAny}, {kMask, 6, kAny}, {kOther, 4, kAny}}))
        GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
    const auto takenAs = [&](uid_t uid) {
        return testing_support::AnswerAs(uid, {uid, group}, [&] {
            xio::LockWaitFailure failure;
            const int fd = xio::take_lock_file(spec(xio::LockKind::Writers), true, failure);
            ::close(fd);
            return fd >= 0 ? std::string("locked")
                           : failure.cause + " | " + (failure.next.args.empty() ? "" : failure.next.args.back()) + " | " +
                                 std::to_string(static_cast<int>(failure.next.step));
        });
    };
    const auto plant = [&] {
        fs::remove(lockFile());
        std::ofstream(lockFile()).flush();  // root's, 0600: the writer may not open it at all
        fs::permissions(lockFile(), fs::perms(0600));
        return stat_of(lockFile()).st_ino;
    };
    const ino_t planted = plant();
    EXPECT_EQ(takenAs(writer), "locked");
    EXPECT_NE(stat_of(lockFile()).st_ino, planted);
    EXPECT_EQ(stat_of(lockFile()).st_uid, writer);
    const std::string list = xio::access_list(lockFile().string())->words();
    EXPECT_THAT(list, AllOf(HasSubstr("user:4321:rw-"), HasSubstr("group::---"), HasSubstr("other::---")));
    EXPECT_THAT(takenAs(member), HasSubstr("cannot be opened: Permission denied"));

    // Made before it carried the list, and held by the member the list keeps out.
    ASSERT_EQ(::removexattr(lockFile().c_str(), "system.posix_acl_access"), 0);
    fs::permissions(lockFile(), fs::perms(0666));
    const std::string name = lockFile().string();
    const pid_t holder = spawn_holder([&] {
        const int fd = ::open(name.c_str(), O_RDWR);
        return ::setgroups(1, &group) == 0 && ::setgid(group) == 0 && ::setuid(member) == 0 && fd >= 0 &&
               ::flock(fd, LOCK_EX) == 0;
    });
    ASSERT_GT(holder, 0);
    EXPECT_THAT(takenAs(writer), AllOf(HasSubstr("which is none of the programs it is for"),
                                       HasSubstr(std::to_string(static_cast<int>(ui::Step::EndLockHolder)))));
    kill_and_reap(holder);

    // In a sticky folder the writer may not replace root's: said, and foretold alike.
    fs::permissions(folder, fs::perms(01777));
    const ino_t kept = plant();
    const std::string refused = takenAs(writer);
    EXPECT_THAT(refused, AllOf(HasSubstr("is a file of root (uid 0) (mode 0600)"), HasSubstr("sticky folder"),
                               HasSubstr("root (uid 0) | " + std::to_string(static_cast<int>(ui::Step::RemoveLockFile)))));
    EXPECT_EQ(testing_support::AnswerAs(writer, {writer, group}, [&] {
                  const xio::LockFileOpened o = xio::foretell_lock_file(spec(xio::LockKind::Writers));
                  return o.fd < 0 ? o.why : "serves";
              }),
              refused.substr(refused.find(" is a file of") + 1, refused.find(" | ") - refused.find(" is a file of") - 1));
    fs::permissions(folder, fs::perms(0777));
    EXPECT_EQ(testing_support::AnswerAs(writer, {writer, group}, [&] {
                  const xio::LockFileOpened o = xio::foretell_lock_file(spec(xio::LockKind::Writers));
                  return o.fd < 0 ? o.why : "serves";
              }),
              "serves");
    EXPECT_EQ(stat_of(lockFile()).st_ino, kept);
}

// What another process answers, from a table of its own on the data file `guarded`.
int answer_elsewhere(const fs::path& guarded, const std::function<int(xio::LockTable&)>& ask) {
    const pid_t child = ::fork();
    if (child == 0) {
        xio::LockTable table(guarded, 9);
        ::_exit(table.open() == XIO_OK ? ask(table) : 100);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A data file's locks as its tables answer them: another handle's record lock is held by another
// (but by no other program); a lock another program holds is refused without an error; only the
// writer lock lets record locks stay out of the kernel (a header lock does not: another program
// meets them); a write lock on the presence byte alone refuses an open at once.
TEST_F(LockFileTest, ATablesLocksAreMetByOtherHandlesAndPrograms) {
    fs::permissions(guarded, fs::perms(0644));
    xio::set_lock_wait_for_tests(std::chrono::seconds(3));
    {
        xio::LockTable one(guarded, 1), two(guarded, 2);
        ASSERT_EQ(one.open(), XIO_OK) << one.error();
        ASSERT_EQ(two.open(), XIO_OK) << two.error();
        ASSERT_EQ(one.acquireRecord(1, 5), XIO_OK);
        EXPECT_TRUE(two.heldByOther('R', "1:5"));
        EXPECT_FALSE(two.heldByOther('R', "1:5", true));
        EXPECT_FALSE(one.heldByOther('R', "1:5"));
        ASSERT_EQ(one.acquire('H', "1"), XIO_OK);
        ASSERT_EQ(one.acquireRecord(1, 6), XIO_OK);  // under a header lock, not the writer's: in the kernel
        EXPECT_EQ(answer_elsewhere(guarded, [](xio::LockTable& t) {
                      return t.acquireRecord(1, 6) == XIO_LOCKED && t.error().empty() ? 0 : 1;
                  }), 0);
        EXPECT_EQ(answer_elsewhere(guarded, [](xio::LockTable& t) {
                      return t.acquire('H', "1") == XIO_LOCKED && t.error().empty() ? 0 : 1;
                  }), 0);
        // Let go by a handle that does not hold it: it stays the holder's, in the kernel too.
        two.release('H', "1");
        EXPECT_EQ(answer_elsewhere(guarded, [](xio::LockTable& t) { return t.acquire('H', "1") == XIO_LOCKED ? 0 : 1; }), 0);
        // Let go while another handle keeps the lock file open: the kernel lets the byte go too.
        one.releaseAll();
        EXPECT_EQ(answer_elsewhere(guarded, [](xio::LockTable& t) { return t.acquireRecord(1, 6); }), XIO_OK);
    }
    const std::string name = xio::lock_file_path(guarded).string();
    // Let go a minute later, and the wait would outlast that: an open that waited for the byte
    // rather than refused would have it.
    const pid_t holder = spawn_holder_for(60, [&] {
        const int fd = ::open(name.c_str(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = static_cast<off_t>(1ull << 62);
        fl.l_len = 1;
        return fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0;
    });
    ASSERT_GT(holder, 0);
    xio::set_lock_wait_for_tests(std::chrono::minutes(10));
    {
        xio::LockTable refused(guarded, 1);
        EXPECT_EQ(refused.open(), XIO_LOCKED);
        // Said with its holder and what to do, never a bare errno.
        EXPECT_THAT(refused.error(), HasSubstr("the lock file " + name + " is held for writing by process " +
                                               std::to_string(holder) + " of user "));
        EXPECT_EQ(refused.next().step, ui::Step::AgainWhenFinished);
    }
    // Made afresh between an open and its presence: refused there, it goes to the new file, whose
    // byte nobody holds.
    bool remade = false;
    xio::set_lock_hook_for_tests([&](xio::LockStep step, const std::string&) {
        if (step != xio::LockStep::Opened || std::exchange(remade, true)) return;
        std::ofstream(name + ".other").flush();
        fs::permissions(name + ".other", fs::perms(0644));
        fs::rename(name + ".other", name);
    });
    xio::LockTable moved(guarded, 1);
    EXPECT_EQ(moved.open(), XIO_OK) << moved.error();
    xio::set_lock_hook_for_tests(nullptr);
    kill_and_reap(holder);
    EXPECT_TRUE(remade);
}

// Whoever holds a data file's lock file whole (a program's lockf over it), but for a replacer's
// moment of making it afresh, is said at once, never waited out: its holder, that it writes, and
// a step: wait for one who may write the data file; an administrator ends one who may not.
TEST_F(LockFileTest, ALockFileHeldWholeIsSaidAtOnceWithItsHolderAndAStep) {
    fs::permissions(guarded, fs::perms(0644));
    const std::string name = xio::lock_file_path(guarded).string();
    {
        xio::LockTable made(guarded, 1);
        ASSERT_EQ(made.open(), XIO_OK) << made.error();
    }
    // Let go a minute later, and the wait would outlast that: an open that waited has the file.
    xio::set_lock_wait_for_tests(std::chrono::minutes(10));
    constexpr uid_t kMe = static_cast<uid_t>(-1);
    for (const auto& [who, uid, step] : {std::tuple{"one who may write the data file", kMe, ui::Step::AgainWhenFinished},
                                         std::tuple{"one who may not, opened while it was wider", uid_t{4321},
                                                    ui::Step::EndLockHolder}}) {
        SCOPED_TRACE(who);
        if (uid != kMe && ::geteuid() != 0) {
            std::cout << "skipped (needs root, to be another user): " << who << "\n";
            continue;
        }
        fs::permissions(name, fs::perms(0666));
        const pid_t holder = spawn_holder_for(60, [&] {
            const int fd = ::open(name.c_str(), O_RDWR);
            return fd >= 0 && ::lockf(fd, F_LOCK, 0) == 0;
        }, uid);
        ASSERT_GT(holder, 0);
        fs::permissions(name, fs::perms(0644));
        xio::LockTable refused(guarded, 2);
        EXPECT_EQ(refused.open(), XIO_LOCKED);
        const std::string named = "process " + std::to_string(holder) + " of user " + (uid == kMe ? "" : "4321");
        EXPECT_THAT(refused.error(), HasSubstr("the lock file " + name + " is held for writing by " + named));
        EXPECT_EQ(refused.next().step, step);
        EXPECT_THAT(refused.next().args, ::testing::Contains(HasSubstr(named)));
        kill_and_reap(holder);
    }
}

// A data file's lock file this user may not open is never replaced by them, held or not: their
// writer is refused, naming it and who may remove it; a look goes on without it.
TEST_F(LockFileTest, ALockFileThisUserCannotOpenIsNeverReplacedByThem) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    fs::permissions(folder, fs::perms(0777));
    ASSERT_EQ(::chown(guarded.c_str(), 0, 1234), 0);
    fs::permissions(guarded, fs::perms(0664));
    const fs::path lock = xio::lock_file_path(guarded);
    std::ofstream(lock).flush();
    ASSERT_EQ(::chown(lock.c_str(), 5555, 5555), 0);  // planted, 0600
    fs::permissions(lock, fs::perms(0600));
    const ino_t planted = stat_of(lock).st_ino;
    xio::set_lock_wait_for_tests(std::chrono::milliseconds(300));
    EXPECT_EQ(testing_support::AnswerAs(4321, {4321, 1234}, [&] {
                  xio::LockTable look(guarded, 1);
                  if (look.open(xio::LockUse::Look) != XIO_OK) return "look refused: " + look.error();
                  xio::LockTable table(guarded, 2);
                  if (table.open() == XIO_OK) return std::string("opened");
                  const ui::NextStep& next = table.next();
                  return "refused: " + table.error() + " | " +
                         (next.step == ui::Step::RemoveLockFile ? next.args.at(0) + " of " + next.args.at(1) : "no step");
              }),
              "refused: the lock file " + lock.string() + " cannot be opened: Permission denied | " + lock.string() +
                  " of uid 5555");
    EXPECT_EQ(stat_of(lock).st_ino, planted);
}

// A data file's lock file a writer may only read (another member's, put in its place) gives no
// write lock through what the writer can open. The writer makes it afresh at once, under the
// shared lock, where it may rename over it; where it may not (a sticky folder of another), it is
// told at once whose the lock file is and who removes it; where one it is for shows presence (a
// look of root's), it is told at once who, that it reads, and to wait for it. Never a wait.
TEST_F(LockFileTest, ADataFilesLockFileAWriterMayOnlyReadIsMadeAfreshOrSaidAtOnce) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    ASSERT_EQ(::chown(folder.c_str(), 0, 1234), 0);
    ASSERT_EQ(::chown(guarded.c_str(), 4321, 1234), 0);
    fs::permissions(guarded, fs::perms(0644));
    const fs::path lock = xio::lock_file_path(guarded);
    xio::set_lock_wait_for_tests(std::chrono::milliseconds(300));
    for (const bool sticky : {false, true}) {
        SCOPED_TRACE(sticky ? "in a sticky folder of root's" : "in a folder the writer may write");
        fs::permissions(folder, fs::perms(sticky ? 01775 : 0775));
        fs::remove(lock);
        std::ofstream(lock) << "x";
        ASSERT_EQ(::chown(lock.c_str(), 5555, 1234), 0);
        fs::permissions(lock, fs::perms(0644));
        const ino_t planted = stat_of(lock).st_ino;
        const std::string answer = testing_support::AnswerAs(4321, {4321, 1234}, [&] {
            xio::LockTable table(guarded, 1);
            if (table.open() == XIO_OK && table.acquire('W', "") == XIO_OK) return std::string("locked");
            const ui::NextStep& next = table.next();
            return "refused: " + table.error() + " | " +
                   (next.step == ui::Step::RemoveLockFile ? next.args.at(0) + " of " + next.args.at(1) : "no step");
        });
        if (sticky) {
            // What it is, not a bare errno: it cannot be in use, as nobody holds it.
            EXPECT_EQ(answer, "refused: the lock file " + lock.string() + " is a file of uid 5555 (mode 0644) that "
                              "this user may not open for writing, and the sticky folder " + folder.string() +
                              " (mode 1775) lets only its owner, the folder's owner and an administrator replace it | " +
                              lock.string() + " of uid 5555");
            EXPECT_EQ(stat_of(lock).st_ino, planted);
        } else {
            EXPECT_EQ(answer, "locked");
            EXPECT_NE(stat_of(lock).st_ino, planted);
            EXPECT_EQ(stat_of(lock).st_uid, 4321u);
            SCOPED_TRACE("planted again, a look of root's present on it: said at once, waited for");
            fs::remove(lock);
            std::ofstream(lock) << "x";
            ASSERT_EQ(::chown(lock.c_str(), 5555, 1234), 0);
            fs::permissions(lock, fs::perms(0644));
            const ino_t replanted = stat_of(lock).st_ino;
            xio::LockTable look(guarded, 9);
            ASSERT_EQ(look.open(xio::LockUse::Look), XIO_OK);
            const std::string root = "process " + std::to_string(::getpid()) + " of user root";
            EXPECT_EQ(testing_support::AnswerAs(4321, {4321, 1234}, [&] {
                          xio::LockTable table(guarded, 1);
                          if (table.open() == XIO_OK) return std::string("opened");
                          const ui::NextStep& next = table.next();
                          return table.error() + " | " + (next.args.empty() ? "no step" : next.args.front());
                      }),
                      "the lock file " + lock.string() + " is held by " + root + ", a program reading it | " + root);
            EXPECT_EQ(stat_of(lock).st_ino, replanted);
        }
    }
}

// A program started with its standard input closed gets descriptor 0 for the first file it
// opens: a lock file opened, or refitted, on it is used like any other, and nothing is left open.
TEST_F(LockFileTest, DescriptorZeroIsALockFileLikeAnyOther) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    fs::permissions(folder, fs::perms(0777));
    ASSERT_EQ(::chown(guarded.c_str(), 0, 1234), 0);
    fs::permissions(guarded, fs::perms(0664));
    // Opened by user 4321 of `groups` with descriptor 0 free, the folder already open.
    auto opened_as = [&](const std::vector<gid_t>& groups, bool make) {
        return testing_support::AnswerAs(4321, groups, [&] {
            xio::LockFileSpec s = spec(xio::LockKind::Writers, make);
            s.mustWrite = make;
            s.dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
            ::close(0);
            const xio::LockFileOpened o = xio::open_lock_file(s);
            return o.fd < 0 ? "refused: " + o.why : o.writable ? "writable" : "for reading";
        });
    };
    auto planted = [&](mode_t mode) {
        fs::remove(lockFile());
        std::ofstream(lockFile()).flush();  // root's
        fs::permissions(lockFile(), fs::perms(mode));
    };
    planted(0602);  // one who may write what it guards can open it for writing only: locked so, made afresh
    EXPECT_EQ(opened_as({4321, 1234}, true), "writable");
    planted(0644);
    EXPECT_EQ(opened_as({4321}, false), "for reading");
    fs::remove(lockFile());  // made, at descriptor 0
    EXPECT_EQ(opened_as({4321, 1234}, true), "writable");

    // Held only by an outsider who opened it while it was wider: made afresh under a look at the
    // folder that takes descriptor 0, and given back.
    fs::permissions(guarded, fs::perms(0644));
    planted(0666);
    const std::string name = lockFile().string();
    const pid_t outsider = spawn_holder([&] {
        const int fd = ::open(name.c_str(), O_RDWR);
        return fd >= 0 && ::flock(fd, LOCK_SH) == 0;
    }, 4321);
    ASSERT_GT(outsider, 0);
    fs::permissions(lockFile(), fs::perms(0600));
    const ino_t old = stat_of(lockFile()).st_ino;
    EXPECT_EQ(testing_support::AnswerAs(0, {0}, [&] {
                  ::close(0);
                  xio::LockWaitFailure failure;
                  const int fd = xio::take_lock_file(spec(xio::LockKind::Writers), true, failure);
                  if (fd < 0) return "refused: " + failure.cause;
                  ::close(fd);
                  return std::string(::fcntl(0, F_GETFD) == -1 ? "taken" : "taken, descriptor 0 left open");
              }),
              "taken");
    kill_and_reap(outsider);
    EXPECT_NE(stat_of(lockFile()).st_ino, old);
}

}  // namespace
}  // namespace dz::test
