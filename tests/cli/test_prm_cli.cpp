// The PR employee sample through dodedoz-cli, end to end, on a company seeded with the sample's
// payroll setup: examined (nothing written anywhere), then converted (report, notes, reject
// file, the PR master file, the time stamp). Everything a user reads is compared byte for byte
// with golden files in tests/data/prmcli.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "sample_cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "prmcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "prm";

class PrmCli : public SampleCliTest {
protected:
    PrmCli() : SampleCliTest(kSamples, {kSamples / "setup-payroll.load"}) {}
};

TEST_F(PrmCli, ExamineReportsTheSampleAndWritesNothing) {
    const std::string text = Copy("demo-pr-employees.txt");
    const auto files = Files();
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // the sample's faulty lines
    ExpectGolden(report + "\f" + notes, kGolden / "demo_examine.txt");
    ExpectGolden(r.err, kGolden / "demo_examine_stderr.txt");
    EXPECT_EQ(Files(), files);  // every data file and the text file as they were
    EXPECT_FALSE(fs::exists(dir / "RejPRM.txt"));
}

TEST_F(PrmCli, ConvertWritesTheEmployeesTheRejectFileAndTheTimeStamp) {
    const std::string text = Copy("demo-pr-employees.txt");
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report + "\f" + notes, kGolden / "demo_convert.txt");
    ExpectGolden(r.err, kGolden / "demo_convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejPRM.txt"), kGolden / "demo_reject.txt");
    ExpectGolden(Dump("PRM"), kGolden / "demo_dump.txt");
    const std::string stamped = Slurp(text);
    EXPECT_NE(stamped.find("#,\"Previously Converted\",\"by Ann Lee\",\"on 12/6/26\",\"at 2:30PM\",\"using "
                           "xvprm.tpl\""),
              std::string::npos)
        << stamped.substr(0, 200);
}

// An employee with a local and no union walks every union of the setup file: a walk stopped by a
// union stored as another kind than its field's has not seen the file, and says so.
TEST_F(PrmCli, ExamineEndsAtAWalkThatMetAKeyOfAnotherKind) {
    const std::string text = Copy("demo-pr-employees.txt");
    ASSERT_TRUE(Sql(company / "SYSTEM.PRS", {"UPDATE r7 SET UNID = CAST(UNID AS BLOB) WHERE UNID = 'ELEC'"}));
    const auto files = Files();
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 2) << r.err << report;
    EXPECT_THAT(r.err + report, ::testing::HasSubstr("a key holds a value of another kind"));
    EXPECT_EQ(Files(), files);
}

TEST_F(PrmCli, TotalsPassUnderTheAllowTotalsTemplate) {
    const std::string text = Copy("totals.txt");
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 0) << r.err << report;
    EXPECT_EQ(notes.find("Current totals"), std::string::npos) << notes;
    ExpectGolden(Dump("PRM"), kGolden / "totals_dump.txt");
}

}  // namespace
