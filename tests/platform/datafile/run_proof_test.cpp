// A stopped run is proven by what it wrote: it goes back for the data files that carry its user
// and its number, whatever its user may write today; a marker whose number no file carries as its
// own user's proves nothing and stops nobody.
#include "platform/datafile/marker_text.h"
#include "platform/datafile/run_mark.h"
#include "platform/datafile/run_marker.h"
#include "platform/datafile/stream_hash.h"
#include "support.h"
#include "as_user.h"

#include <gmock/gmock.h>

#include <sqlite3.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace dz::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using testing_support::AnswerAs;

constexpr uid_t kDaemon = 1;  // has an account, and is no member of the company's group
constexpr uid_t kBin = 2;     // another user with an account
constexpr gid_t kGroup = 4312;
constexpr uid_t kGone = 4311;  // a user without an account

void write_file(const fs::path& p, const std::string& bytes, mode_t mode) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
    fs::permissions(p, static_cast<fs::perms>(mode));
}

// What the notices since the last call said, each reason with its marker; a call ends a command.
std::string said() {
    std::string all;
    for (const auto& n : xio::take_run_notices())
        all += (n.kind == xio::RunNoticeKind::PutBack ? "put back " + n.files : n.reason) + "|" + n.marker + "|next;" +
               std::to_string(static_cast<int>(n.next.step)) + "\n";
    xio::forget_run_notices_said();
    return all;
}

class RunProofTest : public DataFileTest {
public:
    const std::string run = "elsewhere~4242";
    const uint64_t number = 0x5eed0123456789abULL;
    std::map<std::string, std::string> before;  // data file -> its bytes before the run
    int serial = 0;

    std::string company() const { return dir.string() + "/"; }
    std::string folder(uid_t user) const { return company() + ".backup-" + std::to_string(user) + "/"; }
    std::string marker(uid_t user) const { return folder(user) + "run~" + run + ".marker"; }

    void SetUp() override {
        DataFileTest::SetUp();
        if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as the run's user and others";
        ASSERT_EQ(::chown(dir.c_str(), 0, kGroup), 0);
        fs::permissions(dir, fs::perms(0775));
        said();
    }
    void TearDown() override {
        xio::set_run_mark_for_commits(std::nullopt);
        xio::set_company_folders(nullptr);
        DataFileTest::TearDown();
    }
    // One commit into data file `name`, carrying `mark` (none: of no run).
    void commit(uint16_t fileNo, const std::string& name, std::optional<xio::RunMark> mark) {
        if (!fs::exists(dir / name)) {
            ASSERT_EQ(xio_create_file("TST", fileNo, dir / name), XIO_OK) << xio_error_text();
        }
        uint16_t h = 0;
        ASSERT_EQ(xio_open_file(dir / name, XIO_OPEN_READ_WRITE, h), XIO_OK) << xio_error_text();
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        ASSERT_EQ(xio_put_meta(h, "posted", std::to_string(++serial)), XIO_OK);
        xio::set_run_mark_for_commits(mark);
        const int status = xio_commit(h);
        xio::set_run_mark_for_commits(std::nullopt);
        EXPECT_EQ(status, XIO_OK);
        xio_cls_file(h);
        ASSERT_EQ(::chown((dir / name).c_str(), 0, kGroup), 0);
        fs::permissions(dir / name, fs::perms(0664));
    }
    // A run of `user` that copied MASTER.TST and HISTORY.TST, committed the first `committed` of
    // them, and died; its marker is of this version (`numbered`) or the one before.
    void stoppedRun(uid_t user, int committed, bool numbered = true, uint64_t itsNumber = 0) {
        const std::string in = folder(user);
        fs::create_directory(in);
        std::string text = numbered ? xio::marker_head("elsewhere", 4242, itsNumber ? itsNumber : number)
                                    : "dodedoz run marker 2\nhost elsewhere\nprocess 4242\n";
        int i = 0;
        for (const auto& [fileNo, name] : {std::pair<uint16_t, std::string>{1, "MASTER.TST"}, {6, "HISTORY.TST"}}) {
            commit(fileNo, name, std::nullopt);
            before[name] = bytes_of(dir / name);
            write_file(in + name + "~" + run, before[name], 0600);
            StreamHash h;
            h.Add(before[name]);
            text += xio::marker_copy_line(name + "~" + run, before[name].size(), h.Value());
            if (i++ < committed) commit(fileNo, name, xio::RunMark{user, number});
        }
        write_file(in + "run~" + run + ".lock", "", 0644);  // as a run makes it: every member may ask
        write_file(marker(user), text + xio::marker_end_line(), 0644);
        for (const auto& e : fs::directory_iterator(in)) ASSERT_EQ(::chown(e.path().c_str(), user, user), 0);
        ASSERT_EQ(::chown(in.c_str(), user, user), 0);
        fs::permissions(in, fs::perms(0755));
    }
    // A marker of `user` in the backup folder `name` giving `itsNumber`, naming a copy of MASTER.TST
    // of their own choosing.
    void forge(uid_t user, const std::string& name, uint64_t itsNumber) {
        const std::string in = company() + name + "/";
        fs::create_directory(in);
        const std::string forged = "forged bytes";
        StreamHash h;
        h.Add(forged);
        write_file(in + "MASTER.TST~" + run, forged, 0600);
        write_file(in + "run~" + run + ".marker",
                   xio::marker_head("elsewhere", 4242, itsNumber) +
                       xio::marker_copy_line("MASTER.TST~" + run, forged.size(), h.Value()) + xio::marker_end_line(),
                   0644);
        for (const auto& e : fs::directory_iterator(in)) ASSERT_EQ(::chown(e.path().c_str(), user, user), 0);
        ASSERT_EQ(::chown(in.c_str(), user, user), 0);
    }
    // A commit of another program while the run's marker stands out of sight (an open that may
    // write would put the run back first).
    void commitBeside(uint16_t fileNo, const std::string& name, std::optional<xio::RunMark> mark) {
        fs::rename(marker(kDaemon), company() + "aside");
        commit(fileNo, name, mark);
        fs::rename(company() + "aside", marker(kDaemon));
    }
    void clear() {
        for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
    }
    bool settle(bool mayWrite) { return xio::settle_dead_runs({dir.string(), mayWrite, ""}); }
    // "1" when the command went on, "0" when refused, then what it said.
    std::string settledAs(uid_t user, gid_t group) {
        return as(user, group, [&] {
            const std::string went = settle(true) ? "1" : "0";
            return went + said();
        });
    }
    bool isBefore(const std::string& name) { return bytes_of(dir / name) == before[name]; }
    // A run of daemon killed inside its first commit (MASTER.TST's journal hot), which left
    // HISTORY.TST's journal zeroed.
    void stopInFirstCommit() {
        stoppedRun(kDaemon, 0);
        for (const auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file()) {
                ASSERT_EQ(::chown(e.path().c_str(), kDaemon, kGroup), 0);
            }
        // Out of sight of the writer's own settling, which would clear the run first.
        fs::rename(marker(kDaemon), company() + "aside");
        ASSERT_TRUE(stop_in_commit([&] { commit(1, "MASTER.TST", xio::RunMark{kDaemon, number}); }));
        fs::rename(company() + "aside", marker(kDaemon));
        ASSERT_EQ(::chown((company() + "MASTER.TST-journal").c_str(), kDaemon, kGroup), 0);
        write_file(company() + "HISTORY.TST-journal", std::string(512, '\0'), 0664);
        ASSERT_EQ(::chown((company() + "HISTORY.TST-journal").c_str(), kDaemon, kGroup), 0);
    }
    // A process of nobody's holding the run lock `lock` (opened while it was readable to them),
    // exclusive or shared (`how`).
    pid_t holdAsOutsider(const std::string& lock, int how = LOCK_EX) {
        return spawn_holder([&] {
            const int fd = ::open(lock.c_str(), O_RDONLY);
            return fd >= 0 && ::flock(fd, how) == 0;
        }, 65534);
    }
    // `body` as `user` of `group`, answering "ok" or what went wrong.
    std::string as(uid_t user, gid_t group, const std::function<std::string()>& body) {
        return AnswerAs(user, group, body);
    }
};

bool has_setfacl() { return std::system("command -v setfacl >/dev/null 2>&1") == 0; }

// The three ways a run's user loses the right to write what the run wrote: the run is still
// proven by the files it committed, never read as whole by a look, refused to others, and put
// back by root (or, where it still may write, its own user) for exactly the files it wrote.
TEST_F(RunProofTest, ARunWhoseUserLostTheRightToWriteIsStillPutBack) {
    enum Lost { LeftTheGroup, FileNarrowed, WroteByAclEntry };
    for (const Lost way : {LeftTheGroup, FileNarrowed, WroteByAclEntry}) {
        SCOPED_TRACE(way == LeftTheGroup ? "its user is no member of the group" : way == FileNarrowed ? "one file narrowed" : "written by an ACL entry");
        if (way == WroteByAclEntry && !has_setfacl()) {
            std::cout << "[  SKIPPED ] the ACL way: setfacl is missing\n";
            continue;
        }
        for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
        stoppedRun(kDaemon, 1);
        // A file the run copied and never wrote, changed since (its marker out of sight): left as
        // it stands.
        fs::rename(marker(kDaemon), company() + "aside");
        commit(6, "HISTORY.TST", std::nullopt);
        fs::rename(company() + "aside", marker(kDaemon));
        const std::string laterHistory = bytes_of(dir / "HISTORY.TST");
        if (way == FileNarrowed) fs::permissions(dir / "MASTER.TST", fs::perms(0644));
        if (way == WroteByAclEntry) {
            for (const auto& f : {"MASTER.TST", "HISTORY.TST"}) fs::permissions(dir / f, fs::perms(0644));
            const std::string acl = "setfacl -R -m u:1:rwX " + dir.string() + " 2>/dev/null";
            if (std::system(acl.c_str()) != 0) {
                std::cout << "[  SKIPPED ] the ACL way: this file system refuses ACLs\n";
                continue;
            }
        }
        EXPECT_FALSE(settle(false)) << "a look reads it as whole";
        EXPECT_THAT(said(), Not(HasSubstr("no conversion")));
        const std::string other = as(kBin, kGroup, [&] { return settle(true) ? std::string("went on") : said(); });
        // Who may put it back: its user while they may still write the files, else root alone.
        EXPECT_THAT(other, HasSubstr(way == WroteByAclEntry ? "only its own user or an administrator" : "only an administrator puts it back"))
            << "another member's writing command is refused";
        EXPECT_FALSE(isBefore("MASTER.TST"));
        if (way == WroteByAclEntry) {
            EXPECT_EQ(as(kDaemon, kDaemon, [&] { return settle(true) ? std::string("ok") : said(); }), "ok");
        } else {
            // One narrowed file is enough, though its folder may still be written.
            const gid_t itsGroup = way == FileNarrowed ? kGroup : kDaemon;
            EXPECT_THAT(as(kDaemon, itsGroup, [&] { return settle(true) ? std::string("went on") : said(); }),
                        HasSubstr("only an administrator can put it back"))
                << "its own user, who may no longer write it, is refused and sent to root";
            EXPECT_TRUE(settle(true)) << said();
        }
        EXPECT_TRUE(isBefore("MASTER.TST"));
        EXPECT_EQ(bytes_of(dir / "HISTORY.TST"), laterHistory);
        EXPECT_FALSE(fs::exists(marker(kDaemon)));
        EXPECT_FALSE(fs::exists(folder(kDaemon) + "HISTORY.TST~" + run));
    }
}

// A user who may not write the files makes a marker of their own with the number of a real earlier
// run of another user, naming copies of any content: it proves nothing, goes back for nobody, and
// stops nobody.
TEST_F(RunProofTest, AForgedRunWithAnotherUsersNumberIsNeverPutBack) {
    stoppedRun(kDaemon, 2);
    fs::remove_all(folder(kDaemon));  // that run ended; its number stays in the files
    const std::string posted = bytes_of(dir / "MASTER.TST");
    const std::string in = folder(kBin);
    fs::create_directory(in);
    const std::string forged = "forged bytes";
    StreamHash h;
    h.Add(forged);
    write_file(in + "MASTER.TST~" + run, forged, 0600);
    write_file(in + "run~" + run + ".lock", "", 0600);
    write_file(marker(kBin),
               xio::marker_head("elsewhere", 4242, number) + xio::marker_copy_line("MASTER.TST~" + run, forged.size(), h.Value()) +
                   xio::marker_end_line(),
               0644);
    for (const auto& e : fs::directory_iterator(in)) ASSERT_EQ(::chown(e.path().c_str(), kBin, kBin), 0);
    ASSERT_EQ(::chown(in.c_str(), kBin, kBin), 0);
    EXPECT_TRUE(settle(true)) << "root's writing command is stopped";
    EXPECT_THAT(said(), HasSubstr("carries the number of a run of daemon (uid 1), not of bin (uid 2)"));
    EXPECT_EQ(as(kBin, kBin, [&] { return settle(true) ? std::string("went on") : said(); }), "went on");
    EXPECT_EQ(as(kDaemon, kGroup, [&] { return settle(true) ? std::string("went on") : said(); }), "went on");
    EXPECT_EQ(bytes_of(dir / "MASTER.TST"), posted);
    EXPECT_TRUE(fs::exists(marker(kBin))) << "another user's forged run is named, never removed";
}

// A writer makes a marker of their own with the number of another user's stopped run, read out
// of a file, naming a copy of their choosing: while that run's marker stands, it stops nobody and
// nothing goes back from it, whichever folder is read first; the real run goes back whole, by its
// own user and by root.
TEST_F(RunProofTest, AForgedNumberOfAStoppedRunPutsNothingBackFromTheForgersCopy) {
    for (const uid_t putter : {kDaemon, uid_t{0}}) {
        SCOPED_TRACE(putter ? "its own user" : "root");
        clear();
        stoppedRun(kDaemon, 2);
        forge(kBin, ".backup-0", number);  // read before the real run's ".backup-1"
        const std::string forger = settledAs(kBin, kGroup);
        EXPECT_THAT(forger, AllOf(StartsWith("0"), HasSubstr("not of bin (uid 2)"), HasSubstr("no conversion of theirs")));
        EXPECT_FALSE(isBefore("MASTER.TST"));
        EXPECT_THAT(settledAs(putter, putter ? kGroup : 0), StartsWith("1"));
        EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
        EXPECT_FALSE(fs::exists(marker(kDaemon)));
        EXPECT_TRUE(fs::exists(company() + ".backup-0/MASTER.TST~" + run)) << "the forger's copy is never removed";
    }
}

// A commit outside any run takes the run's row away. A run whose row is gone (or was edited by
// hand) though a file differs from its copy is named, never cleared: its copies are kept.
TEST_F(RunProofTest, ARunNoFileCarriesIsClearedOnlyWhereEveryFileIsAsItCopiedIt) {
    stoppedRun(kDaemon, 1);
    xio::RunMark mark;
    ASSERT_EQ(xio::read_run_mark((dir / "MASTER.TST").string(), mark), xio::MarkFound::Carried);
    commitBeside(1, "MASTER.TST", std::nullopt);
    EXPECT_EQ(xio::read_run_mark((dir / "MASTER.TST").string(), mark), xio::MarkFound::None);
    for (const uid_t who : {kDaemon, uid_t{0}, kBin})
        EXPECT_THAT(settledAs(who, who ? kGroup : 0),
                    AllOf(StartsWith("1"), HasSubstr("no data file carries its run, though " + company() + "MASTER.TST differs"),
                          HasSubstr("next;" + std::to_string(static_cast<int>(ui::Step::LookAtRunCopies)))));
    EXPECT_TRUE(fs::exists(marker(kDaemon)) && fs::exists(folder(kDaemon) + "MASTER.TST~" + run));

    // Its own files removed since: nothing of the run stands, and it is cleared silently.
    clear();
    stoppedRun(kDaemon, 0);
    for (const auto& f : {"MASTER.TST", "HISTORY.TST"}) fs::remove(dir / f);
    EXPECT_EQ(settledAs(kDaemon, kGroup), "1");
    EXPECT_FALSE(fs::exists(marker(kDaemon)));

    // A file that is an SQLite file of another kind: whether the run wrote it cannot be told.
    clear();
    stoppedRun(kDaemon, 0);
    fs::remove(dir / "HISTORY.TST");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "HISTORY.TST").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_THAT(settledAs(kDaemon, kGroup), AllOf(StartsWith("0"), HasSubstr("HISTORY.TST cannot be read")));
    EXPECT_TRUE(fs::exists(marker(kDaemon)));
}

// A proven run goes back for the files it wrote: one committed since by another run of the same
// user is left as it stands (with the zeroed journal the run left beside it removed), and one
// removed since is made again, by its own user as by root.
TEST_F(RunProofTest, AProvenRunGoesBackForTheFilesItWroteOnly) {
    stoppedRun(kDaemon, 1);
    commitBeside(6, "HISTORY.TST", xio::RunMark{kDaemon, number + 1});
    const std::string later = bytes_of(dir / "HISTORY.TST");
    write_file(company() + "HISTORY.TST-journal", std::string(512, '\0'), 0644);
    ASSERT_EQ(::chown((company() + "HISTORY.TST-journal").c_str(), kDaemon, kDaemon), 0);
    EXPECT_THAT(settledAs(kDaemon, kGroup), StartsWith("1"));
    EXPECT_TRUE(isBefore("MASTER.TST"));
    EXPECT_EQ(bytes_of(dir / "HISTORY.TST"), later);
    EXPECT_FALSE(fs::exists(company() + "HISTORY.TST-journal"));

    // A zeroed journal of anybody else than the run's user and this user is left as it stands.
    clear();
    stoppedRun(kDaemon, 1);
    commitBeside(6, "HISTORY.TST", xio::RunMark{kDaemon, number + 1});
    write_file(company() + "HISTORY.TST-journal", std::string(512, '\0'), 0644);
    ASSERT_EQ(::chown((company() + "HISTORY.TST-journal").c_str(), kBin, kBin), 0);
    EXPECT_THAT(settledAs(kDaemon, kGroup), StartsWith("1"));
    EXPECT_TRUE(fs::exists(company() + "HISTORY.TST-journal"));
    // One of the data file's owner goes: root's SQLite gives a journal it opens (a look of root's
    // included) the file's owner.
    clear();
    stoppedRun(kDaemon, 1);
    commitBeside(6, "HISTORY.TST", xio::RunMark{kDaemon, number + 1});
    write_file(company() + "HISTORY.TST-journal", std::string(512, '\0'), 0644);
    for (const auto& f : {"HISTORY.TST", "HISTORY.TST-journal"}) ASSERT_EQ(::chown((dir / f).c_str(), kBin, kGroup), 0);
    EXPECT_THAT(settledAs(kDaemon, kGroup), StartsWith("1"));
    EXPECT_FALSE(fs::exists(company() + "HISTORY.TST-journal"));

    clear();
    stoppedRun(kDaemon, 2);
    fs::remove(dir / "MASTER.TST");
    EXPECT_THAT(settledAs(kDaemon, kGroup), StartsWith("1"));
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
}

// A company handed over whole (`chown -R`) with a run of it stopped half posted: its files carry
// the former owner, and the new owner, who may write them all, puts the run back.
TEST_F(RunProofTest, ARunHandedOverWithItsCompanyIsPutBackByItsNewOwner) {
    stoppedRun(kDaemon, 1);
    for (const auto& e : fs::recursive_directory_iterator(dir)) ASSERT_EQ(::lchown(e.path().c_str(), kBin, kBin), 0);
    ASSERT_EQ(::chown(dir.c_str(), kBin, kBin), 0);
    forge(kDaemon, ".backup-1-2", number + 1);  // a later run of the former owner: another number
    EXPECT_EQ(as(kBin, kBin, [&] { return settle(true) ? std::string("went on") : said(); }), "went on");
    EXPECT_TRUE(isBefore("MASTER.TST"));
    EXPECT_FALSE(fs::exists(marker(kDaemon)));

    // The zeroed journal the run left stays its former owner's (an administrator hands the files
    // and the run's folder, as the step asks): it goes with the put-back, never left to refuse
    // the file to everyone.
    clear();
    stoppedRun(kDaemon, 1);
    write_file(company() + "HISTORY.TST-journal", std::string(512, '\0'), 0664);
    ASSERT_EQ(::chown((company() + "HISTORY.TST-journal").c_str(), kDaemon, kDaemon), 0);
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (e.path().filename() == "HISTORY.TST-journal") continue;
        ASSERT_EQ(::lchown(e.path().c_str(), kBin, kBin), 0);
    }
    ASSERT_EQ(::chown(dir.c_str(), kBin, kBin), 0);
    EXPECT_EQ(as(kBin, kBin, [&] { return settle(true) ? std::string("went on") : said(); }), "went on");
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
    EXPECT_FALSE(fs::exists(company() + "HISTORY.TST-journal"));
}

// A user without an account whose run the files carry: proven, and root puts it back; another
// member is sent to an administrator's writing command, never to a `chown`.
// A marker of the version before (no number) whose user may not write the files: unmade only
// while every file is as it copied it; one that differs is never called unmade, nor put back by
// anyone (whether it is a conversion cannot be told).
TEST_F(RunProofTest, ADeletedUsersRunGoesBackByRootAndAnUnnumberedOneIsJudgedByItsCopies) {
    stoppedRun(kGone, 1);
    // A journal the run left zeroed: no journal of the file's now that its user is gone (the file
    // cannot be read, and goes back with the run), and it goes with the put-back.
    write_file(company() + "HISTORY.TST-journal", std::string(512, '\0'), 0664);
    ASSERT_EQ(::chown((company() + "HISTORY.TST-journal").c_str(), kGone, kGroup), 0);
    EXPECT_THAT(as(kBin, kGroup, [&] { return settle(true) ? std::string("went on") : said(); }),
                AllOf(HasSubstr("only an administrator puts it back, as its user has no account"),
                      HasSubstr("next;" + std::to_string(static_cast<int>(ui::Step::WaitOrAdministrator)))));
    EXPECT_TRUE(settle(true)) << said();
    EXPECT_TRUE(isBefore("MASTER.TST"));
    EXPECT_FALSE(fs::exists(marker(kGone)));
    EXPECT_FALSE(fs::exists(company() + "HISTORY.TST-journal"));
    EXPECT_THAT(said(), Not(HasSubstr("-journal")));

    for (const int committed : {0, 1}) {
        SCOPED_TRACE(committed ? "a file differs from its copy" : "every file as copied");
        for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
        stoppedRun(kDaemon, committed, false);
        for (const uid_t who : {uid_t{0}, kBin, kDaemon}) {
            const std::string text = settledAs(who, who == kBin ? kGroup : who);
            if (committed)
                EXPECT_THAT(text, AllOf(StartsWith("0"), HasSubstr("differs from its copy"), HasSubstr("cannot be told"),
                                        Not(HasSubstr("no conversion"))));
            else
                EXPECT_THAT(text, AllOf(StartsWith("1"), HasSubstr("that user may not write")));
        }
        EXPECT_EQ(isBefore("MASTER.TST"), committed == 0);
        EXPECT_TRUE(fs::exists(marker(kDaemon)) && fs::exists(folder(kDaemon) + "MASTER.TST~" + run));
    }
    // Its marker unreadable: a member who may not read the copies beside it cannot tell them equal.
    write_file(marker(kDaemon), "garbage\n", 0644);
    EXPECT_THAT(settledAs(kBin, kGroup), AllOf(StartsWith("0"), HasSubstr("differs from its copy")));
}

// Where no file carries the run and one cannot be read, whether it is a conversion cannot be
// told: the command refuses.
TEST_F(RunProofTest, AFileThatCannotBeReadLeavesTheRunUntold) {
    stoppedRun(kDaemon, 1);
    fs::permissions(dir / "MASTER.TST", fs::perms(0660));
    const std::string text = as(kBin, kBin, [&] { return settle(true) ? std::string("went on") : said(); });
    EXPECT_THAT(text, HasSubstr("MASTER.TST cannot be read"));
}

// A numbered run that no data file carries committed nothing: others are told once that no
// conversion made it and go on; its own user's (or root's) writing command clears it silently.
TEST_F(RunProofTest, ARunNoFileCarriesIsALeftoverForItsUserAndNamedToOthers) {
    stoppedRun(kDaemon, 0);
    {
        const int held = ::open((folder(kDaemon) + "run~" + run + ".lock").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        EXPECT_EQ(as(kBin, kGroup, [&] { return settle(false) ? said() : "refused: " + said(); }), "")
            << "a run that lives may be before its first commit: never called unmade";
        ::close(held);
    }
    EXPECT_THAT(as(kBin, kGroup, [&] { return settle(true) ? said() : "refused: " + said(); }),
                HasSubstr("no data file carries its run"));
    EXPECT_TRUE(settle(false));
    EXPECT_EQ(said(), "") << "its own user's (or root's) look says nothing";
    EXPECT_TRUE(fs::exists(marker(kDaemon)));
    EXPECT_TRUE(settle(true));
    EXPECT_EQ(said(), "");
    EXPECT_FALSE(fs::exists(marker(kDaemon)));
    EXPECT_FALSE(fs::exists(folder(kDaemon) + "MASTER.TST~" + run));
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));

    // An empty marker of a dead run (killed while filling it): a look leaves it, a writer clears it.
    stoppedRun(kDaemon, 0);
    write_file(marker(kDaemon), "", 0644);
    EXPECT_TRUE(settle(false));
    EXPECT_TRUE(fs::exists(marker(kDaemon)));
    EXPECT_TRUE(settle(true));
    EXPECT_FALSE(fs::exists(marker(kDaemon)));
}

// A run killed inside its first commit, whose commit a writing command then took back: nothing of
// it stands. The command that took it back clears it when it is the run's user's (or root's), the
// zeroed journal it left included; anybody else's command, and every later look, says it as that
// user's conversion whose writes were taken back, never as a marker no conversion made.
TEST_F(RunProofTest, ARunWhoseStoppedCommitWasTakenBackIsClearedByItsUserAndToldToOthers) {
    stopInFirstCommit();
    const std::string told =
        "of daemon (uid 1) names MASTER.TST, HISTORY.TST, and no data file carries its run: whatever that conversion "
        "wrote was taken back";
    const std::string next = "next;" + std::to_string(static_cast<int>(ui::Step::ClearedByItsUser));
    const std::string member = settledAs(kBin, kGroup);
    EXPECT_THAT(member, AllOf(StartsWith("1"), HasSubstr(told), HasSubstr(next), Not(HasSubstr("no conversion"))));
    EXPECT_FALSE(fs::exists(company() + "MASTER.TST-journal"));
    EXPECT_TRUE(isBefore("MASTER.TST"));
    EXPECT_TRUE(fs::exists(marker(kDaemon)));
    EXPECT_THAT(as(kBin, kGroup, [&] { return settle(false) ? said() : "refused: " + said(); }),
                AllOf(StartsWith("the run marker"), HasSubstr(told)));
    EXPECT_EQ(as(kDaemon, kGroup, [&] { return settle(false) ? said() : "refused: " + said(); }), "");

    for (const uid_t who : {kDaemon, uid_t{0}}) {
        clear();
        stopInFirstCommit();
        // Said: the write taken back, and nothing else.
        EXPECT_EQ(settledAs(who, who ? kGroup : 0), "1|" + company() + "MASTER.TST-journal|next;0\n") << who;
        for (const std::string& gone : {marker(kDaemon), folder(kDaemon) + "MASTER.TST~" + run,
                                        folder(kDaemon) + "run~" + run + ".lock", company() + "HISTORY.TST-journal",
                                        company() + "MASTER.TST-journal"})
            EXPECT_FALSE(fs::exists(gone)) << gone << " " << who;
        EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST")) << who;
    }
}

// The same run, its lock held by an outsider (who opened it while it was readable to them): every
// writer says it at once with the holder and the step to have that process ended, its own user's
// command and a member's alike, and nothing of it is removed or taken back; a look refuses while
// a file of it is left in the middle of a write, saying the whole way (the holder ended, then a
// writing command), and goes on once none is. Once the holder is gone, its user's next command
// clears it.
TEST_F(RunProofTest, AStoppedRunWhoseLockAnOutsiderHoldsRefusesEveryWriterUntilItIsGone) {
    stopInFirstCommit();
    const std::string runLock = folder(kDaemon) + "run~" + run + ".lock";
    const pid_t holder = holdAsOutsider(runLock);
    ASSERT_GT(holder, 0);
    for (const uid_t who : {kDaemon, kBin}) {
        EXPECT_THAT(settledAs(who, kGroup),
                    AllOf(StartsWith("0"), HasSubstr("copied MASTER.TST, HISTORY.TST, and its lock file " + runLock +
                                                     " is held by process " + std::to_string(holder)),
                          HasSubstr("next;" + std::to_string(static_cast<int>(ui::Step::EndLockHolder)))))
            << who;
        EXPECT_FALSE(isBefore("MASTER.TST")) << who;  // its write not taken back
        EXPECT_TRUE(fs::exists(marker(kDaemon)) && fs::exists(runLock) && fs::exists(company() + "HISTORY.TST-journal") &&
                    fs::exists(company() + "MASTER.TST-journal"))
            << who;
    }
    const auto look = [&] { return as(kDaemon, kGroup, [&] { return settle(false) ? said() : "refused: " + said(); }); };
    EXPECT_THAT(look(), AllOf(StartsWith("refused: "), HasSubstr(runLock + " is held by process " + std::to_string(holder)),
                              HasSubstr("next;" + std::to_string(static_cast<int>(ui::Step::EndHolderThenPutBack)))));
    // A file written since (it differs from its copy): refused all the same, never passed over.
    commitBeside(1, "MASTER.TST", std::nullopt);
    said();  // its commit took the write back, beside the run
    EXPECT_EQ(look(), "");
    EXPECT_THAT(settledAs(kDaemon, kGroup), AllOf(StartsWith("0"), Not(HasSubstr("differs from its copy"))));
    // Its marker emptied (a run killed before it filled it): its copies still name the files.
    fs::resize_file(marker(kDaemon), 0);
    EXPECT_THAT(settledAs(kDaemon, kGroup), AllOf(StartsWith("0"), HasSubstr("copied MASTER.TST, HISTORY.TST, and its lock file")));
    kill_and_reap(holder);
    EXPECT_EQ(settledAs(kDaemon, kGroup), "1");
    EXPECT_FALSE(fs::exists(marker(kDaemon)) || fs::exists(runLock) || fs::exists(company() + "HISTORY.TST-journal"));
}

// A shared hold is a hold: an outsider's shared flock on a stopped run's lock (beside which a look's
// own shared one is had) keeps the run as the exclusive one does. Killed in its first commit, the
// run is refused to its own user and root alike, nothing taken back, its lock file never made
// afresh; half posted, another member is sent through the holder's end to its user's put-back,
// and its own user's put-back names the holder. Once the holder is gone, its user puts it back.
TEST_F(RunProofTest, AnOutsidersSharedHoldOfAStoppedRunsLockIsAHold) {
    const std::string runLock = folder(kDaemon) + "run~" + run + ".lock";
    const std::string named = runLock + " is held by process ";
    const auto next = [](ui::Step step) { return "next;" + std::to_string(static_cast<int>(step)); };
    stopInFirstCommit();
    struct stat made {};
    ASSERT_EQ(::stat(runLock.c_str(), &made), 0);
    pid_t holder = holdAsOutsider(runLock, LOCK_SH);
    ASSERT_GT(holder, 0);
    for (const uid_t who : {kDaemon, uid_t{0}}) {
        EXPECT_THAT(settledAs(who, who ? kGroup : 0),
                    AllOf(StartsWith("0"), HasSubstr(named + std::to_string(holder)), HasSubstr(next(ui::Step::EndLockHolder))))
            << who;
        struct stat now {};
        EXPECT_TRUE(::stat(runLock.c_str(), &now) == 0 && now.st_ino == made.st_ino) << who;
        EXPECT_TRUE(fs::exists(company() + "MASTER.TST-journal") && fs::exists(marker(kDaemon))) << who;
    }
    kill_and_reap(holder);

    clear();
    stoppedRun(kDaemon, 1);
    holder = holdAsOutsider(runLock, LOCK_SH);
    ASSERT_GT(holder, 0);
    EXPECT_THAT(settledAs(kBin, kGroup), AllOf(StartsWith("0"), HasSubstr(named + std::to_string(holder)),
                                               HasSubstr(next(ui::Step::EndHolderThenPutBack)), Not(HasSubstr("posting"))));
    EXPECT_THAT(settledAs(kDaemon, kGroup),
                AllOf(StartsWith("0"), HasSubstr("(it is held by process " + std::to_string(holder)),
                      HasSubstr(next(ui::Step::EndLockHolder))));
    EXPECT_FALSE(isBefore("MASTER.TST"));
    kill_and_reap(holder);
    EXPECT_THAT(settledAs(kDaemon, kGroup), StartsWith("1put back MASTER.TST"));
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
}

// An outsider who may read none of the run's files holds nothing by its lock (opened while it was
// readable to them): their shared hold stops no command, and the run's own user puts it back.
TEST_F(RunProofTest, AHoldOfOneWhoMayReadNoneOfTheRunsFilesIsNoHold) {
    const std::string runLock = folder(kDaemon) + "run~" + run + ".lock";
    stoppedRun(kDaemon, 1);
    for (const auto& f : {"MASTER.TST", "HISTORY.TST"}) fs::permissions(dir / f, fs::perms(0660));
    const pid_t holder = holdAsOutsider(runLock, LOCK_SH);
    ASSERT_GT(holder, 0);
    EXPECT_THAT(settledAs(kDaemon, kGroup), StartsWith("1put back MASTER.TST"));
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
    EXPECT_FALSE(fs::exists(marker(kDaemon)));
    kill_and_reap(holder);
}

// A run whose later commit's journal could not be removed, and whose copy of that file is gone:
// the command that takes that write back judges the run again, and puts the rest back whole,
// never sending anyone to a backup. Where the write cannot be taken back, it is refused.
TEST_F(RunProofTest, ARunWhoseCopyIsGoneBesideAStoppedWriteWaitsForItsTakeBack) {
    stoppedRun(kDaemon, 1);
    fs::rename(marker(kDaemon), company() + "aside");
    ASSERT_TRUE(stop_in_commit([&] { commit(6, "HISTORY.TST", xio::RunMark{kDaemon, number}); }));
    fs::rename(company() + "aside", marker(kDaemon));
    ASSERT_EQ(::chown((company() + "HISTORY.TST-journal").c_str(), kDaemon, kGroup), 0);
    fs::remove(folder(kDaemon) + "HISTORY.TST~" + run);
    const std::string missing = "HISTORY.TST~" + run + ", which its marker names, is missing";
    EXPECT_THAT(as(kDaemon, kGroup, [&] {
                    xio::set_journal_removal_error_for_tests(EPERM);
                    const std::string went = settle(true) ? "1" : "0";
                    return went + said();
                }),
                AllOf(StartsWith("0"), HasSubstr(missing)));
    EXPECT_TRUE(fs::exists(marker(kDaemon)));
    const std::string settled = settledAs(kDaemon, kGroup);
    EXPECT_THAT(settled, AllOf(StartsWith("1"), HasSubstr("put back MASTER.TST|"), Not(HasSubstr(missing))));
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
    EXPECT_FALSE(fs::exists(marker(kDaemon)));
}

// A put-back of daemon's killed after it wrote its file aside: root's command that finishes it
// leaves none of what it wrote aside; one of a process that still runs stays.
TEST_F(RunProofTest, APutBackFinishedByRootLeavesNoFileAsideOfTheOneKilled) {
    stoppedRun(kDaemon, 1);
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const std::string left = company() + "MASTER.TST.restore" + std::to_string(dead);
    const std::string live = company() + "MASTER.TST.restore1";  // process 1 runs
    for (const auto& aside : {left, live}) {
        write_file(aside, before["MASTER.TST"], 0664);
        ASSERT_EQ(::chown(aside.c_str(), kDaemon, kGroup), 0);
    }
    EXPECT_THAT(settledAs(0, 0), StartsWith("1put back MASTER.TST"));
    EXPECT_TRUE(isBefore("MASTER.TST"));
    EXPECT_FALSE(fs::exists(left));
    EXPECT_TRUE(fs::exists(live));
}

// A run whose main marker lies in the company folder and whose part lies in a folder of file
// control, killed inside its first commit, there: the command that takes that write back clears
// the whole run at once (markers, copies, lock files, the journal it left zeroed), whichever
// folder it settles first; where an outsider holds the main marker's lock, that command is
// refused, naming the holder, and nothing of the run is removed.
TEST_F(RunProofTest, AStoppedCommitTakenBackInAFileControlFolderClearsItsRunAtOnce) {
    const fs::path sub = dir / "sub";
    const std::string part = (sub / ".backup-1").string() + "/";
    xio::set_company_folders([&] { return std::vector<std::string>{dir.string(), sub.string()}; });
    auto stopInSub = [&] {
        fs::create_directory(sub);
        fs::permissions(sub, fs::perms(0775));
        ASSERT_EQ(::chown(sub.c_str(), 0, kGroup), 0);
        std::map<std::string, std::string> heads{{folder(kDaemon), xio::marker_part_line("sub")},
                                                 {part, xio::marker_main_line("..")}};
        for (const auto& [in, file] :
             {std::pair<std::string, std::string>{folder(kDaemon), "MASTER.TST"}, {part, "sub/HISTORY.TST"}}) {
            commit(file == "MASTER.TST" ? 1 : 6, file, std::nullopt);
            before[file] = bytes_of(dir / file);
            fs::create_directory(in);
            const std::string copy = fs::path(file).filename().string() + "~" + run;
            write_file(in + copy, before[file], 0600);
            StreamHash h;
            h.Add(before[file]);
            write_file(in + "run~" + run + ".lock", "", 0644);
            write_file(in + "run~" + run + ".marker",
                       xio::marker_head("elsewhere", 4242, number) + heads[in] +
                           xio::marker_copy_line(copy, before[file].size(), h.Value()) + xio::marker_end_line(),
                       0644);
            for (const auto& e : fs::directory_iterator(in)) ASSERT_EQ(::chown(e.path().c_str(), kDaemon, kDaemon), 0);
            ASSERT_EQ(::chown(in.c_str(), kDaemon, kDaemon), 0);
            ASSERT_EQ(::chown((dir / file).c_str(), kDaemon, kGroup), 0);
        }
        // Killed in its first commit, in the folder of file control.
        fs::rename(part + "run~" + run + ".marker", company() + "aside");
        ASSERT_TRUE(stop_in_commit([&] { commit(6, "sub/HISTORY.TST", xio::RunMark{kDaemon, number}); }));
        fs::rename(company() + "aside", part + "run~" + run + ".marker");
        ASSERT_EQ(::chown((sub / "HISTORY.TST-journal").c_str(), kDaemon, kGroup), 0);
        ASSERT_EQ(::chown((dir / "sub/HISTORY.TST").c_str(), kDaemon, kGroup), 0);
        write_file(company() + "MASTER.TST-journal", std::string(512, '\0'), 0664);
        ASSERT_EQ(::chown((company() + "MASTER.TST-journal").c_str(), kDaemon, kGroup), 0);
    };
    // As a command settles the company: its own folder first, then the folder of file control.
    auto settleCompany = [&] {
        return as(kDaemon, kGroup, [&] {
            const bool here = xio::settle_dead_runs({dir.string(), true, ""});
            const bool there = xio::settle_dead_runs({sub.string(), true, ""});
            return (here && there ? "1" : "0") + said();
        });
    };
    const std::string takenBack = (sub / "HISTORY.TST-journal").string() + "|next;0\n";
    stopInSub();
    // A look, which asks every marker of the run whether its lock is held, writes nothing there.
    for (const std::string& in : {folder(kDaemon), part}) fs::remove(in + "folder.lock");
    as(kDaemon, kGroup, [&] { return std::to_string(xio::settle_dead_runs({dir.string(), false, ""})); });
    EXPECT_FALSE(fs::exists(part + "folder.lock") || fs::exists(folder(kDaemon) + "folder.lock"));
    EXPECT_EQ(settleCompany(), "1|" + takenBack);
    EXPECT_TRUE(isBefore("sub/HISTORY.TST"));
    for (const std::string& in : {folder(kDaemon), part})
        for (const auto& e : fs::directory_iterator(in))
            if (e.path().filename() != "folder.lock") ADD_FAILURE() << "left: " << e.path();  // the folder's own
    EXPECT_FALSE(fs::exists(company() + "MASTER.TST-journal"));

    clear();
    stopInSub();
    const std::string mainLock = folder(kDaemon) + "run~" + run + ".lock";
    const pid_t holder = holdAsOutsider(mainLock);
    ASSERT_GT(holder, 0);
    // Held, nothing of the run is taken back, in either folder.
    EXPECT_THAT(settleCompany(), AllOf(StartsWith("0"), HasSubstr(mainLock + " is held by process " + std::to_string(holder)),
                                       Not(HasSubstr(takenBack))));
    EXPECT_FALSE(isBefore("sub/HISTORY.TST"));
    kill_and_reap(holder);
    EXPECT_TRUE(fs::exists(marker(kDaemon)) && fs::exists(part + "run~" + run + ".marker") && fs::exists(mainLock));
    EXPECT_EQ(settleCompany(), "1|" + takenBack);
    EXPECT_TRUE(isBefore("sub/HISTORY.TST"));
}

// A run spread over two folders whose main marker names no copy of its own is told by the data
// files of its part. A sticky folder made since the run began keeps its own user from putting it
// back: others are sent to an administrator alone.
TEST_F(RunProofTest, AnotherUsersRunIsToldByItsFilesAndWhoMayPutItBack) {
    const fs::path sub = dir / "sub";
    fs::create_directory(sub);
    ASSERT_EQ(xio_create_file("TST", 6, sub / "HISTORY.TST"), XIO_OK) << xio_error_text();
    const std::string bytes = bytes_of(sub / "HISTORY.TST");
    const std::string part = (sub / ".backup-1").string() + "/";
    fs::create_directory(part);
    StreamHash h;
    h.Add(bytes);
    write_file(part + "HISTORY.TST~" + run, bytes, 0600);
    write_file(part + "run~" + run + ".marker",
               xio::marker_head("elsewhere", 4242, number) + xio::marker_main_line("..") +
                   xio::marker_copy_line("HISTORY.TST~" + run, bytes.size(), h.Value()) + xio::marker_end_line(),
               0644);
    fs::create_directory(folder(kDaemon));
    write_file(marker(kDaemon), xio::marker_head("elsewhere", 4242, number) + xio::marker_part_line("sub") + xio::marker_end_line(),
               0644);
    for (const std::string& in : {part, folder(kDaemon)}) {
        for (const auto& e : fs::directory_iterator(in)) ASSERT_EQ(::chown(e.path().c_str(), kDaemon, kDaemon), 0);
        ASSERT_EQ(::chown(in.c_str(), kDaemon, kDaemon), 0);
    }
    xio::set_company_folders([&] { return std::vector<std::string>{dir.string(), sub.string()}; });
    EXPECT_THAT(settledAs(kBin, kGroup),
                HasSubstr(marker(kDaemon) + " of daemon (uid 1) names " + (sub / "HISTORY.TST").string() +
                          ", and no data file carries its run"));

    clear();
    xio::set_company_folders(nullptr);
    stoppedRun(kDaemon, 1);
    for (const auto& f : {"MASTER.TST", "HISTORY.TST"}) fs::permissions(dir / f, fs::perms(0666));
    fs::permissions(dir, fs::perms(01777));
    EXPECT_THAT(settledAs(kBin, kGroup),
                AllOf(StartsWith("0"), HasSubstr("only an administrator puts it back, as " + company() +
                                                 "MASTER.TST stands in a sticky folder, where daemon (uid 1) may not "
                                                 "replace it"),
                      HasSubstr("next;" + std::to_string(static_cast<int>(ui::Step::WaitOrAdministrator)))));
    EXPECT_THAT(settledAs(0, 0), StartsWith("1"));
    EXPECT_TRUE(isBefore("MASTER.TST"));
}

}  // namespace
}  // namespace dz::test
