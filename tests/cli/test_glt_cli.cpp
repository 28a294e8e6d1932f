// The GL transaction sample through dodedoz-cli, end to end, on a fresh company that holds the GL
// master sample: the sample examined (nothing written anywhere), converted and posted as one batch
// (report, notes, reject file, the transactions left in the GL transaction file, the time
// stamp), a second file posted as the next run and batch, and the formats that no transaction
// conversion takes. Everything a user reads is compared byte for byte with golden files in
// tests/data/gltcli.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "sample_cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "gltcli";
const fs::path kTemplates = fs::path(DZ_TEST_DATA_DIR) / "glt";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";

class GltCli : public SampleCliTest {
protected:
    GltCli() : SampleCliTest(kSamples / "glt") {}

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        // Every transaction refers to the accounts of the GL master sample.
        const fs::path glm = dir / "demo-gl-master.txt";
        fs::copy_file(kSamples / "glm" / "demo-gl-master.txt", glm);
        const CliResult master = Cli({"convert", "--company", company.string(), glm.string()});
        ASSERT_EQ(master.status, 1) << master.err;  // its last lines are rejected on purpose
        fs::remove(dir / "RejGLM.txt");
    }

    // A copy of the transaction sample, under `name`.
    std::string Copy(const std::string& name = "demo-gl-transactions.txt") {
        return SampleCliTest::Copy("demo-gl-transactions.txt", name);
    }

    std::string Dump(const std::string& abbr = "GLT") { return SampleCliTest::Dump(abbr); }

    // The dumped transactions: one map of field to value per record.
    std::vector<std::map<std::string, std::string>> Transactions() { return DumpedRecords("GLT", 1); }

    // A text file of template `tpl` (a path) with `lines` after the first line.
    std::string Text(const std::string& name, const fs::path& tpl, const std::vector<std::string>& lines) {
        std::string body = "#,GLT," + tpl.string() + "\r\n";
        for (const auto& l : lines) body += l + "\r\n";
        Spit(dir / name, body);
        return (dir / name).string();
    }

    // `lead` then empty columns up to `columns` columns after the format id.
    static std::string Columns(const std::string& lead, int columns) {
        int given = 0;
        for (char c : lead) given += c == ',' ? 1 : 0;
        return lead + std::string(static_cast<std::size_t>(columns - given), ',');
    }
};

TEST_F(GltCli, ExamineReportsTheSampleAndWritesNothing) {
    const std::string text = Copy();
    const auto files = Files(dir);
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // lines would be rejected
    EXPECT_EQ(r.out, "");
    ExpectGolden(report + "\f" + notes, kGolden / "sample_examine.txt");
    ExpectGolden(r.err, kGolden / "sample_examine_stderr.txt");
    // CURRENT.GLT, MASTER.GLM, company.toml (no batch, no run number) and the text file as they
    // were; no reject file, nor anything else.
    EXPECT_EQ(Files(dir), files);
    EXPECT_FALSE(fs::exists(dir / "RejGLT.txt"));
    EXPECT_TRUE(Transactions().empty());
}

TEST_F(GltCli, ConvertPostsTheSampleAsOneBatchAndTheNextFileAsTheNext) {
    const std::string text = Copy();
    std::string report, notes;
    CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    ExpectGolden(report + "\f" + notes, kGolden / "sample_convert.txt");
    ExpectGolden(r.err, kGolden / "sample_convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejGLT.txt"), kGolden / "sample_reject.txt");
    ExpectGolden(Dump(), kGolden / "sample_dump.txt");
    // The batch number moved under a lock that leaves nothing behind in the company folder.
    EXPECT_FALSE(fs::exists(company / "company.lock"));

    // One run, one batch, sequence numbers in line order, application XV and source 1.
    auto posted = Transactions();
    ASSERT_EQ(posted.size(), 13u);
    for (std::size_t i = 0; i < posted.size(); ++i) {
        EXPECT_EQ(posted[i]["TRUN"], "1");
        EXPECT_EQ(posted[i]["TSEQ"], std::to_string(i + 1));
        EXPECT_EQ(posted[i]["TBATCH"], "\"XV000001\"");
        EXPECT_EQ(posted[i]["TAPPL"], "\"XV\"");
        EXPECT_EQ(posted[i]["TSOURCE"], "1");
    }
    const std::string sample = Slurp(kSamples / "glt" / "demo-gl-transactions.txt");
    const std::string firstLine = sample.substr(0, sample.find('\n') + 1);
    EXPECT_EQ(Slurp(text), firstLine +
                               "#,\"Previously Converted\",\"by Ann Lee\",\"on 12/6/26\",\"at 2:30PM\",\"using "
                               "xvglt.tpl\"\r\n" +
                               sample.substr(firstLine.size()));

    // A second text file: run 2, the next batch, numbered from 1 again.
    r = Run("convert", Copy("more.txt"), report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    posted = Transactions();
    ASSERT_EQ(posted.size(), 26u);
    for (std::size_t i = 13; i < posted.size(); ++i) {
        EXPECT_EQ(posted[i]["TRUN"], "2");
        EXPECT_EQ(posted[i]["TSEQ"], std::to_string(i - 12));
        EXPECT_EQ(posted[i]["TBATCH"], "\"XV000002\"");
    }
    EXPECT_NE(Dump().find("H1 LASTRUN=2\n"), std::string::npos);
    EXPECT_NE(Slurp(company / "company.toml").find("GL = 2"), std::string::npos);
}

// Formats no transaction conversion takes: a template without the accrual-or-cash column rejects
// every line, custom fields are refused, and a format that fills another record is refused
// naming that record.
TEST_F(GltCli, FormatsTheConversionCannotTake) {
    const std::string good = "1,01-1-10-5000-00,06/15/2026,1,18400.00,,1";
    std::string report, notes;

    CliResult r = Run("examine",
                      Text("noaorc.txt", kTemplates / "xvglt_noaorc.tpl",
                           {Columns("1,01-1-10-5000-00,06/15/2026,18400.00,,1", 30),
                            Columns("1,01-1-10-1000-00,06/15/2026,,18400.00,2", 30)}),
                      report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(report.find("2  Accrual or cash is required for Account '01-1-10-5000-00' (202)"), std::string::npos)
        << report;
    EXPECT_NE(report.find("3  Accrual or cash is required for Account '01-1-10-1000-00' (202)"), std::string::npos)
        << report;

    r = Run("convert",
            Text("custom.txt", kTemplates / "xvglt_userfields.tpl",
                 {Columns(good, 31), "U,1,1,Crew,North"}),
            report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(report.find("2  Custom fields are not supported in GL Transaction conversions\n"), std::string::npos)
        << report;
    EXPECT_NE(Slurp(dir / "RejGLT.txt").find("U,1,1,Crew,North"), std::string::npos);
    // Custom fields of a transaction not on file: the same reason in both modes, for a format
    // that may add records.
    for (const char* mode : {"examine", "convert"}) {
        Run(mode, Text(std::string(mode) + "-custom.txt", kTemplates / "xvglt_userfields.tpl", {"U,98,99,Crew,North"}),
            report, notes);
        EXPECT_THAT(report, ::testing::HasSubstr("Custom fields are not supported in GL Transaction conversions"))
            << mode;
        EXPECT_THAT(report, ::testing::Not(::testing::HasSubstr("(62)"))) << mode;
    }

    r = Run("convert",
            Text("journal.txt", kTemplates / "xvglt_journal.tpl", {"J,9,N", Columns(good, 31)}), report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(report.find("Record type 'Journal' cannot be converted as part of a GL Transaction conversion(75)"),
              std::string::npos)
        << report;
    EXPECT_EQ(Dump("GLM").find("JJRNNUM=9"), std::string::npos);  // nothing written to the GL master
}

// Without the GL transaction file the driver's checks skip the text file before anything is
// written: no batch is registered, no reject file made, the text file not stamped.
TEST_F(GltCli, WithoutTheTransactionFileNothingRuns) {
    const std::string text = Copy();
    fs::remove(company / "CURRENT.GLT");
    const auto files = Files(dir);
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("GL Transaction file does not exist."), std::string::npos) << r.err;
    EXPECT_EQ(Files(dir), files);
}

}  // namespace
