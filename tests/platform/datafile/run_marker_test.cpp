// Runs that died half posted, as a later command finds them: put back whole and only by their
// own user, every copy proved first, or refused with nothing written.
#include "platform/datafile/access_list.h"
#include "platform/datafile/file_aside.h"
#include "platform/datafile/lock_file.h"
#include "platform/datafile/run_marker.h"
#include "platform/datafile/stream_hash.h"
#include "platform/datafile/users.h"
#include "support.h"
#include "as_user.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <map>
#include <grp.h>
#include <linux/fs.h>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace dz::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::AllOf;
using ::testing::AnyOf;

void write_file(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}
std::string copy_line(const std::string& copy, const std::string& bytes) {
    StreamHash h;
    h.Add(bytes);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h.Value()));
    return "copy " + copy + " " + std::to_string(bytes.size()) + " " + hex;
}

// What the notices since the last call said: each reason (or the files), with its marker. Each
// call ends a command: what the next says is said again.
std::string said() {
    std::string all;
    for (const auto& n : xio::take_run_notices()) {
        all += n.reason + "|" + n.files + "|" + n.marker;
        if (n.next) {
            all += "|next";
            for (const auto& a : n.next.args) all += ";" + a;
        }
        all += "\n";
    }
    xio::forget_run_notices_said();
    return all;
}

// Whether `text` names, right after `before`, a process of user nobody in process group `group`
// ("process 123 of user nobody"): a step that names the process keeping a lock, of the holder's
// group, never the one that took it and has ended.
bool names_keeper(const std::string& text, const std::string& before, pid_t group) {
    const auto at = text.find(before + "process ");
    if (at == std::string::npos) return false;
    const pid_t keeper = static_cast<pid_t>(std::atol(text.c_str() + at + before.size() + 8));
    return text.find(before + "process " + std::to_string(keeper) + " of user nobody") != std::string::npos &&
           ::getpgid(keeper) == group;
}

// A run that died between its commits, made as the program makes one: each data file half
// posted, a copy of it as it was, the marker naming every copy with its length and hash, and
// the run's lock file, which nobody holds.
class RunMarkerTest : public DataFileTest {
public:
    std::string run = "elsewhere~4242";
    std::map<std::string, std::string> before;  // data file -> its bytes before the run
    std::vector<std::string> lines;              // the marker's copy lines

    std::string company() const { return dir.string() + "/"; }
    std::string folder() const { return company() + ".backup/"; }
    std::string copy(const std::string& name) const { return folder() + name + "~" + run; }
    std::string marker() const { return folder() + "run~" + run + ".marker"; }

    void SetUp() override {
        DataFileTest::SetUp();
        xio::take_run_notices();
        xio::forget_run_notices_said();  // each test is a command of its own
        fs::create_directory(folder());
        fs::permissions(folder(), fs::perms(0755));
        write_file(folder() + "run~" + run + ".lock", "");
        fs::permissions(folder() + "run~" + run + ".lock", fs::perms(0600));
    }
    void TearDown() override {
        xio::set_company_folders(nullptr);
        DataFileTest::TearDown();
    }
    void dataFile(uint16_t number, const std::string& name) {
        ASSERT_EQ(xio_create_file("TST", number, dir / name), XIO_OK) << xio_error_text();
        before[name] = bytes_of(dir / name);
        write_file(copy(name), before[name]);
        fs::permissions(copy(name), fs::perms(0600));
        lines.push_back(copy_line(name + "~" + run, before[name]));
        write_file(dir / name, "half posted");
    }
    void writeMarker(const std::vector<std::string>& copyLines, bool end = true) {
        std::string text = "dodedoz run marker 2\nhost elsewhere\nprocess 4242\n";
        for (const auto& l : copyLines) text += l + "\n";
        write_file(marker(), text + (end ? "end\n" : ""));
    }
    void twoFiles() {
        dataFile(1, "MASTER.TST");
        dataFile(6, "HISTORY.TST");
        writeMarker(lines);
    }
    bool settle(bool mayWrite, const std::string& only = "") { return xio::settle_dead_runs({dir.string(), mayWrite, only}); }
    bool isBefore(const std::string& name) { return bytes_of(dir / name) == before[name]; }
    bool halfPosted(const std::string& name) { return bytes_of(dir / name) == "half posted"; }
};

// A run that died inside a commit leaves that commit's journal beside the data file, hot. The
// put-back puts the copy over the file and removes the journal with the writes it belongs to,
// emptying any other name it has: nothing plays it over the copy afterwards.
TEST_F(RunMarkerTest, APutBackRemovesTheJournalOfTheCommitTheRunDiedIn) {
    dataFile(1, "MASTER.TST");
    write_file(dir / "MASTER.TST", before["MASTER.TST"]);  // as the run found it
    ASSERT_TRUE(stop_in_commit([&] {
        uint16_t h = 0;
        if (xio_open_file(dir / "MASTER.TST", 1, h) == XIO_OK && xio_start_writes(h) == XIO_OK &&
            addCustomer(h, "RUN", "RUN") == XIO_OK)
            (void)xio_commit(h);  // the child ends inside it
    }));
    writeMarker(lines);
    ASSERT_TRUE(fs::exists(dir / "MASTER.TST-journal"));
    ASSERT_NE(bytes_of(dir / "MASTER.TST"), before["MASTER.TST"]);
    fs::create_hard_link(dir / "MASTER.TST-journal", dir / "kept");
    EXPECT_TRUE(settle(true));
    EXPECT_THAT(said(), Not(HasSubstr("MASTER.TST-journal"))) << "the journal was played over the copy afterwards";
    EXPECT_EQ(bytes_of(dir / "MASTER.TST"), before["MASTER.TST"]);
    EXPECT_FALSE(fs::exists(dir / "MASTER.TST-journal"));
    EXPECT_EQ(fs::file_size(dir / "kept"), 0u);  // its other name holds nothing to put back later
}

// A backup folder of an earlier version, its owner's alone (0700), is opened to the company by
// its owner's next writing command; a look leaves it as it is.
TEST_F(RunMarkerTest, AnOwnersBackupFolderOfAnEarlierVersionIsOpenedToTheCompany) {
    twoFiles();
    fs::permissions(folder(), fs::perms(0700));
    settle(false);
    EXPECT_EQ(fs::status(folder()).permissions(), fs::perms(0700));
    EXPECT_TRUE(settle(true)) << said();
    EXPECT_EQ(fs::status(folder()).permissions(), fs::perms(0755));
}

// A run that died beside this program's own live run, in the same backup folder (the next file
// of a command looks again): its files are still refused and put back, never passed over.
TEST_F(RunMarkerTest, ADeadRunBesideThisProgramsLiveRunIsStillSettled) {
    twoFiles();
    std::string why;
    const std::string own = xio::own_backup_folder(dir.string(), why);
    ASSERT_EQ(own, folder()) << why;
    ASSERT_EQ(xio::hold_run(own), 0);
    EXPECT_FALSE(settle(false));
    EXPECT_THAT(said(), HasSubstr("|MASTER.TST, HISTORY.TST|" + marker()));
    EXPECT_TRUE(settle(true));
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
    xio::let_go_run(own);
}

// A process number of this host that no longer runs: the run of a program that died.
pid_t DeadProcess() {
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    return dead;
}

// This host's name as a run's copies and markers carry it.
std::string RunHostName() {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::string h = host;
    std::replace(h.begin(), h.end(), '~', '_');
    std::replace(h.begin(), h.end(), '/', '_');
    return h;
}

TEST_F(RunMarkerTest, AWholeRunGoesBackWithTheDataFilesModeOwnerAndGroup) {
    twoFiles();
    fs::permissions(dir / "MASTER.TST", fs::perms(0640));
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((dir / "MASTER.TST").c_str(), 65534, 65534), 0);
    }
    // No journal at all: nothing plays it, and the put-back leaves it where it is.
    write_file(dir / "MASTER.TST-journal", "not the dead commit's");
    EXPECT_FALSE(settle(false));  // a look only says so
    EXPECT_THAT(said(), HasSubstr("|MASTER.TST, HISTORY.TST|"));
    // Found by a roundabout way, the marker is named by its plain path.
    fs::create_directories(dir / "sub");
    EXPECT_FALSE(xio::settle_dead_runs({dir.string() + "/sub/..", false, ""}));
    EXPECT_THAT(said(), HasSubstr("|MASTER.TST, HISTORY.TST|" + marker()));
    EXPECT_TRUE(halfPosted("MASTER.TST") && fs::exists(marker()));

    EXPECT_TRUE(settle(true));
    EXPECT_THAT(said(), HasSubstr("|MASTER.TST, HISTORY.TST|" + marker()));
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
    EXPECT_EQ(bytes_of(dir / "MASTER.TST-journal"), "not the dead commit's");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "MASTER.TST").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
    }
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(folder())) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"folder.lock"});
}

// Nothing goes back unless every copy is the run's own, byte for byte; whatever stands in the
// folder is read without following, hanging or writing outside.
TEST_F(RunMarkerTest, NothingGoesBackUnlessEveryCopyIsProved) {
    const fs::path other = make_temp_dir();
    ASSERT_EQ(xio_create_file("TST", 1, other / "MASTER.TST"), XIO_OK);
    struct Case {
        const char* kind;
        std::function<void(RunMarkerTest&)> plant;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"a copy with a byte flipped",
         [](RunMarkerTest& t) {
             std::string b = t.before["MASTER.TST"];
             b[b.size() / 2] ^= 1;
             write_file(t.copy("MASTER.TST"), b);
         },
         "its bytes are not those the run copied"},
        {"a copy cut short", [](RunMarkerTest& t) { fs::resize_file(t.copy("HISTORY.TST"), 4096); }, "does not match its marker (it holds 4096"},
        {"a copy grown", [](RunMarkerTest& t) { fs::resize_file(t.copy("HISTORY.TST"), 1 << 20); }, "does not match its marker"},
        {"a copy missing", [](RunMarkerTest& t) { fs::remove(t.copy("HISTORY.TST")); }, "which its marker names, is missing"},
        {"a marker that lost a copy's line", [](RunMarkerTest& t) { t.writeMarker({t.lines[0]}); }, "that its marker"},
        {"a copy of another file, the marker agreeing with it",
         [](RunMarkerTest& t) {
             write_file(t.copy("MASTER.TST"), t.before["HISTORY.TST"]);
             t.writeMarker({copy_line("MASTER.TST~" + t.run, t.before["HISTORY.TST"]), t.lines[1]});
         },
         "holds TST file 6, not MASTER.TST"},
        {"a copy hard-linked to another company's file",
         [&](RunMarkerTest& t) {
             fs::remove(t.copy("MASTER.TST"));
             fs::create_hard_link(other / "MASTER.TST", t.copy("MASTER.TST"));
         },
         "is not a copy this program made"},
        {"a copy that is a link",
         [&](RunMarkerTest& t) {
             fs::remove(t.copy("MASTER.TST"));
             fs::create_symlink(other / "MASTER.TST", t.copy("MASTER.TST"));
         },
         "is not a copy this program made"},
        {"a FIFO as copy",
         [](RunMarkerTest& t) {
             fs::remove(t.copy("MASTER.TST"));
             ASSERT_EQ(::mkfifo(t.copy("MASTER.TST").c_str(), 0600), 0);
         },
         "is not a copy this program made"},
        {"a marker that is a link",
         [&](RunMarkerTest& t) {
             fs::rename(t.marker(), other / "marker");
             fs::create_symlink(other / "marker", t.marker());
         },
         "cannot be read"},
        {"a hard-linked marker", [&](RunMarkerTest& t) { fs::create_hard_link(t.marker(), other / "marker2"); }, "it has other links"},
        {"a marker of another first line",
         [](RunMarkerTest& t) { write_file(t.marker(), "some other file\nend\n"); },
         "it is not a run marker"},
        {"a marker over 64 KiB", [](RunMarkerTest& t) { fs::resize_file(t.marker(), 65 * 1024); }, "larger than any marker"},
        {"a copy whose dz_meta is a view, the marker agreeing with it",
         [](RunMarkerTest& t) {
             sqlite3* db = nullptr;
             ASSERT_EQ(sqlite3_open(t.copy("MASTER.TST").c_str(), &db), SQLITE_OK);
             ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE m AS SELECT * FROM dz_meta; DROP TABLE dz_meta; "
                                        "CREATE VIEW dz_meta AS SELECT * FROM m", nullptr, nullptr, nullptr), SQLITE_OK);
             sqlite3_close(db);
             t.writeMarker({copy_line("MASTER.TST~" + t.run, bytes_of(t.copy("MASTER.TST"))), t.lines[1]});
         },
         "does not match its marker (it is not a data file)"},
        {"a marker naming one data file many times",
         [](RunMarkerTest& t) {
             std::vector<std::string> many(1000, t.lines[0]);
             t.writeMarker(many);
         },
         "it names MASTER.TST twice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        TearDown();
        SetUp();
        before.clear();
        lines.clear();
        twoFiles();
        c.plant(*this);
        EXPECT_FALSE(settle(true));
        EXPECT_THAT(said(), HasSubstr(c.says));
        EXPECT_TRUE(halfPosted("MASTER.TST") && halfPosted("HISTORY.TST"));  // nothing at all went back
        EXPECT_TRUE(fs::exists(fs::symlink_status(marker())));
        EXPECT_TRUE(fs::exists(fs::symlink_status(copy("MASTER.TST"))));
        std::size_t lockFiles = 0;  // none but those of the two data files
        for (const auto& e : fs::directory_iterator(dir)) lockFiles += e.path().extension() == ".locks";
        EXPECT_LE(lockFiles, 2u);
    }
    fs::remove_all(other);
}

TEST_F(RunMarkerTest, AMarkerWithoutItsEndNeverCommittedAndGoesAlone) {
    dataFile(1, "MASTER.TST");
    writeMarker(lines, false);
    EXPECT_TRUE(settle(true));
    EXPECT_TRUE(halfPosted("MASTER.TST"));  // what the run never committed stands as it is
    EXPECT_FALSE(fs::exists(marker()) || fs::exists(copy("MASTER.TST")));
}

TEST_F(RunMarkerTest, ADataFileInUseIsNotReplacedUnderItsUser) {
    {
        SCOPED_TRACE("open for writing in this program when the dead run appears");
        const uint16_t h = open();
        ASSERT_NE(h, 0);
        dataFile(6, "HISTORY.TST");
        write_file(copy("MASTER.TST"), bytes_of(dir / "MASTER.TST"));
        fs::permissions(copy("MASTER.TST"), fs::perms(0600));
        writeMarker({copy_line("MASTER.TST~" + run, bytes_of(dir / "MASTER.TST")), lines[0]});
        EXPECT_FALSE(settle(true, "MASTER.TST"));
        EXPECT_THAT(said(), HasSubstr("is open in this program"));
        EXPECT_TRUE(halfPosted("HISTORY.TST"));
        close(h);
    }
    {
        SCOPED_TRACE("written by another process");
        const std::string path = (dir / "HISTORY.TST").string();
        const pid_t holder = spawn_holder([&] {
            static xio::LockTable table(path, 1);
            return table.open() == XIO_OK && table.acquire('W', "") == XIO_OK;
        });
        ASSERT_GT(holder, 0);
        fs::remove(copy("MASTER.TST"));
        writeMarker({lines[0]});
        EXPECT_FALSE(settle(true));
        // The holder is named, and waited for by name.
        const auto notices = xio::take_run_notices();
        xio::forget_run_notices_said();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_THAT(notices[0].reason, HasSubstr("HISTORY.TST is in use by another program (process " + std::to_string(holder)));
        EXPECT_THAT(notices[0].reason, HasSubstr(") that is writing it"));
        EXPECT_EQ(notices[0].next, (ui::NextStep{ui::Step::AgainWhenFinished, {xio::process_words(holder)}}));
        EXPECT_TRUE(halfPosted("HISTORY.TST"));
        kill_and_reap(holder);
    }
    // Read by another program: a read lock over the writer's byte (the lock file's hash of the
    // kind 'W' and an empty key) names its process; one through an open file description names
    // none, and its step is how to find it.
    const std::string lock = xio::lock_file_path(dir / "HISTORY.TST").string();
    const uint64_t writerByte =
        ((1469598103934665603ull ^ static_cast<unsigned char>('W')) * 1099511628211ull) & ((1ull << 62) - 1);
    const struct {
        int how;
        off_t start, len;
    } readers[] = {{F_OFD_SETLK, 0, 0}, {F_SETLK, static_cast<off_t>(writerByte), 1}};
    for (const auto& r : readers) {
        SCOPED_TRACE(r.how == F_SETLK ? "a process's read lock" : "an open file description's read lock");
        const pid_t reader = spawn_holder([&] {
            struct flock fl {};
            fl.l_type = F_RDLCK;
            fl.l_whence = SEEK_SET;
            fl.l_start = r.start;
            fl.l_len = r.len;
            const int fd = ::open(lock.c_str(), O_RDONLY);
            return fd >= 0 && ::fcntl(fd, r.how, &fl) == 0;
        });
        ASSERT_GT(reader, 0);
        EXPECT_FALSE(settle(true));
        const auto notices = xio::take_run_notices();
        xio::forget_run_notices_said();
        ASSERT_EQ(notices.size(), 1u);
        if (r.how == F_SETLK) {
            EXPECT_THAT(notices[0].reason, HasSubstr("(" + xio::process_words(reader) + ") that is reading it"));
        } else {
            EXPECT_EQ(notices[0].next, (ui::NextStep{ui::Step::FindLockHolder, {lock}}));
        }
        kill_and_reap(reader);
    }
    EXPECT_TRUE(settle(true));
    EXPECT_TRUE(isBefore("HISTORY.TST"));
}

TEST_F(RunMarkerTest, AMarkerOfThePreviousVersionsIsStillPutBack) {
    {
        SCOPED_TRACE("names and no hashes, the marker its own lock");
        dataFile(1, "MASTER.TST");
        dataFile(6, "HISTORY.TST");
        fs::remove(folder() + "run~" + run + ".lock");
        fs::remove(copy("MASTER.TST"));  // that version removed a copy it had put back itself
        write_file(marker(), "dodedoz run marker\nhost elsewhere\nprocess 4242\ncopy MASTER.TST~" + run +
                                 "\ncopy HISTORY.TST~" + run + "\nend\n");
        const int held = ::open(marker().c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        EXPECT_TRUE(settle(true));  // alive: left alone
        EXPECT_TRUE(halfPosted("HISTORY.TST"));
        ::close(held);
        EXPECT_TRUE(settle(true));
        EXPECT_TRUE(isBefore("HISTORY.TST"));
    }
    {
        SCOPED_TRACE("paths, as an older one made them");
        before.clear();
        fs::remove(dir / "MASTER.TST");
        dataFile(1, "MASTER.TST");
        write_file(marker(), "dodedoz run marker\nstart 12345\ncopy /moved/since/co/.backup/MASTER.TST~" + run + "\nend\n");
        EXPECT_TRUE(settle(true));
        EXPECT_TRUE(isBefore("MASTER.TST"));
        EXPECT_FALSE(fs::exists(marker()));
    }
}

TEST_F(RunMarkerTest, NothingOutsideTheCompanyIsReadOrWritten) {
    {
        SCOPED_TRACE("a marker line that points into another folder's backup folder");
        dataFile(1, "MASTER.TST");
        writeMarker({"copy ../elsewhere/.backup/MASTER.TST~" + run + " 1 0000000000000001"});
        EXPECT_FALSE(settle(true));
        EXPECT_THAT(said(), HasSubstr("which is not a copy of its run"));
        EXPECT_TRUE(halfPosted("MASTER.TST") && fs::exists(marker()));
    }
    {
        SCOPED_TRACE("a link elsewhere pointing into the company's backup folder");
        const fs::path elsewhere = make_temp_dir();
        fs::create_directory_symlink(folder(), elsewhere / ".backup");
        writeMarker(lines);
        EXPECT_TRUE(xio::settle_dead_runs({elsewhere.string(), true, ""}));
        EXPECT_FALSE(fs::exists(elsewhere / "MASTER.TST"));
        EXPECT_TRUE(halfPosted("MASTER.TST") && fs::exists(marker()) && fs::exists(copy("MASTER.TST")));
        fs::remove_all(elsewhere);
    }
    {
        SCOPED_TRACE("a put-back that fails keeps the marker and every copy");
        fs::remove(dir / "MASTER.TST");
        fs::create_directory(dir / "MASTER.TST");
        EXPECT_FALSE(settle(true));
        EXPECT_THAT(said(), HasSubstr("MASTER.TST is not a regular file"));
        EXPECT_TRUE(fs::exists(marker()) && fs::exists(copy("MASTER.TST")));
    }
}

TEST_F(RunMarkerTest, TwoProgramsPuttingOneRunBackTheSecondWaitsAndFindsItDone) {
    twoFiles();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        xio::set_put_back_hook_for_tests([&](const std::string&) {
            (void)!::write(ready[1], "x", 1);
            ::usleep(300 * 1000);
        });
        ::_exit(settle(true) ? 0 : 1);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);  // the first is putting it back
    EXPECT_TRUE(settle(true));
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));  // done when the second's answer comes
    EXPECT_EQ(said(), "");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST_F(RunMarkerTest, AFileAsideOfAPutBackKilledMidwayGoesWithTheNextWriter) {
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const std::string left = company() + "MASTER.TST.restore" + std::to_string(dead);
    const std::string live = company() + "MASTER.TST.restore1";  // process 1 runs
    const std::string own = company() + "plan.restore" + std::to_string(dead);  // beside no file of its name
    write_file(dir / "MASTER.TST", "data");
    for (const auto& f : {left, left + "_2", live, own}) write_file(f, "aside");
    xio::remove_restore_leftovers(company());
    EXPECT_FALSE(fs::exists(left) || fs::exists(left + "_2"));
    EXPECT_TRUE(fs::exists(live) && fs::exists(own));
}

// A run whose data files lie in two folders commits at one point, the company folder's marker:
// killed on either side of it, every file is found before the run, or every file after it.
TEST_F(RunMarkerTest, TwoFoldersCommitAtOnePoint) {
    const fs::path part = dir / "tl";
    fs::create_directory(part);
    ASSERT_EQ(xio_create_file("TST", 1, dir / "MASTER.TST"), XIO_OK);
    ASSERT_EQ(xio_create_file("TST", 6, part / "HISTORY.TST"), XIO_OK);
    const std::map<fs::path, std::string> original = {{dir / "MASTER.TST", bytes_of(dir / "MASTER.TST")},
                                                      {part / "HISTORY.TST", bytes_of(part / "HISTORY.TST")}};
    xio::set_company_folders([&] { return std::vector<std::string>{dir.string(), part.string()}; });
    enum Window { BeforeTheCommitPoint, AtTheCommitPoint };
    for (const Window window : {BeforeTheCommitPoint, AtTheCommitPoint})
        for (const bool partFirst : {false, true}) {
            SCOPED_TRACE(std::string(window == AtTheCommitPoint ? "killed just past the commit point" : "killed before it") +
                         (partFirst ? ", the part's folder settled first" : ""));
            for (const auto& [file, bytes] : original) write_file(file, bytes);
            const pid_t child = ::fork();
            if (child == 0) {
                std::vector<xio::RunCopy> copies;
                for (const auto& [file, bytes] : original) {
                    std::string why;
                    const std::string backup = xio::own_backup_folder(file.parent_path().string(), why);
                    if (backup.empty() || xio::hold_run(backup) != 0) ::_exit(2);
                    const std::string copy = backup + xio::run_copy_name(file.filename().string(), 1);
                    write_file(copy, bytes);
                    ::chmod(copy.c_str(), 0600);
                    StreamHash h;
                    h.Add(bytes);
                    copies.push_back({copy, bytes.size(), h.Value()});
                }
                if (xio::write_run_markers(copies, dir.string()) != 0) ::_exit(3);
                // The commits, each carrying the run that made it.
                for (const auto& [file, bytes] : original) {
                    uint16_t h = 0;
                    if (xio_open_file(file, XIO_OPEN_READ_WRITE, h) != XIO_OK || xio_start_writes(h) != XIO_OK ||
                        xio_put_meta(h, "posted", "after") != XIO_OK || xio_commit(h) != XIO_OK)
                        ::_exit(5);
                    xio_cls_file(h);
                }
                if (window == BeforeTheCommitPoint) ::raise(SIGKILL);
                xio::set_commit_point_hook_for_tests([] { ::raise(SIGKILL); });
                xio::clear_run_markers();
                ::_exit(4);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status)) << status;
            const std::vector<std::string> order =
                partFirst ? std::vector<std::string>{part.string(), dir.string()} : std::vector<std::string>{dir.string(), part.string()};
            for (const auto& f : order) EXPECT_TRUE(xio::settle_dead_runs({f, true, ""})) << said();
            said();
            for (const auto& [file, bytes] : original)
                EXPECT_EQ(bytes_of(file) == bytes, window != AtTheCommitPoint) << file;
            for (const auto& f : {dir / ".backup", part / ".backup"}) {
                std::vector<std::string> left;
                for (const auto& e : fs::directory_iterator(f)) left.push_back(e.path().filename().string());
                EXPECT_EQ(left, std::vector<std::string>{"folder.lock"}) << f;
            }
        }
}

TEST_F(RunMarkerTest, AHeldFolderLockIsWaitedForABoundedTimeAndNamed) {
    twoFiles();
    const std::string lock = folder() + "folder.lock";
    write_file(lock, "");
    fs::permissions(lock, fs::perms(0600));
    // Let go a minute later: a wait that overran its bound would have the lock and settle.
    const pid_t holder = spawn_holder_for(60, [&] {
        const int fd = ::open(lock.c_str(), O_RDWR);
        return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
    });
    ASSERT_GT(holder, 0);
    xio::set_lock_wait_for_tests(std::chrono::milliseconds(300));
    EXPECT_FALSE(settle(true));
    const auto notices = xio::take_run_notices();
    xio::forget_run_notices_said();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_THAT(notices[0].reason, HasSubstr("the lock file " + lock + " is held by process " + std::to_string(holder) + " of user "));
    // ... said as a conversion in progress (its holder lives), never as one that stopped.
    EXPECT_EQ(notices[0].kind, xio::RunNoticeKind::InProgress);
    EXPECT_EQ(notices[0].next, (ui::NextStep{ui::Step::AskUserToPutBack, {xio::user_name(::geteuid())}}));
    EXPECT_TRUE(halfPosted("MASTER.TST"));
    EXPECT_TRUE(settle(false) == false);  // a look never waits on it
    kill_and_reap(holder);
    xio::set_lock_wait_for_tests(std::chrono::seconds(10));
    EXPECT_TRUE(settle(true));
}

// A backup folder holding no marker and no copy holds no run: its lock not had (no lock file at
// all, or held by another program) stops nobody and says nothing of a stopped conversion.
TEST_F(RunMarkerTest, AFolderLockNotHadWhereNoRunStandsStopsNobody) {
    fs::create_directories(folder());
    ASSERT_EQ(::mkfifo((folder() + "folder.lock").c_str(), 0600), 0);
    EXPECT_TRUE(settle(true));
    EXPECT_EQ(said(), "");
    fs::remove(folder() + "folder.lock");
    const std::string lock = folder() + "folder.lock";
    write_file(lock, "");
    const pid_t holder = spawn_holder([&] {
        const int fd = ::open(lock.c_str(), O_RDWR);
        return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
    });
    ASSERT_GT(holder, 0);
    xio::set_lock_wait_for_tests(std::chrono::milliseconds(100));
    EXPECT_TRUE(settle(true));
    xio::set_lock_wait_for_tests(std::chrono::seconds(10));
    kill_and_reap(holder);
    EXPECT_EQ(said(), "");
}

// A settler beside a live run, at each window of taking the run's lock, in either order: the run
// holding its lock before the settler opens it, or taking it after the open, or coming to hold
// the file the name names after the settler's lock (its look at the name not yet made). The run
// keeps its copies, marker and lock file; its lock file is never set aside, renamed over or
// removed while held. Let go, the run is dead and put back.
TEST_F(RunMarkerTest, ASettlerBesideALiveRunTakesNothingOfIt) {
    twoFiles();
    const std::string lock = folder() + "run~" + run + ".lock";
    struct Window {
        const char* name;
        xio::LockStep step;  // where the run comes to hold it (Opened as the settler's first step too)
        bool heldFirst;      // the run holds it before the settler opens it
    };
    for (const Window w : {Window{"held before the settler looks", xio::LockStep::Opened, true},
                           Window{"taken between the settler's open and lock", xio::LockStep::Opened, false},
                           Window{"the name leads to the run's file after the settler's lock", xio::LockStep::Locked, false},
                           Window{"the name leads to the run's file once the settler judged it dead", xio::LockStep::Removing, false}}) {
        SCOPED_TRACE(w.name);
        int live = -1;
        auto hold = [&](const std::string& path) {
            live = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_EQ(::flock(live, LOCK_EX | LOCK_NB), 0);
        };
        if (w.heldFirst) hold(lock);
        std::vector<xio::LockStep> seen;
        xio::set_lock_hook_for_tests([&](xio::LockStep step, const std::string& path) {
            if (fs::path(path).filename() != fs::path(lock).filename()) return;
            if (live >= 0) seen.push_back(step);  // steps taken while the run holds it
            if (w.heldFirst || live >= 0 || step != w.step) return;
            if (step == xio::LockStep::Locked || step == xio::LockStep::Removing) {
                // The run's own file comes to bear the name (as a run of this number made it).
                write_file(lock + ".run", "");
                fs::permissions(lock + ".run", fs::perms(0644));
                hold(lock + ".run");
                fs::rename(lock + ".run", lock);
            } else {
                hold(lock);
            }
        });
        struct stat was {};
        ASSERT_EQ(::lstat(lock.c_str(), &was), 0);
        EXPECT_TRUE(settle(true)) << said();
        xio::set_lock_hook_for_tests(nullptr);
        said();
        struct stat named {}, held {};
        ASSERT_EQ(::lstat(lock.c_str(), &named), 0) << "the live run's lock file was removed";
        ASSERT_EQ(::fstat(live, &held), 0);
        EXPECT_EQ(named.st_ino, held.st_ino) << "the name no longer names the live run's lock file";
        if (w.heldFirst) {
            EXPECT_EQ(named.st_ino, was.st_ino);
        }
        EXPECT_THAT(seen, Not(::testing::Contains(xio::LockStep::BeforeRename))) << "a held lock file was to be replaced";
        ::close(live);
        // Judged dead under its lock, the run was put back; only the lock file now at its name stays.
        if (w.step == xio::LockStep::Removing) continue;
        EXPECT_TRUE(fs::exists(marker()));
        EXPECT_TRUE(fs::exists(copy("MASTER.TST")) && fs::exists(copy("HISTORY.TST")));
        EXPECT_TRUE(halfPosted("MASTER.TST") && halfPosted("HISTORY.TST"));
    }
    EXPECT_TRUE(settle(true));
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_FALSE(fs::exists(lock));
}

// Lock files left wider than their owner's alone: made afresh, so that what an outsider opened
// meanwhile holds nothing; one of another owner is refused.
TEST_F(RunMarkerTest, WidenedLockFilesAreMadeAfreshNotRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as an outsider";
    fs::permissions(dir, fs::perms(0755));
    twoFiles();
    const std::string runLock = folder() + "run~" + run + ".lock", folderLock = folder() + "folder.lock";
    {
        SCOPED_TRACE("a run lock of another owner");
        ASSERT_EQ(::chown(runLock.c_str(), 1234, 1234), 0);
        EXPECT_FALSE(settle(true));
        EXPECT_THAT(said(), HasSubstr(runLock));
        EXPECT_TRUE(halfPosted("MASTER.TST"));
        ASSERT_EQ(::chown(runLock.c_str(), 0, 0), 0);
    }
    {
        SCOPED_TRACE("a run lock held whole by a user it was never for: cannot be told, its holder named");
        fs::permissions(runLock, fs::perms(0644));  // as a run makes it: any member may ask, and hold
        const pid_t holder = spawn_holder([&] {
            const int fd = ::open(runLock.c_str(), O_RDONLY);
            return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
        }, 65534);
        ASSERT_GT(holder, 0);
        xio::set_lock_wait_for_tests(std::chrono::milliseconds(100));
        EXPECT_FALSE(settle(true));
        xio::set_lock_wait_for_tests(std::chrono::seconds(10));
        EXPECT_THAT(said(), HasSubstr("it is held by process " + std::to_string(holder) + " of user "));
        EXPECT_TRUE(halfPosted("MASTER.TST"));
        EXPECT_TRUE(fs::exists(runLock));
        kill_and_reap(holder);
    }
    // An outsider holds both shared, opened while they were readable and narrowed again since:
    // the folder's lock is made afresh, so its hold holds nothing; a run's lock, which every
    // member may read to ask, is never made afresh from under a holder: the run stays as it
    // stands, its holder named, until that process has ended.
    write_file(folderLock, "");
    for (const auto& f : {runLock, folderLock}) fs::permissions(f, fs::perms(0644));
    const pid_t reader = spawn_holder([&] {
        for (const auto& f : {runLock, folderLock})
            if (const int fd = ::open(f.c_str(), O_RDONLY); fd < 0 || ::flock(fd, LOCK_SH) != 0) return false;
        return true;
    }, 65534);
    ASSERT_GT(reader, 0);
    for (const auto& f : {runLock, folderLock}) fs::permissions(f, fs::perms(0600));
    xio::set_lock_wait_for_tests(std::chrono::milliseconds(300));
    EXPECT_FALSE(settle(true));
    EXPECT_THAT(said(), HasSubstr(runLock + " of the run cannot be used (it is held by process " + std::to_string(reader)));
    EXPECT_TRUE(halfPosted("MASTER.TST") && fs::exists(runLock));
    kill_and_reap(reader);
    EXPECT_TRUE(settle(true)) << said();
    xio::set_lock_wait_for_tests(std::chrono::seconds(10));
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
    EXPECT_EQ(fs::status(folderLock).permissions(), fs::perms(0600));
}

// A dead run's lock kept by a descriptor after the process that took it ended: never a run that
// posts, never put back under it; the refusal names the lock file and its holder, with the step
// to have that process ended, after which the run is put back.
TEST_F(RunMarkerTest, ADeadRunsLockKeptByAnEndedProcessIsNamedNeverTakenForAPostingRun) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as an outsider";
    fs::permissions(dir, fs::perms(0755));
    twoFiles();
    const std::string runLock = folder() + "run~" + run + ".lock";
    fs::permissions(runLock, fs::perms(0644));  // as a run makes it: any member may ask
    const pid_t group = spawn_kept_lock(runLock, LOCK_EX, 30, 65534);
    ASSERT_GT(group, 0);
    // The step names the process an administrator ends: the one keeping it.
    auto endsTheKeeper = [&](const std::string& text) { return names_keeper(text, "|next;" + runLock + ";", group); };
    for (const std::string only : {"", "MASTER.TST"}) {
        SCOPED_TRACE(only.empty() ? "the company's settling" : "under a data file's writer lock");
        EXPECT_FALSE(settle(true, only));
        const std::string text = said();
        EXPECT_THAT(text, HasSubstr("the lock file " + runLock + " of the run cannot be used (it is held by a process that has ended"));
        EXPECT_TRUE(endsTheKeeper(text)) << text;
        EXPECT_THAT(text, Not(HasSubstr("posting")));
        EXPECT_TRUE(halfPosted("MASTER.TST") && halfPosted("HISTORY.TST"));
    }
    {
        SCOPED_TRACE("a look, which refuses a run that may be half posted");
        EXPECT_FALSE(settle(false));
        const std::string text = said();
        EXPECT_THAT(text, HasSubstr("its lock file " + runLock + " is held by a process that has ended"));
        EXPECT_TRUE(endsTheKeeper(text)) << text;
    }
    kill_group_and_reap(group, runLock);
    EXPECT_TRUE(settle(true)) << said();
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
}

// A run's lock its own user cannot open, which nobody holds: refused as one that cannot be used,
// naming no holder.
TEST_F(RunMarkerTest, ARunLockItsUserCannotOpenNamesNoHolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as a user who may not open their own file";
    fs::permissions(dir, fs::perms(0755));
    twoFiles();
    const std::string runLock = folder() + "run~" + run + ".lock";
    std::vector<std::string> theirs = {dir.string(), folder(), (dir / "MASTER.TST").string(), (dir / "HISTORY.TST").string()};
    for (const auto& e : fs::directory_iterator(folder())) theirs.push_back(e.path().string());
    for (const auto& f : theirs) ASSERT_EQ(::chown(f.c_str(), 4321, 4321), 0) << f;
    fs::permissions(runLock, fs::perms::none);
    const std::string answer = testing_support::AnswerAs(4321, 4321, [&] { return settle(true) ? "settled" : "refused: " + said(); });
    EXPECT_THAT(answer, HasSubstr("refused: the lock file " + runLock + " of the run cannot be used: nothing is put back"));
    EXPECT_THAT(answer, Not(HasSubstr("held by")));
    EXPECT_TRUE(halfPosted("MASTER.TST"));
}

// A backup folder's lock held by a user it is not for, opened while it was wider: said at once,
// with the step to have that process ended; a folder holding no run stops nobody but a
// conversion, which would make its run there; one holding a run refuses the command. The holder
// lets go on its own within the wait, so a wait shows as a run put back.
TEST_F(RunMarkerTest, AFolderLockHeldByAnOutsiderIsSaidAtOnce) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as an outsider";
    fs::permissions(dir, fs::perms(0755));
    const std::string folderLock = folder() + "folder.lock";
    write_file(folderLock, "");
    auto holdFolderLock = [&] {
        fs::permissions(folderLock, fs::perms(0644));
        const pid_t holder = spawn_holder_for(3, [&] {
            const int fd = ::open(folderLock.c_str(), O_RDONLY);
            return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
        }, 65534);
        fs::permissions(folderLock, fs::perms(0600));
        return holder;
    };
    xio::set_lock_wait_for_tests(std::chrono::seconds(10));
    {
        SCOPED_TRACE("kept by a descriptor after the process that took it ended, no run there");
        fs::permissions(folderLock, fs::perms(0644));
        const pid_t group = spawn_kept_lock(folderLock, LOCK_EX, 30, 65534);
        fs::permissions(folderLock, fs::perms(0600));
        ASSERT_GT(group, 0);
        EXPECT_TRUE(xio::settle_dead_runs({dir.string(), true, "", false}));
        const auto notices = xio::take_run_notices();
        xio::forget_run_notices_said();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].next.step, ui::Step::MayEndLockHolder);
        // What an administrator may end is the process keeping it, as the refusals name it.
        EXPECT_TRUE(names_keeper(notices[0].next.args.back(), "", group)) << notices[0].next.args.back();
        kill_group_and_reap(group, folderLock);
    }
    const struct {
        bool withRun, converting;
    } cases[] = {{false, false}, {false, true}, {true, false}};
    for (const auto& [withRun, converting] : cases) {
        SCOPED_TRACE(withRun ? "a run stands there" : converting ? "a conversion, no run there" : "no run stands there");
        if (withRun) twoFiles();
        const pid_t holder = holdFolderLock();
        ASSERT_GT(holder, 0);
        const bool refused = withRun || converting;
        EXPECT_EQ(xio::settle_dead_runs({dir.string(), true, "", converting}), !refused);
        const auto notices = xio::take_run_notices();
        xio::forget_run_notices_said();
        kill_and_reap(holder);
        ASSERT_EQ(notices.size(), 1u);
        // Where nothing stands, the conversion is refused as one that cannot make its run there.
        EXPECT_EQ(notices[0].kind, withRun      ? xio::RunNoticeKind::ForeignLock
                                   : converting ? xio::RunNoticeKind::ForeignLockNoRun
                                                : xio::RunNoticeKind::ForeignLockAside);
        // The message says whose it is not: the reason names the lock file and its holder alone.
        EXPECT_EQ(notices[0].reason, "the lock file " + folderLock + " is held by process " + std::to_string(holder) +
                                         " of user nobody");
        // A command that goes on is told what an administrator may do, never to run again.
        EXPECT_EQ(notices[0].next.step, refused ? ui::Step::EndLockHolder : ui::Step::MayEndLockHolder);
        if (withRun) {
            EXPECT_TRUE(halfPosted("MASTER.TST"));
        }
    }
    // A run of this program that needs the folder is refused at once the same way.
    const pid_t holder = holdFolderLock();
    ASSERT_GT(holder, 0);
    std::string why;
    ui::NextStep next;
    EXPECT_EQ(xio::hold_run(folder(), &why, &next), EWOULDBLOCK);
    kill_and_reap(holder);
    EXPECT_THAT(why, HasSubstr(folderLock + " is held by process " + std::to_string(holder)));
    EXPECT_EQ(next.step, ui::Step::EndLockHolder);
}

// Root, for another user's backup folder: that user's lock file, made as theirs when missing,
// and waited for a bounded time when held, the message naming it and its holder.
TEST_F(RunMarkerTest, RootTakesAnotherUsersFolderLockAsTheirs) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as a second user";
    fs::permissions(dir, fs::perms(0755));
    twoFiles();
    for (const auto& f : {"MASTER.TST", "HISTORY.TST"}) fs::permissions(dir / f, fs::perms(0666));
    const std::string theirs = company() + ".backup-65534/";
    fs::rename(folder(), theirs);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    for (const auto& e : fs::directory_iterator(theirs)) ASSERT_EQ(::chown(e.path().c_str(), 65534, 65534), 0);
    const std::string lock = theirs + "folder.lock";
    {
        SCOPED_TRACE("held by that user: waited for, then named");
        const pid_t holder = spawn_holder([&] {
            const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
            return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
        }, 65534);
        ASSERT_GT(holder, 0);
        xio::set_lock_wait_for_tests(std::chrono::milliseconds(300));
        EXPECT_FALSE(settle(true));
        xio::set_lock_wait_for_tests(std::chrono::seconds(10));
        kill_and_reap(holder);
        EXPECT_THAT(said(), HasSubstr("the lock file " + lock + " is held by process " + std::to_string(holder) + " of user "));
        EXPECT_TRUE(halfPosted("MASTER.TST"));
    }
    {
        SCOPED_TRACE("missing: made as that user's");
        fs::remove(lock);
        EXPECT_TRUE(settle(true)) << said();
        EXPECT_TRUE(isBefore("MASTER.TST"));
        struct stat st {};
        ASSERT_EQ(::stat(lock.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
}

TEST_F(RunMarkerTest, NamesReadFromTheFolderAreShownEscaped) {
    run = "bad\033[2J~4242";
    fs::remove(folder() + "run~elsewhere~4242.lock");
    dataFile(1, "MASTER.TST");
    write_file(marker(), "not a marker\n");
    EXPECT_FALSE(settle(true));
    const std::string text = said();
    EXPECT_THAT(text, HasSubstr("run~bad\\033[2J~4242.marker"));
    EXPECT_THAT(text, Not(HasSubstr("\033")));
}

// Two users of one company: a run is put back by its own user only, or by root for a user who
// may write every file it names; what this user cannot see or judge is never written over.
TEST_F(RunMarkerTest, OnlyTheUsersOwnRunsGoBack) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as a second user";
    fs::permissions(dir, fs::perms::all);
    auto asNobody = [&](const std::function<int()> body) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
            ::_exit(body());
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    twoFiles();
    {
        SCOPED_TRACE("another user's writer: refused, naming the marker and its owner, nothing taken or deleted");
        EXPECT_EQ(asNobody([&] {
                      if (settle(true)) return 1;
                      const std::string text = said();
                      return text.find(marker()) != std::string::npos && text.find("only its own user") != std::string::npos ? 0 : 2;
                  }),
                  0);
        EXPECT_TRUE(halfPosted("MASTER.TST") && fs::exists(copy("MASTER.TST")) && fs::exists(marker()));
    }
    {
        SCOPED_TRACE("nobody who may only read can lock what its owner waits on");
        write_file(folder() + "folder.lock", "");
        fs::permissions(folder() + "folder.lock", fs::perms(0600));
        EXPECT_EQ(asNobody([&] {
                      for (const auto& f : {folder() + "folder.lock", folder() + "run~" + run + ".lock"})
                          if (::open(f.c_str(), O_RDONLY) >= 0 || errno != EACCES) return 1;
                      return 0;
                  }),
                  0);
    }
    // The same run, now another user's, seen by root.
    const std::string theirs = company() + ".backup-65534";
    fs::rename(folder(), theirs);
    for (const auto& e : fs::directory_iterator(theirs)) ASSERT_EQ(::chown(e.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    const std::string theirMarker = theirs + "/run~" + run + ".marker";
    {
        SCOPED_TRACE("root, for a user who may not write a file that differs from its copy: cannot be told");
        EXPECT_FALSE(settle(true));
        EXPECT_THAT(said(), AllOf(HasSubstr("may not write"), HasSubstr("differs from its copy")));
        EXPECT_TRUE(halfPosted("MASTER.TST") && fs::exists(theirMarker));
    }
    fs::rename(theirs, theirs + "-aside");  // no backup folder's name: out of the way
    {
        SCOPED_TRACE("the unseen: a backup folder this user cannot list is refused by a writer");
        const std::string hidden = company() + ".backup-1234";
        fs::create_directory(hidden);
        ASSERT_EQ(::chown(hidden.c_str(), 1234, 1234), 0);
        fs::permissions(hidden, fs::perms(0700));
        EXPECT_EQ(asNobody([&] {
                      // A look goes on past it, and says what it could not see.
                      if (!xio::settle_dead_runs({dir.string(), false, ""}) ||
                          said().find(".backup-1234/ of uid 1234 cannot be read") == std::string::npos)
                          return 1;
                      if (xio::settle_dead_runs({dir.string(), true, ""})) return 2;
                      const std::string text = said();
                      return text.find(".backup-1234/ of ") != std::string::npos &&
                                     text.find("cannot be read by this user") != std::string::npos
                                 ? 0
                                 : 3;
                  }),
                  0);
        fs::remove(hidden);
        fs::rename(theirs + "-aside", theirs);
    }
    {
        SCOPED_TRACE("root, for a user who may write every file: put back, the owner kept");
        for (const auto& f : {"MASTER.TST", "HISTORY.TST"}) fs::permissions(dir / f, fs::perms(0666));
        EXPECT_TRUE(settle(true)) << said();
        EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
        struct stat st {};
        ASSERT_EQ(::stat((dir / "MASTER.TST").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(st.st_mode & 07777, 0666u);
    }
}

}  // namespace
}  // namespace dz::test

namespace dz::test {
namespace {

// Who runs a writing command, against whose run in which folder: put back, refused, or passed
// over. A folder is its owner's whatever its name says, and a run is genuine only when its owner
// may write what it names, whoever looks.
TEST_F(RunMarkerTest, WhoseRunGoesBackIsJudgedByOwnersAndRights) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    // daemon (1) and bin (2) have accounts, 4242 and 4243 none; the data files are root's, of
    // daemon's group, mode 0664: daemon may write them, bin may not, 4242's right cannot be told.
    enum Outcome { Back, Refused, Passed };
    using Plant = std::function<void(RunMarkerTest&, const std::string& folder)>;
    struct Row {
        const char* what;
        std::string folderName;
        uid_t owner;
        uid_t runner;
        gid_t runnerGroup;
        Outcome outcome;
        const char* says;
        Plant plant = nullptr;
        const char* list = nullptr;  // MASTER.TST's access list, put back
    };
    auto chownTo = [](const std::string& path, uid_t uid) { ASSERT_EQ(::lchown(path.c_str(), uid, uid), 0) << path; };
    const pid_t dead = DeadProcess();
    const std::string h = RunHostName();
    const std::vector<Row> rows = {
        {"its owner, a member of the files' group", ".backup", 1, 1, 1, Back,
         "its owner root (uid 0) could not be given back (its group daemon was kept)"},
        {"its owner, a member of the files' group: the step names every file to give back, and only the owner", ".backup",
         1, 1, 1, Back, "HISTORY.TST;root (uid 0);\n"},
        {"its owner, a member, a file with an access list: given back, root named as the owner it was", ".backup", 1, 1, 1,
         Back, "its owner root (uid 0) could not be given back",
         [](RunMarkerTest& t, const std::string&) {
             ASSERT_TRUE(set_acl(t.company() + "MASTER.TST", {{kUserObj, 6, kAny}, {kUser, 6, 4321}, {kGroupObj, 6, kAny},
                                                              {kMask, 6, kAny}, {kOther, 4, kAny}}));
         },
         "user::rw-,user:0:rw-,user:4321:rw-,group::rw-,mask::rw-,other::r--"},
        {"its owner, the folder handed over under another uid's name", ".backup-7", 1, 1, 1, Back, "|MASTER.TST, HISTORY.TST|"},
        {"root, for its owner", ".backup-1", 1, 0, 0, Back, "|MASTER.TST, HISTORY.TST|"},
        {"root, a data file removed since: made again as its sibling", ".backup-1", 1, 0, 0, Back,
         "did not stand, and was made again as",
         [](RunMarkerTest& t, const std::string&) { fs::remove(t.company() + "MASTER.TST"); }},
        {"a reader", ".backup-1", 1, 2, 2, Refused, "only its own user or an administrator puts it back"},
        {"another member of the group", ".backup-1", 1, 3, 1, Refused, "only its own user or an administrator puts it back"},
        {"a uid with no account", ".backup-1", 1, 4243, 4243, Refused, "only its own user or an administrator puts it back"},
        // A marker without a number whose user may not write a file that differs from its copy:
        // whether it is a conversion cannot be told, whoever asks.
        {"root, a run of a user who may not write the files", ".backup-2", 2, 0, 0, Refused, "differs from its copy"},
        {"a member, that run", ".backup-2", 2, 1, 1, Refused, "differs from its copy"},
        {"its owner, that run", ".backup-2", 2, 2, 2, Refused, "differs from its copy"},
        {"its owner, a file they own with mode 0444", ".backup", 1, 1, 1, Refused, "may not write",
         [](RunMarkerTest& t, const std::string&) {
             ASSERT_EQ(::chown((t.company() + "MASTER.TST").c_str(), 1, 1), 0);
             fs::permissions(t.company() + "MASTER.TST", fs::perms(0444));
         }},
        {"root, a run of a uid with no account", ".backup-4242", 4242, 0, 0, Refused, "who has no account"},
        {"a member, that run", ".backup-4242", 4242, 1, 1, Refused, "who has no account"},
        {"its owner, a copy of another uid", ".backup", 1, 1, 1, Refused, "is not a copy this program made",
         [&](RunMarkerTest& t, const std::string& f) { chownTo(f + "/MASTER.TST~" + t.run, 2); }},
        {"root, who may read it, a copy of another uid", ".backup-1", 1, 0, 0, Refused, "is not a copy this program made",
         [&](RunMarkerTest& t, const std::string& f) { chownTo(f + "/MASTER.TST~" + t.run, 2); }},
        {"its owner, a marker of another uid", ".backup", 1, 1, 1, Refused, "belongs to another user than its folder",
         [&](RunMarkerTest& t, const std::string& f) { chownTo(f + "/run~" + t.run + ".marker", 2); }},
        {"root, the run's lock file of another uid", ".backup-1", 1, 0, 0, Refused, "of the run cannot be used",
         [&](RunMarkerTest& t, const std::string& f) { chownTo(f + "/run~" + t.run + ".lock", 2); }},
        {"root, a marker naming another host's copy of another file", ".backup-1", 1, 0, 0, Refused,
         "which is not a copy of its run",
         [&](RunMarkerTest& t, const std::string& f) {
             write_file(f + "/run~" + t.run + ".marker",
                        "dodedoz run marker 2\nhost elsewhere\nprocess 4242\ncopy MASTER.GLM~otherhost~77 5 0000000000000001\nend\n");
             chownTo(f + "/run~" + t.run + ".marker", 1);
         }},
        {"root, another user's empty marker (cleared) and their copy beside no marker (kept)", ".backup-1", 1, 0, 0, Passed, "",
         [&](RunMarkerTest& t, const std::string& f) {
             write_file(f + "/run~" + t.run + ".marker", "");
             const std::string stray = f + "/MASTER.TST~" + h + "~" + std::to_string(dead);
             write_file(stray, "a copy");
             chownTo(f + "/run~" + t.run + ".marker", 1);
             chownTo(stray, 1);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        before.clear();
        lines.clear();
        fs::permissions(dir, fs::perms::all);
        twoFiles();
        for (const auto& f : {"MASTER.TST", "HISTORY.TST"}) {
            ASSERT_EQ(::chown((dir / f).c_str(), 0, 1), 0);
            fs::permissions(dir / f, fs::perms(0664));
        }
        const std::string theirs = company() + row.folderName;
        if (row.folderName != ".backup") fs::rename(folder(), theirs);
        for (const auto& e : fs::directory_iterator(theirs)) chownTo(e.path().string(), row.owner);
        chownTo(theirs, row.owner);
        if (row.plant) row.plant(*this, theirs);
        const std::string text = testing_support::AnswerAs(row.runner, row.runnerGroup, [&] {
            const bool ok = settle(true);
            return std::string(ok ? "1" : "0") + said();
        });
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text[0], row.outcome == Refused ? '0' : '1') << text;
        EXPECT_THAT(text, HasSubstr(row.says));
        const std::string theirMarker = theirs + "/run~" + run + ".marker";
        if (row.outcome == Back) {
            EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
            EXPECT_FALSE(fs::exists(theirMarker));
            struct stat st {};
            ASSERT_EQ(::stat((dir / "MASTER.TST").c_str(), &st), 0);
            EXPECT_EQ(st.st_gid, 1u);  // its users can still open it
            EXPECT_EQ(st.st_mode & 07777, 0664u);
            if (row.list) {
                EXPECT_EQ(xio::access_list((dir / "MASTER.TST").string())->words(), row.list);
            }
        } else if (row.outcome == Passed && row.says[0] == '\0') {
            EXPECT_FALSE(fs::exists(theirMarker));
            EXPECT_TRUE(fs::exists(theirs + "/MASTER.TST~" + h + "~" + std::to_string(dead)));
            EXPECT_EQ(text, "1");
        } else {
            EXPECT_TRUE(halfPosted("HISTORY.TST"));
            EXPECT_TRUE(fs::exists(theirMarker) && fs::exists(theirs + "/HISTORY.TST~" + run));
        }
    }
    {
        SCOPED_TRACE("a user whose backup folders went to another with the company makes another");
        for (const auto& name : {".backup", ".backup-1"}) {
            fs::create_directories(company() + name);
            chownTo(company() + name, 2);
        }
        const pid_t child = ::fork();
        if (child == 0) {
            const gid_t g = 1;
            if (::setgroups(1, &g) != 0 || ::setgid(1) != 0 || ::setuid(1) != 0) ::_exit(100);
            std::string why;
            ::_exit(xio::own_backup_folder(company(), why) == company() + ".backup-1-2/" ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}


// A run in two folders of the company (its main marker in the company folder, a part in "tl"):
// what a marker names leads only into the company's folders, a part goes back only with the
// main marker that names it, and copies stay while any marker of their run stands.
TEST_F(RunMarkerTest, ARunInTwoFoldersStaysInsideTheCompanyAndKeepsItsCopies) {
    const pid_t dead = DeadProcess();
    const std::string h = RunHostName();
    struct Case {
        const char* what;
        std::function<void()> plant;
        std::vector<std::string> settled;  // the folders settled, in order ("" the company's)
        bool mayWrite;
        bool ok;
        const char* says;
    };
    fs::path outside;
    std::string partFolder, partMarker, head;
    auto mainMarker = [&](const std::string& lines) { write_file(marker(), head + lines); };
    auto part = [&](const std::string& lines) { write_file(partMarker, head + lines); };
    const std::vector<Case> cases = {
        {"the main marker removed by hand: its copy beside no marker stays, the loss named once",
         [&] { fs::remove(marker()); }, {"", "tl"}, true, false, "the main marker of its run (run~"},
        {"the main marker removed by hand: the step restores the files of every folder of the run",
         [&] { fs::remove(marker()); }, {"tl"}, true, false, "|next;HISTORY.TST, MASTER.TST;"},
        {"a part whose way leads outside the company", [&] { part("main " + outside.string() + "\n" + lines[1] + "\nend\n"); },
         {"tl"}, true, false, "outside the company's folders"},
        {"a main whose part's way leads outside the company",
         [&] { mainMarker("part " + outside.string() + "\n" + lines[0] + "\nend\n"); }, {""}, true, false,
         "outside the company's folders"},
        {"a main whose part's way leads outside, met from both folders: one refusal, every file of the run named",
         [&] { mainMarker("part " + outside.string() + "\n" + lines[0] + "\nend\n"); }, {"", "tl"}, true, false,
         "|next;MASTER.TST, HISTORY.TST;"},
        {"a part its main marker does not name",
         [&] {
             mainMarker("part tl2\n" + lines[0] + "\nend\n");
             fs::create_directory(dir / "tl2" / ".backup");
             write_file(dir / "tl2" / ".backup" / ("run~" + run + ".marker"), head + "main ..\nend\n");
         },
         {"tl"}, true, false, "is not named by its main marker"},
        {"a look at a part whose main is cut back reads the files as after", [&] { mainMarker("part tl\n"); }, {"tl"}, false,
         true, ""},
        {"a company moved, both ways leading nowhere: put back from the part, its folder's lock taken once",
         [&] {
             mainMarker("part /moved/away/tl\n" + lines[0] + "\nend\n");
             part("main /moved/away\n" + lines[1] + "\nend\n");
         },
         {"tl"}, true, true, "|MASTER.TST, HISTORY.TST|"},
        {"a stray marker with text and nothing beside it", [&] { write_file(folder() + "run~x~1.marker", "text"); }, {""},
         true, true, "|MASTER.TST, HISTORY.TST|"},
    };
    xio::set_lock_wait_for_tests(std::chrono::milliseconds(300));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        before.clear();
        lines.clear();
        run = h + "~" + std::to_string(dead);
        head = "dodedoz run marker 2\nhost " + h + "\nprocess " + std::to_string(dead) + "\n";
        outside = make_temp_dir();
        fs::create_directory(dir / "tl");
        fs::create_directory(dir / "tl2");
        xio::set_company_folders(
            [&] { return std::vector<std::string>{dir.string(), (dir / "tl").string(), (dir / "tl2").string()}; });
        dataFile(1, "MASTER.TST");
        partFolder = company() + "tl/.backup/";
        partMarker = partFolder + "run~" + run + ".marker";
        fs::create_directory(partFolder);
        ASSERT_EQ(xio_create_file("TST", 6, dir / "tl" / "HISTORY.TST"), XIO_OK);
        const std::string history = bytes_of(dir / "tl" / "HISTORY.TST");
        write_file(partFolder + "HISTORY.TST~" + run, history);
        fs::permissions(partFolder + "HISTORY.TST~" + run, fs::perms(0600));
        write_file(partFolder + "run~" + run + ".lock", "");
        fs::permissions(partFolder + "run~" + run + ".lock", fs::perms(0600));
        lines.push_back(copy_line("HISTORY.TST~" + run, history));
        write_file(dir / "tl" / "HISTORY.TST", "half posted");
        write_file(outside / "HISTORY.TST", "outside");
        fs::create_directory(outside / ".backup");
        write_file(outside / ".backup" / ("run~" + run + ".marker"), head + "main " + dir.string() + "\n" + lines[1] + "\nend\n");
        mainMarker("part tl\n" + lines[0] + "\nend\n");
        part("main ..\n" + lines[1] + "\nend\n");
        c.plant();
        bool ok = true;
        for (const auto& f : c.settled) ok = xio::settle_dead_runs({(dir / f).string(), c.mayWrite, ""}) && ok;
        const std::string text = said();
        EXPECT_EQ(ok, c.ok) << text;
        EXPECT_THAT(text, HasSubstr(c.says));
        EXPECT_THAT(text, Not(HasSubstr("/../")));  // ways read as clean paths
        if (c.ok && c.mayWrite) {
            EXPECT_TRUE(isBefore("MASTER.TST"));
        }
        if (!c.ok) {
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;  // one refusal
            EXPECT_TRUE(halfPosted("MASTER.TST") && bytes_of(dir / "tl" / "HISTORY.TST") == "half posted");
            EXPECT_TRUE(fs::exists(copy("MASTER.TST")) && fs::exists(partFolder + "HISTORY.TST~" + run));
        }
        EXPECT_EQ(bytes_of(outside / "HISTORY.TST"), "outside");  // nothing outside written
        EXPECT_TRUE(fs::exists(outside / ".backup" / ("run~" + run + ".marker")));
        std::error_code ec;
        fs::remove_all(outside, ec);
    }
    xio::set_lock_wait_for_tests(std::chrono::seconds(10));
}

// A look never puts back: a data file opened read-only and told to start its writes leaves a
// dead run where it is. A run whose marker was unlinked under it cannot fill it any more.
TEST_F(RunMarkerTest, AReadOnlyOpenPutsNothingBackAndAMarkerUnlinkedUnderItsRunFails) {
    twoFiles();
    write_file(dir / "HISTORY.TST", before["HISTORY.TST"]);  // a data file that opens
    {
        xio_read_only_scope look;
        uint16_t h = 0;
        xio_ask_request req;
        req.abbr = "TST";
        req.fileNo = 6;
        ASSERT_EQ(xio_ask_file(req, h), XIO_OK) << xio_error_text();
        EXPECT_EQ(xio_start_writes(h), XIO_OK) << xio_error_text();  // a dead run refuses no look
        close(h);
    }
    EXPECT_TRUE(halfPosted("MASTER.TST") && fs::exists(marker()));
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string own = company() + "own/";
        fs::create_directory(own);
        std::string why;
        const std::string backup = xio::own_backup_folder(own, why);
        if (backup.empty() || xio::hold_run(backup) != 0) ::_exit(2);
        const std::string copyPath = backup + xio::run_copy_name("MASTER.TST", 1);
        write_file(copyPath, "x");
        for (const auto& e : fs::directory_iterator(backup))
            if (e.path().extension() == ".marker") fs::remove(e.path());
        ::_exit(xio::write_run_markers({{copyPath, 1, 0}}, own) != 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
}  // namespace
}  // namespace dz::test

namespace dz::test {
namespace {

// A run of the fixture's kind spread over folders of the company: MASTER.TST in the company
// folder, with the main marker there, and one data file in each part folder.
class RunInFoldersTest : public RunMarkerTest {
public:
    std::string partBackup(const std::string& part) const { return company() + part + "/.backup/"; }
    void SetUp() override {
        RunMarkerTest::SetUp();
        ::umask(022);
    }
    void TearDown() override {
        xio::set_lock_wait_for_tests(std::chrono::seconds(10));
        RunMarkerTest::TearDown();
    }
    // The parts are {folder, data file of number 6 + i}; each folder its own, beside the company's.
    void spread(const std::vector<std::string>& parts) {
        dataFile(1, "MASTER.TST");
        std::string mainLines = "dodedoz run marker 2\nhost elsewhere\nprocess 4242\n";
        std::vector<std::string> folders{dir.string()};
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const std::string name = i == 0 ? "HISTORY.TST" : "MASTER.TST";
            fs::create_directories(partBackup(parts[i]));
            fs::permissions(partBackup(parts[i]), fs::perms(0755));
            const fs::path file = dir / parts[i] / name;
            ASSERT_EQ(xio_create_file("TST", i == 0 ? 6 : 1, file), XIO_OK) << xio_error_text();
            const std::string bytes = bytes_of(file);
            partBefore[file.string()] = bytes;
            write_file(partBackup(parts[i]) + name + "~" + run, bytes);
            fs::permissions(partBackup(parts[i]) + name + "~" + run, fs::perms(0600));
            write_file(partBackup(parts[i]) + "run~" + run + ".lock", "");
            fs::permissions(partBackup(parts[i]) + "run~" + run + ".lock", fs::perms(0600));
            write_file(partBackup(parts[i]) + "run~" + run + ".marker", "dodedoz run marker 2\nhost elsewhere\nprocess 4242\nmain ..\n" +
                                                                            copy_line(name + "~" + run, bytes) + "\nend\n");
            write_file(file, "half posted");
            mainLines += "part " + parts[i] + "\n";
            folders.push_back((dir / parts[i]).string());
        }
        write_file(marker(), mainLines + lines[0] + "\nend\n");
        xio::set_company_folders([folders] { return folders; });
    }
    bool partIsBefore() {
        for (const auto& [file, bytes] : partBefore)
            if (bytes_of(file) != bytes) return false;
        return true;
    }
    // Gives the company folder, its parts and everything in their backup folders to `uid`.
    void giveTo(uid_t uid, const std::vector<std::string>& parts) {
        std::vector<std::string> backups{folder()};
        for (const auto& p : parts) backups.push_back(partBackup(p));
        for (const auto& b : backups) {
            for (const auto& e : fs::directory_iterator(b)) ASSERT_EQ(::lchown(e.path().c_str(), uid, uid), 0);
            ASSERT_EQ(::chown(b.c_str(), uid, uid), 0);
        }
    }
    std::map<std::string, std::string> partBefore;  // a part's data file -> its bytes before the run
};

// The notices as "<step>;<args>|<reason>" lines: what a person is told, and what to do next.
std::string steps() {
    std::string all;
    for (const auto& n : xio::take_run_notices()) {
        all += std::to_string(static_cast<int>(n.next.step));
        for (const auto& a : n.next.args) all += ";" + a;
        all += "|" + n.reason + "\n";
    }
    xio::forget_run_notices_said();
    return all;
}
std::string step_of(ui::Step s) { return std::to_string(static_cast<int>(s)) + ";"; }

// A copy damaged in one of three folders: the look says what the writer does (refuse), with the
// writer's reason, and both name every file and every folder of the run.
TEST_F(RunInFoldersTest, ALookAndAWriterSayTheSameOfADamagedCopyInAThreeFolderRun) {
    fs::create_directory(dir / "tl");
    fs::create_directory(dir / "cm");
    spread({"tl", "cm"});
    const std::string damaged = partBackup("cm") + "MASTER.TST~" + run;
    std::string bytes = bytes_of(damaged);
    bytes[bytes.size() / 2] ^= 1;
    write_file(damaged, bytes);
    const std::string reason = "|the copy " + damaged + " of MASTER.TST does not match its marker (its bytes are not those the run copied)";
    for (const std::string from : {"", "tl", "cm"}) {
        SCOPED_TRACE("settled from the folder '" + from + "'");
        EXPECT_FALSE(xio::settle_dead_runs({(dir / from).string(), false, ""}));
        const std::string look = steps();
        EXPECT_FALSE(xio::settle_dead_runs({(dir / from).string(), true, ""}));
        EXPECT_EQ(steps(), look);  // word for word
        EXPECT_THAT(look, HasSubstr(step_of(ui::Step::RestoreFromBackup)));
        EXPECT_THAT(look, HasSubstr(reason));
        for (const auto& f : {folder(), partBackup("cm"), partBackup("tl")})
            EXPECT_THAT(look, AnyOf(HasSubstr(f + ","), HasSubstr(f + "|")));
        EXPECT_THAT(look, AnyOf(HasSubstr("MASTER.TST, HISTORY.TST;"), HasSubstr("HISTORY.TST, MASTER.TST;")));
    }
    EXPECT_TRUE(halfPosted("MASTER.TST") && fs::exists(marker()));
    // Mended, the look says a writing command puts it back, and it does.
    write_file(damaged, partBefore[(dir / "cm" / "MASTER.TST").string()]);
    EXPECT_FALSE(settle(false));
    EXPECT_THAT(steps(), HasSubstr(std::to_string(static_cast<int>(ui::Step::AgainToPutBack)) + "|"));
    EXPECT_TRUE(settle(true)) << steps();
    EXPECT_TRUE(isBefore("MASTER.TST") && partIsBefore());
}

TEST_F(RunInFoldersTest, ADeadRunInALaterBackupFolderNameIsPutBack) {
    twoFiles();
    fs::rename(folder(), company() + ".backup-" + std::to_string(::geteuid()) + "-2");
    EXPECT_TRUE(settle(true)) << steps();
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
}

// A part's folder may hold backup folders of other users: a marker of the same run name in one
// of theirs, sorted before the run's own, is not the run's part.
TEST_F(RunInFoldersTest, AnotherOwnersMarkerOfTheSameRunInAPartsFolderIsPassedOver) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make another user's folder";
    fs::create_directory(dir / "tl");
    spread({"tl"});
    const std::string own = company() + "tl/.backup-0/";
    fs::rename(partBackup("tl"), own);
    fs::create_directories(partBackup("tl"));
    write_file(partBackup("tl") + "run~" + run + ".marker", "dodedoz run marker 2\nhost elsewhere\nprocess 4242\nmain ..\nend\n");
    for (const auto& e : fs::directory_iterator(partBackup("tl"))) ASSERT_EQ(::lchown(e.path().c_str(), 2, 2), 0);
    ASSERT_EQ(::chown(partBackup("tl").c_str(), 2, 2), 0);
    EXPECT_TRUE(settle(true)) << steps();
    EXPECT_TRUE(isBefore("MASTER.TST") && partIsBefore());
    EXPECT_TRUE(fs::exists(partBackup("tl") + "run~" + run + ".marker"));  // theirs, left alone
}

// A look from a part whose way to its main leads outside the company reads nothing there (an
// empty marker of the run outside would make the run look whole): it refuses, naming why.
TEST_F(RunInFoldersTest, ALookNeverFollowsAPartsWayOutsideTheCompany) {
    fs::create_directory(dir / "tl");
    spread({"tl"});
    const fs::path outside = make_temp_dir();
    fs::create_directory(outside / ".backup");
    write_file(outside / ".backup" / ("run~" + run + ".marker"), "");
    const std::string partMarker = partBackup("tl") + "run~" + run + ".marker";
    write_file(partMarker, "dodedoz run marker 2\nhost elsewhere\nprocess 4242\nmain " + outside.string() + "\n" +
                               copy_line("HISTORY.TST~" + run, partBefore.begin()->second) + "\nend\n");
    EXPECT_FALSE(xio::settle_dead_runs({(dir / "tl").string(), false, ""}));
    EXPECT_THAT(steps(), HasSubstr("outside the company's folders"));
    EXPECT_EQ(bytes_of(outside / ".backup" / ("run~" + run + ".marker")), "");
    EXPECT_TRUE(fs::exists(partMarker));
    fs::remove_all(outside);
}

// A data file this program has open, even only to read it, is never replaced under it.
TEST_F(RunMarkerTest, ADataFileOpenHereToReadIsNotReplacedUnderIt) {
    twoFiles();
    write_file(dir / "HISTORY.TST", before["HISTORY.TST"]);
    uint16_t h = 0;
    {
        xio_read_only_scope look;
        xio_ask_request req;
        req.abbr = "TST";
        req.fileNo = 6;
        ASSERT_EQ(xio_ask_file(req, h), XIO_OK) << xio_error_text();
    }
    write_file(dir / "HISTORY.TST", "half posted");
    EXPECT_FALSE(settle(true));
    EXPECT_THAT(said(), HasSubstr("HISTORY.TST is open in this program"));
    EXPECT_TRUE(halfPosted("MASTER.TST"));
    close(h);
    EXPECT_TRUE(settle(true));
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
}

// Owners, rights and lock files, as root and the users daemon (1) and bin (2) meet them: what
// goes back, what stops nobody, and each step one that works.
TEST_F(RunInFoldersTest, OwnersRightsAndLockFilesAreJudgedAndEachStepWorks) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    fs::permissions(dir, fs::perms(0755));
    fs::create_directory(dir / "tl");
    std::string runLock;  // the run's lock file in the company's backup folder, of each fresh company
    {
        SCOPED_TRACE("a part naming a file its owner may not write, which differs from its copy: nothing goes back, "
                     "and whether it is a conversion cannot be told");
        spread({"tl"});
        for (const auto& f : {dir / "MASTER.TST", dir / "tl" / "HISTORY.TST"}) ASSERT_EQ(::chown(f.c_str(), 0, 1), 0);
        fs::permissions(dir / "MASTER.TST", fs::perms(0664));
        fs::permissions(dir / "tl" / "HISTORY.TST", fs::perms(0644));
        giveTo(1, {"tl"});
        EXPECT_FALSE(settle(true));
        EXPECT_THAT(steps(), HasSubstr("that user may not write " + company() + "tl/HISTORY.TST"));
        EXPECT_TRUE(halfPosted("MASTER.TST") && fs::exists(marker()));
    }
    {
        SCOPED_TRACE("a garbage marker beside a copy naming a file its user may not write, which differs: refused");
        write_file(marker(), "garbage\n");
        fs::permissions(dir / "MASTER.TST", fs::perms(0644));
        EXPECT_FALSE(settle(true));
        EXPECT_THAT(steps(), HasSubstr("that user may not write " + company() + "MASTER.TST"));
    }
    {
        SCOPED_TRACE("a part of another member whose main marker was removed: its owner's step, not a wait");
        TearDown();
        SetUp();
        lines.clear();
        partBefore.clear();
        fs::permissions(dir, fs::perms(0755));
        fs::create_directory(dir / "tl");
        spread({"tl"});
        giveTo(1, {"tl"});
        for (const auto& f : {dir / "MASTER.TST", dir / "tl" / "HISTORY.TST"}) fs::permissions(f, fs::perms(0666));
        // While the main stands, its owner's writing command puts it back: they are asked.
        const std::string asked = testing_support::AnswerAs(2, 2, [&] {
            const bool ok = xio::settle_dead_runs({(dir / "tl").string(), true, ""});
            return std::string(ok ? "1" : "0") + steps();
        });
        EXPECT_THAT(asked, HasSubstr("0" + step_of(ui::Step::AskUserToPutBack) + "daemon (uid 1)|"));
        EXPECT_THAT(asked, Not(HasSubstr("is missing")));
        fs::remove(marker());
        const std::string text = testing_support::AnswerAs(2, 2, [&] {
            const bool ok = xio::settle_dead_runs({(dir / "tl").string(), true, ""});
            return std::string(ok ? "1" : "0") + steps();
        });
        EXPECT_THAT(text, HasSubstr("0" + step_of(ui::Step::RestoreFromBackup) + "HISTORY.TST, MASTER.TST;"));
        EXPECT_THAT(text, HasSubstr("is missing: nobody's command can put it back"));
        EXPECT_THAT(text, Not(HasSubstr(step_of(ui::Step::AskUserToPutBack))));
    }
    {
        SCOPED_TRACE("a backup folder of a uid with no account that cannot be read: an administrator acts");
        const std::string hidden = company() + ".backup-4321";
        fs::create_directory(hidden);
        ASSERT_EQ(::chown(hidden.c_str(), 4321, 4321), 0);
        fs::permissions(hidden, fs::perms(0700));
        for (const bool mayWrite : {true, false}) {
            const std::string text = testing_support::AnswerAs(2, 2, [&] {
                xio::settle_dead_runs({dir.string(), mayWrite, ""});
                return steps();
            });
            EXPECT_THAT(text, HasSubstr(step_of(ui::Step::AskAdministrator) + hidden + "/|")) << mayWrite;
            EXPECT_THAT(text, Not(HasSubstr(step_of(ui::Step::AskUserToPutBack) + "uid 4321"))) << mayWrite;
        }
        fs::remove(hidden);
    }
    struct LockCase {
        const char* what;
        std::function<void()> spoil;
        const char* why;
    };
    const fs::path elsewhere = make_temp_dir();
    const std::vector<LockCase> lockCases = {
        {"the run's lock file of another owner", [&] { ASSERT_EQ(::chown(runLock.c_str(), 1234, 1234), 0); },
         "it belongs to uid 1234, not to its folder's owner"},
        {"the run's lock file hard-linked", [&] { fs::create_hard_link(runLock, elsewhere / "second"); }, "it has other links"},
    };
    for (const auto& c : lockCases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        lines.clear();
        before.clear();
        twoFiles();
        runLock = folder() + "run~" + run + ".lock";
        c.spoil();
        EXPECT_FALSE(settle(true));
        EXPECT_THAT(steps(), HasSubstr(step_of(ui::Step::RemoveRunLock) + "process 4242 on host elsewhere;" + runLock +
                                       "|the lock file " + runLock + " of the run cannot be used (" + c.why + ")"));
        EXPECT_TRUE(halfPosted("MASTER.TST"));
        fs::remove(elsewhere / "second");
        fs::remove(runLock);  // the step, followed
        EXPECT_TRUE(settle(true)) << steps();
        EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
    }
    {
        SCOPED_TRACE("a main marker's lock file of another owner, met from its part: never taken as dead");
        TearDown();
        SetUp();
        lines.clear();
        partBefore.clear();
        fs::create_directory(dir / "tl");
        spread({"tl"});
        runLock = folder() + "run~" + run + ".lock";
        ASSERT_EQ(::chown(runLock.c_str(), 1234, 1234), 0);
        EXPECT_FALSE(xio::settle_dead_runs({(dir / "tl").string(), true, ""}));
        EXPECT_THAT(steps(), HasSubstr(step_of(ui::Step::RemoveRunLock)));
        EXPECT_TRUE(halfPosted("MASTER.TST") && !partIsBefore());
    }
    {
        SCOPED_TRACE("a lone data file missing in a 0775 folder of daemon:daemon comes back 0664 of daemon:daemon");
        TearDown();
        SetUp();
        lines.clear();
        before.clear();
        dataFile(1, "MASTER.TST");
        writeMarker(lines);
        fs::remove(dir / "MASTER.TST");
        ASSERT_EQ(::chown(dir.c_str(), 1, 1), 0);
        fs::permissions(dir, fs::perms(0775));
        EXPECT_TRUE(settle(true)) << steps();
        struct stat st {};
        ASSERT_EQ(::stat((dir / "MASTER.TST").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0664u);
        EXPECT_EQ(st.st_uid, 1u);
        EXPECT_EQ(st.st_gid, 1u);
        EXPECT_TRUE(isBefore("MASTER.TST"));
    }
    fs::remove_all(elsewhere);
}

TEST(OwnBackupFolder, EveryNameTakenByOthersNamesThemAndTheStep) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    const fs::path co = make_temp_dir();
    fs::permissions(co, fs::perms(0777));
    std::vector<std::string> names{".backup", ".backup-1"};
    for (int k = 2; k <= 9; ++k) names.push_back(".backup-1-" + std::to_string(k));
    for (const auto& n : names) {
        fs::create_directory(co / n);
        ASSERT_EQ(::chown((co / n).c_str(), n == ".backup" ? 0 : 2, 2), 0);
    }
    const std::string text = testing_support::AnswerAs(1, 1, [&] {
        std::string why;
        ui::NextStep next;
        const std::string got = xio::own_backup_folder(co.string(), why, &next);
        std::string out = got + "|" + why + "|" + std::to_string(static_cast<int>(next.step));
        for (const auto& a : next.args) out += ";" + a;
        return out;
    });
    EXPECT_THAT(text, HasSubstr("|no backup folder can be had (" + co.string() + "/.backup belongs to root (uid 0); "));
    EXPECT_THAT(text, HasSubstr(".backup-1-9 belongs to bin (uid 2))|"));
    EXPECT_THAT(text, HasSubstr("|" + step_of(ui::Step::FreeBackupFolder) + co.string() + "/.backup, "));
    EXPECT_THAT(text, HasSubstr(";root (uid 0), bin (uid 2)"));
    fs::remove_all(co);
}

}  // namespace
}  // namespace dz::test

namespace dz::test {
namespace {


// A sticky folder keeps a file's name for its owner, the folder's owner and root: another user's
// put-back is refused before anything is written, and its look says so. A rename the system
// refuses (EPERM) is never "run the command again": an administrator's command puts the run back.
TEST_F(RunMarkerTest, APutBackTheSystemWouldRefuseNamesAnAdministrator) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as a second user";
    twoFiles();
    for (const auto& f : {"MASTER.TST", "HISTORY.TST"}) fs::permissions(dir / f, fs::perms(0666));
    for (const auto& e : fs::directory_iterator(folder())) ASSERT_EQ(::lchown(e.path().c_str(), 1, 1), 0);
    ASSERT_EQ(::chown(folder().c_str(), 1, 1), 0);
    fs::permissions(dir, fs::perms(01777));
    const auto entries = [&] {  // but the backup folder's lock, which the put-back takes
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().filename() != "folder.lock") names.insert(e.path().string());
        return names;
    };
    const auto standing = entries();
    for (const bool mayWrite : {false, true}) {
        const std::string text = testing_support::AnswerAs(1, 1, [&] {
            const bool ok = settle(mayWrite);
            return (ok ? "1" : "0") + steps();
        });
        EXPECT_THAT(text, HasSubstr("0" + step_of(ui::Step::AdministratorPutsBack) + "root (uid 0)|"));
        EXPECT_THAT(text, HasSubstr(dir.string() + " is a sticky folder (mode 1777), where only a file's owner"));
    }
    EXPECT_TRUE(halfPosted("MASTER.TST") && halfPosted("HISTORY.TST"));
    EXPECT_EQ(entries(), standing);  // no file aside, the marker and every copy kept
    if (SetImmutable(dir / "MASTER.TST", true)) {
        EXPECT_FALSE(settle(true));
        const std::string text = steps();
        SetImmutable(dir / "MASTER.TST", false);
        // What bars it from everyone is said, with what lifts it: no put-back of anyone's gets past it.
        EXPECT_THAT(text, HasSubstr(step_of(ui::Step::LiftWriteBar) + (dir / "MASTER.TST").string() + ";"));
        EXPECT_THAT(text, HasSubstr("chattr -i " + (dir / "MASTER.TST").string()));
        EXPECT_THAT(text, HasSubstr("MASTER.TST: "));
        EXPECT_THAT(text, Not(HasSubstr(step_of(ui::Step::Again))));
    }
    EXPECT_TRUE(settle(true)) << steps();
    EXPECT_TRUE(isBefore("MASTER.TST") && isBefore("HISTORY.TST"));
}

}  // namespace
}  // namespace dz::test
