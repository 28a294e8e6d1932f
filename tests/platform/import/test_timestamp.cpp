// The time-stamp line of a converted text file.
#include "platform/import/xvl_timestamp.h"

#include "platform/import/xvl_source.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <ostream>

using namespace dz::xvl;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        path = fs::temp_directory_path() / ("dz_stamp_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
};

void writeFile(const fs::path& p, const std::string& data) {
    std::ofstream out(p, std::ios::binary);
    out << data;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

struct ClockCase {
    int hour, minute;
    const char* at;
};
// A failing case is named by this, not by its bytes.
static void PrintTo(const ClockCase& c, std::ostream* os) { *os << c.hour << ":" << c.minute; }

class StampClockForms : public ::testing::TestWithParam<ClockCase> {};

TEST_P(StampClockForms, TwelveHourClock) {
    const ClockCase& c = GetParam();
    const std::string line = BuildTimeStampLine("Ann", StampClock{2026, 12, 6, c.hour, c.minute}, "xvglm.tpl");
    EXPECT_EQ(line, std::string("#,\"Previously Converted\",\"by Ann\",\"on 12/6/26\",\"") + c.at +
                        "\",\"using xvglm.tpl\"\n");
}

// Noon is afternoon and midnight is 12 AM (the old program wrote noon as AM and midnight as 0).
INSTANTIATE_TEST_SUITE_P(Import, StampClockForms,
                         ::testing::Values(ClockCase{12, 0, "at 12:00PM"}, ClockCase{12, 30, "at 12:30PM"},
                                           ClockCase{0, 7, "at 12:07AM"}, ClockCase{13, 5, "at 1:05PM"},
                                           ClockCase{9, 5, "at 9:05AM"}, ClockCase{23, 59, "at 11:59PM"},
                                           ClockCase{11, 10, "at 11:10AM"}));

TEST(ImportTimeStamp, YearWithoutCenturyAndNoOperator) {
    EXPECT_EQ(BuildTimeStampLine("", StampClock{2005, 1, 2, 8, 0}, "t.tpl"),
              "#,\"Previously Converted\",\"on 1/2/5\",\"at 8:00AM\",\"using t.tpl\"\n");
    EXPECT_EQ(BuildTimeStampLine("", StampClock{1999, 10, 20, 8, 0}, "t.tpl"),
              "#,\"Previously Converted\",\"on 10/20/99\",\"at 8:00AM\",\"using t.tpl\"\n");
}

TEST(ImportTimeStamp, InsertedAfterTheFirstLineOfEachForm) {
    const std::string s = "#S\n";
    EXPECT_EQ(InsertStampLine("#,GLM,t\r\n1,a\r\n", s), "#,GLM,t\r\n#S\r\n1,a\r\n");
    EXPECT_EQ(InsertStampLine("#,GLM,t\n\r1,a\n\r", s), "#,GLM,t\n\r#S\n\r1,a\n\r");
    EXPECT_EQ(InsertStampLine("#,GLM,t\r1,a\r", s), "#,GLM,t\r#S\r1,a\r");
    // A file of one line without a line end gets one before the stamp.
    EXPECT_EQ(InsertStampLine("#,GLM,t", s), "#,GLM,t\n#S\n");
}

TEST(ImportTimeStamp, TakesTheEncodingOfTheTextFileAndReadsBackAsUtf8) {
    const std::string stamp = "#,\"Previously Converted\",\"by Z\xC3\xA9lie\"\n";
    // Windows-1252 text (an 0xE9): the stamp too, so the file stays in one encoding.
    const std::string cp1252 = InsertStampLine("#,GLM,t\n1,Caf\xE9\n", stamp);
    EXPECT_EQ(cp1252, "#,GLM,t\n#,\"Previously Converted\",\"by Z\xE9lie\"\n1,Caf\xE9\n");
    const std::string utf8 = InsertStampLine("\xEF\xBB\xBF#,GLM,t\n1,Caf\xC3\xA9\n", stamp);
    EXPECT_EQ(utf8, "\xEF\xBB\xBF#,GLM,t\n" + stamp + "1,Caf\xC3\xA9\n");
    for (const std::string& file : {cp1252, utf8}) {
        LastConvert last;
        ASSERT_TRUE(ParseLastConvert(file, last));
        EXPECT_EQ(last.user, "by Z\xC3\xA9lie");
    }
}

TEST(ImportTimeStamp, StampedFileKeepsEveryOtherByteAndReadsBack) {
    TempDir dir;
    const fs::path f = dir.path / "gl.txt";
    const std::string original = "#,GLM,xvglm\r\n1,\"a\xe9\",2\r\n\x1a";
    writeFile(f, original);
    std::string error;
    const std::string line = BuildTimeStampLine("Ann Lee", StampClock{2026, 3, 4, 12, 5}, "xvglm.tpl");
    ASSERT_TRUE(StampTextFile(f, line, error)) << error;
    EXPECT_EQ(readFile(f), "#,GLM,xvglm\r\n" + line.substr(0, line.size() - 1) + "\r\n1,\"a\xe9\",2\r\n\x1a");
    LastConvert lc;
    ASSERT_TRUE(xvl_imp_xv_get_last_convert(f, lc));
    EXPECT_EQ(lc.user, "by Ann Lee");
    EXPECT_EQ(lc.date, "on 3/4/26");
    EXPECT_EQ(lc.time, "at 12:05PM");
    EXPECT_EQ(lc.usingText, "using xvglm.tpl");
    // Nothing is left beside the file.
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir.path)) files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST(ImportTimeStamp, ReadsTheOldProgramsFormAndUnstampedFiles) {
    LastConvert lc;
    EXPECT_TRUE(ParseLastConvert(
        "#,APM,xvapm\r\n#,\"Previously Converted\",\"on 5/6/5\",\"at 12:07AM\",\"using xvapm\"\n1,2\r\n", lc));
    EXPECT_EQ(lc.user, "");
    EXPECT_EQ(lc.date, "on 5/6/5");
    EXPECT_EQ(lc.time, "at 12:07AM");
    EXPECT_TRUE(ParseLastConvert("#,APM,x\n#,\"Previously Converted\",\"by Bo\",\"on 1/1/26\",\"at 0:07AM\",\"using x\"\n", lc));
    EXPECT_EQ(lc.time, "at 0:07AM");
    EXPECT_EQ(lc.user, "by Bo");
    EXPECT_FALSE(ParseLastConvert("#,APM,x\r\n1,2\r\n", lc));
    EXPECT_FALSE(ParseLastConvert("#,APM,x", lc));
    EXPECT_FALSE(ParseLastConvert("", lc));
}

TEST(ImportTimeStamp, FailedRenameLeavesTheOriginalUntouched) {
    TempDir dir;
    const fs::path f = dir.path / "gl.txt";
    const std::string original = "#,GLM,xvglm\r\n1,a\r\n";
    writeFile(f, original);
    SetStampRenameForTests([](const fs::path&, const fs::path&, std::string& error) {
        error = "rename refused";
        return false;
    });
    std::string error;
    EXPECT_FALSE(StampTextFile(f, "#,\"Previously Converted\"\n", error));
    SetStampRenameForTests(nullptr);
    EXPECT_EQ(error, "rename refused");
    EXPECT_EQ(readFile(f), original);
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir.path)) files += e.is_regular_file();
    EXPECT_EQ(files, 1) << "the file written aside is removed";
}

TEST(ImportTimeStamp, MissingOrEmptyFileIsNotStamped) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(StampTextFile(dir.path / "none.txt", "#S\n", error));
    writeFile(dir.path / "empty.txt", "");
    EXPECT_FALSE(StampTextFile(dir.path / "empty.txt", "#S\n", error));
    EXPECT_EQ(readFile(dir.path / "empty.txt"), "");
}

// A range copied into a file, from where that file stands, or into a pipe, which takes no
// file-to-file copy: the same bytes either way, and a range the file no longer holds fails.
TEST(ImportTimeStamp, CopiedRangesAreTheBytesOfTheFileWhateverTheyGoTo) {
    TempDir dir;
    std::string original;
    for (int i = 0; i < 3000; ++i) original += "line " + std::to_string(i) + ",\xe9\r\n";
    writeFile(dir.path / "in.txt", original);
    const auto source = TextSource::Open((dir.path / "in.txt").string());
    ASSERT_TRUE(source);

    const fs::path out = dir.path / "out.txt";
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "head|", 5), 5);
    uint64_t copied = 0;
    EXPECT_TRUE(source->CopyRange(7, TextSource::kToEnd, fd, &copied));
    EXPECT_EQ(copied, original.size() - 7);
    EXPECT_TRUE(source->CopyRange(0, 4, fd, &copied));
    EXPECT_EQ(copied, 4u);
    EXPECT_FALSE(source->CopyRange(original.size() - 2, original.size() + 10, fd, &copied))
        << "the file holds fewer bytes than asked for";
    ::close(fd);
    EXPECT_EQ(readFile(out), "head|" + original.substr(7) + original.substr(0, 4) + original.substr(original.size() - 2));

    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    EXPECT_TRUE(source->CopyRange(3, 3 + 4000, pipeFds[1], &copied));  // within what a pipe holds
    EXPECT_EQ(copied, 4000u);
    ::close(pipeFds[1]);
    std::string piped(5000, '\0');
    const ssize_t n = ::read(pipeFds[0], piped.data(), piped.size());
    ::close(pipeFds[0]);
    ASSERT_EQ(n, 4000);
    piped.resize(4000);
    EXPECT_EQ(piped, original.substr(3, 4000));
}
