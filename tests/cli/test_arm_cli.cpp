// The AR contacts and customers sample through dodedoz-cli, end to end, on a company with AR,
// GL, Billing and taxes: the GL master sample converted first (its prefixes), then Billing tables
// and tax groups loaded through `load`. The sample is examined (nothing written) and converted
// (report, notes, reject file, the contacts and customers left on file, the time stamp), and
// compared byte for byte with golden files in tests/data/armcli.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "sample_cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "armcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";

// Billing tables the sample's customers name: its invoice format, and its labor rate table on
// file only as a material rate table.
const char* const kBilling = R"(@BLS
R8 IFORMAT="STD" IDESC="Standard invoice"
R2 RTABLE="LAB2026" RTCTYPE=2 RTDESC="Material rates 2026"
R1 MTABLE="MK10" MDESC="Ten percent"
)";

class ArmCli : public SampleCliTest {
protected:
    ArmCli() : SampleCliTest(kSamples / "arm") { initOptions = {"--modules", "GL,AR,BL,TX"}; }

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        // The GL prefixes, from the GL master sample.
        ConvertGlMasterSample();
        if (HasFatalFailure()) return;
        // Tax groups and Billing tables.
        Load(samples / "setup-taxes.load");
        if (HasFatalFailure()) return;
        Spit(dir / "billing.load", kBilling);
        Load(dir / "billing.load");
        if (HasFatalFailure()) return;
        text = Copy("demo-ar-customers.txt");
    }

    CliResult Run(const std::string& command, std::string& report, std::string& notes) {
        return SampleCliTest::Run(command, text, report, notes);
    }

    // The numbers of the lines under which the notes print messages for records ("CUST  13").
    static std::vector<int> MessageLines(const std::string& notes) {
        std::vector<int> lines;
        std::size_t at = 0;
        while ((at = notes.find("  Message", at)) != std::string::npos) {
            const std::size_t start = notes.rfind('\n', at) + 1;
            std::istringstream words(notes.substr(start, at - start));
            std::string id;
            int line = 0;
            words >> id >> line;
            lines.push_back(line);
            at = notes.find('\n', at);
        }
        return lines;
    }

    std::string text;
};

TEST_F(ArmCli, ExamineReportsTheSampleAndLeavesEveryFileAsItWas) {
    const auto files = Files(dir);
    std::string report, notes;
    const CliResult r = Run("examine", report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // three lines would be rejected
    ExpectGolden(report, kGolden / "examine_report.txt");
    ExpectGolden(notes, kGolden / "examine_notes.txt");
    ExpectGolden(r.err, kGolden / "examine_stderr.txt");
    EXPECT_EQ(Files(dir), files);  // byte for byte: data files, text file, no reject file
}

TEST_F(ArmCli, ConvertWritesContactsAndCustomersAndStampsTheFile) {
    std::string report, notes, examineReport, examineNotes;
    ASSERT_EQ(Run("examine", examineReport, examineNotes).status, 1);
    const CliResult r = Run("convert", report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report, kGolden / "convert_report.txt");
    ExpectGolden(notes, kGolden / "convert_notes.txt");
    ExpectGolden(r.err, kGolden / "convert_stderr.txt");
    ASSERT_TRUE(fs::exists(dir / "RejectARM.txt"));
    ExpectGolden(Slurp(dir / "RejectARM.txt"), kGolden / "convert_reject.txt");
    ExpectGolden(Dump("ARS"), kGolden / "convert_ars.txt");
    ExpectGolden(Dump("ARM"), kGolden / "convert_arm.txt");

    // Convert's line numbers are Examine's plus one: the time stamp is line 2.
    std::vector<int> examined = MessageLines(examineNotes);
    for (int& line : examined) ++line;
    EXPECT_FALSE(examined.empty());
    EXPECT_EQ(MessageLines(notes), examined);
    const std::string stamped = Slurp(text);
    EXPECT_NE(stamped.find("#,\"Previously Converted\",\"by Ann Lee\",\"on 12/6/26\",\"at 2:30PM\",\"using xvarm.tpl\""),
              std::string::npos);
}

// Contacts and customers are two data files: a report or notes that cannot be printed puts both
// back, the words naming the line that failed and the full disk as why.
TEST_F(ArmCli, AReportOrNotesThatCannotBeWrittenPutBothDataFilesBack) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to stand for a full disk";
    // The company's files as they stand, but the hidden lock files a run leaves.
    const auto data = [&] {
        auto files = Files(company);
        std::erase_if(files, [](const auto& f) { return f.first.front() == '.'; });
        return files;
    };
    const auto before = data();
    const std::pair<std::string, std::string> cases[] = {
        {"--report", "Unable to print rejecting record messages: No space left on device"},
        {"--notes", "Unable to print warning/log messages: No space left on device"}};
    for (const auto& [option, words] : cases) {
        const CliResult r = Cli({"convert", "--company", company.string(), option, "/dev/full", text});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_THAT(r.err, ::testing::HasSubstr(": " + words + "; every data file put back\n")) << option;
        EXPECT_TRUE(data() == before) << option;
        EXPECT_EQ(Slurp(text).find("Previously Converted"), std::string::npos) << option;
    }
}

}  // namespace
