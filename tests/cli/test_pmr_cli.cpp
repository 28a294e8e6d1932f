// The PM retail sample through dodedoz-cli, end to end: a fresh company seeded with the sample's
// leases and charge types through `dodedoz-cli load`, the sample examined (nothing written
// anywhere) and converted (report, notes, reject file, the retail file with its "Total" sales
// categories, the time stamp). Everything a user reads is compared byte for byte with the golden
// files in tests/data/pmrcli; DZ_UPDATE_GOLDEN=1 rewrites them.
#include "sample_cli_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "pmrcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "pmr";

class PmrCli : public SampleCliTest {
protected:
    PmrCli() : SampleCliTest(kSamples, {kSamples / "setup-retail.load"}) {}

    using SampleCliTest::Copy;
    std::string Copy() { return Copy("demo-pm-retail.txt"); }
};

TEST_F(PmrCli, ExamineReportsTheSampleAndWritesNothing) {
    const std::string text = Copy();
    const auto files = Files(dir);
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // records would be rejected
    ExpectGolden(report, kGolden / "examine_report.txt");
    ExpectGolden(notes, kGolden / "examine_notes.txt");
    ExpectGolden(r.err, kGolden / "examine_stderr.txt");
    // No time stamp, no reject file, not a byte changed in the company or beside the text file.
    EXPECT_TRUE(Files(dir) == files);
    EXPECT_FALSE(fs::exists(dir / "RejPMR.txt"));
    // No "Total" categories and no blank-recalculation list in Examine Files.
    EXPECT_EQ(notes.find("Percent Rent control records off of"), std::string::npos) << notes;
    EXPECT_EQ(Dump("PMR"), "@PMR 1\n");
}

TEST_F(PmrCli, ConvertWritesTheControlsTheirTotalsAndTheTimeStamp) {
    const std::string text = Copy();
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report, kGolden / "convert_report.txt");
    ExpectGolden(notes, kGolden / "convert_notes.txt");
    ExpectGolden(r.err, kGolden / "convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejPMR.txt"), kGolden / "convert_reject.txt");
    const std::string dump = Dump("PMR");
    ExpectGolden(dump, kGolden / "convert_dump.txt");
    // A "Total" for each control written but the one whose text file gave it ("total").
    EXPECT_NE(dump.find("SCLEASE=\"RT100\" SCREV=1 SCSLCAT=\"Total\" SCSFT=\"\" SCSFTG=0 SCSSD= SCSED= SCTSD= "
                        "SCTRD= SCCO=1"),
              std::string::npos);
    EXPECT_NE(dump.find("SCLEASE=\"RT200\" SCREV=1 SCSLCAT=\"Total\" SCSFT=\"\" SCSFTG=0 SCSSD= SCSED= SCTSD= "
                        "SCTRD= SCCO=0"),
              std::string::npos);
    EXPECT_NE(dump.find("SCLEASE=\"RT300\" SCREV=2 SCSLCAT=\"Total\""), std::string::npos);
    EXPECT_NE(notes.find("Percent Rent control records off of Lease:  'RT100'\n"), std::string::npos) << notes;
    EXPECT_EQ(Slurp(text), Stamped(kSamples / "demo-pm-retail.txt", "xvpmr.tpl"));
}

}  // namespace
