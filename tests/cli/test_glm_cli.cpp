// The GL master samples through dodedoz-cli, end to end, on a fresh company: the demo file
// examined (nothing written), converted (report, notes, reject file, the records left in the GL
// master file, the time stamp), converted again (skipped, or with --reconvert every record
// rejected as a duplicate), and the prefixes sample added after it. Everything a user reads is
// compared byte for byte with golden files.
//
// The clock is fixed with DODEDOZ_NOW and the operator and company name are set in the company's
// settings, so the outputs are the same on every run. Paths in the outputs name the scratch
// folder: it is shown as "<DIR>" before comparing. Where the command line prints exactly what the
// in-process converter tests print, their goldens in tests/data/glm and tests/data/glm2 are
// compared with; the rest are in tests/data/glmcli.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "sample_cli_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

namespace {

using namespace dz::cli::testing;

const fs::path kGlmGolden = fs::path(DZ_TEST_DATA_DIR) / "glm";
const fs::path kGlm2Golden = fs::path(DZ_TEST_DATA_DIR) / "glm2";
const fs::path kCliGolden = fs::path(DZ_TEST_DATA_DIR) / "glmcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "glm";

class GlmCli : public SampleCliTest {
protected:
    // The company and operator of the demo: the operator signs the time stamps and notes.
    GlmCli() : SampleCliTest(kSamples) { companyName = "Northbridge Builders"; }

    // A dump without its notes lines.
    static std::string WithoutNotes(const std::string& dump) {
        std::string out;
        for (std::size_t at = 0; at < dump.size();) {
            const std::size_t end = std::min(dump.find('\n', at), dump.size() - 1) + 1;
            if (dump.compare(at, 1, "N") != 0) out += dump.substr(at, end - at);
            at = end;
        }
        return out;
    }

    // `dodedoz-cli dump --company DIR GLM`: every header and record of the GL master file.
    std::string Dump() { return SampleCliTest::Dump("GLM"); }
};

TEST_F(GlmCli, ExamineReportsWhatWouldBeRejectedAndWritesNothing) {
    const std::string text = Copy("demo-gl-master.txt");
    const std::string glm = Slurp(company / "MASTER.GLM");
    const std::string dumped = Dump();
    const auto files = Files(dir);
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // records would be rejected
    EXPECT_EQ(r.out, "");
    ExpectReportAndNotes(report, notes, kGlmGolden / "sample_examine.txt");
    ExpectGolden(r.err, kCliGolden / "demo_examine_stderr.txt");

    EXPECT_EQ(Slurp(company / "MASTER.GLM"), glm);
    EXPECT_EQ(Dump(), dumped);
    EXPECT_EQ(Slurp(text), Slurp(kSamples / "demo-gl-master.txt"));  // no time stamp
    EXPECT_FALSE(fs::exists(dir / "RejGLM.txt"));
    EXPECT_EQ(Files(dir), files);  // nor anything else, in the company or beside the text file
}

TEST_F(GlmCli, ConvertWritesTheRecordsTheRejectFileAndTheTimeStamp) {
    const std::string text = Copy("demo-gl-master.txt");
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // some records were rejected
    EXPECT_EQ(r.out, "");
    ExpectReportAndNotes(report, notes, kGlmGolden / "sample_convert.txt");
    ExpectGolden(r.err, kCliGolden / "demo_convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejGLM.txt"), kGlmGolden / "sample_reject.txt");
    ExpectGolden(Dump(), kCliGolden / "demo_dump.txt");

    // Line 2 is the time stamp, by the operator of the settings at the fixed clock; the rest of
    // the file is as it was.
    const std::string sample = Slurp(kSamples / "demo-gl-master.txt");
    const std::string firstLine = sample.substr(0, sample.find('\n') + 1);
    EXPECT_EQ(Slurp(text), firstLine +
                               "#,\"Previously Converted\",\"by Ann Lee\",\"on 12/6/26\",\"at 2:30PM\",\"using "
                               "xvglm.tpl\"\r\n" +
                               sample.substr(firstLine.size()));
}

TEST_F(GlmCli, ASecondConversionIsSkippedUnlessReconvertedAndThenEveryRecordIsADuplicate) {
    const std::string text = Copy("demo-gl-master.txt");
    std::string report, notes;
    ASSERT_EQ(Run("convert", text, report, notes).status, 1);
    const std::string stamped = Slurp(text);
    const std::string glm = Slurp(company / "MASTER.GLM");

    // Without --reconvert the question is answered by skipping the file: nothing runs.
    CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    ExpectGolden(r.err, kCliGolden / "again_skipped_stderr.txt");
    EXPECT_EQ(Slurp(company / "MASTER.GLM"), glm);
    EXPECT_EQ(Slurp(text), stamped);
    EXPECT_FALSE(fs::exists(dir / "Rej1GLM.txt"));

    // With --reconvert every record is on file already and is rejected as a duplicate (the lines
    // that were rejected the first time for their own faults are rejected again for them); the
    // new reject file stands beside the first one. The notes records are not duplicates: they add
    // their notes once more to the records they belong to, and nothing else changes on file.
    const std::string dumped = Dump();
    r = Run("convert", text, report, notes, {"--reconvert"});
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report, kCliGolden / "again_reconvert_report.txt");
    EXPECT_EQ(notes, "");
    ExpectGolden(r.err, kCliGolden / "again_reconvert_stderr.txt");
    ExpectGolden(Slurp(dir / "Rej1GLM.txt"), kCliGolden / "again_reconvert_reject.txt");
    const std::string redumped = Dump();
    ExpectGolden(redumped, kCliGolden / "again_reconvert_dump.txt");
    EXPECT_EQ(WithoutNotes(redumped), WithoutNotes(dumped));
    EXPECT_NE(redumped, dumped);
    // The new time stamp is line 2; the earlier one follows it.
    const std::size_t firstLine = stamped.find('\n') + 1;
    EXPECT_EQ(Slurp(text), stamped.substr(0, firstLine) +
                               "#,\"Previously Converted\",\"by Ann Lee\",\"on 12/6/26\",\"at 2:30PM\",\"using "
                               "xvglm.tpl\"\r\n" +
                               stamped.substr(firstLine));
}

TEST_F(GlmCli, ThePrefixesSampleJoinsTheDemoCompany) {
    std::string report, notes;
    ASSERT_EQ(Run("convert", Copy("demo-gl-master.txt"), report, notes).status, 1);
    const std::string text = Copy("prefixes.txt");
    const std::string glm = Slurp(company / "MASTER.GLM");

    CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectReportAndNotes(report, notes, kGlm2Golden / "prefixes_examine.txt");
    EXPECT_EQ(Slurp(company / "MASTER.GLM"), glm);
    EXPECT_EQ(Slurp(text), Slurp(kSamples / "prefixes.txt"));

    // The in-process golden of this report cuts the reject file's path at 132 columns where its
    // longer scratch folder pushes it past them: this one is the command line's own.
    r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report, kCliGolden / "prefixes_convert_report.txt");
    EXPECT_EQ(notes, "");
    ExpectGolden(r.err, kCliGolden / "prefixes_convert_stderr.txt");
    ExpectGolden(Slurp(dir / "Rej1GLM.txt"), kGlm2Golden / "prefixes_reject.txt");  // the demo took RejGLM.txt
    ExpectGolden(Dump(), kCliGolden / "prefixes_dump.txt");
    EXPECT_NE(Slurp(text).find("\"Previously Converted\",\"by Ann Lee\""), std::string::npos);
}

// A template format may name record number 0: its lines reach the GL master converter, which
// refuses each with 12070 naming the format id, and the totals count them under "Unknown".
TEST_F(GlmCli, AFormatOfRecordNumberZeroIsRefusedAndCountedAsUnknown) {
    const fs::path tpl = dir / "xvglm0.tpl";
    Spit(tpl, Slurp(fs::path(DZ_SOURCE_DATA_DIR) / "templates" / "xvglm.tpl") +
                  "\n; Lines that no record takes.\nformat Z9\nfile GLM 1\nrecord 0\nspecial MEMO text\n");
    const std::string sample = Slurp(kSamples / "demo-gl-master.txt");
    const std::string body = sample.substr(sample.find('\n') + 1);
    const fs::path text = dir / "zero.txt";
    Spit(text, "#,GLM," + tpl.string() + "\n" + body + "Z9,kept aside\n");
    std::string report, notes;
    const CliResult r = Run("convert", text.string(), report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(report.find("Record type 'Z9' cannot be converted as part of a GL Master file conversion(75)"),
              std::string::npos)
        << report;
    // One line of its own under "Unknown", counted as processed and rejected.
    const std::size_t unknown = report.find("\nUnknown ");
    ASSERT_NE(unknown, std::string::npos) << report;
    const std::string line = report.substr(unknown + 1, report.find('\n', unknown + 1) - unknown - 1);
    std::vector<std::string> counts;
    std::istringstream words(line.substr(line.find_first_of("0123456789")));
    for (std::string w; words >> w;) counts.push_back(w);
    EXPECT_EQ(counts, (std::vector<std::string>{"1", "0", "1", "0"})) << line;
    const std::string reject = Slurp(dir / "RejGLM.txt");
    EXPECT_NE(reject.find("Z9,kept aside"), std::string::npos) << reject;

    // Record 0 holds no fields: a template that gives it one is refused.
    Spit(tpl, "format Z9\nfile GLM 1\nrecord 0\nfield AACCT\n");
    Spit(text, "#,GLM," + tpl.string() + "\nZ9,01\n");
    const CliResult bad = Run("examine", text.string(), report, notes);
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(report.find("Processing is terminated for this file"), std::string::npos) << report;
    EXPECT_NE(bad.err.find("zero.txt: 0 accepted, 0 rejected"), std::string::npos) << bad.err;
}

}  // namespace
