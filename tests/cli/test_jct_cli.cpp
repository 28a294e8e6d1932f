// The JC transaction sample through dodedoz-cli, end to end, on a fresh demo company that holds
// the GL, JC standards and JC master samples (jobs, standard categories): the sample examined
// (nothing written anywhere: no batch, no run number), converted as one batch (report, notes,
// reject file, the transactions left in the JC transaction file, the time stamp), and converted
// again with --reconvert as the next run and batch.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "sample_cli_support.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <map>

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "jctcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";

class JctCli : public SampleCliTest {
protected:
    JctCli() : SampleCliTest(kSamples / "jct") { companyName = "Northbridge Builders"; }

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        // The jobs and standard categories of the transactions, as the demo converts them.
        Load(kSamples / "jcm" / "setup-tax-and-customers.load");
        for (const char* sample : {"glm/demo-gl-master.txt", "jcs/demo-jc-standards.txt", "jcm/demo-jc-master.txt"}) {
            const fs::path copy = dir / fs::path(sample).filename();
            fs::copy_file(kSamples / sample, copy);
            const CliResult r = Cli({"convert", "--company", company.string(), copy.string()});
            ASSERT_EQ(r.status, 1) << sample << r.err;  // their last lines are rejected on purpose
            fs::remove(copy);
        }
        for (const char* rej : {"RejGLM.txt", "RejJCM.txt"}) fs::remove(dir / rej);
        text = Copy("demo-jc-transactions.txt");
    }

    // The dumped transactions: one map of field to value per record.
    std::vector<std::map<std::string, std::string>> Transactions() { return DumpedRecords("JCT", 1); }

    std::string text;
};

TEST_F(JctCli, ExamineReportsTheSampleAndWritesNothing) {
    const auto files = Files();
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // lines would be rejected
    ExpectReportAndNotes(report, notes, kGolden / "sample_examine.txt");
    ExpectGolden(r.err, kGolden / "sample_examine_stderr.txt");
    // CURRENT.JCT, MASTER.JCM, company.toml (no batch, no run number) and the text file as they
    // were; no reject file, nor anything else.
    EXPECT_EQ(Files(), files);
    EXPECT_TRUE(Transactions().empty());
}

TEST_F(JctCli, ConvertRegistersOneBatchAndAReconversionTheNext) {
    std::string report, notes;
    CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectReportAndNotes(report, notes, kGolden / "sample_convert.txt");
    ExpectGolden(r.err, kGolden / "sample_convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejJCT.txt"), kGolden / "sample_reject.txt");
    ExpectGolden(Dump("JCT"), kGolden / "sample_dump.txt");

    // One run, one batch, sequence numbers in line order, application XV and source 1.
    auto posted = Transactions();
    ASSERT_EQ(posted.size(), 7u);
    for (std::size_t i = 0; i < posted.size(); ++i) {
        EXPECT_EQ(posted[i]["TRUN"], "1");
        EXPECT_EQ(posted[i]["TSEQ"], std::to_string(i + 1));
        EXPECT_EQ(posted[i]["TBATCH"], "\"XV000001\"");
        EXPECT_EQ(posted[i]["TAPPL"], "\"XV\"");
        EXPECT_EQ(posted[i]["TSOURCE"], "1");
        EXPECT_EQ(posted[i]["TOSRC"], "1");
    }
    EXPECT_THAT(Slurp(text), HasSubstr("#,\"Previously Converted\",\"by Ann Lee\""));

    // Converted again: run 2 and the next batch, numbered from 1 again.
    r = Run("convert", text, report, notes, {"--reconvert"});
    EXPECT_EQ(r.status, 1) << r.err;
    posted = Transactions();
    ASSERT_EQ(posted.size(), 14u);
    for (std::size_t i = 7; i < posted.size(); ++i) {
        EXPECT_EQ(posted[i]["TRUN"], "2");
        EXPECT_EQ(posted[i]["TSEQ"], std::to_string(i - 6));
        EXPECT_EQ(posted[i]["TBATCH"], "\"XV000002\"");
    }
    EXPECT_THAT(Dump("JCT"), HasSubstr("H1 LASTRUN=2\n"));
}

// Without the JC transaction file the driver's checks skip the text file before anything is
// written: no batch is registered, no reject file made, the text file not stamped.
TEST_F(JctCli, WithoutTheTransactionFileNothingRuns) {
    fs::remove(company / "CURRENT.JCT");
    const auto files = Files();
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_THAT(r.err, HasSubstr("JC Transaction file does not exist."));
    EXPECT_EQ(Files(), files);
}

// Numbers another program left in the JC files: a job's billing level that no integer holds is no
// level (the transactions convert as they would with none), and a last run number past 2^32 is
// refused with 12016 rather than wrapped into run 1.
TEST_F(JctCli, NumbersBeyondTheirFieldsAreNeitherCastNorWrapped) {
    ASSERT_TRUE(Sql(company / "MASTER.JCM", {"UPDATE r1 SET JBLEVEL = 1e300"}));
    std::string report, notes;
    CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // the sample's rejected lines
    ASSERT_EQ(Transactions().size(), 7u);

    ASSERT_TRUE(Sql(company / "CURRENT.JCT", {"UPDATE h1 SET LASTRUN = 4294967297"}));
    r = Run("convert", Copy("demo-jc-transactions.txt", "again.txt"), report, notes);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_THAT(r.err + report, HasSubstr("Unable to update Last batch, Last payment ID, or Run number"));
    EXPECT_EQ(Transactions().size(), 7u);
}

}  // namespace
