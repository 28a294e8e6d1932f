// Reject-file names, record-ID helpers, reason codes, long-text line ends, string helpers.
#include "app/converter_factory.h"
#include "convert/converter.h"
#include "convert/texts.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/xd.h"

#include "test_convert_support.h"

namespace dz::convert {
namespace {

using namespace dz::convert::testing;

TEST(RejectFileNameTest, PrefixCounterAndFolder) {
    ScratchDir company, texts;
    OpenCompany(company.path(), {"GL", "CM"});
    const std::string text = texts.str("bank.txt");
    EXPECT_EQ(RejectFileName(text, "CMM"), texts.str("RejectCMM.txt"));
    WriteFile(texts.str("RejectCMM.txt"), "x");
    EXPECT_EQ(RejectFileName(text, "CMM"), texts.str("Reject1CMM.txt"));
    WriteFile(texts.str("Reject1CMM.txt"), "x");
    EXPECT_EQ(RejectFileName(text, "CMM"), texts.str("Reject2CMM.txt"));
    EXPECT_EQ(RejectFileName("bank.txt", "GLM"), "RejectGLM.txt");  // no folder

    OpenCompany(company.path(), {"GL", "CM", "PM"});
    EXPECT_EQ(RejectFileName(text, "CMM"), texts.str("RejCMM.txt"));
    WriteFile(texts.str("RejCMM.txt"), "x");
    EXPECT_EQ(RejectFileName(text, "CMM"), texts.str("Rej1CMM.txt"));
    suite::close_company();
}

TEST(RejectFileNameTest, TheRejectFileIsMadeWhenItsNameIsChosenNeverThroughALink) {
    ScratchDir company, texts, elsewhere;
    OpenCompany(company.path(), {"GL", "CM"});
    const std::string text = texts.str("bank.txt");
    // A dangling link and a link to an existing file take their names; neither is followed.
    const std::string target = elsewhere.str("planted.txt");
    fs::create_symlink(target, texts.str("RejectCMM.txt"));
    const std::string victim = elsewhere.str("victim.txt");
    WriteFile(victim, "keep me");
    fs::create_symlink(victim, texts.str("Reject1CMM.txt"));
    EXPECT_EQ(RejectFileName(text, "CMM"), texts.str("Reject2CMM.txt"));
    const std::string claimed = ClaimRejectFile(text, "CMM");
    EXPECT_EQ(claimed, texts.str("Reject2CMM.txt"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(claimed)));
    EXPECT_EQ(ClaimRejectFile(text, "CMM"), texts.str("Reject3CMM.txt"));  // made, so taken
    EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
    EXPECT_EQ(ReadFile(victim), "keep me");

    // A name claimed and never written goes again; one replaced meanwhile is left alone.
    ReleaseRejectFile(claimed);
    EXPECT_FALSE(fs::exists(claimed));
    const std::string third = texts.str("Reject3CMM.txt");
    fs::remove(third);
    WriteFile(third, "someone else's");
    ReleaseRejectFile(third);
    EXPECT_EQ(ReadFile(third), "someone else's");
    suite::close_company();
}

TEST(RecordIdTest, StripRecordIdKeepsTheKeyPart) {
    auto strip = [](std::string s) {
        StripRecordId(s);
        return s;
    };
    EXPECT_EQ(strip("101\t0\tABC  DEF"), "ABC  DEF");
    EXPECT_EQ(strip("101\t0\t   ABC"), "ABC");
    EXPECT_EQ(strip("101\t0\t   "), "");
    EXPECT_EQ(strip("101\t0"), "");
    EXPECT_EQ(strip("plain"), "");
    const std::string longKey(500, 'K');  // no length limit
    EXPECT_EQ(strip("101\t0\t" + longKey), longKey);
}

TEST(ReasonCodeTest, ImportErrorsMapToTheirCodes) {
    app::CConvertWrapper any(101);
    auto code = [&](int error) {
        std::string reason = "R";
        any->AppendReasonCode(reason, error);
        return reason;
    };
    EXPECT_EQ(code(1), "R (50)");
    EXPECT_EQ(code(2), "R (50)");
    EXPECT_EQ(code(3), "R (51)");
    EXPECT_EQ(code(4), "R (52)");
    for (int e = 6; e <= 14; ++e) EXPECT_EQ(code(e), "R (" + std::to_string(47 + e) + ")") << e;
    EXPECT_EQ(code(16), "R (62)");
    EXPECT_EQ(code(17), "R (63)");
    EXPECT_EQ(code(20), "R (64)");
    EXPECT_EQ(code(21), "R (65)");
    for (int e : {-1, 0, 5, 15, 18, 19, 22, 100}) EXPECT_EQ(code(e), "R") << e;
}

TEST(CrToCrLfTest, LineFeedOnlyWhereMissing) {
    EXPECT_EQ(CrToCrLf("a\rb"), "a\r\nb");
    EXPECT_EQ(CrToCrLf("a\r\nb"), "a\r\nb");  // already followed by one: unchanged
    EXPECT_EQ(CrToCrLf("\r\r"), "\r\n\r\n");
    EXPECT_EQ(CrToCrLf("end\r"), "end\r\n");
    EXPECT_EQ(CrToCrLf("\n\r\n"), "\n\r\n");
    EXPECT_EQ(CrToCrLf(""), "");
}

TEST(StringHelperTest, TrimFindDelete) {
    std::string s = "xxabcxx";
    TrimChar(s, 0, 'x');
    EXPECT_EQ(s, "abcxx");
    TrimChar(s, 1, 'x');
    EXPECT_EQ(s, "abc");
    s = "  a b  ";
    TrimChar(s, 2, ' ');
    EXPECT_EQ(s, "a b");
    s = "xxx";
    TrimChar(s, 2, 'x');
    EXPECT_EQ(s, "");

    EXPECT_EQ(FindLastCharOf("C:\\a/b\\c.txt", "\\/"), 6);
    EXPECT_EQ(FindLastCharOf("abc", "xyz"), -1);

    s = "abcdef";
    DeleteChars(s, 1, 2);
    EXPECT_EQ(s, "adef");
    DeleteChars(s, 2, 0);
    EXPECT_EQ(s, "ad");
    DeleteChars(s, 9, 1);
    EXPECT_EQ(s, "ad");
}

TEST(ScreenFileTest, HandleAndCountry) {
    SetScreenFileHandle(7);
    EXPECT_EQ(GetScreenFileHandle(), 7);
    SetScreenFileHandle(0);
    ScratchDir company;
    OpenCompany(company.path(), {"AP", "PR"});
    suite::current_company()->settings().country_pr = 61;
    EXPECT_EQ(ReadScreenFile("PR"), 61);
    EXPECT_EQ(ReadScreenFile("AP"), 1);
    EXPECT_EQ(ReadScreenFile("GL"), 0);
    suite::close_company();
    EXPECT_EQ(ReadScreenFile("PR"), 0);
}

}  // namespace
}  // namespace dz::convert

namespace dz::convert {
namespace {

using namespace dz::convert::testing;

class TimeStampTest : public ::testing::Test {
protected:
    void SetUp() override { OpenCompany(company.path(), {"GL"}, "Ann Lee"); }
    void TearDown() override {
        suite::xd_set_clock({});
        suite::close_company();
    }
    void At(unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi) {
        suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(mo, d, y), {static_cast<uint16_t>(h),
                                                                             static_cast<uint16_t>(mi), 0}}));
    }
    ScratchDir company;
};

TEST_F(TimeStampTest, LineLayoutAndTwelveHourClock) {
    At(2026, 12, 6, 13, 5);
    EXPECT_EQ(BuildTimeStampLine("xvglm.tpl"),
              "#,\"Previously Converted\",\"by Ann Lee\",\"on 12/6/26\",\"at 1:05PM\",\"using xvglm.tpl\"\n");
    At(2005, 3, 9, 12, 0);  // noon is PM
    EXPECT_EQ(BuildTimeStampLine("t"), "#,\"Previously Converted\",\"by Ann Lee\",\"on 3/9/5\",\"at 12:00PM\",\"using t\"\n");
    At(1999, 1, 2, 0, 7);  // the hour after midnight is 12 AM
    EXPECT_EQ(BuildTimeStampLine("t"), "#,\"Previously Converted\",\"by Ann Lee\",\"on 1/2/99\",\"at 12:07AM\",\"using t\"\n");
    suite::current_company()->settings().operator_name = "";
    At(2026, 1, 1, 9, 30);
    EXPECT_EQ(BuildTimeStampLine("t"), "#,\"Previously Converted\",\"on 1/1/26\",\"at 9:30AM\",\"using t\"\n");
}

// The clock read as the year ends: the stamp is of one moment, not the old day with the new time.
TEST_F(TimeStampTest, AStampMadeAsTheYearEndsIsOfOneMoment) {
    int reads = 0;
    suite::xd_set_clock([&reads] {
        return reads++ == 0 ? suite::LocalDateTime{suite::zqDate(12, 31, 2026), {23, 59, 59}}
                            : suite::LocalDateTime{suite::zqDate(1, 1, 2027), {0, 0, 0}};
    });
    EXPECT_EQ(BuildTimeStampLine("t"), "#,\"Previously Converted\",\"by Ann Lee\",\"on 12/31/26\",\"at 11:59PM\",\"using t\"\n");
}

TEST_F(TimeStampTest, StampGoesAfterTheFirstLine) {
    At(2026, 12, 6, 9, 5);
    ScratchDir texts;
    const std::string stamp = BuildTimeStampLine("xvglm.tpl");
    const std::string crlf = texts.str("a.txt");
    WriteFile(crlf, "#,GLM,xvglm\r\n1,A\r\n");
    app::CConvertWrapper any(101);
    EXPECT_TRUE(any->TimeStampTextFile(crlf, nullptr, "xvglm.tpl"));
    EXPECT_EQ(ReadFile(crlf), "#,GLM,xvglm\r\n" + stamp.substr(0, stamp.size() - 1) + "\r\n1,A\r\n");

    const std::string oneLine = texts.str("b.txt");  // one line without a line end
    WriteFile(oneLine, "#,GLM,xvglm");
    EXPECT_TRUE(TimeStampTextFile(oneLine, nullptr, "xvglm.tpl"));
    EXPECT_EQ(ReadFile(oneLine), "#,GLM,xvglm\n" + stamp);

    const std::string empty = texts.str("c.txt");
    WriteFile(empty, "");
    EXPECT_FALSE(TimeStampTextFile(empty, nullptr, "t"));
    EXPECT_EQ(ReadFile(empty), "");
    EXPECT_FALSE(TimeStampTextFile(texts.str("missing.txt"), nullptr, "t"));
    EXPECT_FALSE(fs::exists(texts.str("missing.txt")));
}

TEST_F(TimeStampTest, ALinkedTextFileIsStampedWhereItStands) {
    At(2026, 12, 6, 9, 5);
    ScratchDir texts, elsewhere;
    const std::string stamp = BuildTimeStampLine("xvglm.tpl");
    const std::string real = elsewhere.str("gl.txt");
    WriteFile(real, "#,GLM,xvglm\r\n1,A\r\n");
    const std::string link = texts.str("gl.txt");
    fs::create_symlink(real, link);
    EXPECT_TRUE(TimeStampTextFile(link, nullptr, "xvglm.tpl"));
    EXPECT_TRUE(fs::is_symlink(link));  // the link stays a link
    EXPECT_EQ(ReadFile(real), "#,GLM,xvglm\r\n" + stamp.substr(0, stamp.size() - 1) + "\r\n1,A\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(texts.path()), fs::directory_iterator()), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere.path()), fs::directory_iterator()), 1);

    // Where no file can be written beside the real one (its name leaves no room for the name of
    // the file aside), the text file is one that cannot be stamped: nothing changes.
    const std::string longName = elsewhere.str(std::string(250, 'g') + ".txt");
    WriteFile(longName, "#,GLM,xvglm\r\n1,A\r\n");
    const std::string link2 = texts.str("long.txt");
    fs::create_symlink(longName, link2);
    EXPECT_FALSE(TimeStampTextFile(link2, nullptr, "xvglm.tpl"));
    EXPECT_TRUE(fs::is_symlink(link2));
    EXPECT_EQ(ReadFile(longName), "#,GLM,xvglm\r\n1,A\r\n");
}

}  // namespace
}  // namespace dz::convert

namespace dz::convert {
namespace {

// Every numbered message the converter core shows or prints has its text.
TEST(CoreMessagesTest, EveryNumberUsedHasAText) {
    ASSERT_EQ(xvl::xvlRCString::TableError(), "");
    for (int n : {12000, 12001, 12002, 12003, 12004, 12005, 12006, 12007, 12009, 12010, 12011, 12012, 12013, 12015,
                  12017, 12018, 12019, 12020, 12021, 12022, 12023, 12024, 12025, 12026, 12027, 12028, 12029, 12030,
                  12031, 12051, 12060, 12070, 12618, 12619, 12620, 12621, 12622})
        EXPECT_TRUE(xvl::xvlRCString::Has(n)) << n;
}

}  // namespace
}  // namespace dz::convert
