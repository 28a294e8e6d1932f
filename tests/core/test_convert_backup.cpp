// Data-file backup copies, restores and discards (file level).
#include "convert/backup.h"

#include "test_convert_support.h"

namespace dz::convert {
namespace {

using namespace dz::convert::testing;

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

}  // namespace
}  // namespace dz::convert
