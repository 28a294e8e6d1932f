// The PM property and system sample through dodedoz-cli, end to end: a fresh company with the GL
// master sample converted first (its prefixes, base accounts and accounts) and the sample's PM
// system setup loaded; the sample examined (nothing written anywhere) and converted (report,
// notes, reject file, the property and system files, the time stamp). Everything a user reads is
// compared byte for byte with the golden files in tests/data/pmpcli; DZ_UPDATE_GOLDEN=1 rewrites
// them.
#include "sample_cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "pmpcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";

class PmpCli : public SampleCliTest {
protected:
    PmpCli()
        : SampleCliTest(kSamples / "pmp", {kSamples / "pmp" / "setup-calendar-and-banks.load",
                                           kSamples / "pmp" / "setup-pm-system.load"}) {}

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        ConvertGlMasterSample();
        if (HasFatalFailure()) return;
        text = Copy("demo-pm-property.txt");
    }

    std::string text;
};

TEST_F(PmpCli, ExamineReportsTheSampleAndWritesNothing) {
    const auto files = Files();
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // records would be rejected
    ExpectGolden(report, kGolden / "examine_report.txt");
    ExpectGolden(notes, kGolden / "examine_notes.txt");
    ExpectGolden(r.err, kGolden / "examine_stderr.txt");
    // No time stamp, no reject file, not a byte changed in the company or beside the text file.
    EXPECT_TRUE(Files() == files);
    EXPECT_FALSE(fs::exists(dir / "RejPMP.txt"));
}

TEST_F(PmpCli, ConvertWritesBothFilesRunsTheChecksAndStampsTheText) {
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report, kGolden / "convert_report.txt");
    ExpectGolden(notes, kGolden / "convert_notes.txt");
    ExpectGolden(r.err, kGolden / "convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejPMP.txt"), kGolden / "convert_reject.txt");
    ExpectGolden(Dump("PMS"), kGolden / "convert_dump_pms.txt");
    ExpectGolden(Dump("PMP"), kGolden / "convert_dump_pmp.txt");
    ExpectGolden(Dump("CMM"), kGolden / "convert_dump_cmm.txt");  // the bank a property created
    EXPECT_EQ(Slurp(text), Stamped(kSamples / "pmp" / "demo-pm-property.txt", "xvpmp.tpl"));
}

// A unit key that another program stored as a blob stops the walk that counts a property's units
// there, before the units after it: a run whose walk stopped on a row refused as corrupt commits
// nothing built on it, whichever converter walked. It ends with 12011 and the layer's reason, and
// the property file is as it was.
TEST_F(PmpCli, AWalkThatMetAKeyOfAnotherKindCommitsNothing) {
    const fs::path pmp = company / "MASTER.PMP";
    Spit(dir / "unit.load", "@PMP\nR17 UPROP=\"MILL\" UNIT=\"M9\"\n");
    Load(dir / "unit.load");
    ASSERT_TRUE(Sql(pmp, {"UPDATE r17 SET UNIT = CAST(UNIT AS BLOB) WHERE UNIT = 'M9'"}));
    const std::string before = Slurp(pmp);
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 2) << r.err << report;
    EXPECT_THAT(r.err + report, ::testing::HasSubstr("Unable to read from or write to"));
    EXPECT_THAT(r.err + report, ::testing::HasSubstr("a key holds a value of another kind"));
    EXPECT_TRUE(Slurp(pmp) == before);
}

}  // namespace
