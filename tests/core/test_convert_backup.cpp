// Data-file backup copies, restores and discards (file level).
#include "convert/backup.h"

#include "platform/datafile/run_marker.h"
#include "platform/datafile/xio.h"
#include "test_convert_support.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

namespace dz::convert {
namespace {

using namespace dz::convert::testing;
using ::testing::HasSubstr;

TEST(DataFileBackupTest, BackupRestoreKeepsTheOriginalBytes) {
    ScratchDir data, temp;
    const std::string file = data.str("MASTER.CMM");
    WriteFile(file, "original bytes");
    DataFileBackup backup("", temp.str());
    ASSERT_EQ(backup.Backup(file), 0);
    EXPECT_EQ(backup.CopyPath(), temp.str() + "/MASTER.CMM");
    WriteFile(file, "half-written");
    EXPECT_EQ(backup.Restore("", data.str()), 0);
    EXPECT_EQ(ReadFile(file), "original bytes");
    EXPECT_FALSE(fs::exists(temp.str("MASTER.CMM")));  // the copy goes after a good restore
    EXPECT_EQ(backup.Restore("", data.str()), 2);       // nothing left to restore
}

TEST(DataFileBackupTest, SecondBackupOfTheSameNameGetsANumber) {
    ScratchDir data, other, temp;
    WriteFile(data.str("MASTER.GLM"), "a");
    WriteFile(other.str("MASTER.GLM"), "b");
    DataFileBackup first("", temp.str()), second("", temp.str());
    ASSERT_EQ(first.Backup(data.str("MASTER.GLM")), 0);
    ASSERT_EQ(second.Backup(other.str("MASTER.GLM")), 0);
    EXPECT_EQ(second.CopyPath(), temp.str() + "/MASTER.GLM2");
    EXPECT_EQ(ReadFile(second.CopyPath()), "b");
}

TEST(DataFileBackupTest, MissingFileAndDiscard) {
    ScratchDir data, temp;
    {
        DataFileBackup backup("", temp.str());
        EXPECT_EQ(backup.Backup(data.str("NONE.GLM")), 1);
        EXPECT_EQ(backup.CopyPath(), "");
        WriteFile(data.str("MASTER.GLM"), "x");
        ASSERT_EQ(backup.Backup(data.str("MASTER.GLM")), 0);
        EXPECT_TRUE(fs::exists(backup.CopyPath()));
    }  // the destructor discards the copy
    EXPECT_TRUE(fs::is_empty(temp.path()));
    EXPECT_EQ(ReadFile(data.str("MASTER.GLM")), "x");
}

TEST(DataFileBackupTest, FailedRestoreKeepsTheDataFileAndTheCopy) {
    ScratchDir data, temp;
    const std::string file = data.str("MASTER.CMM");
    WriteFile(file, "before");
    DataFileBackup backup("", temp.str());
    ASSERT_EQ(backup.Backup(file), 0);
    WriteFile(file, "after");
    const std::string copy = backup.CopyPath();
    fs::remove(copy);  // the copy is lost
    EXPECT_EQ(backup.Restore("", data.str()), 1);
    EXPECT_EQ(ReadFile(file), "after");  // never deleted before a safe copy stands
}

// TMPDIR set for one test.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }
    const char* name_;
    std::optional<std::string> old_;
};

fs::perms Perms(const std::string& p) { return fs::symlink_status(p).permissions() & fs::perms::mask; }

TEST(DataFileBackupTest, TheCopyStaysWithTheCompanyReadableByItsOwnerAlone) {
    ScratchDir company, temp;
    const std::string file = company.str("MASTER.GLM");
    WriteFile(file, "accounts");
    fs::permissions(file, fs::perms(0644));
    ScopedEnv tmpdir("TMPDIR", temp.str());
    DataFileBackup backup;
    ASSERT_EQ(backup.Backup(file), 0);
    const std::string folder = company.str(".backup");
    EXPECT_EQ(fs::path(backup.CopyPath()).parent_path(), fs::path(folder));
    // Others of the company see the run (its marker holds names only), never the copy's data.
    EXPECT_EQ(Perms(folder), fs::perms(0755));
    EXPECT_EQ(Perms(backup.CopyPath()), fs::perms(0600));
    int markers = 0;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".marker") {
            ++markers;
            EXPECT_EQ(Perms(e.path().string()), fs::perms(0644));
        }
    EXPECT_EQ(markers, 1);
    EXPECT_EQ(ReadFile(backup.CopyPath()), "accounts");
    EXPECT_TRUE(fs::is_empty(temp.path()));  // nothing in the shared temporary folder

    // Put back, the data file has its own permissions again.
    WriteFile(file, "half-written");
    EXPECT_EQ(backup.Restore("", company.str()), 0);
    EXPECT_EQ(ReadFile(file), "accounts");
    EXPECT_EQ(Perms(file), fs::perms(0644));
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST(DataFileBackupTest, APlantedBackupFolderIsNotUsed) {
    ScratchDir company, elsewhere;
    WriteFile(company.str("MASTER.GLM"), "accounts");
    fs::create_directory_symlink(elsewhere.path(), company.str(".backup"));
    {
        DataFileBackup backup;
        ASSERT_EQ(backup.Backup(company.str("MASTER.GLM")), 0);
        // A private folder of its own instead.
        const fs::path folder = fs::path(backup.CopyPath()).parent_path();
        EXPECT_NE(folder, fs::path(company.str(".backup")));
        EXPECT_EQ(Perms(folder.string()), fs::perms(0755));
        EXPECT_EQ(ReadFile(backup.CopyPath()), "accounts");
    }
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST(DataFileBackupTest, ACopyLeftByARunThatDiedIsRemoved) {
    ScratchDir company;
    WriteFile(company.str("MASTER.GLM"), "accounts");
    const pid_t child = ::fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);  // its process number now names no process
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string folder = company.str(".backup");
    fs::create_directory(folder);
    const std::string dead = folder + "/MASTER.GLM~" + host + "~" + std::to_string(child);
    const std::string live = folder + "/MASTER.GLM~" + host + "~1";          // process 1 runs
    const std::string other = folder + "/MASTER.GLM~another-host~" + std::to_string(child);
    const std::string kept = dead + "~2.kept";                                // a failed restore's
    for (const auto& f : {dead, live, other, kept}) WriteFile(f, "old");
    DataFileBackup backup;
    ASSERT_EQ(backup.Backup(company.str("MASTER.GLM")), 0);
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(other));  // its process may run on that machine
    EXPECT_TRUE(fs::exists(kept));
}

TEST(DataFileBackupTest, FilesThatAreNotOpenNeedNoBackup) {
    OpenFilesList list{{"CMM", 1, 0}};
    DataFileBackup backup;
    EXPECT_TRUE(ReopenWithBackup(list, "CMM", 1, backup));
    EXPECT_EQ(RestoreFromBackup(list, "CMM", 1, backup), 0);
    EXPECT_EQ(backup.CopyPath(), "");
}

TEST(OpenFilesListTest, FindAndRebind) {
    OpenFilesList list{{"GLM", 1, 0}, {"GLM", 1, 5}, {"CMM", 1, 6}};
    EXPECT_EQ(FindFileHandle(list, "GLM", 1), 5);
    EXPECT_EQ(FindFileHandle(list, "glm", 1), 0);  // exact comparison
    EXPECT_EQ(FindFileHandle(list, "CMM", 2), 0);
    EXPECT_TRUE(RebindFileHandle(list, "GLM", 1, 9));
    EXPECT_EQ(list[0].handle, 9);  // the first entry of that name
    EXPECT_FALSE(RebindFileHandle(list, "APM", 1, 3));
}

// ---- Runs that died half posted, as a later command finds them ----------------------------------

namespace marker {

// A run that died between its commits, made by hand: the data files as the run left them, a
// copy of each as it was before, and the marker naming the copies. No process holds its lock.
struct DeadRun {
    ScratchDir company;
    std::string backup = company.str(".backup") + "/";
    std::string run = "elsewhere~4242";
    std::map<std::string, std::string> before;  // data file name -> its bytes before the run

    DeadRun() {
        fs::create_directory(backup);
        fs::permissions(backup, fs::perms::owner_all);
    }
    std::string Copy(const std::string& name) const { return backup + name + "~" + run; }
    std::string MarkerPath() const { return backup + "run~" + run + ".marker"; }
    // A data file of `abbr`, copied aside as it was, then half posted.
    void DataFile(const std::string& abbr, const std::string& name) {
        ASSERT_EQ(xio_create_file(abbr, 1, company.path() / name), XIO_OK);
        before[name] = ReadFile(company.str(name));
        WriteFile(Copy(name), before[name]);
        fs::permissions(Copy(name), fs::perms::owner_read | fs::perms::owner_write);
        WriteFile(company.str(name), "half posted");
    }
    void Marker(const std::vector<std::string>& lines) {
        std::string text = "dodedoz run marker\nhost elsewhere\nprocess 4242\n";
        for (const auto& l : lines) text += "copy " + l + "\n";
        WriteFile(MarkerPath(), text + "end\n");
    }
    bool Settle(bool mayWrite, const std::string& folder = "") {
        return xio::settle_dead_runs({folder.empty() ? company.str() : folder, mayWrite, ""});
    }
    bool Before(const std::string& name) { return ReadFile(company.str(name)) == before[name]; }
};

std::string Reasons() {
    std::string all;
    for (const auto& n : xio::take_run_notices()) all += n.reason + "|" + n.files + "\n";
    return all;
}

TEST(DeadRunTest, EveryCopyGoesBackByItsNameAndOnlyThere) {
    {
        SCOPED_TRACE("a look writes nothing; a writer puts every file back, the dead commit's journal goes");
        DeadRun r;
        r.DataFile("GLM", "MASTER.GLM");
        r.DataFile("CMM", "MASTER.CMM");
        r.Marker({"MASTER.GLM~" + r.run, "MASTER.CMM~" + r.run});
        WriteFile(r.company.str("MASTER.GLM-journal"), "the dead commit's");
        // Another look judging the same marker at that moment does not make its run look alive.
        const int other = ::open(r.MarkerPath().c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(other, LOCK_SH | LOCK_NB), 0);
        EXPECT_FALSE(r.Settle(false));
        ::close(other);
        EXPECT_THAT(Reasons(), HasSubstr("|MASTER.GLM, MASTER.CMM"));
        EXPECT_TRUE(fs::exists(r.MarkerPath()) && fs::exists(r.Copy("MASTER.GLM")));
        EXPECT_FALSE(r.Before("MASTER.GLM"));
        EXPECT_TRUE(r.Settle(true));
        EXPECT_TRUE(r.Before("MASTER.GLM") && r.Before("MASTER.CMM"));
        EXPECT_FALSE(fs::exists(r.company.str("MASTER.GLM-journal")));
        EXPECT_TRUE(fs::is_empty(r.backup));
    }
    {
        SCOPED_TRACE("a marker whose first copy is already gone still puts back the second");
        DeadRun r;
        r.DataFile("GLM", "MASTER.GLM");
        r.DataFile("CMM", "MASTER.CMM");
        r.Marker({"MASTER.GLM~" + r.run, "MASTER.CMM~" + r.run});
        fs::remove(r.Copy("MASTER.GLM"));
        EXPECT_TRUE(r.Settle(true));
        EXPECT_TRUE(r.Before("MASTER.CMM"));
    }
    {
        SCOPED_TRACE("a put-back that fails keeps the marker and every copy");
        DeadRun r;
        r.DataFile("GLM", "MASTER.GLM");
        r.DataFile("CMM", "MASTER.CMM");
        r.Marker({"MASTER.CMM~" + r.run, "MASTER.GLM~" + r.run});
        fs::remove(r.company.str("MASTER.GLM"));
        fs::create_directory(r.company.str("MASTER.GLM"));
        EXPECT_FALSE(r.Settle(true));
        EXPECT_THAT(Reasons(), HasSubstr("MASTER.GLM is not a regular file"));
        EXPECT_TRUE(fs::exists(r.MarkerPath()) && fs::exists(r.Copy("MASTER.GLM")) && fs::exists(r.Copy("MASTER.CMM")));
    }
    {
        SCOPED_TRACE("a marker of the previous version, which named its copies by the paths it made them under");
        DeadRun r;
        r.DataFile("GLM", "MASTER.GLM");
        r.DataFile("CMM", "MASTER.CMM");
        WriteFile(r.MarkerPath(), "dodedoz run marker\nstart 12345\ncopy /moved/since/co/.backup/MASTER.GLM~" + r.run +
                                      "\ncopy co/.backup/MASTER.CMM~" + r.run + "\nend\n");
        EXPECT_TRUE(r.Settle(true));
        EXPECT_TRUE(r.Before("MASTER.GLM") && r.Before("MASTER.CMM"));
        EXPECT_TRUE(fs::is_empty(r.backup));
    }
    {
        SCOPED_TRACE("a marker line that points into another folder's backup folder");
        DeadRun r, other;
        other.run = r.run;
        other.DataFile("GLM", "MASTER.GLM");
        r.DataFile("CMM", "MASTER.CMM");
        r.Marker({"MASTER.CMM~" + r.run, "../" + other.company.path().filename().string() + "/.backup/MASTER.GLM~" + r.run});
        EXPECT_FALSE(r.Settle(true));
        EXPECT_THAT(Reasons(), HasSubstr("cannot be read"));
        EXPECT_EQ(ReadFile(other.company.str("MASTER.GLM")), "half posted");
        EXPECT_TRUE(fs::exists(other.Copy("MASTER.GLM")) && fs::exists(r.MarkerPath()));
    }
}

TEST(DeadRunTest, AFileAsideOfAPutBackKilledMidwayGoesWithTheNextWriter) {
    ScratchDir company;
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const std::string left = company.str("MASTER.GLM.restore") + std::to_string(dead);
    const std::string live = company.str("MASTER.GLM.restore1");  // process 1 runs
    const std::string own = company.str("plan.restore") + std::to_string(dead);  // beside no file of its name
    WriteFile(company.str("MASTER.GLM"), "data");
    for (const auto& f : {left, left + "_2", live, own}) WriteFile(f, "aside");
    xio::remove_restore_leftovers(company.str());
    EXPECT_FALSE(fs::exists(left) || fs::exists(left + "_2"));
    EXPECT_TRUE(fs::exists(live) && fs::exists(own));
}

// Whatever stands in a backup folder is distrusted: nothing is followed, nothing hangs, nothing
// outside the company is read as a copy or written, and a copy goes back only over its own file.
TEST(DeadRunTest, HostileEntriesAreRefusedWithoutFollowingHangingOrWritingOutside) {
    ScratchDir outside;
    ASSERT_EQ(xio_create_file("GLM", 1, outside.path() / "MASTER.GLM"), XIO_OK);
    struct Case {
        const char* kind;
        std::function<void(DeadRun&)> plant;
        const char* said;
    };
    const std::vector<Case> cases = {
        {"a copy that is a symbolic link",
         [&](DeadRun& r) {
             fs::remove(r.Copy("MASTER.GLM"));
             fs::create_symlink(outside.str("MASTER.GLM"), r.Copy("MASTER.GLM"));
         },
         "is not a copy this program made"},
        {"a FIFO as copy",
         [](DeadRun& r) {
             fs::remove(r.Copy("MASTER.GLM"));
             ASSERT_EQ(::mkfifo(r.Copy("MASTER.GLM").c_str(), 0600), 0);
         },
         "is not a copy this program made"},
        {"a FIFO as marker",
         [](DeadRun& r) {
             fs::remove(r.MarkerPath());
             ASSERT_EQ(::mkfifo(r.MarkerPath().c_str(), 0600), 0);
         },
         "it is not a regular file"},
        {"a copy of one abbreviation named as another's",
         [](DeadRun& r) {
             ASSERT_EQ(xio_create_file("CMM", 1, r.company.path() / "OTHER.CMM"), XIO_OK);
             WriteFile(r.Copy("MASTER.GLM"), ReadFile(r.company.str("OTHER.CMM")));
         },
         "holds CMM file 1, not MASTER.GLM"},
        {"a marker too large to be one",
         [](DeadRun& r) { fs::resize_file(r.MarkerPath(), 300u << 20); },
         "larger than any marker"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        DeadRun r;
        r.DataFile("GLM", "MASTER.GLM");
        r.Marker({"MASTER.GLM~" + r.run});
        c.plant(r);
        EXPECT_FALSE(r.Settle(true));
        EXPECT_THAT(Reasons(), HasSubstr(c.said));
        EXPECT_EQ(ReadFile(r.company.str("MASTER.GLM")), "half posted");
        EXPECT_TRUE(fs::exists(fs::symlink_status(r.MarkerPath())));
    }
    {
        SCOPED_TRACE("a link outside the company pointing into its backup folder");
        DeadRun r;
        r.DataFile("GLM", "MASTER.GLM");
        r.Marker({"MASTER.GLM~" + r.run});
        ScratchDir elsewhere;
        fs::create_directory_symlink(r.backup, elsewhere.str(".backup"));
        EXPECT_TRUE(r.Settle(true, elsewhere.str()));
        EXPECT_FALSE(fs::exists(elsewhere.str("MASTER.GLM")));
        EXPECT_TRUE(fs::exists(r.MarkerPath()) && fs::exists(r.Copy("MASTER.GLM")));
        EXPECT_EQ(ReadFile(r.company.str("MASTER.GLM")), "half posted");
    }
}

TEST(DeadRunTest, TwoProgramsPuttingOneRunBackTheSecondWaitsAndFindsItDone) {
    DeadRun r;
    r.DataFile("GLM", "MASTER.GLM");
    r.Marker({"MASTER.GLM~" + r.run});
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        xio::set_put_back_hook_for_tests([&](const std::string&) {
            (void)!::write(ready[1], "x", 1);
            ::usleep(300 * 1000);
        });
        ::_exit(r.Settle(true) ? 0 : 1);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);  // the first is putting it back
    EXPECT_TRUE(r.Settle(true));
    EXPECT_TRUE(r.Before("MASTER.GLM"));  // done when the second's answer comes
    EXPECT_EQ(Reasons(), "");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

// Two users of one company: each keeps copies in a folder of their own, and a dead run of one
// whose copies the other cannot read is refused by the other with what to do.
TEST(DeadRunTest, TwoUsersOfOneCompany) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as a second user";
    DeadRun r;
    r.DataFile("GLM", "MASTER.GLM");
    r.Marker({"MASTER.GLM~" + r.run});
    fs::permissions(r.company.path(), fs::perms::all);
    fs::permissions(r.backup, fs::perms(0755));
    fs::permissions(r.MarkerPath(), fs::perms(0644));
    ASSERT_EQ(xio_create_file("CMM", 1, r.company.path() / "MASTER.CMM"), XIO_OK);
    fs::permissions(r.company.str("MASTER.CMM"), fs::perms(0666));
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
        {
            DataFileBackup backup;
            if (backup.Backup(r.company.str("MASTER.CMM")) != 0) ::_exit(11);
            if (backup.CopyPath().find("/.backup-65534/") == std::string::npos) ::_exit(12);
        }
        if (r.Settle(true)) ::_exit(13);
        const std::string said = Reasons();
        ::_exit(said.find(r.backup) != std::string::npos && said.find("must run Convert") != std::string::npos ? 0 : 14);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFile(r.company.str("MASTER.GLM")), "half posted");
    EXPECT_TRUE(r.Settle(true));  // its own user (here an administrator) puts it back
    EXPECT_TRUE(r.Before("MASTER.GLM"));
    EXPECT_EQ(Reasons(), "|MASTER.GLM\n");  // put back, nothing refused
}

}  // namespace marker

}  // namespace
}  // namespace dz::convert
