// The PM issues sample through dodedoz-cli, end to end: a fresh company with the issue
// application, its issues file at LASTID 100 and the property, unit, tenant and lease the sample
// names loaded through `dodedoz-cli load`; the sample examined (nothing written anywhere, the
// text file's numbers kept) and converted (report, notes, reject file, both written files, the
// time stamp). Compared byte for byte with tests/data/pmzcli; DZ_UPDATE_GOLDEN=1 rewrites them.
#include "sample_cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;
using ::testing::Not;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "pmzcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "pmz";

class PmzCli : public SampleCliTest {
protected:
    PmzCli() : SampleCliTest(kSamples, {kSamples / "setup-issues.load"}) {
        initOptions = {"--modules", "GL,JC,CM,AP,PR,PM,AR,TL"};
    }
};

TEST_F(PmzCli, ExamineKeepsTheNumbersAndWritesNothing) {
    const std::string text = Copy("demo-pm-issues.txt");
    const auto files = Files(dir);
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report, kGolden / "examine_report.txt");
    ExpectGolden(notes, kGolden / "examine_notes.txt");
    ExpectGolden(r.err, kGolden / "examine_stderr.txt");
    EXPECT_THAT(notes, HasSubstr("Message for Issue - '7'"));
    EXPECT_TRUE(Files(dir) == files);  // not a byte changed, no reject file, no stamp
    EXPECT_EQ(Dump("TLI"), "@TLI 0\nH1 LASTID=100\n");
    EXPECT_EQ(Dump("PMZ"), "@PMZ 0\n");
}

TEST_F(PmzCli, ConvertNumbersTheIssuesAfterLastIdWithTheirNotesAndLinks) {
    const std::string text = Copy("demo-pm-issues.txt");
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report, kGolden / "convert_report.txt");
    ExpectGolden(notes, kGolden / "convert_notes.txt");
    ExpectGolden(r.err, kGolden / "convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejPMZ.txt"), kGolden / "convert_reject.txt");
    const std::string tli = Dump("TLI");
    ExpectGolden(tli, kGolden / "convert_dump_tli.txt");
    ExpectGolden(Dump("PMZ"), kGolden / "convert_dump_pmz.txt");
    // 7, 3 and 12 became 101, 102 and 103; the notes of 3 went to 102.
    EXPECT_THAT(tli, HasSubstr("H1 LASTID=103\n"));
    const std::size_t at102 = tli.find("R1 ISSUE=102 ");
    ASSERT_NE(at102, std::string::npos) << tli;
    EXPECT_THAT(tli.substr(at102, tli.find("R1 ISSUE=103") - at102), HasSubstr("Technician booked for Monday"));
    EXPECT_THAT(tli, Not(HasSubstr("R1 ISSUE=7 ")));
    EXPECT_EQ(Slurp(text), Stamped(kSamples / "demo-pm-issues.txt", "xvpmz.tpl"));
}

// Notes lines of one issue are appended one after the other, each rewriting the notes before it:
// past the longest notes a record may hold they are refused, and those before them kept.
TEST_F(PmzCli, NotesLinesPastTheLongestNotesAreRefused) {
    std::string body = "#,PMZ,xvpmz\n1,7,\"Water stain.\",Leak,Urgent,,Open,Roof,,Dana,,elm,,,,,,,,,,,,,\n";
    for (int n = 0; n < 300; ++n)
        body += "1N,7,\"note " + std::to_string(n) + " " + std::string(70, 'x') + "\"\n";
    const fs::path text = dir / "many-notes.txt";
    Spit(text, body);
    std::string report, notes;
    const CliResult r = Run("convert", text.string(), report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(report, HasSubstr("Notes are too long"));
    const std::string tli = Dump("TLI");
    EXPECT_THAT(tli, HasSubstr("note 0 x"));
    EXPECT_THAT(tli, Not(HasSubstr("note 299 x")));
}

// An issue number that cannot be raised ends the file with 12016 and writes no issue: a LASTID past
// what a double counts one by one (where 1 more is the same number), or past its field, or the
// largest the field holds, with no number after it. Never a search without end.
TEST_F(PmzCli, AnIssueNumberThatCannotBeRaisedEndsTheFile) {
    timeLimit = 60;
    int n = 0;
    for (const std::string last : {"9007199254740992", "1e308", "99999999"}) {
        ASSERT_TRUE(Sql(company / "ISSUES.TLI", {"UPDATE h1 SET LASTID = " + last}));
        const std::string text = Copy("demo-pm-issues.txt", "issues" + std::to_string(++n) + ".txt");
        std::string report, notes;
        const CliResult r = Run("convert", text, report, notes);
        EXPECT_EQ(r.status, 2) << last << r.err;
        EXPECT_THAT(r.err + report, HasSubstr("Unable to update Last batch, Last payment ID, or Run number")) << last;
        EXPECT_THAT(Dump("TLI"), Not(HasSubstr("R1 ISSUE="))) << last;
        EXPECT_EQ(Dump("PMZ"), "@PMZ 0\n") << last;
    }
}

// The largest number the field holds is still an issue's: LASTID 99999998 gives the next issue
// 99999999. Examine Files numbers nothing, so LASTID 99999999 examines as any other.
TEST_F(PmzCli, TheLargestIssueNumberIsGivenAndExamineNeedsNone) {
    Spit(dir / "one.txt", "#,PMZ,xvpmz\n1,7,\"Water stain.\",Leak,Urgent,,Open,Roof,,Dana,,elm,,,,,,,,,,,,,\n");
    Spit(dir / "again.txt", "#,PMZ,xvpmz\n1,8,\"Door sticks.\",Leak,Urgent,,Open,Roof,,Dana,,elm,,,,,,,,,,,,,\n");
    ASSERT_TRUE(Sql(company / "ISSUES.TLI", {"UPDATE h1 SET LASTID = 99999998"}));
    std::string report, notes;
    CliResult r = Run("convert", (dir / "one.txt").string(), report, notes);
    EXPECT_EQ(r.status, 0) << r.err << report;
    EXPECT_THAT(Dump("TLI"), HasSubstr("R1 ISSUE=99999999 "));
    EXPECT_THAT(Dump("TLI"), HasSubstr("H1 LASTID=99999999\n"));

    r = Run("examine", (dir / "again.txt").string(), report, notes);
    EXPECT_EQ(r.status, 0) << r.err << report;
    EXPECT_THAT(r.err + report, Not(HasSubstr("Unable to update Last batch")));
}

}  // namespace
