// The CM bank-account sample through dodedoz-cli, end to end, on the demo company after its GL
// master sample: examined (nothing written anywhere), converted (report, notes, reject file, the
// banks and their last numbers in the CM master file, the time stamp), and converted again with
// --reconvert (every bank a duplicate, no last-numbers record written). Everything a user reads
// is compared byte for byte with golden files in tests/data/cmmcli.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "sample_cli_support.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "cmmcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";

class CmmCli : public SampleCliTest {
protected:
    CmmCli() : SampleCliTest(kSamples) { companyName = "Northbridge Builders"; }

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        // The demo company's AP check format, which the sample's banks use.
        Spit(dir / "ap-formats.txt", "@APM\nR11 FNAME=\"STD\" FDESC=\"Standard check\"\n");
        const CliResult load = Cli({"load", "--company", company.string(), (dir / "ap-formats.txt").string()});
        ASSERT_EQ(load.status, 0) << load.err << load.out;
        // Every bank refers to the demo chart of accounts.
        std::string report, notes;
        ASSERT_EQ(Run("convert", Copy("glm", "demo-gl-master.txt"), report, notes).status, 1);
    }

    std::string Copy(const std::string& folder, const std::string& sample) {
        return SampleCliTest::Copy((fs::path(folder) / sample).string(), sample);
    }

    std::string Dump(const std::string& abbr = "CMM") { return SampleCliTest::Dump(abbr); }

    // The dump's lines that start with `prefix`.
    static std::vector<std::string> LinesOf(const std::string& dump, const std::string& prefix) {
        std::vector<std::string> out;
        std::istringstream in(dump);
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        return out;
    }
};

TEST_F(CmmCli, ExamineReportsWhatWouldBeRejectedAndWritesNothing) {
    const std::string text = Copy("cmm", "demo-bank-accounts.txt");
    const std::string dumped = Dump();
    const auto files = Files(dir);
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // banks would be rejected
    EXPECT_EQ(r.out, "");
    ExpectReportAndNotes(report, notes, kGolden / "demo_examine.txt");
    ExpectGolden(r.err, kGolden / "demo_examine_stderr.txt");
    // Nothing anywhere: not the CM settings either, though the first bank turns them to several
    // cash accounts for the banks after it.
    EXPECT_EQ(Dump(), dumped);
    EXPECT_EQ(Files(dir), files);  // MASTER.CMM, MASTER.GLM, company.toml, the text file...
    EXPECT_FALSE(fs::exists(dir / "RejCMM.txt"));
}

TEST_F(CmmCli, ConvertWritesEachBankWithItsLastNumbersTheRejectFileAndTheTimeStamp) {
    const std::string text = Copy("cmm", "demo-bank-accounts.txt");
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    ExpectReportAndNotes(report, notes, kGolden / "demo_convert.txt");
    ExpectGolden(r.err, kGolden / "demo_convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejCMM.txt"), kGolden / "demo_reject.txt");
    const std::string dump = Dump();
    ExpectGolden(dump, kGolden / "demo_dump.txt");
    // Every bank on file has exactly one last-numbers record; the settings use several cash
    // accounts per bank.
    EXPECT_EQ(LinesOf(dump, "R1 ").size(), 4u) << dump;
    EXPECT_EQ(LinesOf(dump, "R5 ").size(), 4u) << dump;
    for (const char* bank : {"OPERATING", "PAYROLL", "RECEIPTS", "JOBS"})
        EXPECT_NE(dump.find("LTBNKAC=\"" + std::string(bank) + "\""), std::string::npos) << bank;
    EXPECT_NE(dump.find("CMULTCA=1"), std::string::npos) << dump;

    const std::string sample = Slurp(kSamples / "cmm" / "demo-bank-accounts.txt");
    const std::string firstLine = sample.substr(0, sample.find('\n') + 1);
    EXPECT_EQ(Slurp(text), firstLine +
                               "#,\"Previously Converted\",\"by Ann Lee\",\"on 12/6/26\",\"at 2:30PM\",\"using "
                               "xvcmm.tpl\"\n" +
                               sample.substr(firstLine.size()));
}

TEST_F(CmmCli, ReconvertedEveryBankIsADuplicateAndNoLastNumbersAreWritten) {
    const std::string text = Copy("cmm", "demo-bank-accounts.txt");
    std::string report, notes;
    ASSERT_EQ(Run("convert", text, report, notes).status, 1);
    const std::string dumped = Dump();
    const CliResult r = Run("convert", text, report, notes, {"--reconvert"});
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectReportAndNotes(report, notes, kGolden / "again_reconvert.txt");
    ExpectGolden(r.err, kGolden / "again_reconvert_stderr.txt");
    const std::string redumped = Dump();
    // The banks and their last numbers are as the first conversion left them; only the notes
    // lines add their notes once more.
    EXPECT_EQ(LinesOf(redumped, "R"), LinesOf(dumped, "R"));
    EXPECT_EQ(LinesOf(redumped, "H"), LinesOf(dumped, "H"));
}

}  // namespace
