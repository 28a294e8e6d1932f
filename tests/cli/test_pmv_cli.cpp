// The PM recovery sample through dodedoz-cli, end to end: a fresh company seeded with the
// sample's charge types, calculation methods, property records, leases and recurring charges
// through `dodedoz-cli load`, the sample examined (nothing written anywhere) and converted
// (report, notes, reject file, the recovery file, the time stamp). Everything a user reads is
// compared byte for byte with the golden files in tests/data/pmvcli; DZ_UPDATE_GOLDEN=1 rewrites
// them.
#include "sample_cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

namespace {

using namespace dz::cli::testing;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

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
    EXPECT_THAT(dump, HasSubstr("RCSTOP=3 RCSSF=\"GLA\""));  // as the unit stores it
    EXPECT_EQ(Slurp(text), Stamped(kSamples / "demo-pm-recovery.txt", "xvpmv.tpl"));
}

// The reasons of the rejected lines, without their line numbers, and the rows of the record
// totals, without the heading whose words differ between the modes.
std::vector<std::string> Outcomes(const std::string& report) {
    std::vector<std::string> out;
    static const std::regex reason(R"(^ \d+ +\d+  (.+)$)");
    bool totals = false;
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (line.rfind("Look at", 0) == 0) break;
        if (line.rfind("Record Totals", 0) == 0)
            totals = true;
        else if (totals && !line.empty())
            out.push_back(line);
        else if (!totals && std::regex_match(line, m, reason))
            out.push_back(m[1]);
    }
    return out;
}

TEST_F(PmvCli, ExamineFilesPredictsConvertForCategoriesAndConcessionPeriods) {
    // The categories and the concession period after their controls count in both modes (the
    // record-ID map examined, the file converted); the category before its control in neither.
    const std::string text = Copy();
    std::string examined, converted, notes;
    Run("examine", text, examined, notes);
    const auto expected = Outcomes(examined);
    EXPECT_THAT(expected, Contains("Property recovery controls 'PLAZA, INS' does not yet exist(1407)"));
    // A budget type checked against the property's control of an earlier line: in the record-ID
    // map when examined, on file when converted.
    EXPECT_THAT(expected,
                Contains("Escal budget type with '3' is invalid, Property recov cntl record 'PLAZA, INS' is not using it(1457)"));
    EXPECT_THAT(notes, HasSubstr("it will be cleared on this Recov exp record(1449)"));
    Run("convert", text, converted, notes);
    EXPECT_EQ(Outcomes(converted), expected);
    EXPECT_THAT(notes, HasSubstr("it was cleared on this Recov exp record(1448)"));
    // SF types take the spelling on file; the fee mark is cleared.
    const auto categories = DumpedRecords("PMV", 5);
    ASSERT_EQ(categories.size(), 2u);
    EXPECT_EQ(categories[0].at("ECUSF"), "\"GLA\"");
    EXPECT_EQ(categories[0].at("ECFEE"), "0");
    EXPECT_EQ(DumpedRecords("PMV", 2).at(0).at("PECPSF"), "\"GLA\"");
    EXPECT_EQ(DumpedRecords("PMV", 6).size(), 1u);
}

// Frequencies are whole months, but a fraction in the text file reaches the conversion: below one
// month it is refused as blank or zero; above it, a lease recovery's and a property control's
// alike are refused as they were given, never cut or rounded.
TEST_F(PmvCli, FrequencyFractionsAreRefusedAsGiven) {
    const fs::path text = dir / "fractions.txt";
    const std::string control = "1,PLAZA,TAX,", lease = "4,CR200,1,TAX,102,";
    const std::string controlRest = ",1" + std::string(42, ',') + "\n";
    const std::string leaseRest = ",1/1/2027,3/1/2027" + std::string(116, ',') + "\n";
    Spit(text, "#,PMV,xvpmv\n" + control + "0.5" + controlRest + control + "1.5" + controlRest + lease + "0.5" +
                   leaseRest + lease + "3.5" + leaseRest);
    std::string report, notes;
    Run("convert", text.string(), report, notes);
    const auto outcomes = Outcomes(report);
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(),
                         "Recovery frequency is blank or zero, it must be greater than zero(1403)"),
              2)
        << report;
    for (const char* given : {"'1.5'", "'3.5'"})
        EXPECT_THAT(report, HasSubstr(std::string("Recovery frequency ") + given + " is not a whole number of months"));
    EXPECT_THAT(report, Not(HasSubstr("do not make up the frequency")));
    EXPECT_TRUE(DumpedRecords("PMV", 1).empty()) << report;
}

}  // namespace
