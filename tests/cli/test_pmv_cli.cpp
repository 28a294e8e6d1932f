// The PM recovery sample through dodedoz-cli, end to end: a fresh company seeded with the
// sample's charge types, calculation methods, property records, leases and recurring charges
// through `dodedoz-cli load`, the sample examined (nothing written anywhere) and converted
// (report, notes, reject file, the recovery file, the time stamp). Everything a user reads is
// compared byte for byte with the golden files in tests/data/pmvcli; DZ_UPDATE_GOLDEN=1 rewrites
// them.
#include "sample_cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "pmvcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "pmv";

class PmvCli : public SampleCliTest {
protected:
    PmvCli() : SampleCliTest(kSamples, {kSamples / "setup-recovery-references.load"}) {}

    using SampleCliTest::Copy;
    std::string Copy() { return Copy("demo-pm-recovery.txt"); }
};

TEST_F(PmvCli, ExamineReportsTheSampleAndWritesNothing) {
    const std::string text = Copy();
    const auto files = Files(dir);
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // records would be rejected
    ExpectGolden(report, kGolden / "examine_report.txt");
    ExpectGolden(notes, kGolden / "examine_notes.txt");
    ExpectGolden(r.err, kGolden / "examine_stderr.txt");
    EXPECT_TRUE(Files(dir) == files);
    EXPECT_FALSE(fs::exists(dir / "RejPMV.txt"));
    EXPECT_EQ(Dump("PMV"), "@PMV 1\n");  // the name line alone: no record
}

TEST_F(PmvCli, ConvertWritesTheControlsAndTheTimeStamp) {
    const std::string text = Copy();
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report, kGolden / "convert_report.txt");
    ExpectGolden(notes, kGolden / "convert_notes.txt");
    ExpectGolden(r.err, kGolden / "convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejPMV.txt"), kGolden / "convert_reject.txt");
    const std::string dump = Dump("PMV");
    ExpectGolden(dump, kGolden / "convert_dump.txt");
    // Keys and calculation methods take the spelling on file.
    EXPECT_THAT(dump, HasSubstr("PRCPROP=\"PLAZA\" PRCCT=\"CAM\""));
    EXPECT_THAT(dump, HasSubstr("PRCRBCM=\"CAMREC\""));
    EXPECT_THAT(dump, HasSubstr("RCRACT=\"CAMADJ\""));
    EXPECT_EQ(Slurp(text), Stamped(kSamples / "demo-pm-recovery.txt", "xvpmv.tpl"));
}

}  // namespace
