// Lock files as every lock of the program makes and keeps them: fitted to what they guard by
// making them afresh (so that a descriptor opened before locks nothing), never by a look, and a
// bounded wait that ends naming the lock file and why.
#include "platform/datafile/lock_file.h"
#include "support.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace dz::test {
namespace {

namespace fs = std::filesystem;
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
    } cases[] = {
        {"narrower than the group-writable file it guards", xio::LockKind::Writers, 0664, 0600, kMe, kMe, true, 0660, true},
        {"wider than the file it guards gives writers", xio::LockKind::Writers, 0644, 0666, kMe, kMe, true, 0600, true},
        {"a data file's: reading shows presence", xio::LockKind::DataFile, 0640, 0666, kMe, kMe, true, 0640, true},
        {"a backup folder's, widened", xio::LockKind::OwnerOnly, 0644, 0644, kMe, kMe, true, 0600, true},
        {"as it should be: kept", xio::LockKind::Writers, 0664, 0660, kMe, kMe, true, 0660, false},
        {"missing: made", xio::LockKind::Writers, 0666, 0, kMe, kMe, true, 0666, true},
        {"a look uses it as it is", xio::LockKind::Writers, 0644, 0666, kMe, kMe, false, 0666, false},
        {"of an owner who may not write what it guards", xio::LockKind::Writers, 0664, 0660, 4321, 1234, true, 0660, true},
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
                ASSERT_EQ(::chown(lockFile().c_str(), c.foundOwner, c.foundOwner), 0);
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
}

TEST_F(LockFileTest, ALookMakesNoLockFile) {
    const xio::LockFileOpened opened = xio::open_lock_file(spec(xio::LockKind::DataFile, false));
    EXPECT_EQ(opened.fd, -1);
    EXPECT_EQ(opened.error, ENOENT);
    EXPECT_FALSE(fs::exists(lockFile()));
}

// A wait that ends says the lock file and its cause, and the next step as a value.
TEST_F(LockFileTest, AWaitThatEndsNamesTheLockFileAndWhy) {
    fs::permissions(guarded, fs::perms(0644));
    {
        SCOPED_TRACE("held by a program that reads it");
        const std::string name = lockFile().string();
        const pid_t holder = spawn_holder([&] {
            const int fd = ::open(name.c_str(), O_RDWR | O_CREAT, 0600);
            return fd >= 0 && ::flock(fd, LOCK_SH) == 0;
        });
        ASSERT_GT(holder, 0);
        xio::set_lock_wait_for_tests(std::chrono::milliseconds(200));
        xio::LockWaitFailure failure;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(xio::take_lock_file(spec(xio::LockKind::Writers), true, failure), -1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
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

}  // namespace
}  // namespace dz::test
