// One holder per lock, whoever remakes its lock file: each window of taking a lock (between the
// open, the lock, the look at the name, and the replacer's look, lock, rename and release) driven
// by two programs in either order through the test hook, never by load.
#include "platform/datafile/lock_file.h"
#include "support.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <map>

namespace dz::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using xio::LockKind;
using xio::LockStep;

// A program of its own (a child process): it runs `body`, stopping at each of `stops` (the nth
// time the lock file code reaches a step) and where `body` calls Program::here(), until let go.
// What `body` answers comes back; the program then keeps whatever it holds until it is ended.
// It waits `wait` for a lock, counted from before any stop.
class Program {
public:
    Program(std::vector<std::pair<LockStep, int>> stops, std::function<std::string()> body,
            std::chrono::milliseconds wait = std::chrono::milliseconds(400)) {
        if (::pipe(up_) != 0 || ::pipe(down_) != 0) return;
        pid_ = ::fork();
        if (pid_ != 0) return;
        std::map<LockStep, int> seen;
        stop_ = [this] {
            (void)!::write(up_[1], "S", 1);
            char c;
            (void)!::read(down_[0], &c, 1);
        };
        xio::set_lock_hook_for_tests([&](LockStep s, const std::string&) {
            const int n = ++seen[s];
            if (std::find(stops.begin(), stops.end(), std::make_pair(s, n)) != stops.end()) stop_();
        });
        xio::set_lock_wait_for_tests(wait);
        const std::string answer = "E" + body() + "\n";
        xio::set_lock_hook_for_tests(nullptr);
        (void)!::write(up_[1], answer.data(), answer.size());
        for (;;) ::pause();
    }
    Program(LockStep step, int nth, std::function<std::string()> body,
            std::chrono::milliseconds wait = std::chrono::milliseconds(400))
        : Program({{step, nth}}, std::move(body), wait) {}
    ~Program() {
        if (pid_ > 0) kill_and_reap(pid_);
        for (int fd : {up_[0], up_[1], down_[0], down_[1]}) ::close(fd);
    }
    // Called by a body: stops there until let go.
    static void here() { stop_(); }
    // Whether it stopped where it was told to (waiting for it); false when it answered first.
    bool stopped() {
        if (!next_) (void)!::read(up_[0], &next_, 1);
        return next_ == 'S';
    }
    // Lets it go on from where it stopped.
    void go() {
        (void)!::write(down_[1], "g", 1);
        next_ = 0;
    }
    // Lets it go on to its end and answers what its body answered.
    std::string answer() {
        while (stopped()) go();
        std::string text;
        for (char c; ::read(up_[0], &c, 1) == 1 && c != '\n';) text += c;
        return text;
    }
    pid_t pid() const { return pid_; }

private:
    static inline std::function<void()> stop_;
    pid_t pid_ = -1;
    int up_[2] = {-1, -1}, down_[2] = {-1, -1};
    char next_ = 0;
};

class LockWindows : public ::testing::Test {
protected:
    void SetUp() override {
        folder = make_temp_dir();
        fs::permissions(folder, fs::perms(0755));
        guarded = folder / "MASTER.TST";
        std::ofstream(guarded) << "x";
        fs::permissions(guarded, fs::perms(0644));
        xio::set_lock_wait_for_tests(std::chrono::milliseconds(400));
    }
    void TearDown() override {
        xio::set_lock_wait_for_tests(std::chrono::seconds(10));
        tables.clear();
        for (int fd : fds) ::close(fd);
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    // The lock file of `kind`: the settings' kind beside what it guards, or a data file's.
    fs::path lock(LockKind kind) const { return kind == LockKind::DataFile ? xio::lock_file_path(guarded) : folder / "x.locks"; }
    // Takes the lock every writer takes (an exclusive flock; a data file's presence and writer's
    // byte), keeping it: "held", or "refused" and why.
    std::string take(LockKind kind) {
        if (kind == LockKind::DataFile) {
            auto& table = tables.emplace_back(std::make_unique<xio::LockTable>(guarded, static_cast<int64_t>(tables.size() + 1)));
            return table->open() == XIO_OK && table->acquire('W', "") == XIO_OK ? "held" : "refused: " + table->error();
        }
        xio::LockFileSpec s;
        s.folder = folder.string();
        s.name = "x.locks";
        s.kind = kind;
        s.guarded = guarded.string();
        xio::LockWaitFailure failure;
        const int fd = xio::take_lock_file(s, true, failure);
        if (fd < 0) return "refused: " + failure.cause;
        fds.push_back(fd);
        return "held";
    }
    // Lets go of every lock taken here.
    void release() {
        tables.clear();
        for (int fd : std::exchange(fds, {})) ::close(fd);
    }
    // Shows presence only (a data file opened, not written).
    std::string show() {
        auto& table = tables.emplace_back(std::make_unique<xio::LockTable>(guarded, static_cast<int64_t>(tables.size() + 1)));
        return table->open() == XIO_OK ? "present" : "refused: " + table->error();
    }
    // Makes its lock file wider than what it guards, so that the next writer makes it afresh.
    void widen(LockKind kind) const { fs::permissions(lock(kind), fs::perms(0666)); }
    ino_t inode(LockKind kind) const {
        struct stat st {};
        return ::lstat(lock(kind).c_str(), &st) == 0 ? st.st_ino : 0;
    }
    // Whether program `pid` holds a lock on the lock file the name names, as the kernel shows it.
    bool holds(pid_t pid, LockKind kind) const {
        struct stat st {};
        if (::lstat(lock(kind).c_str(), &st) != 0) return false;
        const auto holders = xio::lock_holders(st.st_dev, st.st_ino);
        return std::any_of(holders.begin(), holders.end(), [&](const xio::LockHolder& h) { return h.pid == pid; });
    }

    fs::path folder, guarded;
    std::vector<std::unique_ptr<xio::LockTable>> tables;
    std::vector<int> fds;
};

const char* name_of(LockKind kind) { return kind == LockKind::DataFile ? "a data file's (fcntl)" : "the settings' (flock)"; }

// Opened before the lock file is made afresh and locked after: the lock goes to the new file,
// where its holder is met. Locked first: it is not made afresh under its holder.
TEST_F(LockWindows, AProgramThatOpenedTheOldFileTakesTheNewOne) {
    for (const LockKind kind : {LockKind::Writers, LockKind::DataFile}) {
        SCOPED_TRACE(name_of(kind));
        ASSERT_EQ(take(kind), "held");
        release();
        {
            SCOPED_TRACE("made afresh between the open and the lock");
            // Stopped there for as long as this program takes to make the file afresh, however
            // loaded the machine: a data file's open, which has nothing to wait for, has a wait
            // that outlasts the stop; the settings' lock, held here, is waited for briefly.
            const auto wait = kind == LockKind::DataFile ? std::chrono::milliseconds(std::chrono::minutes(10))
                                                         : std::chrono::milliseconds(400);
            Program other(LockStep::Opened, 1, [&] { return kind == LockKind::DataFile ? show() : take(kind); }, wait);
            ASSERT_TRUE(other.stopped());
            widen(kind);
            const ino_t old = inode(kind);
            EXPECT_EQ(take(kind), "held");
            EXPECT_NE(inode(kind), old);
            if (kind == LockKind::DataFile) {
                EXPECT_EQ(other.answer(), "present");
                EXPECT_TRUE(holds(other.pid(), kind));  // shown on the file every program meets
            } else {
                EXPECT_THAT(other.answer(), HasSubstr("is held by process " + std::to_string(::getpid())));
            }
            release();
        }
        if (kind == LockKind::DataFile) {
            SCOPED_TRACE("made afresh after an open that outlasted the wait");
            // The bound on remakes counts from the first remake met, not from the open: a first
            // remake is always taken again.
            Program other(LockStep::Opened, 1, [&] { return show(); }, std::chrono::milliseconds(0));
            ASSERT_TRUE(other.stopped());
            widen(kind);
            EXPECT_EQ(take(kind), "held");
            release();
            EXPECT_EQ(other.answer(), "present");
            EXPECT_TRUE(holds(other.pid(), kind));
        }
        {
            SCOPED_TRACE("locked before it could be made afresh");
            Program other(LockStep::Locked, 1, [&] { return kind == LockKind::DataFile ? show() : take(kind); });
            ASSERT_TRUE(other.stopped());
            widen(kind);
            const ino_t old = inode(kind);
            const std::string mine = take(kind);
            EXPECT_EQ(other.answer(), kind == LockKind::DataFile ? "present" : "held");
            if (kind == LockKind::Writers) {
                EXPECT_THAT(mine, HasSubstr("is held by process " + std::to_string(other.pid())));
            }
            EXPECT_EQ(inode(kind), old);  // never under one it is for
            release();
        }
    }
}

// The replacer holds the old file's lock from before its look at the name until after the
// rename: a holder met there keeps the lock file as it is; a name changed meanwhile is not
// renamed over; a file made afresh by another since it was judged is not made afresh again.
TEST_F(LockWindows, AReplacerGoesOnOnlyUnderTheOldFilesLockAndWhileTheNameNamesIt) {
    for (const LockKind kind : {LockKind::Writers, LockKind::DataFile}) {
        SCOPED_TRACE(name_of(kind));
        ASSERT_EQ(take(kind), "held");
        release();
        {
            SCOPED_TRACE("held by a writer: waited for, never replaced");
            Program holder(LockStep::Opened, 0, [&] { return take(kind); });
            ASSERT_EQ(holder.answer(), "held");
            widen(kind);
            const ino_t old = inode(kind);
            EXPECT_THAT(take(kind), StartsWith("refused"));
            EXPECT_EQ(inode(kind), old);
            release();
        }
        {
            SCOPED_TRACE("the name given to another file before the rename");
            widen(kind);
            Program replacer(LockStep::BeforeRename, 1, [&] { return take(kind); });
            ASSERT_TRUE(replacer.stopped());
            fs::remove(lock(kind));
            EXPECT_EQ(take(kind), "held");
            const ino_t mine = inode(kind);
            EXPECT_THAT(replacer.answer(), StartsWith("refused"));
            EXPECT_EQ(inode(kind), mine);
            EXPECT_FALSE(fs::exists(lock(kind).string() + ".new" + std::to_string(replacer.pid())));  // its own aside gone
            release();
        }
        {
            SCOPED_TRACE("made afresh by another after it was judged");
            widen(kind);
            Program replacer(LockStep::Unfitting, 1, [&] { return take(kind); });
            ASSERT_TRUE(replacer.stopped());
            EXPECT_EQ(take(kind), "held");
            const ino_t fresh = inode(kind);
            release();
            EXPECT_EQ(replacer.answer(), "held");
            EXPECT_EQ(inode(kind), fresh);
        }
        if (kind == LockKind::Writers) {  // a flock refused is looked at again at once
            SCOPED_TRACE("made afresh from under a holder gone meanwhile, and afresh again before it is locked");
            auto holder = std::make_unique<Program>(LockStep::Opened, 0, [&] { return take(kind); });
            ASSERT_EQ(holder->answer(), "held");
            widen(kind);
            // Its first look finds the holder; its second, when its lock is refused, is stopped.
            Program waiter({{LockStep::Unfitting, 2}, {LockStep::AfterRename, 1}}, [&] { return take(kind); });
            ASSERT_TRUE(waiter.stopped());
            holder.reset();
            waiter.go();
            ASSERT_TRUE(waiter.stopped());
            widen(kind);
            EXPECT_EQ(take(kind), "held");
            release();
            EXPECT_EQ(waiter.answer(), "held");
        }
        {
            SCOPED_TRACE("renamed over, the old lock not yet let go: the new file is anyone's");
            widen(kind);
            Program replacer(LockStep::AfterRename, 1, [&] { return take(kind); });
            ASSERT_TRUE(replacer.stopped());
            EXPECT_EQ(take(kind), "held");
            EXPECT_THAT(replacer.answer(), StartsWith("refused"));
            release();
        }
    }
}

// A data file's: a writer present on the old file keeps it (judged once, under the shared lock,
// though it came after that lock); presence held off by the replacer's lock of every byte waits,
// and is shown on the new file.
TEST_F(LockWindows, APresentWriterKeepsItsLockFileAndPresenceFollowsTheNewOne) {
    const LockKind kind = LockKind::DataFile;
    ASSERT_EQ(show(), "present");
    tables.clear();
    {
        SCOPED_TRACE("present before the replacer looks");
        Program present(LockStep::Opened, 0, [&] { return show(); });
        ASSERT_EQ(present.answer(), "present");
        widen(kind);
        const ino_t old = inode(kind);
        EXPECT_EQ(take(kind), "held");  // on the old file, as it stands
        EXPECT_EQ(inode(kind), old);
        release();
    }
    {
        SCOPED_TRACE("the replacer holds every byte past the presence's usual patience");
        widen(kind);
        Program replacer(LockStep::BeforeRename, 1, [&] { return take(kind); });
        ASSERT_TRUE(replacer.stopped());
        Program present(LockStep::Opened, 0, [&] { return show(); });
        ::usleep(200000);
        EXPECT_EQ(replacer.answer(), "held");
        EXPECT_EQ(present.answer(), "present");
        EXPECT_TRUE(holds(present.pid(), kind));
    }
}

// A lock file that fits, whose exclusive lock another program let go between a replacer's two
// tries, is taken as it stands, never renamed over: nobody seen holding it says nothing, as
// only a lock taken on that very file does.
TEST_F(LockWindows, AFittingLockFileLetGoBetweenTwoTriesIsNeverRenamedOver) {
    const LockKind kind = LockKind::Writers;
    ASSERT_EQ(take(kind), "held");  // made, and fitting
    release();
    const std::string name = lock(kind).string();
    for (const LockStep step : {LockStep::Unfitting, LockStep::OldLocked}) {
        SCOPED_TRACE(step == LockStep::Unfitting ? "let go before the old file's lock is tried"
                                                 : "let go after its exclusive lock was refused");
        const pid_t holder = spawn_holder([&] {
            const int fd = ::open(name.c_str(), O_RDWR);
            return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
        });
        ASSERT_GT(holder, 0);
        const ino_t old = inode(kind);
        Program taker(step, 1, [&] { return take(kind); });
        ASSERT_TRUE(taker.stopped());
        kill_and_reap(holder);
        EXPECT_EQ(taker.answer(), "held");
        EXPECT_EQ(inode(kind), old);
    }
}

// An outsider (a descriptor opened while the lock file was wider) shows presence, so the lock
// file is made afresh under the shared lock: the outsider's later writer's byte and record locks
// land on the old file, are found there, and are taken again on the new one, where they are met.
TEST_F(LockWindows, LocksTakenOnAFileMadeAfreshSinceAreTakenAgainWhereTheNameLeads) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as a user who may not write the data file";
    const LockKind kind = LockKind::DataFile;
    ASSERT_EQ(show(), "present");
    tables.clear();
    widen(kind);
    for (const bool record : {false, true}) {
        SCOPED_TRACE(record ? "a record lock" : "the writer's byte");
        Program outsider(LockStep::Opened, 0, [&] {
            if (::setgid(4321) != 0 || ::setuid(4321) != 0) return std::string("not become");
            xio::LockTable table(guarded, 1);
            if (table.open() != XIO_OK) return "not present: " + table.error();
            Program::here();
            return (record ? table.acquireRecord(1, 5) : table.acquire('W', "")) == XIO_OK ? std::string("held") : "refused";
        });
        ASSERT_TRUE(outsider.stopped());
        const ino_t old = inode(kind);
        ASSERT_EQ(take(kind), "held");
        ASSERT_EQ(tables.back()->acquireRecord(1, 5), XIO_OK);
        EXPECT_NE(inode(kind), old);
        EXPECT_EQ(outsider.answer(), "refused");
        tables.clear();
        widen(kind);
    }
}

// The settings' lock this user may not open (a file of another, planted) is made afresh by one who
// may write what it guards, whoever outside those it is for holds it: their hold keeps nothing.
// Held by one it is for (root), it keeps its name and its holder keeps the lock every program
// meets.
TEST_F(LockWindows, ASettingsLockThisUserCannotOpenIsMadeAfreshUnlessOneItIsForHoldsIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    const LockKind kind = LockKind::Writers;
    fs::permissions(folder, fs::perms(0777));
    ASSERT_EQ(::chown(guarded.c_str(), 0, 1234), 0);
    fs::permissions(guarded, fs::perms(0664));
    auto member = [&] {
        const gid_t groups[] = {4321, 1234};
        return ::setgroups(2, groups) == 0 && ::setgid(4321) == 0 && ::setuid(4321) == 0 ? take(kind) : "not become";
    };
    const std::string name = lock(kind).string();
    for (const uid_t planter : {uid_t{5555}, uid_t{0}}) {
        SCOPED_TRACE(planter);
        fs::remove(lock(kind));
        std::ofstream(lock(kind)).flush();
        ASSERT_EQ(::chown(lock(kind).c_str(), planter, planter), 0);  // 0600
        fs::permissions(lock(kind), fs::perms(0600));
        const ino_t old = inode(kind);
        const pid_t holder = spawn_holder([&] {
            const int fd = ::open(name.c_str(), O_RDWR);
            return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
        }, planter == 0 ? static_cast<uid_t>(-1) : planter);
        ASSERT_GT(holder, 0);
        {
            Program m(LockStep::Opened, 0, member);
            if (planter == 0)
                EXPECT_THAT(m.answer(), HasSubstr("is held by process " + std::to_string(holder) + " of user root"));
            else
                EXPECT_EQ(m.answer(), "held");
        }
        EXPECT_EQ(inode(kind) == old, planter == 0);
        EXPECT_EQ(holds(holder, kind), planter == 0);
        kill_and_reap(holder);
    }
}

// A data file's lock file a writer may only read is made afresh under the shared lock, the only
// one that writer can take on it: held there, it keeps every other writer off the old file until
// the new one bears the name; a writer that holds the old file first keeps it as it stands.
TEST_F(LockWindows, AReplacerThatMayOnlyReadTheLockFileHoldsEveryWriterOffUntilItsRename) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as a writer who may only read the lock file";
    const LockKind kind = LockKind::DataFile;
    ASSERT_EQ(::chown(folder.c_str(), 0, 1234), 0);
    fs::permissions(folder, fs::perms(0775));
    ASSERT_EQ(::chown(guarded.c_str(), 4321, 1234), 0);
    // Another member's lock file in its place, which the writer may read only.
    auto plant = [&] {
        fs::remove(lock(kind));
        std::ofstream(lock(kind)) << "x";
        EXPECT_EQ(::chown(lock(kind).c_str(), 5555, 1234), 0);
        fs::permissions(lock(kind), fs::perms(0644));
        return inode(kind);
    };
    auto asWriter = [&] {
        const gid_t groups[] = {4321, 1234};
        if (::setgroups(2, groups) != 0 || ::setgid(4321) != 0 || ::setuid(4321) != 0) return std::string("not the writer");
        return take(kind);
    };
    {
        SCOPED_TRACE("the replacer holds the old file's shared lock first");
        const ino_t planted = plant();
        Program replacer(LockStep::BeforeRename, 1, asWriter);
        ASSERT_TRUE(replacer.stopped());
        EXPECT_THAT(take(kind), StartsWith("refused"));
        EXPECT_EQ(inode(kind), planted);
        release();
        EXPECT_EQ(replacer.answer(), "held");
        EXPECT_NE(inode(kind), planted);
        EXPECT_TRUE(holds(replacer.pid(), kind));
    }
    {
        SCOPED_TRACE("another writer holds a byte of the old file first");
        const ino_t planted = plant();
        const int fd = ::open(lock(kind).c_str(), O_RDWR | O_CLOEXEC);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 7;
        fl.l_len = 1;
        ASSERT_EQ(::fcntl(fd, F_SETLK, &fl), 0);
        Program replacer(LockStep::BeforeRename, 0, asWriter);
        EXPECT_THAT(replacer.answer(), StartsWith("refused"));
        EXPECT_EQ(inode(kind), planted);
        ::close(fd);
    }
}

}  // namespace
}  // namespace dz::test
