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
    DataFileBackup backup(temp.str());
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
    DataFileBackup first(temp.str()), second(temp.str());
    ASSERT_EQ(first.Backup(data.str("MASTER.GLM")), 0);
    ASSERT_EQ(second.Backup(other.str("MASTER.GLM")), 0);
    EXPECT_EQ(second.CopyPath(), temp.str() + "/MASTER.GLM2");
    EXPECT_EQ(ReadFile(second.CopyPath()), "b");
}

TEST(DataFileBackupTest, MissingFileAndDiscard) {
    ScratchDir data, temp;
    {
        DataFileBackup backup(temp.str());
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
    DataFileBackup backup(temp.str());
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
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().extension() == ".marker") {
            ++markers;
            EXPECT_EQ(Perms(e.path().string()), fs::perms(0644));
        }
        if (e.path().extension() == ".lock") {
            // The folder's lock its owner's alone; a run's lock theirs to write, and readable (enough
            // to ask whether the run lives) by whoever may see it.
            EXPECT_EQ(Perms(e.path().string()), fs::perms(e.path().filename() == "folder.lock" ? 0600 : 0644)) << e.path();
        }
    }
    EXPECT_EQ(markers, 1);
    EXPECT_EQ(ReadFile(backup.CopyPath()), "accounts");
    EXPECT_TRUE(fs::is_empty(temp.path()));  // nothing in the shared temporary folder

    // Put back, the data file has its own permissions again.
    WriteFile(file, "half-written");
    EXPECT_EQ(backup.Restore("", company.str()), 0);
    EXPECT_EQ(ReadFile(file), "accounts");
    EXPECT_EQ(Perms(file), fs::perms(0644));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(folder)) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"folder.lock"});  // the folder's own lock stays
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

// A file this program closed and could not open again is its run's to open again, until it is
// open again or the run's list is gone.
TEST(OpenFilesListTest, WhatARunClosedIsItsOwn) {
    OpenFilesList run = {{"CMM", 1, 0}}, other = {{"CMM", 1, 0}};
    run.KeepClosed("CMM", 1, "/nowhere/MASTER.CMM");
    DataFileBackup backup;
    EXPECT_TRUE(ReopenWithBackup(other, "CMM", 1, backup));  // nothing of its own to protect
    EXPECT_FALSE(ReopenWithBackup(run, "CMM", 1, backup));   // its own is opened again, and fails
    EXPECT_THAT(backup.Why(), HasSubstr("could not be opened again to be written: /nowhere/MASTER.CMM"));
    EXPECT_TRUE(RebindFileHandle(run, "CMM", 1, 0));
    EXPECT_EQ(run.ClosedPath("CMM", 1), "/nowhere/MASTER.CMM");  // closed still
    EXPECT_TRUE(RebindFileHandle(run, "CMM", 1, 7));
    EXPECT_EQ(run.ClosedPath("CMM", 1), "");
    run.KeepClosed("CMM", 1, "/nowhere/MASTER.CMM");
    run.clear();
    EXPECT_EQ(run.ClosedPath("CMM", 1), "");
}

// A second user of a company keeps copies in a backup folder of their own beside the first's.
TEST(DataFileBackupTest, ASecondUserKeepsCopiesInAFolderOfTheirOwn) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as a second user";
    ScratchDir company;
    fs::permissions(company.path(), fs::perms::all);
    ASSERT_EQ(xio_create_file("CMM", 1, company.path() / "MASTER.CMM"), XIO_OK);
    fs::permissions(company.str("MASTER.CMM"), fs::perms(0666));
    {
        DataFileBackup first;
        ASSERT_EQ(first.Backup(company.str("MASTER.CMM")), 0);
        EXPECT_THAT(first.CopyPath(), HasSubstr("/.backup/"));
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
        DataFileBackup backup;
        if (backup.Backup(company.str("MASTER.CMM")) != 0) ::_exit(11);
        ::_exit(backup.CopyPath().find("/.backup-65534/") == std::string::npos ? 12 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace dz::convert
