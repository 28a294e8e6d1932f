// The JC standards conversion through dodedoz-cli on a fresh demo company that holds the GL
// sample and the JC sample's setup records: the standards sample examined (nothing written) and
// converted (report, reject file, the standard phases with their created groups and the standard
// categories), then the JC master sample converted on top of it.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "sample_cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "jcscli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";

class JcsSample : public SampleCliTest {
protected:
    JcsSample() : SampleCliTest(kSamples) {}

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        fs::copy_file(kSamples / "glm" / "demo-gl-master.txt", dir / "gl.txt");
        ASSERT_EQ(Cli({"convert", "--company", company.string(), (dir / "gl.txt").string()}).status, 1);
        Load(kSamples / "jcm" / "setup-tax-and-customers.load");
        if (HasFatalFailure()) return;
        text = Copy("jcs/demo-jc-standards.txt");
    }

    std::string Run(const std::string& command, const fs::path& file, int* status = nullptr) {
        std::string report, notes;
        const CliResult res = SampleCliTest::Run(command, file.string(), report, notes);
        if (status) *status = res.status;
        return notes.empty() ? report : report + "\f" + notes;
    }

    // The standard phases and categories of the JC master file.
    std::string Standards() {
        const CliResult r = Cli({"dump", "--company", company.string(), "JCM"});
        std::string out;
        std::size_t at = 0;
        while (at < r.out.size()) {
            const std::size_t end = r.out.find('\n', at);
            const std::string line = r.out.substr(at, end == std::string::npos ? std::string::npos : end - at);
            if (line.rfind("R16 ", 0) == 0 || line.rfind("R17 ", 0) == 0 || line.rfind("N16 ", 0) == 0 ||
                line.rfind("N17 ", 0) == 0)
                out += line + "\n";
            if (end == std::string::npos) break;
            at = end + 1;
        }
        return out;
    }

    fs::path text;
};

#define EXPECT_HAS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)

TEST_F(JcsSample, ExamineReportsWhatWouldHappenAndWritesNothing) {
    const auto before = Files(company);
    const std::string sample = Slurp(text);
    int status = 0;
    const std::string report = Run("examine", text, &status);
    EXPECT_EQ(status, 1);
    ExpectGolden(report, kGolden / "sample_examine.txt");
    // A group standard phase and a standard category met earlier in the file count as found.
    EXPECT_HAS(report, "will be created with description 'Group created by conversion'(328)");
    EXPECT_EQ(report.find("has not yet been set up as a Standard category"), std::string::npos) << report;
    EXPECT_EQ(Files(company), before);
    EXPECT_EQ(Slurp(text), sample);
}

TEST_F(JcsSample, ConvertWritesTheStandardsAndTheirGroupsThenTheMasterSampleUsesThem) {
    int status = 0;
    const std::string report = Run("convert", text, &status);
    EXPECT_EQ(status, 1);
    ExpectGolden(report, kGolden / "sample_convert.txt");
    ExpectGolden(Slurp(dir / "RejJCS.txt"), kGolden / "sample_reject.txt");
    EXPECT_FALSE(fs::exists(dir / "RejJCM.txt"));
    const std::string standards = Standards();
    ExpectGolden(standards, kGolden / "sample_standards.txt");
    EXPECT_HAS(report, "Group standard Phase cannot have a value for 'SPCTYPE', it has '3'(318)");
    EXPECT_HAS(report, "Category 2's Category 'LAB' is a duplicate(324)");
    EXPECT_HAS(report, "Category 1 has unit description 'Hours' but doesn't have a Category value(323)");
    EXPECT_HAS(report, "Record type 'Job' cannot be converted as part of a JC Standard conversion(75)");
    EXPECT_HAS(standards, "R16 SPHASE=\"0200000\" SPDESC=\"Group created by conversion\" SPOVRHT=\"\" SPGPHAS=1");
    // A pair without its unit description takes the standard category's.
    EXPECT_HAS(standards, "SPCAT1=\"LAB\" SPCUD1=\"Hours\" SPCAT2=\"MAT\" SPCUD2=\"Each\"");

    // The JC master sample then finds the standards: its phase totals and draws follow.
    fs::copy_file(kSamples / "jcm" / "demo-jc-master.txt", dir / "demo-jc-master.txt");
    Run("convert", dir / "demo-jc-master.txt", &status);
    EXPECT_EQ(status, 1);
    const CliResult dump = Cli({"dump", "--company", company.string(), "JCM"});
    EXPECT_HAS(dump.out, "PHASE=\"0100000\" PDESC=\"Site work\"");
    EXPECT_HAS(dump.out, "RDRAW=\"BF\"");
}

}  // namespace

// A category's tax status that no list entry matches is kept and listed among the values missing
// from custom list 369, in both modes, with the line the file reads at the time. The default a
// blank status takes, or the list's first entry given outright, is no missing value.
TEST_F(JcsSample, TaxStatusesMissingFromTheListGoToTheNotes) {
    std::string settings = Slurp(company / "company.toml");
    const std::size_t at = settings.find("[lists.369]");
    ASSERT_NE(at, std::string::npos) << settings;
    const std::size_t values = settings.find("values = ", at);
    // The default (Taxable) stands for itself: the list of the others is Exempt and Resale.
    ASSERT_THAT(settings.substr(at, values - at), ::testing::HasSubstr("default = \"Taxable\""));
    settings.replace(values, settings.find('\n', values) - values, "values = [\"Exempt\", \"Resale\"]");
    Spit(company / "company.toml", settings);
    const fs::path file = dir / "tax.txt";
    Spit(file, "#,JCS,xvjcs\n17,ZZZ,Zed,6,,,,,Y,Other,\n17,ZZY,Why,6,,,,,Y,resale,\n17,ZZX,Ex,6,,,,,Y,,\n"
               "17,ZZW,Doubleu,6,,,,,Y,Taxable,\n16,09-000.00,Misc,,1,,,,,,,,,,,,,Y,,,\n");
    for (const char* command : {"examine", "convert"}) {
        const std::string notes = Run(command, file);
        EXPECT_THAT(notes, ::testing::HasSubstr(std::string("Tax status:  Other(") +
                                                (command[0] == 'e' ? "2" : "3") + ")\n"));
        EXPECT_THAT(notes, ::testing::Not(::testing::HasSubstr("Taxable")));
    }
    const std::string standards = Standards();
    EXPECT_THAT(standards, ::testing::HasSubstr("SCTAXEX=\"Other\""));
    EXPECT_THAT(standards, ::testing::HasSubstr("SCTAXEX=\"Resale\""));
}
